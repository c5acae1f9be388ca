// The configuration dialog's pages as plain data: what each page's controls hold, their
// defaults, and the copies between the controls and PluginSettings. The Win32 dialog only moves
// these values in and out of its windows.
#pragma once

#include <string>

#include "announce/u_fader.h"
#include "config/u_config.h"

// Page "Allgemein". The members carry the names of the controls they stand for; the member
// initialisers are the controls' defaults, which the very first start saves.
struct TGeneralPage {
    bool chk_enablechat = true;
    bool chk_enablefade = false;
    std::string edt_presongtitle = ".:BP::[ ";
    std::string edt_postsongtitle = " ]:: v3 :.";
    bool chk_preposttitlefade = true;
    bool chk_extsonginfo = false;
    bool chk_enablefontformat = false;
    std::string edt_fontface = "Comic Sans MS";
    bool chk_bold = false;
    bool chk_italic = false;
    bool chk_underline = false;
    bool chk_strikeout = false;
};

// Page "AOL".
struct TAolPage {
    bool chk_enableaol = true;
    bool chk_aoladvertising = true;
    bool chk_aolwavyscroll = false;
    bool chk_aolfs = false;
    std::string edt_fsport = "1000";
};

// Page "Farbverlauf".
struct TFaderPage {
    static constexpr int kMinColors = 1;
    static constexpr int kMaxColors = 10;
    int bar_fadecolors = kMinColors;  // the slider's position
};

TGeneralPage FillGeneralPage(const TPluginSettings::General& general);
TAolPage FillAolPage(const TPluginSettings::Aol& aol);
// The slider keeps its range: a count below 1 shows as 1, one above 10 as 10.
TFaderPage FillFaderPage(const TPluginSettings::Fader& fader);

// The texts are stored exactly as they stand, unchecked.
void StoreGeneralPage(const TGeneralPage& page, TPluginSettings::General& general);
void StoreAolPage(const TAolPage& page, TPluginSettings::Aol& aol);
// Only the count: the colours reach PluginSettings as soon as they are picked.
void StoreFaderPage(const TFaderPage& page, TPluginSettings::Fader& fader);

// Panel n (1 to 10) is visible exactly when n is at most the slider's position.
bool ColorPanelVisible(int panel, int position);

// The font and the four font-style switches, as the font chooser and the preview use them.
struct TFontChoice {
    std::string face;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
};

// The rich-text preview as the apply button draws it.
class IPreviewWriter : public IPreviewControl {
  public:
    // Makes the control writable, clears it and sets the font for what follows, in black.
    virtual void Begin(const TFontChoice& font) = 0;
    virtual void SetText(const std::string& text) = 0;  // the whole text, in black
    virtual void End() = 0;                             // read-only again
};

inline constexpr const char* kPreviewTitle = "author - songtitle";
inline constexpr const char* kPreviewPlainFont = "MS Sans Serif";
inline constexpr std::uint32_t kPreviewBlack = 0x000000;

// Draws the preview of an announcement from the controls of page "Allgemein", the colours in
// PluginSettings and the slider's position.
void DrawPreview(const TGeneralPage& general, const TFadeColors& colors, int colorCount,
                 IPreviewWriter& preview);
