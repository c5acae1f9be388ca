// Colour gradient and "wavy" effect over a text, in the chat client's markup.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// A rich-text control that receives the faded text typed character by character.
class IPreviewControl {
public:
    virtual ~IPreviewControl() = default;
    virtual void SetSelectionColor(std::uint32_t colorref) = 0;  // colour for newly typed text
    virtual void TypeChar(unsigned char ch) = 0;
};

using TFadeColors = std::array<std::int32_t, 10>;  // colour n of the list is element n - 1

std::string FadeText(const std::string& text, const TFadeColors& colors, int count, bool wavy,
                     IPreviewControl* preview);
