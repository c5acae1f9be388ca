// The portable private-profile reader: the rules Windows applies in GetPrivateProfileStringA,
// over a file read with the standard library.
#include "config/profile_reader.h"

#include <fstream>
#include <iterator>
#include <string_view>

namespace {

bool IsBlank(char c) {
    // Windows also treats Ctrl-Z (the old end-of-file mark) as a blank.
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool HasDirectory(const std::string& fileName) {
    return fileName.find_first_of("/\\") != std::string::npos;
}

std::string ReadFile(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    if (!found) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

}  // namespace

std::string FindProfileValue(std::string_view content, std::string_view section,
                             std::string_view key) {
    std::string_view rest(content);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") {
        rest.remove_prefix(3);
    }

    enum class TState { Before, InSection, After } state = TState::Before;
    while (!rest.empty() && state != TState::After) {
        const std::size_t end = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos) {
                continue;
            }
            const bool match = SameName(line.substr(1, close - 1), section);
            if (state == TState::InSection) {
                // Only the first section of that name is searched.
                state = TState::After;
            } else if (match) {
                state = TState::InSection;
            }
            continue;
        }
        if (state != TState::InSection) {
            continue;
        }
        const std::size_t equals = line.find('=');
        std::string_view name = Trim(line.substr(0, equals));
        if (!SameName(name, key)) {
            continue;
        }
        if (equals == std::string_view::npos) {
            return {};
        }
        std::string value = Unquote(Trim(line.substr(equals + 1)));
        if (value.size() > kProfileMaxTextLength) {
            value.resize(kProfileMaxTextLength);
        }
        return value;
    }
    return {};
}

std::string TIniFileProfileReader::ReadString(const std::string& section, const std::string& key,
                                              const std::string& fileName) {
    std::string path = fileName;
    if (!HasDirectory(fileName)) {
        path = directory_.empty() ? fileName : directory_ + "/" + fileName;
    }
    bool found = false;
    const std::string content = ReadFile(path, found);
    return found ? FindProfileValue(content, section, key) : std::string();
}
