// Fuzzes the settings store's reading with arbitrary registry contents: each input record names
// a value of one of the four subkeys and gives its type and bytes. Whatever was read must save
// and read back unchanged, with every key closed again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "config/registry.h"
#include "config/u_config.h"

namespace {

const char* const kNames[] = {"enablechat",    "enablefade",       "presongtitle",
                              "postsongtitle", "preposttitlefade", "enablefontformat",
                              "extsonginfo",   "fontface",         "bold",
                              "italic",        "underline",        "strikeout",
                              "enableaol",     "aoladvertising",   "aolwavyscroll",
                              "aolfs",         "fsport",           "fadecolors",
                              "fadecolor1",    "fadecolor5",       "fadecolor10"};
const char* const kSubkeys[] = {"general", "aol", "fs", "fader"};
constexpr int kSubkeyCount = 4;

// A registry of just the four subkeys, cheap enough for many runs. Handle n + 2 is subkey n.
class SmallRegistry final : public IRegistry {
  public:
    struct Value {
        std::string name;
        std::uint32_t type;
        std::string data;
    };
    std::vector<Value> values[kSubkeyCount];
    int open = 0;

    bool OpenKey(TRegKey, const std::string&, TRegKey&) override { return false; }
    bool CreateKey(TRegKey, const std::string& path, TRegKey& key) override {
        for (int n = 0; n < kSubkeyCount; ++n) {
            if (path == std::string(kProductKey) + "\\" + kSubkeys[n]) {
                key = static_cast<TRegKey>(n + 2);
                ++open;
                return true;
            }
        }
        return false;
    }
    bool QueryValue(TRegKey key, const std::string& name, std::uint32_t& type,
                    std::string& data) override {
        for (const auto& v : values[key - 2]) {
            if (v.name == name) {
                type = v.type;
                data = v.data;
                return true;
            }
        }
        return false;
    }
    bool SetValue(TRegKey key, const std::string& name, std::uint32_t type,
                  const std::string& data) override {
        Put(static_cast<int>(key - 2), name, type, data);
        return true;
    }
    void CloseKey(TRegKey) override { --open; }

    void Put(int subkey, const std::string& name, std::uint32_t type, const std::string& data) {
        for (auto& v : values[subkey]) {
            if (v.name == name) {
                v.type = type;
                v.data = data;
                return;
            }
        }
        values[subkey].push_back({name, type, data});
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SmallRegistry registry;
    std::size_t pos = 0;
    // Records: subkey, name, type, length, bytes.
    while (pos + 4 <= size) {
        const int subkey = data[pos] % kSubkeyCount;
        const char* name = kNames[data[pos + 1] % std::size(kNames)];
        const std::uint32_t type = data[pos + 2] % 12;
        const std::size_t length = data[pos + 3];
        pos += 4;
        const std::size_t take = length < size - pos ? length : size - pos;
        registry.Put(subkey, name, type,
                     std::string(reinterpret_cast<const char*>(data + pos), take));
        pos += take;
    }
    SetSettingsRegistry(&registry);
    PluginSettings = TPluginSettings{};
    LoadSettings();
    const auto& g = PluginSettings.general;
    const auto& a = PluginSettings.aol;
    for (const std::string* text : {&g.presongtitle, &g.postsongtitle, &g.fontface, &a.fsport}) {
        if (text->find('\0') != std::string::npos) {
            std::abort();
        }
    }
    SaveSettings();
    const TPluginSettings saved = PluginSettings;
    PluginSettings = TPluginSettings{};
    LoadSettings();
    if (!(PluginSettings == saved) || registry.open != 0) {
        std::abort();
    }
    SetSettingsRegistry(nullptr);
    return 0;
}
