// Fuzzes the link decoder: arbitrary text never breaks it, and any address and port the encoder
// took in, with any bytes outside the plain alphabet around the address, come back out of the
// token.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "fileshare/DecodeIP.h"
#include "fileshare/EncodeIP.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Bytes outside "0123456789.:" (each byte is mapped into that set of characters).
std::string Noise(const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        char ch = static_cast<char>(data[i]);
        if (std::strchr(kPlainAlphabet, ch) != nullptr || ch == '\0') {
            ch = static_cast<char>(ch + 0x40);
        }
        text += ch;
    }
    return text;
}

void RoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return;
    }
    const std::string address = std::to_string(data[0]) + "." + std::to_string(data[1]) + "." +
                                std::to_string(data[2]) + "." + std::to_string(data[3]);
    const int port = 1 + (data[4] | (data[5] << 8)) % 65535;
    const std::size_t split = std::min<std::size_t>(data[6], size - 8);
    const std::string reply =
        Noise(data + 8, split) + address + Noise(data + 8 + split, size - 8 - split);
    const char kind = kPlainAlphabet[data[7] % 12];
    const std::string plain = std::string(1, kind) + "1" + reply + ":" + std::to_string(port);
    const std::string token = EncodeAddress(plain + ":::");
    Check(DecodeAddress(token).has_value());
    const std::optional<TLinkAddress> link = ParseDownloadLink("www.brenloplug:" + token);
    Check(link.has_value() && link->Address == address && link->Port == port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<std::string> plain = DecodeAddress(text)) {
        Check(plain->size() == text.size());
        Check(EncodeAddress(*plain) == text);
    }
    if (const std::optional<TLinkAddress> link = ParseDownloadLink(text)) {
        Check(link->Port >= 1 && link->Port <= 65535 && !link->Address.empty());
    }
    ParsePlainAddress(text);
    RoundTrip(data, size);
    return 0;
}
