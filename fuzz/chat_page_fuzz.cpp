// Fuzzes the chat page: whatever a room received, the page holds only the tags the chat client
// knows, with only their own attributes and quoted values, and valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "chat_page.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Every "<" opens a known tag whose attributes are known ones with quoted values free of quotes
// and angle brackets.
void CheckMarkup(std::string_view html) {
    for (std::size_t p = html.find('<'); p != std::string_view::npos; p = html.find('<', p + 1)) {
        const std::size_t end = html.find('>', p);
        Check(end != std::string_view::npos);
        std::string_view tag = html.substr(p + 1, end - p - 1);
        if (StartsWith(tag, "/")) {
            tag.remove_prefix(1);
        }
        const std::size_t nameEnd = tag.find(' ');
        const std::string_view name = tag.substr(0, nameEnd);
        const bool known = name == "font" || name == "a" || name == "b" || name == "i" ||
                           name == "u" || name == "s" || name == "sub" || name == "sup";
        Check(known);
        std::string_view rest = nameEnd == std::string_view::npos ? "" : tag.substr(nameEnd);
        while (!rest.empty()) {
            Check(StartsWith(rest, " color=\"") || StartsWith(rest, " face=\"") ||
                  StartsWith(rest, " href=\"") || StartsWith(rest, " title=\""));
            const std::size_t open = rest.find('"');
            const std::size_t close = rest.find('"', open + 1);
            Check(close != std::string_view::npos);
            const std::string_view value = rest.substr(open + 1, close - open - 1);
            Check(value.find_first_of("<>") == std::string_view::npos);
            rest.remove_prefix(close + 1);
        }
    }
}

void CheckUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xE0 ? 3 : 2;
        Check(lead < 0x80 || (lead >= 0xC2 && lead <= 0xEF));
        Check(i + length <= s.size());
        for (std::size_t k = 1; k < length; ++k) {
            Check((static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80);
        }
        i += length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string markup = chatpage::RenderMarkup(text);
    CheckMarkup(markup);
    CheckUtf8(markup);

    // The same bytes as a transcript: every room name and typed text comes out escaped.
    std::istringstream in(text);
    for (const chatpage::Room& room : chatpage::ParseTranscript(in)) {
        const std::string name = chatpage::EscapeText(room.name);
        Check(name.find_first_of("<>\"'") == std::string::npos);
        CheckUtf8(name);
        for (const std::string& typed : room.inputs) {
            Check(chatpage::EscapeText(typed).find_first_of("<>\"'") == std::string::npos);
        }
        for (const std::string& line : room.lines) {
            CheckMarkup(chatpage::RenderMarkup(line));
        }
    }
    return 0;
}
