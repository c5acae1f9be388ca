// The rules of the private-profile format as cases: a file, the section and key asked for, and
// the text the reader must give. Run against the portable reader natively and against
// GetPrivateProfileStringA under Wine, so the two readers keep the same rules.
#pragma once

#include <string>
#include <vector>

struct ProfileCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
};

inline std::vector<ProfileCase> ProfileCases() {
    const std::string long3000 = std::string(3000, 'x');
    return {
        {"plain value", "[s]\r\nk=Wert\r\n", "s", "k", "Wert"},
        {"section and key written in capitals", "[LANGUAGE_AOL]\r\nCHK_AOLFS=ja\r\n",
         "language_aol", "chk_aolfs", "ja"},
        {"asked in capitals", "[language_aol]\r\nchk_aolfs=ja\r\n", "Language_AOL", "Chk_AolFs",
         "ja"},
        {"double quotes around the whole value are dropped", "[s]\r\nk=\"Titelformat \"\r\n", "s",
         "k", "Titelformat "},
        {"single quotes around the whole value are dropped", "[s]\r\nk='a b'\r\n", "s", "k", "a b"},
        {"quotes inside the value stay", "[s]\r\nk=ein \"Wort\" hier\r\n", "s", "k",
         "ein \"Wort\" hier"},
        {"an unmatched quote stays", "[s]\r\nk=\"offen\r\n", "s", "k", "\"offen"},
        {"a lone quote stays", "[s]\r\nk=\"\r\n", "s", "k", "\""},
        {"blanks around key and value are dropped", "[s]\r\n  k \t=  v w  \r\n", "s", "k", "v w"},
        {"only the first equals sign separates", "[s]\r\nk=a=b\r\n", "s", "k", "a=b"},
        {"lines may end in a bare line feed", "[s]\nj=1\nk=2\n", "s", "k", "2"},
        {"the last line needs no line end", "[s]\r\nk=ende", "s", "k", "ende"},
        {"ANSI bytes pass unchanged", "[s]\r\nk=Schrift w\xE4hlen\r\n", "s", "k",
         "Schrift w\xE4hlen"},
        {"the key is looked for only in its section", "[a]\r\nk=1\r\n[s]\r\nj=2\r\n", "s", "k", ""},
        {"a missing section gives the empty text", "[a]\r\nk=1\r\n", "s", "k", ""},
        {"a missing key gives the empty text", "[s]\r\nj=1\r\n", "s", "k", ""},
        {"a key without equals sign gives the empty text", "[s]\r\nk\r\n", "s", "k", ""},
        {"the first of two equal keys counts", "[s]\r\nk=erst\r\nk=dann\r\n", "s", "k", "erst"},
        {"the first of two equal sections counts", "[s]\r\nj=1\r\n[S]\r\nk=2\r\n", "s", "k", ""},
        {"comment lines are skipped", "[s]\r\n;k=kommentar\r\nk=wert\r\n", "s", "k", "wert"},
        {"a UTF-8 mark before the first section is skipped", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k",
         "v"},
        {"a value of 3000 characters is cut to 2047", "[s]\r\nk=" + long3000 + "\r\n", "s", "k",
         std::string(2047, 'x')},
        {"an empty value is empty", "[s]\r\nk=\r\n", "s", "k", ""},
    };
}
