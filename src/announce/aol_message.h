// The composed announcement that the composer hands to the chat driver.
#pragma once

#include <string>

inline constexpr const char* kAdvertLine = "BrenloPlug3alpha >>2<< for Winamp5";

struct TAolMessage {
    std::string Text;      // title part: decorated, possibly faded, download link appended
    std::string PreText;   // posted before Text; empty when faded together with the title
    std::string PostText;  // posted after Text; empty in the same case
    bool FontFormat = false;
    std::string FontFace;  // empty unless FontFormat
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    bool Advertising = false;
    std::string AdvertLine = kAdvertLine;
};
