// The fader's preview in a rich-text control.
#include "announce/u_fader_win32.h"

#include <richedit.h>

#include <cstdint>

// The control reads the Ansi layout; its size field must say 60 bytes.
static_assert(sizeof(CHARFORMATA) == 60, "CHARFORMATA must be the 60-byte Ansi layout");

void TRichEditPreview::SetSelectionColor(std::uint32_t colorref) {
    CHARFORMATA format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_COLOR;
    format.dwEffects = 1;
    format.crTextColor = colorref;
    // With an empty selection this sets the format of the next typed character.
    SendMessageA(richEdit_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

void TRichEditPreview::TypeChar(unsigned char ch) {
    SendMessageA(richEdit_, WM_CHAR, static_cast<WPARAM>(ch), 0);
}

std::string FadeTextToControl(const std::string& text, const TFadeColors& colors, int count,
                              bool wavy, HWND richEdit) {
    if (reinterpret_cast<std::intptr_t>(richEdit) <= 0) {
        return FadeText(text, colors, count, wavy, nullptr);
    }
    TRichEditPreview preview(richEdit);
    return FadeText(text, colors, count, wavy, &preview);
}
