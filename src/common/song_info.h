// The song that has just started, as the player watcher reads it from the host.
#pragma once

#include <cstdint>
#include <string>

struct TSongInfo {
    std::string FileName;      // full path of the current playlist entry
    std::string Title;         // display title as the host shows it
    std::int32_t Bitrate = 0;  // kbit/s
    std::int32_t Length = 0;   // seconds
};
