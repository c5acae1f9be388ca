// Fuzzes the portable private-profile reader with arbitrary file contents. The section and key
// asked for come from the first line of the input, so matching ones are found often.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/profile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::string_view first = content.substr(0, content.find('\n'));
    const std::size_t slash = first.find('/');
    const std::string_view section = first.substr(0, slash);
    const std::string_view key =
        slash == std::string_view::npos ? std::string_view("k") : first.substr(slash + 1);

    const std::string value = FindProfileValue(content, section, key);

    // A value is always a piece of the file, never longer than the profile buffer allows.
    if (value.size() > kProfileMaxTextLength ||
        (!value.empty() && content.find(value) == std::string_view::npos)) {
        std::abort();
    }
    return 0;
}
