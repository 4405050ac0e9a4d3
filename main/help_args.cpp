// Help printer for option tables.
#include "main/args.h"

#include <cstring>

// Text shown for a record: its name, or its key when it has no name.
static const char *shown_name(const st_args *a)
{
    return a->nam ? a->nam : a->key;
}

static void put_blanks(FILE *fp, int n)
{
    while (n-- > 0)
        fputc(' ', fp);
}

static void put_synopsis(FILE *fp, const char *prg, const st_args *def, int32_t n)
{
    fputs(prg, fp);
    for (int32_t i = 0; i < n; i++) {
        const st_args *a = &def[i];
        bool req = a->flg & ARGS_REQUIRED;
        fputs(req ? " " : " [", fp);
        if (a->pre)
            fputc(a->pre, fp);
        fputs(shown_name(a), fp);
        if (a->dlm)
            fprintf(fp, "%cval", a->dlm);
        if (a->flg & ARGS_TAKES)
            fputs(a->flg & ARGS_MULTIPLE ? " value ..." : " value", fp);
        if (!req)
            fputc(']', fp);
    }
    fputs("\n\n", fp);
}

// Column where help texts start: the widest name (+2) or key, plus 4.
// Counted in bytes; help texts never enter it.
static int help_width(const st_args *def, int32_t n)
{
    int w = 0;
    for (int32_t i = 0; i < n; i++) {
        if (def[i].nam && (int)strlen(def[i].nam) + 2 > w)
            w = (int)strlen(def[i].nam) + 2;
        if (def[i].key && (int)strlen(def[i].key) > w)
            w = (int)strlen(def[i].key);
    }
    return w + 4;
}

// First line after the name; every further line indented by w blanks.
static void put_help_text(FILE *fp, const char *hlp, int w)
{
    const char *nl = strchr(hlp, '\n');
    fwrite(hlp, 1, nl ? (size_t)(nl - hlp) : strlen(hlp), fp);
    fputc('\n', fp);
    while (nl) {
        const char *line = nl + 1;
        nl = strchr(line, '\n');
        put_blanks(fp, w);
        fwrite(line, 1, nl ? (size_t)(nl - line) : strlen(line), fp);
        fputc('\n', fp);
    }
}

static void put_block(FILE *fp, const st_args *a, int w)
{
    int col = 2 + (a->pre ? 1 : 0) + (int)strlen(shown_name(a));
    fputs("  ", fp);
    if (a->pre)
        fputc(a->pre, fp);
    fputs(shown_name(a), fp);
    put_blanks(fp, w - col);
    if (a->hlp)
        put_help_text(fp, a->hlp, w);
    if (a->dfl) {
        put_blanks(fp, w);
        fprintf(fp, "default:%s\n", a->dfl);
    }
    if (!(a->flg & ARGS_REQUIRED)) {
        put_blanks(fp, w);
        fputs("Optional\n", fp);
    }
    if (a->flg & ARGS_MULTIPLE) {
        put_blanks(fp, w);
        fputs("MultipleDefinable\n", fp);
    }
}

int32_t help_args(FILE *fp, const char *prg, const char *dsc, const char *exm, const st_args *def,
                  int32_t n) noexcept
{
    fprintf(fp, "[%s]\n%s\n\n", prg, dsc);
    put_synopsis(fp, prg, def, n);
    int w = help_width(def, n);
    for (int32_t i = 0; i < n; i++)
        put_block(fp, &def[i], w);
    if (exm)
        fprintf(fp, "%s\n", exm);
    return 0;
}
