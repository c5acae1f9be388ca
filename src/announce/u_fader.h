// Colour gradient and "wavy" effect over a text, in the chat client's markup.
//
// Every character gets its own never-closed tag <font color="#RRGGBB">; with the wavy effect the
// characters at positions 1, 5, 9, ... are wrapped in <sub>...</sub> and those at 3, 7, 11, ...
// in <sup>...</sup>. The gradient arithmetic is done in 80-bit extended precision whatever the
// floating-point state of the calling process is, so the host's precision setting never changes
// a colour.
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

struct TRgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const TRgb&) const = default;
};

// Colour references are 0x00BBGGRR; the top byte is ignored.
TRgb SplitColor(std::int32_t colorref);

// The six upper-case hexadecimal digits RRGGBB.
std::string ColorToHex(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// start + trunc((end - start) / step * j) in extended precision, the sum taken as a byte.
// A step of zero or infinity, or any other input without a finite result, leaves start as it is.
std::uint8_t FadeChannel(std::uint8_t start, std::uint8_t end, double step, std::int64_t j);

// One coloured character: <font color="#digits">ch, wrapped in <sub> at positions 1, 5, 9, ...
// and in <sup> at positions 3, 7, 11, ... when wavy. Positions count from 1.
std::string WrapChar(char ch, const std::string& digits, bool wavy, std::size_t position);

// Lays the first `count` colours over `text` (23 output characters per input character, 34 for
// the wavy ones). With fewer characters than colours each character takes its own colour and
// the preview gets nothing; otherwise every character is also typed into the preview in its
// colour, when a preview is given. A count outside 1 to 10 is clamped into that range; with a
// count of 1 every character takes colour 1.
std::string FadeText(const std::string& text, const TFadeColors& colors, int count, bool wavy,
                     IPreviewControl* preview);
