// The chat rooms as a web page (see chat_page.h).
#include "chat_page.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace chatpage {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned ones become U+FFFD.
constexpr char32_t kHighControls[32] = {
    0x20AC,       kReplacement, 0x201A, 0x0192, 0x201E, 0x2026,       0x2020, 0x2021,
    0x02C6,       0x2030,       0x0160, 0x2039, 0x0152, kReplacement, 0x017D, kReplacement,
    kReplacement, 0x2018,       0x2019, 0x201C, 0x201D, 0x2022,       0x2013, 0x2014,
    0x02DC,       0x2122,       0x0161, 0x203A, 0x0153, kReplacement, 0x017E, 0x0178};

char32_t CodePoint(unsigned char byte) {
    if (byte == '\t') {
        return byte;
    }
    if (byte < 0x20 || byte == 0x7F) {
        return kReplacement;
    }
    if (byte >= 0x80 && byte < 0xA0) {
        return kHighControls[byte - 0x80];
    }
    return byte;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendEscaped(std::string& out, std::string_view cp1252) {
    for (const char ch : cp1252) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                AppendUtf8(out, CodePoint(static_cast<unsigned char>(ch)));
        }
    }
}

char Lower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

bool IsSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}

bool IsLetter(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (Lower(ch) >= 'a' && Lower(ch) <= 'f');
}

struct Attribute {
    std::string name;  // lower case
    std::string value;
};

struct Tag {
    std::string name;  // lower case
    bool closing = false;
    std::vector<Attribute> attributes;
    std::size_t end = 0;  // the position after ">"
};

// Reads the tag that starts with the "<" at `pos`, in the shape a browser reads it: letters for
// the name, then attributes with values in double or single quotes or bare. Nothing when the text
// there is no complete tag.
std::optional<Tag> ReadTag(std::string_view s, std::size_t pos) {
    Tag tag;
    std::size_t i = pos + 1;
    if (i < s.size() && s[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const std::size_t nameStart = i;
    while (i < s.size() && IsLetter(s[i])) {
        ++i;
    }
    if (i == nameStart) {
        return std::nullopt;
    }
    tag.name = LowerCase(s.substr(nameStart, i - nameStart));
    for (;;) {
        while (i < s.size() && IsSpace(s[i])) {
            ++i;
        }
        if (i >= s.size()) {
            return std::nullopt;
        }
        if (s[i] == '>') {
            tag.end = i + 1;
            return tag;
        }
        if (tag.closing) {
            return std::nullopt;
        }
        const std::size_t attrStart = i;
        while (i < s.size() && (IsLetter(s[i]) || s[i] == '-')) {
            ++i;
        }
        if (i == attrStart) {
            return std::nullopt;
        }
        Attribute attribute{LowerCase(s.substr(attrStart, i - attrStart)), {}};
        while (i < s.size() && IsSpace(s[i])) {
            ++i;
        }
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && IsSpace(s[i])) {
                ++i;
            }
            if (i >= s.size()) {
                return std::nullopt;
            }
            if (s[i] == '"' || s[i] == '\'') {
                const std::size_t close = s.find(s[i], i + 1);
                if (close == std::string_view::npos) {
                    return std::nullopt;
                }
                attribute.value = std::string(s.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                const std::size_t valueStart = i;
                while (i < s.size() && !IsSpace(s[i]) && s[i] != '>') {
                    ++i;
                }
                attribute.value = std::string(s.substr(valueStart, i - valueStart));
            }
        }
        tag.attributes.push_back(std::move(attribute));
    }
}

bool IsColor(std::string_view value) {
    return value.size() == 7 && value[0] == '#' &&
           std::all_of(value.begin() + 1, value.end(), IsHexDigit);
}

// A link target is kept only where following it cannot run anything on the page.
bool IsSafeLink(std::string_view value) {
    const std::string lower = LowerCase(value);
    for (const char* scheme : {"www.brenloplug:", "http://", "https://"}) {
        if (lower.rfind(scheme, 0) == 0) {
            return true;
        }
    }
    return false;
}

// The attributes the chat client reads on a tag, or nothing when the tag is not one it knows.
std::optional<std::vector<std::string>> KnownAttributes(const std::string& name) {
    if (name == "font") {
        return std::vector<std::string>{"color", "face"};
    }
    if (name == "a") {
        return std::vector<std::string>{"href", "title"};
    }
    for (const char* plain : {"b", "i", "u", "s", "sub", "sup"}) {
        if (name == plain) {
            return std::vector<std::string>{};
        }
    }
    return std::nullopt;
}

bool AttributeIsValid(const Attribute& a) {
    if (a.name == "color") {
        return IsColor(a.value);
    }
    if (a.name == "href") {
        return IsSafeLink(a.value);
    }
    return true;
}

void AppendTag(std::string& out, const Tag& tag, const std::vector<std::string>& known) {
    out += tag.closing ? "</" : "<";
    out += tag.name;
    std::vector<std::string> written;  // as in a browser, the first of equal attributes counts
    for (const Attribute& a : tag.attributes) {
        if (std::find(known.begin(), known.end(), a.name) == known.end() ||
            std::find(written.begin(), written.end(), a.name) != written.end()) {
            continue;
        }
        written.push_back(a.name);
        if (!AttributeIsValid(a)) {
            continue;
        }
        out += ' ';
        out += a.name;
        out += "=\"";
        AppendEscaped(out, a.value);
        out += '"';
    }
    out += '>';
}

// "room 'NAME'" at the start of `line`: the name and the position after the closing "'".
std::optional<std::pair<std::string, std::size_t>> RoomPrefix(std::string_view line) {
    constexpr std::string_view kPrefix = "chat: room '";
    if (line.substr(0, kPrefix.size()) != kPrefix) {
        return std::nullopt;
    }
    const std::size_t close = line.find('\'', kPrefix.size());
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(std::string(line.substr(kPrefix.size(), close - kPrefix.size())),
                          close + 1);
}

// The input number and its text from " input N: TEXT".
std::optional<std::pair<std::size_t, std::string>> InputPart(std::string_view rest) {
    constexpr std::string_view kInput = " input ";
    if (rest.substr(0, kInput.size()) != kInput) {
        return std::nullopt;
    }
    std::size_t i = kInput.size();
    std::size_t number = 0;
    const std::size_t digitsStart = i;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && i - digitsStart < 4) {
        number = number * 10 + static_cast<std::size_t>(rest[i] - '0');
        ++i;
    }
    if (i == digitsStart || number == 0 || rest.substr(i, 2) != ": ") {
        return std::nullopt;
    }
    return std::make_pair(number, std::string(rest.substr(i + 2)));
}

Room& RoomNamed(std::vector<Room>& rooms, const std::string& name) {
    for (Room& room : rooms) {
        if (room.name == name) {
            return room;
        }
    }
    rooms.push_back(Room{name, {}, {}});
    return rooms.back();
}

constexpr std::string_view kStyle =
    "body{font-family:Arial,Helvetica,sans-serif;margin:16px;background:#f4f4f4;color:#000}"
    "h1{font-size:18px;margin:0 0 12px}"
    "section{background:#fff;border:1px solid #8a8a8a;margin:0 0 14px;max-width:900px}"
    "h2{font-size:14px;margin:0;padding:4px 8px;background:#0a246a;color:#fff}"
    "table{border-collapse:collapse;width:100%}"
    "td{padding:3px 8px;vertical-align:baseline}"
    "td.n{color:#888;font-size:11px;width:1.5em;text-align:right}"
    "td.line{font-size:14px;line-height:22px}"
    "p.input{margin:0;padding:4px 8px;border-top:1px solid #ccc;font-size:12px;color:#444}"
    "p.input span{color:#000;background:#ffffe0;border:1px solid #ccc;padding:0 4px}"
    "p.none{color:#888;font-style:italic}";

}  // namespace

std::vector<Room> ParseTranscript(std::istream& in) {
    std::vector<Room> rooms;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto prefix = RoomPrefix(line);
        if (!prefix) {
            continue;
        }
        const std::string_view rest = std::string_view(line).substr(prefix->second);
        if (rest.substr(0, 2) == ": " || rest == ":") {
            RoomNamed(rooms, prefix->first)
                .lines.emplace_back(rest.substr(rest.size() > 1 ? 2 : 1));
        } else if (const auto input = InputPart(rest)) {
            Room& room = RoomNamed(rooms, prefix->first);
            if (room.inputs.size() < input->first) {
                room.inputs.resize(input->first);
            }
            room.inputs[input->first - 1] = input->second;
        }
    }
    return rooms;
}

std::string EscapeText(std::string_view cp1252) {
    std::string out;
    AppendEscaped(out, cp1252);
    return out;
}

std::string RenderMarkup(std::string_view line) {
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == '<') {
            if (const auto tag = ReadTag(line, i)) {
                if (const auto known = KnownAttributes(tag->name)) {
                    AppendTag(out, *tag, *known);
                    i = tag->end;
                    continue;
                }
            }
        }
        AppendEscaped(out, line.substr(i, 1));
        ++i;
    }
    return out;
}

std::string RenderPage(const std::vector<Room>& rooms, std::string_view script) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'";
    if (!script.empty()) {
        page += "; script-src 'unsafe-inline'";
    }
    page += "\">\n<title>The chat rooms</title>\n<style>";
    page += kStyle;
    page += "</style>\n</head>\n<body>\n<h1>The chat rooms</h1>\n";
    if (rooms.empty()) {
        page += "<p class=\"none\">No room received anything.</p>\n";
    }
    for (const Room& room : rooms) {
        page += "<section>\n<h2>Room &#8222;" + EscapeText(room.name) + "&#8220;</h2>\n";
        if (room.lines.empty()) {
            page += "<p class=\"none\">No lines.</p>\n";
        } else {
            // Each line in a cell of its own: the cell ends every tag the line left open.
            page += "<table>\n";
            for (std::size_t n = 0; n < room.lines.size(); ++n) {
                page += "<tr><td class=\"n\">" + std::to_string(n + 1) +
                        "</td><td class=\"line\">" + RenderMarkup(room.lines[n]) + "</td></tr>\n";
            }
            page += "</table>\n";
        }
        for (std::size_t n = 0; n < room.inputs.size(); ++n) {
            page += "<p class=\"input\">Typed text in input " + std::to_string(n + 1) + ": ";
            page += room.inputs[n].empty() ? std::string("(empty)")
                                           : "<span>" + EscapeText(room.inputs[n]) + "</span>";
            page += "</p>\n";
        }
        page += "</section>\n";
    }
    if (!script.empty()) {
        page += "<script>\n";
        page += script;
        page += "\n</script>\n";
    }
    page += "</body>\n</html>\n";
    return page;
}

}  // namespace chatpage
