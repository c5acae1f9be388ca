// The texts of the language file "brenloplug_language.ini", read once at library load: the
// captions of the configuration dialog, the texts of the file server window and the first-start
// question.
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

// Reads every text of the file through the reader installed with SetLanguageProfileReader
// (config/profile_reader.h): the five sections in order, each key in its fixed order. A missing
// file, section or key gives the empty text; nothing is reported.
void LoadLanguage();

void LoadGeneralTexts();
void LoadAolTexts();
void LoadFaderTexts();
void LoadFilesharingTexts();
void LoadOtherTexts();
