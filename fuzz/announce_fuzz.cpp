// Fuzzes the fader and the address encoder with arbitrary bytes, counts and flags, checking the
// length laws and the markup structure; the sanitizers catch any read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "announce/u_fader.h"
#include "fileshare/EncodeIP.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void FuzzFader(const std::uint8_t* data, std::size_t size) {
    // Layout: count, flags, ten colours of four bytes, then the text.
    if (size < 2 + 40) {
        return;
    }
    const int count = static_cast<std::int8_t>(data[0]);
    const bool wavy = (data[1] & 1) != 0;
    TFadeColors colors{};
    for (std::size_t n = 0; n < colors.size(); ++n) {
        std::uint32_t c = 0;
        std::memcpy(&c, data + 2 + 4 * n, 4);
        colors[n] = static_cast<std::int32_t>(c);
    }
    const std::string text(reinterpret_cast<const char*>(data + 42), size - 42);

    struct CountingPreview : IPreviewControl {
        std::string typed;
        void SetSelectionColor(std::uint32_t colorref) override { Check(colorref <= 0xFFFFFF); }
        void TypeChar(unsigned char ch) override { typed += static_cast<char>(ch); }
    } preview;
    const std::string faded = FadeText(text, colors, count, wavy, &preview);

    const std::size_t length = text.size();
    Check(faded.size() == 23 * length + (wavy ? 11 * ((length + 1) / 2) : 0));
    Check(preview.typed.empty() || preview.typed == text);
    // Every piece carries its own character, so the pieces can be walked one by one.
    std::size_t at = 0;
    for (std::size_t i = 1; i <= length; ++i) {
        const bool lowered = wavy && i % 4 == 1;
        const bool raised = wavy && i % 4 == 3;
        if (lowered || raised) {
            Check(faded.compare(at, 5, lowered ? "<sub>" : "<sup>") == 0);
            at += 5;
        }
        Check(faded.compare(at, 14, "<font color=\"#") == 0);
        for (std::size_t d = 0; d < 6; ++d) {
            Check(std::strchr("0123456789ABCDEF", faded[at + 14 + d]) != nullptr);
        }
        Check(faded.compare(at + 20, 2, "\">") == 0);
        Check(faded[at + 22] == text[i - 1]);
        at += 23;
        if (lowered || raised) {
            Check(faded.compare(at, 6, lowered ? "</sub>" : "</sup>") == 0);
            at += 6;
        }
    }
    Check(at == faded.size());
    if (length > 0) {
        const TRgb first = SplitColor(colors[0]);
        Check(faded.find(ColorToHex(first.red, first.green, first.blue)) == (wavy ? 19u : 14u));
    }
}

void FuzzEncoder(const std::uint8_t* data, std::size_t size) {
    const std::string plain(reinterpret_cast<const char*>(data), size);
    const std::string token = EncodeAddress(plain);
    Check(token.size() == plain.size() + plain.size() % 2);
    Check(token.find_first_not_of(kTokenAlphabet) == std::string::npos);
    const std::string link = DownloadLinkText(token);
    Check(link.compare(std::strlen("<a href=\"www.brenloplug:"), token.size() + 1, token + "\"") ==
          0);
}

void FuzzChannel(const std::uint8_t* data, std::size_t size) {
    if (size < 2 + 8 + 8) {
        return;
    }
    double step = 0;
    std::int64_t j = 0;
    std::memcpy(&step, data + 2, 8);
    std::memcpy(&j, data + 10, 8);
    const std::uint8_t value = FadeChannel(data[0], data[1], step, j);
    if (j == 0) {
        Check(value == data[0]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    switch (data[0] % 3) {
        case 0:
            FuzzFader(data + 1, size - 1);
            break;
        case 1:
            FuzzEncoder(data + 1, size - 1);
            break;
        default:
            FuzzChannel(data + 1, size - 1);
            break;
    }
    return 0;
}
