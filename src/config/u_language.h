// The texts of the language file "brenloplug_language.ini", read once at library load.
#pragma once

#include <string>

inline constexpr const char* LanguageFileName = "brenloplug_language.ini";

struct TLanguageTexts {
    struct General {  // section "language_general"
        std::string configcaption, chk_enablechat, chk_enablefade, chk_preposttitlefade,
            chk_enablefontformat, chk_extsonginfo, lbl_songtitle, lbl_fontface, btn_choosefont,
            grp_titleformat, lbl_updatesnote, chk_bold, chk_italic, chk_underline, chk_strikeout;
    } general;
    struct Aol {  // section "language_aol"
        std::string configcaption, chk_enableaol, chk_aoladvertising, chk_aolwavyscroll, chk_aolfs,
            edt_fsport;
    } aol;
    struct Fader {  // section "language_fader"
        std::string configcaption, lbl_colorbar;
    } fader;
    struct Filesharing {  // section "language_filesharing"
        std::string configcaption, okbuttoncaption, cancelbuttoncaption, filecaption,
            transfercancelledbyusermsg, confirmdownloadcaption, acceptdownloadmsg,
            downloaddisclaimer, waitfordownloadstart, totalcaption, atspeedcaption;
    } filesharing;
    struct Other {  // section "language_other"
        std::string firststartmessage;
    } other;
};

extern TLanguageTexts LanguageTexts;

void LoadLanguage();
