// Fuzzes the portable private-profile reader with arbitrary file contents and compares every
// answer with a small reference reader written straight from the rules (line by line, no state
// machine). The section and key asked for come from the first line of the input ("section/key"),
// so matching ones are found often.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/profile_reader.h"

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 26;
}

std::string Trimmed(std::string_view s) {
    std::size_t from = 0, to = s.size();
    while (from < to && Blank(s[from]))
        ++from;
    while (to > from && Blank(s[to - 1]))
        --to;
    return std::string(s.substr(from, to - from));
}

bool EqualNoCase(const std::string& a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// The rules: an optional UTF-8 byte order mark; lines end at a line feed and lose their blanks;
// empty lines and lines starting with ';' say nothing; "[name]" (up to the last ']') opens a
// section, and only the first section of the name is searched; in it, the first line whose part
// before the first '=' (without blanks) is the key gives the value after the '=' (without blanks,
// without one pair of enclosing quotes of one kind, at most kProfileMaxTextLength characters),
// and a line that is only the key gives the empty text. Names are compared without regard to
// the case of ASCII letters.
std::string Reference(std::string_view content, std::string_view section, std::string_view key) {
    if (content.size() >= 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        content.remove_prefix(3);
    bool inSection = false;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos)
            end = content.size();
        const std::string line = Trimmed(content.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const std::size_t close = line.rfind(']');
            if (close == std::string::npos)
                continue;
            if (inSection)
                return "";
            inSection = EqualNoCase(line.substr(1, close - 1), section);
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t equals = line.find('=');
        if (!EqualNoCase(Trimmed(std::string_view(line).substr(0, equals)), key))
            continue;
        if (equals == std::string::npos)
            return "";
        std::string value = Trimmed(std::string_view(line).substr(equals + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return value.substr(0, kProfileMaxTextLength);
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::string_view first = content.substr(0, content.find('\n'));
    const std::size_t slash = first.find('/');
    const std::string_view section = first.substr(0, slash);
    const std::string_view key =
        slash == std::string_view::npos ? std::string_view("k") : first.substr(slash + 1);

    const std::string value = FindProfileValue(content, section, key);
    const std::string expected = Reference(content, section, key);
    if (value != expected) {
        std::fprintf(stderr, "[%.*s] %.*s: read '%s', the rules give '%s'\n",
                     static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()),
                     key.data(), value.c_str(), expected.c_str());
        std::abort();
    }
    return 0;
}
