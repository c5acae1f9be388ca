// The registry persistence of the settings record.
#include "config/u_config.h"

#include <cstddef>

#include "common/errors.h"
#include "config/registry.h"

namespace {

IRegistry* gRegistry = nullptr;

// The text is ANSI (Windows-1252) like every text the plug-in shows.
constexpr const char* kWriteErrorPrefix = "Fehler beim Setzen der Daten f\xFCr '";

std::string SubkeyPath(const char* subkey) {
    return std::string(kProductKey) + "\\" + subkey;
}

// One subkey opened with RegCreateKeyExA for the length of a scope.
class TOpenSubkey {
  public:
    explicit TOpenSubkey(const char* subkey) {
        if (gRegistry != nullptr &&
            gRegistry->CreateKey(kRegCurrentUser, SubkeyPath(subkey), key_)) {
            open_ = true;
        }
    }
    ~TOpenSubkey() { Close(); }
    TOpenSubkey(const TOpenSubkey&) = delete;
    TOpenSubkey& operator=(const TOpenSubkey&) = delete;

    bool IsOpen() const { return open_; }
    TRegKey Key() const { return key_; }
    void Close() {
        if (open_) {
            open_ = false;
            gRegistry->CloseKey(key_);
        }
    }

  private:
    TRegKey key_ = 0;
    bool open_ = false;
};

// Reads the values of one group in order. The first value that cannot be read stops the reader;
// every later read is skipped, so the fields from there on keep what they held.
class TGroupReader {
  public:
    explicit TGroupReader(TRegKey key) : key_(key) {}

    bool Stopped() const { return stopped_; }

    void Bool(const char* name, bool& field) {
        std::uint32_t value = 0;
        if (ReadDword(name, value)) {
            field = value != 0;
        }
    }

    void Int(const char* name, std::int32_t& field) {
        std::uint32_t value = 0;
        if (ReadDword(name, value)) {
            field = static_cast<std::int32_t>(value);
        }
    }

    // A boolean that reads as false when it cannot be read, without stopping the group.
    void BoolOrFalse(const char* name, bool& field) {
        if (stopped_) {
            return;
        }
        std::uint32_t type = 0;
        std::string data;
        std::uint32_t value = 0;
        field = gRegistry->QueryValue(key_, name, type, data) && DecodeDword(type, data, value) &&
                value != 0;
    }

    // An absent string reads as empty; a present one of a type other than REG_SZ or
    // REG_EXPAND_SZ stops the group. The text ends at its first zero character; REG_EXPAND_SZ
    // is taken as stored, without expanding it.
    void String(const char* name, std::string& field) {
        if (stopped_) {
            return;
        }
        std::uint32_t type = 0;
        std::string data;
        if (!gRegistry->QueryValue(key_, name, type, data)) {
            field.clear();
            return;
        }
        if (type != kRegSz && type != kRegExpandSz) {
            stopped_ = true;
            return;
        }
        field.assign(data.c_str());
    }

  private:
    static bool DecodeDword(std::uint32_t type, const std::string& data, std::uint32_t& value) {
        if (type != kRegDword || data.size() != 4) {
            return false;
        }
        value = 0;
        for (std::size_t i = 4; i-- > 0;) {
            value = (value << 8) | static_cast<unsigned char>(data[i]);
        }
        return true;
    }

    bool ReadDword(const char* name, std::uint32_t& value) {
        if (stopped_) {
            return false;
        }
        std::uint32_t type = 0;
        std::string data;
        if (!gRegistry->QueryValue(key_, name, type, data) || !DecodeDword(type, data, value)) {
            stopped_ = true;
            return false;
        }
        return true;
    }

    TRegKey key_;
    bool stopped_ = false;
};

std::string EncodeDword(std::uint32_t value) {
    std::string data(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return data;
}

void Write(TRegKey key, const std::string& name, std::uint32_t type, const std::string& data) {
    if (!gRegistry->SetValue(key, name, type, data)) {
        throw EBrenloError(kWriteErrorPrefix + name + "'");
    }
}

void WriteBool(TRegKey key, const char* name, bool value) {
    Write(key, name, kRegDword, EncodeDword(value ? 1 : 0));
}

void WriteInt(TRegKey key, const std::string& name, std::int32_t value) {
    Write(key, name, kRegDword, EncodeDword(static_cast<std::uint32_t>(value)));
}

// REG_SZ with its terminating zero; a string ends at its first zero character, as it is read.
void WriteString(TRegKey key, const char* name, const std::string& value) {
    std::string data(value.c_str());
    data.push_back('\0');
    Write(key, name, kRegSz, data);
}

std::string ColorValueName(int n) {
    return "fadecolor" + std::to_string(n);
}

}  // namespace

void SetSettingsRegistry(IRegistry* registry) {
    gRegistry = registry;
}

IRegistry* SettingsRegistry() {
    return gRegistry;
}

bool IsFirstStart() {
    TRegKey key = 0;
    if (gRegistry == nullptr || !gRegistry->OpenKey(kRegCurrentUser, kProductKey, key)) {
        return true;
    }
    gRegistry->CloseKey(key);
    return false;
}

void LoadGeneralSettings() {
    TOpenSubkey subkey("general");
    if (!subkey.IsOpen()) {
        return;
    }
    auto& g = PluginSettings.general;
    TGroupReader read(subkey.Key());
    read.Bool("enablechat", g.enablechat);
    read.Bool("enablefade", g.enablefade);
    read.String("presongtitle", g.presongtitle);
    read.String("postsongtitle", g.postsongtitle);
    read.Bool("preposttitlefade", g.preposttitlefade);
    read.Bool("enablefontformat", g.enablefontformat);
    read.BoolOrFalse("extsonginfo", g.extsonginfo);
    read.String("fontface", g.fontface);
    read.Bool("bold", g.bold);
    read.Bool("italic", g.italic);
    read.Bool("underline", g.underline);
    read.Bool("strikeout", g.strikeout);
}

void LoadAolSettings() {
    auto& a = PluginSettings.aol;
    {
        TOpenSubkey subkey("aol");
        if (!subkey.IsOpen()) {
            return;
        }
        TGroupReader read(subkey.Key());
        read.Bool("enableaol", a.enableaol);
        read.Bool("aoladvertising", a.aoladvertising);
        read.Bool("aolwavyscroll", a.aolwavyscroll);
        read.Bool("aolfs", a.aolfs);
        if (read.Stopped()) {
            return;
        }
    }
    TOpenSubkey fs("fs");
    if (!fs.IsOpen()) {
        return;
    }
    TGroupReader read(fs.Key());
    read.String("fsport", a.fsport);
    read.String("echohost", PluginSettings.fs.echohost);
    read.String("webhost", PluginSettings.fs.webhost);
}

void LoadFaderSettings() {
    TOpenSubkey subkey("fader");
    if (!subkey.IsOpen()) {
        return;
    }
    auto& f = PluginSettings.fader;
    TGroupReader read(subkey.Key());
    // A hand-edited count outside 1..10 is kept as it stands; its users clamp it.
    read.Int("fadecolors", f.fadecolors);
    for (int n = 1; n <= TPluginSettings::Fader::kColorCount; ++n) {
        read.Int(ColorValueName(n).c_str(), f.color(n));
    }
}

void LoadSettings() {
    LoadGeneralSettings();
    LoadAolSettings();
    LoadFaderSettings();
}

void SaveGeneralSettings() {
    TOpenSubkey subkey("general");
    if (!subkey.IsOpen()) {
        return;
    }
    const auto& g = PluginSettings.general;
    const TRegKey key = subkey.Key();
    WriteBool(key, "enablechat", g.enablechat);
    WriteBool(key, "enablefade", g.enablefade);
    WriteString(key, "presongtitle", g.presongtitle);
    WriteString(key, "postsongtitle", g.postsongtitle);
    WriteBool(key, "preposttitlefade", g.preposttitlefade);
    WriteBool(key, "enablefontformat", g.enablefontformat);
    WriteBool(key, "extsonginfo", g.extsonginfo);
    WriteString(key, "fontface", g.fontface);
    WriteBool(key, "bold", g.bold);
    WriteBool(key, "italic", g.italic);
    WriteBool(key, "underline", g.underline);
    WriteBool(key, "strikeout", g.strikeout);
}

void SaveAolSettings() {
    const auto& a = PluginSettings.aol;
    {
        TOpenSubkey subkey("aol");
        if (!subkey.IsOpen()) {
            return;
        }
        const TRegKey key = subkey.Key();
        WriteBool(key, "enableaol", a.enableaol);
        WriteBool(key, "aoladvertising", a.aoladvertising);
        WriteBool(key, "aolwavyscroll", a.aolwavyscroll);
        WriteBool(key, "aolfs", a.aolfs);
    }
    TOpenSubkey fs("fs");
    if (!fs.IsOpen()) {
        return;
    }
    WriteString(fs.Key(), "fsport", a.fsport);
}

void SaveFaderSettings() {
    TOpenSubkey subkey("fader");
    if (!subkey.IsOpen()) {
        return;
    }
    const auto& f = PluginSettings.fader;
    const TRegKey key = subkey.Key();
    WriteInt(key, "fadecolors", f.fadecolors);
    for (int n = 1; n <= TPluginSettings::Fader::kColorCount; ++n) {
        WriteInt(key, ColorValueName(n), f.color(n));
    }
}

void SaveSettings() {
    SaveGeneralSettings();
    SaveAolSettings();
    SaveFaderSettings();
}
