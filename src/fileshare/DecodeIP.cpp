// The peer's side of the download link.
#include "fileshare/DecodeIP.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <vector>

#include "fileshare/EncodeIP.h"

namespace {

constexpr int kModulus = 12;
// The inverse of (5 2 / 7 3) modulo 12 (its determinant is 1): (3 -2 / -7 5).
constexpr int kInvA = 3;
constexpr int kInvB = 10;
constexpr int kInvC = 5;
constexpr int kInvD = 5;
constexpr long kHighestPort = 65535;
constexpr std::size_t kOctets = 4;
constexpr long kHighestOctet = 255;

int TokenIndex(char ch) {
    const char* at = std::strchr(kTokenAlphabet, ch);
    return (ch != '\0' && at != nullptr) ? static_cast<int>(at - kTokenAlphabet) : -1;
}

// One to `maxDigits` decimal digits and nothing else.
std::optional<long> Decimal(const std::string& text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    long value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        value = value * 10 + (ch - '0');
    }
    return value;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) {
            return fields;
        }
        start = colon + 1;
    }
}

// "a.b.c.d" with four decimal numbers from 0 to 255 of one to three digits.
bool IsDottedQuad(const std::string& text) {
    std::size_t octets = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::optional<long> octet = Decimal(text.substr(start, dot - start), 3);
        if (!octet || *octet > kHighestOctet) {
            return false;
        }
        ++octets;
        if (dot == std::string::npos) {
            return octets == kOctets;
        }
        if (octets == kOctets) {
            return false;
        }
        start = dot + 1;
    }
}

std::optional<int> ParsePortField(const std::string& field) {
    const std::optional<long> value = Decimal(field, 5);
    if (!value || *value < 1 || *value > kHighestPort) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool IsToken(const std::string& text) {
    for (char ch : text) {
        if (TokenIndex(ch) < 0) {
            return false;
        }
    }
    return !text.empty();
}

std::string Lower(std::string text) {
    for (char& ch : text) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return text;
}

}  // namespace

std::optional<std::string> DecodeAddress(const std::string& token) {
    if (token.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string plain;
    plain.reserve(token.size());
    for (std::size_t i = 0; i < token.size(); i += 2) {
        const int y1 = TokenIndex(token[i]);
        const int y2 = TokenIndex(token[i + 1]);
        if (y1 < 0 || y2 < 0) {
            return std::nullopt;
        }
        plain += kPlainAlphabet[(kInvA * y1 + kInvB * y2) % kModulus];
        plain += kPlainAlphabet[(kInvC * y1 + kInvD * y2) % kModulus];
    }
    return plain;
}

std::optional<TLinkAddress> ParsePlainAddress(const std::string& plain) {
    // Kind character and the "1" that follows it.
    if (plain.size() < 2 || plain[1] != '1') {
        return std::nullopt;
    }
    const std::size_t end = plain.find_last_not_of(':');
    if (end == std::string::npos || end < 2) {
        return std::nullopt;
    }
    std::vector<std::string> fields = SplitFields(plain.substr(2, end - 1));
    if (fields.size() < 2) {
        return std::nullopt;
    }
    const std::optional<int> port = ParsePortField(fields.back());
    if (!port) {
        return std::nullopt;
    }
    fields.pop_back();
    for (const std::string& field : fields) {
        const std::size_t first = field.find_first_not_of('.');
        if (first == std::string::npos) {
            continue;
        }
        const std::string address = field.substr(first, field.find_last_not_of('.') - first + 1);
        if (IsDottedQuad(address)) {
            return TLinkAddress{address, *port};
        }
    }
    return std::nullopt;
}

std::optional<TLinkAddress> ParseDownloadLink(const std::string& text) {
    std::string token = Trim(text);
    if (!IsToken(token)) {
        const std::size_t at = Lower(token).find(kLinkScheme);
        if (at == std::string::npos) {
            return std::nullopt;
        }
        const std::size_t start = at + std::strlen(kLinkScheme);
        std::size_t stop = start;
        while (stop < token.size() && TokenIndex(token[stop]) >= 0) {
            ++stop;
        }
        token = token.substr(start, stop - start);
    }
    const std::optional<std::string> plain = DecodeAddress(token);
    if (!plain) {
        return std::nullopt;
    }
    return ParsePlainAddress(*plain);
}
