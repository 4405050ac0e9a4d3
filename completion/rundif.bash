# bash completion for rundif: its options (the GNU forms and the original
# "/" forms), their values, and the command after them: a command name,
# then that command's own completion when bash-completion is loaded, else
# file names.

# Sets COMPREPLY to the values of option $1 that start with $2, each after
# the prefix $3 (the "--name=" of an unsplit word).
_rundif_value()
{
    local words
    case $1 in
    -o | --output | --state | --compare | /file-out)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$2")
        ;;
    --color) words="never always auto" ;;
    --stats) words="never always" ;;
    *) COMPREPLY=() ;; # numbers, columns and texts: nothing to offer
    esac
    [[ $words ]] && mapfile -t COMPREPLY < <(compgen -W "$words" -- "$2")
    [[ $3 ]] && COMPREPLY=("${COMPREPLY[@]/#/$3}")
    return 0
}

_rundif()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local slash="/key= /span= /separate-word= /watch= /exclude= /time /hide /file-out= /help"
    local opts="-k -n -d -w -x -t -q -o -h --key --interval --delimiter --watch --exclude
        --time --quiet --output --count --exit-on-change --timeout --json --color --compare
        --stats --state --state-reset --help --version --"
    # A value after "=": bash splits "--name=value" into three words.
    if [[ $cur == = ]]; then
        _rundif_value "$prev" ""
        return
    elif [[ $prev == = ]]; then
        _rundif_value "${COMP_WORDS[COMP_CWORD - 2]}" "$cur"
        return
    elif [[ $cur == -?*=* || $cur == /*=* ]]; then
        _rundif_value "${cur%%=*}" "${cur#*=}" "${cur%%=*}="
        return
    fi

    # The options before the word: i ends at the command's first word.
    local i=1 w n dashes=
    while ((i < COMP_CWORD)); do
        w=${COMP_WORDS[i]} n=0 # n: the words of its value that follow
        case $w in
        --)
            dashes=1 i=$((i + 1))
            break
            ;;
        -) break ;; # "-" alone is a command word
        --key | --interval | --delimiter | --watch | --exclude | --output | --count | \
            --timeout | --stats | --state) [[ ${COMP_WORDS[i + 1]} == = ]] || n=1 ;;
        --compare) n=2 ;;
        =) n=1 ;;
        -*) [[ $w =~ ^-[tqh]*([kndwxo])$ ]] && n=1 w=-${BASH_REMATCH[1]} ;;
        /*) [[ " $slash " == *" ${w%%=*}"[=\ ]* ]] || break ;; # else a program's path
        *) break ;;
        esac
        if ((i + n >= COMP_CWORD)); then
            _rundif_value "$w" "$cur"
            return
        fi
        i=$((i + n + 1))
    done

    if ((i < COMP_CWORD)); then # the command's arguments
        if declare -F _command_offset >/dev/null; then
            _command_offset "$i"
        else
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
    elif [[ $cur == -* && ! $dashes ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -c -- "$cur")
        [[ $cur == /* && ! $dashes ]] && COMPREPLY+=($(compgen -W "$slash" -- "$cur"))
        if [[ ${COMPREPLY[*]} == *=* ]]; then
            compopt -o nospace 2>/dev/null # "/key=" waits for its value
        else
            compopt -o filenames 2>/dev/null # a path's folder gets its "/"
        fi
    fi
    return 0
}

complete -F _rundif rundif
