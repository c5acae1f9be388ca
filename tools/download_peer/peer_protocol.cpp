// The downloading side's text handling (see peer_protocol.h).
#include "peer_protocol.h"

#include <cctype>

namespace peer {

bool ParseOffer(const std::string& message, Offer* offer) {
    const std::size_t prefix = sizeof kOfferPrefix - 1;
    if (message.compare(0, prefix, kOfferPrefix) != 0)
        return false;
    std::size_t i = prefix;
    std::int64_t size = 0;
    for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i) {
        if (size > (INT64_MAX - (message[i] - '0')) / 10)
            return false;
        size = size * 10 + (message[i] - '0');
    }
    if (i == prefix || i >= message.size() || message[i] != '-')
        return false;
    offer->size = size;
    offer->name = message.substr(i + 1);
    return true;
}

bool IsSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    }
    if (name.back() == '.' || name.back() == ' ')
        return false;
    // Device names stay devices whatever the folder and extension ("nul.txt" is NUL).
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == device)
            return false;
    }
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
        stem[3] >= '0' && stem[3] <= '9')
        return false;
    return true;
}

}  // namespace peer
