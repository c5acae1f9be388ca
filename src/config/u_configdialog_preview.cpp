// The preview of the configuration dialog: the announcement drawn into a rich-text control.
#include "config/u_configdialog_pages.h"

namespace {

void TypeText(const std::string& text, IPreviewWriter& preview) {
    for (char c : text)
        preview.TypeChar(static_cast<unsigned char>(c));
}

}  // namespace

void DrawPreview(const TGeneralPage& general, const TFadeColors& colors, int colorCount,
                 IPreviewWriter& preview) {
    TFontChoice font;
    if (general.chk_enablefontformat) {
        font.face = general.edt_fontface;
        font.bold = general.chk_bold;
        font.italic = general.chk_italic;
        font.underline = general.chk_underline;
        font.strikeout = general.chk_strikeout;
    } else {
        font.face = kPreviewPlainFont;
    }
    preview.Begin(font);

    std::string title = kPreviewTitle;
    std::string before, after;
    if (general.chk_preposttitlefade) {
        title = general.edt_presongtitle + title + general.edt_postsongtitle;
    } else {
        before = general.edt_presongtitle;
        after = general.edt_postsongtitle;
    }

    if (general.chk_enablefade) {
        preview.SetSelectionColor(kPreviewBlack);
        TypeText(before, preview);
        FadeText(title, colors, colorCount, true, &preview);
        TypeText(after, preview);  // keeps the last colour the fader set
    } else {
        preview.SetText(before + title + after);
    }
    preview.End();
}
