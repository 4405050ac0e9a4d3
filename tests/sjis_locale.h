// A Shift-JIS locale for the tests, made with localedef in a directory of
// its own (LOCPATH), since machines seldom have one installed.
#pragma once

#include <cstdlib>
#include <string>

// The LOCPATH directory holding the locale "ja_JP.SJIS", made on the first
// call; empty when localedef cannot make it.
inline const std::string &sjis_locpath()
{
    static const std::string dir = [] {
        // Made aside and renamed into place, so test programs running at
        // once never see half a locale.
        const std::string d = "/tmp/rundif-sjis-locale", loc = d + "/ja_JP.SJIS";
        const std::string cmd = "[ -d " + loc + " ] || { t=$(mktemp -d) && mkdir -p " + d +
                                " && { localedef -c -f SHIFT_JIS -i ja_JP $t/l >/dev/null 2>&1;"
                                " mv -T $t/l " +
                                loc + " 2>/dev/null; rm -rf $t; }; }; [ -d " + loc + " ]";
        return std::system(cmd.c_str()) == 0 ? d : std::string();
    }();
    return dir;
}
