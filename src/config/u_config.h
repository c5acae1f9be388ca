// The running settings record and its registry persistence.
//
// PluginSettings is the one settings record of the plug-in. Every part reads its fields at the
// moment it needs them; only this unit and the configuration dialog write it.
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

// Registry persistence under HKEY_CURRENT_USER "Software\BrenlosTools\BrenloPlug3", one subkey
// per group ("general", "aol" with "fs" for the port, "fader"), through the registry installed
// with SetSettingsRegistry (config/registry.h). "echohost" and "webhost" in "fs" are optional
// overrides made by hand: they are read after "fsport" and never written.
//
// Reading never reports anything: a value that is absent or of the wrong type ends its group
// silently, the fields from it on keep what they held. A failed write throws EBrenloError with
// the text "Fehler beim Setzen der Daten für '<value name>'" and ends the whole save there.
inline constexpr const char* kProductKey = "Software\\BrenlosTools\\BrenloPlug3";

// True when the product key does not exist yet (it is not created by asking).
bool IsFirstStart();
void LoadSettings();  // the three group loads in order
void SaveSettings();  // the three group saves in order

void LoadGeneralSettings();
void LoadAolSettings();
void LoadFaderSettings();
void SaveGeneralSettings();
void SaveAolSettings();
void SaveFaderSettings();
