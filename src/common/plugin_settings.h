// The running settings record. PluginSettings is the one settings record of the plug-in: every
// part reads its fields at the moment it needs them; only the settings store (config/u_config.h,
// its registry persistence) and the configuration dialog write it. The record stands apart from
// its persistence so that the composer can read it without depending on the configuration
// subsystem.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TPluginSettings {
    struct General {
        bool enablechat = false;
        bool enablefade = false;
        std::string presongtitle;
        std::string postsongtitle;
        bool preposttitlefade = false;
        bool enablefontformat = false;
        bool extsonginfo = false;
        std::string fontface;
        bool bold = false;
        bool italic = false;
        bool underline = false;
        bool strikeout = false;
        bool operator==(const General&) const = default;
    } general;

    // Stored in the registry subkeys "aol" (the four switches) and "fs" (the port).
    struct Aol {
        bool enableaol = false;
        bool aoladvertising = false;
        bool aolwavyscroll = false;
        bool aolfs = false;
        std::string fsport;  // decimal text exactly as the user typed it
        bool operator==(const Aol&) const = default;
    } aol;

    // Host names of the address lookup ("host" or "host:port"), optional values of subkey "fs"
    // made by hand: read after "fsport", never written; empty means the built-in default.
    struct Fs {
        std::string echohost;  // the address-echo service's host, probed first
        std::string webhost;   // the product's web server with the address script
        bool operator==(const Fs&) const = default;
    } fs;

    struct Fader {
        static constexpr int kColorCount = 10;
        // Colour references 0x00BBGGRR. The registry and the dialog number them 1 to 10;
        // colour n lives in fadecolor[n - 1] (use color(n)).
        std::array<std::int32_t, kColorCount> fadecolor{};
        std::int32_t fadecolors = 0;  // how many colours the gradient uses

        std::int32_t& color(int n) { return fadecolor.at(static_cast<std::size_t>(n - 1)); }
        std::int32_t color(int n) const { return fadecolor.at(static_cast<std::size_t>(n - 1)); }
        bool operator==(const Fader&) const = default;
    } fader;

    bool operator==(const TPluginSettings&) const = default;
};

extern TPluginSettings PluginSettings;
