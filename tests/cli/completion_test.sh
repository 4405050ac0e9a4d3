#!/usr/bin/env bash
# The bash completion's candidates for typed command lines; the zsh
# completion's syntax when zsh is installed. $1: the completion folder.
set -u
dir=$(cd "$1" && pwd) fail=0
tmp=$(mktemp -d) && cd "$tmp" || exit 1 # no file names to offer
trap 'rm -rf "$tmp"' EXIT

# The candidates, sorted, for the command line "$@" (the last word typed).
candidates() {
  bash --norc -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _rundif
    printf "%s\n" "${COMPREPLY[@]}" | sort -u' "$dir/rundif.bash" "$@"
}
expect() { # want, then the command line
  local want=$1 got
  shift
  got=$(candidates "$@")
  [ "$got" = "$want" ] || { printf 'rundif %s<TAB>:\n%s\nwanted:\n%s\n' "${*:2}" "$got" "$want"; fail=1; }
}

expect $'--color\n--compare\n--count' rundif --co
commands=$(bash --norc -c 'compgen -c -- ps | sort -u')
[[ $'\n'$commands$'\n' == *$'\nps\n'* ]] || { echo "compgen -c offers no ps"; fail=1; }
expect "$commands" rundif -k 0:1 ps
expect "$commands" rundif -tk 0:1 /time -- ps
expect $'always\nnever' rundif --stats ""
expect $'always\nauto\nnever' rundif -q --color = ""
expect "--stats=never" rundif --stats=n
expect "" rundif -tk -w       # the value of -k
expect "" rundif -- -         # no options after --
expect "/time" rundif -n 1 /ti
expect "" rundif /usr/bin/who -
if command -v zsh >/dev/null; then
  zsh -n "$dir/_rundif" || fail=1
fi
exit $fail
