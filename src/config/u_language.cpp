// The language texts and how each key of the language file feeds them.
#include "config/u_language.h"

#include <algorithm>

#include "config/profile_reader.h"

TLanguageTexts LanguageTexts;

namespace {

IProfileReader* gReader = nullptr;

// Stores the answer as it comes: not trimmed or checked, only held to what the buffer of the
// profile call can carry.
void ReadText(const char* section, const char* key, std::string& text) {
    text = gReader != nullptr ? gReader->ReadString(section, key, LanguageFileName) : std::string();
    text.resize(std::min(text.find('\0'), std::min(text.size(), kProfileMaxTextLength)));
}

}  // namespace

void SetLanguageProfileReader(IProfileReader* reader) {
    gReader = reader;
}

IProfileReader* LanguageProfileReader() {
    return gReader;
}

void LoadGeneralTexts() {
    constexpr const char* s = "language_general";
    auto& t = LanguageTexts.general;
    ReadText(s, "configcaption", t.configcaption);
    ReadText(s, "chk_enablechat", t.chk_enablechat);
    ReadText(s, "chk_enablefade", t.chk_enablefade);
    ReadText(s, "chk_preposttitlefade", t.chk_preposttitlefade);
    ReadText(s, "chk_enablefontformat", t.chk_enablefontformat);
    ReadText(s, "chk_extsonginfo", t.chk_extsonginfo);
    ReadText(s, "lbl_songtitle", t.lbl_songtitle);
    ReadText(s, "lbl_fontface", t.lbl_fontface);
    ReadText(s, "btn_choosefont", t.btn_choosefont);
    ReadText(s, "grp_titleformat", t.grp_titleformat);
    ReadText(s, "lbl_updatesnote", t.lbl_updatesnote);
    ReadText(s, "chk_bold", t.chk_bold);
    ReadText(s, "chk_italic", t.chk_italic);
    ReadText(s, "chk_underline", t.chk_underline);
    ReadText(s, "chk_strikeout", t.chk_strikeout);
}

void LoadAolTexts() {
    constexpr const char* s = "language_aol";
    auto& t = LanguageTexts.aol;
    ReadText(s, "configcaption", t.configcaption);
    ReadText(s, "chk_enableaol", t.chk_enableaol);
    ReadText(s, "chk_aoladvertising", t.chk_aoladvertising);
    ReadText(s, "chk_aolwavyscroll", t.chk_aolwavyscroll);
    ReadText(s, "chk_aolfs", t.chk_aolfs);
    ReadText(s, "edt_fsport", t.edt_fsport);
}

void LoadFaderTexts() {
    constexpr const char* s = "language_fader";
    auto& t = LanguageTexts.fader;
    ReadText(s, "configcaption", t.configcaption);
    ReadText(s, "lbl_colorbar", t.lbl_colorbar);
}

void LoadFilesharingTexts() {
    constexpr const char* s = "language_filesharing";
    auto& t = LanguageTexts.filesharing;
    ReadText(s, "configcaption", t.configcaption);
    ReadText(s, "okbuttoncaption", t.okbuttoncaption);
    ReadText(s, "cancelbuttoncaption", t.cancelbuttoncaption);
    ReadText(s, "filecaption", t.filecaption);
    ReadText(s, "transfercancelledbyusermsg", t.transfercancelledbyusermsg);
    ReadText(s, "confirmdownloadcaption", t.confirmdownloadcaption);
    ReadText(s, "acceptdownloadmsg", t.acceptdownloadmsg);
    ReadText(s, "downloaddisclaimer", t.downloaddisclaimer);
    ReadText(s, "waitfordownloadstart", t.waitfordownloadstart);
    ReadText(s, "totalcaption", t.totalcaption);
    ReadText(s, "atspeedcaption", t.atspeedcaption);
}

void LoadOtherTexts() {
    auto& t = LanguageTexts.other;
    ReadText("language_other", "firststartmessage", t.firststartmessage);
}

void LoadLanguage() {
    LoadGeneralTexts();
    LoadAolTexts();
    LoadFaderTexts();
    LoadFilesharingTexts();
    LoadOtherTexts();
}
