// Colour gradient and "wavy" effect over a text, in the chat client's markup.
#include "announce/u_fader.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/x87_precision.h"

namespace {

constexpr const char kTagOpen[] = "<font color=\"#";
constexpr const char kTagClose[] = "\">";
constexpr std::size_t kPieceLength = sizeof(kTagOpen) - 1 + 6 + sizeof(kTagClose) - 1 + 1;
constexpr std::size_t kWaveLength = 11;  // "<sub>" + "</sub>", or the same with sup
constexpr int kMaxColors = static_cast<int>(std::tuple_size_v<TFadeColors>);

enum class TWave { None, Lowered, Raised };

TWave WaveAt(bool wavy, std::size_t position) {
    if (!wavy) {
        return TWave::None;
    }
    switch (position % 4) {
        case 1:
            return TWave::Lowered;
        case 3:
            return TWave::Raised;
        default:
            return TWave::None;
    }
}

void AppendHex(std::string& out, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const char hex[6] = {kDigits[red >> 4],   kDigits[red & 15],  kDigits[green >> 4],
                         kDigits[green & 15], kDigits[blue >> 4], kDigits[blue & 15]};
    out.append(hex, sizeof(hex));
}

// Appends one piece; `digits` writes the six colour digits.
template <typename Digits>
void AppendPiece(std::string& out, char ch, Digits digits, bool wavy, std::size_t position) {
    const TWave wave = WaveAt(wavy, position);
    if (wave == TWave::Lowered) {
        out += "<sub>";
    } else if (wave == TWave::Raised) {
        out += "<sup>";
    }
    out += kTagOpen;
    digits(out);
    out += kTagClose;
    out += ch;
    if (wave == TWave::Lowered) {
        out += "</sub>";
    } else if (wave == TWave::Raised) {
        out += "</sup>";
    }
}

std::size_t FadedLength(std::size_t length, bool wavy) {
    // Positions 1, 3, 5, ... are the wrapped ones.
    return length * kPieceLength + (wavy ? (length + 1) / 2 * kWaveLength : 0);
}

// The channel arithmetic proper; the caller holds the x87 in extended precision.
std::uint8_t FadeChannelExtended(std::uint8_t start, std::uint8_t end, double step,
                                 std::int64_t j) {
    const int difference = static_cast<int>(end) - static_cast<int>(start);
    long double offset = static_cast<long double>(difference) / step * static_cast<long double>(j);
    constexpr long double kExactlyConvertible = 0x1p62L;
    if (!(std::fabs(offset) < kExactlyConvertible)) {
        if (!std::isfinite(offset)) {
            return start;
        }
        offset = std::fmod(std::trunc(offset), 256.0L);
    }
    const auto truncated = static_cast<std::int64_t>(offset);
    return static_cast<std::uint8_t>(static_cast<std::int64_t>(start) + truncated);
}

std::uint32_t ColorRef(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<std::uint32_t>(red) + static_cast<std::uint32_t>(green) * 256u +
           static_cast<std::uint32_t>(blue) * 65536u;
}

}  // namespace

TRgb SplitColor(std::int32_t colorref) {
    const auto bits = static_cast<std::uint32_t>(colorref);
    return TRgb{static_cast<std::uint8_t>(bits & 0xFF),
                static_cast<std::uint8_t>((bits >> 8) & 0xFF),
                static_cast<std::uint8_t>((bits >> 16) & 0xFF)};
}

std::string ColorToHex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    std::string hex;
    hex.reserve(6);
    AppendHex(hex, red, green, blue);
    return hex;
}

std::uint8_t FadeChannel(std::uint8_t start, std::uint8_t end, double step, std::int64_t j) {
    TX87Scope extended;
    X87Pin(start);
    X87Pin(end);
    X87Pin(step);
    X87Pin(j);
    std::uint8_t result = FadeChannelExtended(start, end, step, j);
    X87Pin(result);
    return result;
}

std::string WrapChar(char ch, const std::string& digits, bool wavy, std::size_t position) {
    std::string piece;
    piece.reserve(kPieceLength - 6 + digits.size() + kWaveLength);
    AppendPiece(
        piece, ch, [&digits](std::string& out) { out += digits; }, wavy, position);
    return piece;
}

std::string FadeText(const std::string& text, const TFadeColors& colors, int count, bool wavy,
                     IPreviewControl* preview) {
    count = std::clamp(count, 1, kMaxColors);
    const std::size_t length = text.size();
    std::string out;
    out.reserve(FadedLength(length, wavy));

    std::array<TRgb, kMaxColors> rgb;
    for (int n = 0; n < kMaxColors; ++n) {
        rgb[static_cast<std::size_t>(n)] = SplitColor(colors[static_cast<std::size_t>(n)]);
    }
    auto colour = [&rgb](int n) { return rgb[static_cast<std::size_t>(n - 1)]; };

    // Fewer characters than colours: each character shows its own colour, nothing is typed.
    if (length < static_cast<std::size_t>(count)) {
        for (std::size_t k = 1; k <= length; ++k) {
            const TRgb c = colour(static_cast<int>(k));
            AppendPiece(
                out, text[k - 1], [&c](std::string& o) { AppendHex(o, c.red, c.green, c.blue); },
                wavy, k);
        }
        return out;
    }

    auto emit = [&](std::size_t i, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        const char ch = text[i - 1];
        AppendPiece(
            out, ch, [&](std::string& o) { AppendHex(o, red, green, blue); }, wavy, i);
        if (preview != nullptr) {
            preview->SetSelectionColor(ColorRef(red, green, blue));
            preview->TypeChar(static_cast<unsigned char>(ch));
        }
    };

    // One colour: the step L / 0 has no finite value; as it grows without bound every character
    // keeps colour 1.
    if (count == 1) {
        const TRgb c = colour(1);
        for (std::size_t i = 1; i <= length; ++i) {
            emit(i, c.red, c.green, c.blue);
        }
        return out;
    }

    TX87Scope extended;
    long double characters = static_cast<long double>(length);
    int segments = count - 1;
    X87Pin(characters);
    X87Pin(segments);
    // Computed in extended precision, kept as a double: the segment borders depend on it.
    double step = static_cast<double>(characters / static_cast<long double>(segments));
    X87Pin(step);

    int s = 1;
    TRgb start = colour(1);
    TRgb end = colour(2);
    std::int64_t j = 0;
    for (std::size_t i = 1; i <= length; ++i) {
        // s * step is exact in extended precision (at most 57 significant bits), so the
        // comparison sees the product unrounded.
        const long double border = static_cast<long double>(s) * static_cast<long double>(step);
        const bool pastBorder = static_cast<long double>(i) > border;
        if (pastBorder && s < count) {
            ++s;
            start = colour(s);
            end = colour(std::min(s + 1, count));
            j = 0;
        }
        emit(i, FadeChannelExtended(start.red, end.red, step, j),
             FadeChannelExtended(start.green, end.green, step, j),
             FadeChannelExtended(start.blue, end.blue, step, j));
        ++j;
    }
    return out;
}
