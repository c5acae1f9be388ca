// Fuzzes the link decoder: arbitrary text never breaks it, what it reads from a plain text is
// what a small reference reader written from the rules reads, and any address and port the
// encoder took in, with any bytes outside the plain alphabet around the address, come back out of
// the token.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// The rules of a decoded plain text, read field by field: kind character, "1", then fields
// separated by ':' (the trailing ones of the padding dropped); the last field is the port (one to
// five digits, 1 to 65535); the address is the first earlier field that, without the full stops
// at its ends, is four numbers of one to three digits up to 255 joined by full stops.
std::optional<TLinkAddress> ReferencePlain(const std::string& plain) {
    if (plain.size() < 2 || plain[1] != '1')
        return std::nullopt;
    std::string body = plain.substr(2);
    while (!body.empty() && body.back() == ':')
        body.pop_back();
    const std::size_t lastColon = body.rfind(':');
    if (lastColon == std::string::npos)
        return std::nullopt;
    const std::string portText = body.substr(lastColon + 1);
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int port = std::stoi(portText);
    if (port < 1 || port > 65535)
        return std::nullopt;
    std::size_t from = 0;
    while (from <= lastColon) {
        std::size_t to = body.find(':', from);
        std::string field = body.substr(from, to - from);
        from = to + 1;
        while (!field.empty() && field.front() == '.')
            field.erase(0, 1);
        while (!field.empty() && field.back() == '.')
            field.pop_back();
        int numbers = 0;
        bool good = !field.empty();
        std::size_t at = 0;
        while (good && at <= field.size()) {
            const std::size_t dot = std::min(field.find('.', at), field.size());
            const std::string number = field.substr(at, dot - at);
            good = !number.empty() && number.size() <= 3 &&
                   number.find_first_not_of("0123456789") == std::string::npos &&
                   std::stoi(number) <= 255 && ++numbers <= 4;
            at = dot + 1;
        }
        if (good && numbers == 4)
            return TLinkAddress{field, port};
    }
    return std::nullopt;
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
    const std::optional<TLinkAddress> fromPlain = ParsePlainAddress(text);
    if (fromPlain != ReferencePlain(text)) {
        std::fprintf(stderr, "plain '%s': read %s:%d\n", text.c_str(),
                     fromPlain ? fromPlain->Address.c_str() : "(nothing)",
                     fromPlain ? fromPlain->Port : 0);
        std::abort();
    }
    RoundTrip(data, size);
    return 0;
}
