// The settings store on the real registry of the test prefix, under the product's own key, which
// each test removes before and after it runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "config/registry.h"
#include "config/u_config.h"

namespace {

const std::string kGeneral = std::string(kProductKey) + "\\general";
const std::string kAol = std::string(kProductKey) + "\\aol";
const std::string kFs = std::string(kProductKey) + "\\fs";
const std::string kFader = std::string(kProductKey) + "\\fader";

void DeleteProductKey() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void PutRaw(const std::string& path, const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void PutDword(const std::string& path, const char* name, DWORD value) {
    PutRaw(path, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

void PutString(const std::string& path, const char* name, const std::string& text,
               DWORD type = REG_SZ) {
    PutRaw(path, name, type, text + std::string(1, '\0'));
}

void DeleteRaw(const std::string& path, const char* name) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

struct RawValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::string data;
};

RawValue GetRaw(const std::string& path, const char* name) {
    RawValue v;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return v;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.data.resize(size);
        v.found = RegQueryValueExA(key, name, nullptr, &v.type,
                                   reinterpret_cast<BYTE*>(v.data.data()), &size) == ERROR_SUCCESS;
        v.data.resize(size);
    }
    RegCloseKey(key);
    return v;
}

DWORD ValueCount(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

TPluginSettings FirstStartValues() {
    TPluginSettings s;
    s.general = {true,  false,           ".:BP::[ ", " ]:: v3 :.", true,  false,
                 false, "Comic Sans MS", false,      false,        false, false};
    s.aol = {true, true, false, false, "1000"};
    s.fader.fadecolors = 1;
    return s;
}

class SettingsOnTheRealRegistry : public testing::Test {
  protected:
    void SetUp() override {
        DeleteProductKey();
        PluginSettings = TPluginSettings{};
        SetSettingsRegistry(&WindowsRegistry());
    }
    void TearDown() override {
        SetSettingsRegistry(nullptr);
        PluginSettings = TPluginSettings{};
        DeleteProductKey();
        EXPECT_FALSE(KeyExists(kProductKey));
    }
};

TEST_F(SettingsOnTheRealRegistry, FirstSaveCreatesTheProductKeyWithEveryValue) {
    EXPECT_TRUE(IsFirstStart());
    EXPECT_FALSE(KeyExists(kProductKey)) << "asking does not create the key";

    PluginSettings = FirstStartValues();
    SaveSettings();

    EXPECT_FALSE(IsFirstStart());
    EXPECT_EQ(ValueCount(kGeneral), 12u);
    EXPECT_EQ(ValueCount(kAol), 4u);
    EXPECT_EQ(ValueCount(kFs), 1u);
    EXPECT_EQ(ValueCount(kFader), 11u);

    struct Expected {
        const std::string& key;
        const char* name;
        DWORD type;
        std::string data;
    };
    const Expected expected[] = {
        {kGeneral, "enablechat", REG_DWORD, Dword(1)},
        {kGeneral, "enablefade", REG_DWORD, Dword(0)},
        {kGeneral, "presongtitle", REG_SZ, std::string(".:BP::[ \0", 9)},
        {kGeneral, "postsongtitle", REG_SZ, std::string(" ]:: v3 :.\0", 11)},
        {kGeneral, "preposttitlefade", REG_DWORD, Dword(1)},
        {kGeneral, "enablefontformat", REG_DWORD, Dword(0)},
        {kGeneral, "extsonginfo", REG_DWORD, Dword(0)},
        {kGeneral, "fontface", REG_SZ, std::string("Comic Sans MS\0", 14)},
        {kGeneral, "bold", REG_DWORD, Dword(0)},
        {kGeneral, "italic", REG_DWORD, Dword(0)},
        {kGeneral, "underline", REG_DWORD, Dword(0)},
        {kGeneral, "strikeout", REG_DWORD, Dword(0)},
        {kAol, "enableaol", REG_DWORD, Dword(1)},
        {kAol, "aoladvertising", REG_DWORD, Dword(1)},
        {kAol, "aolwavyscroll", REG_DWORD, Dword(0)},
        {kAol, "aolfs", REG_DWORD, Dword(0)},
        {kFs, "fsport", REG_SZ, std::string("1000\0", 5)},
        {kFader, "fadecolors", REG_DWORD, Dword(1)},
        {kFader, "fadecolor1", REG_DWORD, Dword(0)},
        {kFader, "fadecolor10", REG_DWORD, Dword(0)},
    };
    for (const auto& e : expected) {
        RawValue v = GetRaw(e.key, e.name);
        EXPECT_TRUE(v.found) << e.name;
        EXPECT_EQ(v.type, e.type) << e.name;
        EXPECT_EQ(v.data, e.data) << e.name;
    }
    EXPECT_FALSE(GetRaw(kFader, "fadecolor11").found);
    EXPECT_FALSE(GetRaw(kFader, "fadecolor0").found);
}

TEST_F(SettingsOnTheRealRegistry, WhatIsSavedLoadsBackIncludingHugeTexts) {
    TPluginSettings saved = FirstStartValues();
    saved.general.presongtitle = std::string(200000, 'p');
    saved.general.bold = true;
    saved.aol.fsport = "kein Port";
    saved.fader.fadecolors = 4;
    saved.fader.color(3) = 0x00FF8040;
    saved.fader.color(10) = -1;
    PluginSettings = saved;
    SaveSettings();

    PluginSettings = TPluginSettings{};
    LoadSettings();

    EXPECT_EQ(PluginSettings, saved);
}

TEST_F(SettingsOnTheRealRegistry, ReadingRulesHoldForValuesEditedByHand) {
    PluginSettings = FirstStartValues();
    SaveSettings();
    PutString(kGeneral, "fontface", "%SystemRoot%\\Fonts", REG_EXPAND_SZ);
    PutRaw(kGeneral, "postsongtitle", REG_SZ, std::string("vorne\0hinten\0", 13));
    DeleteRaw(kGeneral, "extsonginfo");
    DeleteRaw(kGeneral, "italic");
    PutDword(kGeneral, "bold", 2);
    PutDword(kFader, "fadecolors", 15);
    PutString(kFader, "fadecolor2", "rot");
    PutDword(kFader, "fadecolor1", 0x123456);

    TPluginSettings before;
    before.general.extsonginfo = true;
    before.general.italic = true;
    before.general.strikeout = true;
    before.fader.color(2) = 77;
    PluginSettings = before;
    LoadSettings();

    const auto& g = PluginSettings.general;
    EXPECT_EQ(g.fontface, "%SystemRoot%\\Fonts") << "REG_EXPAND_SZ is taken unexpanded";
    EXPECT_EQ(g.postsongtitle, "vorne");
    EXPECT_FALSE(g.extsonginfo) << "absent extsonginfo reads false";
    EXPECT_TRUE(g.bold) << "2 is true, read after the missing extsonginfo";
    EXPECT_TRUE(g.italic) << "missing italic ends the group: the old value stays";
    EXPECT_FALSE(g.underline);
    EXPECT_TRUE(g.strikeout);
    EXPECT_EQ(PluginSettings.fader.fadecolors, 15);
    EXPECT_EQ(PluginSettings.fader.color(1), 0x123456);
    EXPECT_EQ(PluginSettings.fader.color(2), 77) << "a colour stored as text ends the group";
    EXPECT_EQ(PluginSettings.aol, FirstStartValues().aol);

    SaveSettings();
    EXPECT_EQ(GetRaw(kGeneral, "bold").data, Dword(1));
    EXPECT_EQ(GetRaw(kGeneral, "fontface").type, static_cast<DWORD>(REG_SZ));
}

TEST_F(SettingsOnTheRealRegistry, LoadCreatesAMissingFaderSubkeyAndLeavesTheGroupAlone) {
    PluginSettings = FirstStartValues();
    SaveSettings();
    RegDeleteTreeA(HKEY_CURRENT_USER, kFader.c_str());
    ASSERT_FALSE(KeyExists(kFader));

    PluginSettings = TPluginSettings{};
    LoadSettings();

    EXPECT_TRUE(KeyExists(kFader));
    EXPECT_EQ(ValueCount(kFader), 0u);
    EXPECT_EQ(PluginSettings.fader.fadecolors, 0);
    EXPECT_EQ(PluginSettings.general, FirstStartValues().general);
}

}  // namespace
