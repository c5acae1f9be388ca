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
    } general;

    // Stored in the registry subkeys "aol" (the four switches) and "fs" (the port).
    struct Aol {
        bool enableaol = false;
        bool aoladvertising = false;
        bool aolwavyscroll = false;
        bool aolfs = false;
        std::string fsport;  // decimal text exactly as the user typed it
    } aol;

    struct Fader {
        static constexpr int kColorCount = 10;
        // Colour references 0x00BBGGRR. The registry and the dialog number them 1 to 10;
        // colour n lives in fadecolor[n - 1] (use color(n)).
        std::array<std::int32_t, kColorCount> fadecolor{};
        std::int32_t fadecolors = 0;  // how many colours the gradient uses

        std::int32_t& color(int n) { return fadecolor.at(static_cast<std::size_t>(n - 1)); }
        std::int32_t color(int n) const { return fadecolor.at(static_cast<std::size_t>(n - 1)); }
    } fader;
};

extern TPluginSettings PluginSettings;

// Registry persistence under HKEY_CURRENT_USER "Software\BrenlosTools\BrenloPlug3".
// Reading never reports anything; a failed write throws EBrenloError with the text
// "Fehler beim Setzen der Daten für '<value name>'".
bool IsFirstStart();
void LoadSettings();
void SaveSettings();
