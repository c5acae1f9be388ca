// The settings store against an in-memory registry: the reading rules, the order and types of
// what is written, and how a failed write ends the save.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "config/u_config.h"
#include "fake_registry.h"

// Readable failure output for whole records.
void PrintTo(const TPluginSettings& s, std::ostream* os) {
    const auto& g = s.general;
    const auto& a = s.aol;
    *os << "{general: " << g.enablechat << g.enablefade << " '" << g.presongtitle << "' '"
        << g.postsongtitle << "' " << g.preposttitlefade << g.enablefontformat << g.extsonginfo
        << " '" << g.fontface << "' " << g.bold << g.italic << g.underline << g.strikeout
        << "; aol: " << a.enableaol << a.aoladvertising << a.aolwavyscroll << a.aolfs << " '"
        << a.fsport << "'; fader: " << s.fader.fadecolors << " [";
    for (auto c : s.fader.fadecolor) {
        *os << c << ' ';
    }
    *os << "]}";
}

namespace {

const std::string kGeneral = std::string(kProductKey) + "\\general";
const std::string kAol = std::string(kProductKey) + "\\aol";
const std::string kFs = std::string(kProductKey) + "\\fs";
const std::string kFader = std::string(kProductKey) + "\\fader";

const std::vector<std::string> kGeneralNames = {
    "enablechat",       "enablefade",  "presongtitle", "postsongtitle", "preposttitlefade",
    "enablefontformat", "extsonginfo", "fontface",     "bold",          "italic",
    "underline",        "strikeout"};
const std::vector<std::string> kAolNames = {"enableaol", "aoladvertising", "aolwavyscroll",
                                            "aolfs"};
const std::vector<std::string> kFaderNames = {
    "fadecolors", "fadecolor1", "fadecolor2", "fadecolor3", "fadecolor4", "fadecolor5",
    "fadecolor6", "fadecolor7", "fadecolor8", "fadecolor9", "fadecolor10"};

// The values the first start writes (the dialog's defaults; the colours stay zero).
TPluginSettings FirstStartValues() {
    TPluginSettings s;
    s.general = {true,  false,           ".:BP::[ ", " ]:: v3 :.", true,  false,
                 false, "Comic Sans MS", false,      false,        false, false};
    s.aol = {true, true, false, false, "1000"};
    s.fader.fadecolors = 1;
    return s;
}

// What the registry holds in the reading tests: every field differs from Previous().
TPluginSettings Stored() {
    TPluginSettings s;
    s.general = {true, true, "pre", "post", true, true, true, "Arial", true, true, true, true};
    s.aol = {true, true, true, true, "2000"};
    s.fader.fadecolors = 7;
    for (int n = 1; n <= 10; ++n) {
        s.fader.color(n) = 0x000010 * n + 0x0F0000;
    }
    return s;
}

// What the record held before the load.
TPluginSettings Previous() {
    TPluginSettings s;
    s.general = {false, false,      "old pre", "old post", false, false,
                 false, "Old Font", false,     false,      false, false};
    s.aol = {false, false, false, false, "1111"};
    s.fader.fadecolors = 3;
    for (int n = 1; n <= 10; ++n) {
        s.fader.color(n) = 0x0A0000 + n;
    }
    return s;
}

void PutSettings(FakeRegistry& reg, const TPluginSettings& s) {
    const auto& g = s.general;
    reg.PutDword(kGeneral, "enablechat", g.enablechat);
    reg.PutDword(kGeneral, "enablefade", g.enablefade);
    reg.PutString(kGeneral, "presongtitle", g.presongtitle);
    reg.PutString(kGeneral, "postsongtitle", g.postsongtitle);
    reg.PutDword(kGeneral, "preposttitlefade", g.preposttitlefade);
    reg.PutDword(kGeneral, "enablefontformat", g.enablefontformat);
    reg.PutDword(kGeneral, "extsonginfo", g.extsonginfo);
    reg.PutString(kGeneral, "fontface", g.fontface);
    reg.PutDword(kGeneral, "bold", g.bold);
    reg.PutDword(kGeneral, "italic", g.italic);
    reg.PutDword(kGeneral, "underline", g.underline);
    reg.PutDword(kGeneral, "strikeout", g.strikeout);
    reg.PutDword(kAol, "enableaol", s.aol.enableaol);
    reg.PutDword(kAol, "aoladvertising", s.aol.aoladvertising);
    reg.PutDword(kAol, "aolwavyscroll", s.aol.aolwavyscroll);
    reg.PutDword(kAol, "aolfs", s.aol.aolfs);
    reg.PutString(kFs, "fsport", s.aol.fsport);
    reg.PutDword(kFader, "fadecolors", static_cast<std::uint32_t>(s.fader.fadecolors));
    for (int n = 1; n <= 10; ++n) {
        reg.PutDword(kFader, "fadecolor" + std::to_string(n),
                     static_cast<std::uint32_t>(s.fader.color(n)));
    }
}

class SettingsStore : public testing::Test {
  protected:
    void SetUp() override {
        PluginSettings = TPluginSettings{};
        SetSettingsRegistry(&reg);
    }
    void TearDown() override {
        EXPECT_EQ(reg.OpenHandles(), 0u) << "every opened key is closed again";
        SetSettingsRegistry(nullptr);
        PluginSettings = TPluginSettings{};
    }
    FakeRegistry reg;
};

struct ReadCase {
    const char* name;
    std::function<void(FakeRegistry&)> arrange;
    // Turns Stored() into what the record must hold after the load.
    std::function<void(TPluginSettings&)> expect;
};

TEST_F(SettingsStore, LoadFollowsTheReadingRulesOfEveryGroup) {
    const TPluginSettings old = Previous();
    const ReadCase cases[] = {
        {"everything readable", [](FakeRegistry&) {}, [](TPluginSettings&) {}},
        {"nothing stored at all keeps every group",
         [](FakeRegistry& r) { r.RemoveKey(kProductKey); }, [&](TPluginSettings& e) { e = old; }},
        {"enablechat stored as text keeps the whole general group",
         [](FakeRegistry& r) { r.PutString(kGeneral, "enablechat", "1"); },
         [&](TPluginSettings& e) { e.general = old.general; }},
        {"presongtitle absent reads empty and loading goes on",
         [](FakeRegistry& r) { r.Remove(kGeneral, "presongtitle"); },
         [](TPluginSettings& e) { e.general.presongtitle = ""; }},
        {"presongtitle stored as a number ends the group there",
         [](FakeRegistry& r) { r.PutDword(kGeneral, "presongtitle", 5); },
         [&](TPluginSettings& e) {
             auto loaded = e.general;
             e.general = old.general;
             e.general.enablechat = loaded.enablechat;
             e.general.enablefade = loaded.enablefade;
         }},
        {"presongtitle as REG_EXPAND_SZ is taken unexpanded",
         [](FakeRegistry& r) {
             r.PutString(kGeneral, "presongtitle", "%WINDIR%\\x", kRegExpandSz);
         },
         [](TPluginSettings& e) { e.general.presongtitle = "%WINDIR%\\x"; }},
        {"a string ends at its first zero character",
         [](FakeRegistry& r) {
             r.Put(kGeneral, "postsongtitle", kRegSz, std::string("ab\0cd\0", 6));
         },
         [](TPluginSettings& e) { e.general.postsongtitle = "ab"; }},
        {"a string stored without a terminating zero is read whole",
         [](FakeRegistry& r) { r.Put(kGeneral, "fontface", kRegSz, "Tahoma"); },
         [](TPluginSettings& e) { e.general.fontface = "Tahoma"; }},
        {"a string of a megabyte is read whole",
         [](FakeRegistry& r) { r.PutString(kGeneral, "presongtitle", std::string(1 << 20, 'x')); },
         [](TPluginSettings& e) { e.general.presongtitle = std::string(1 << 20, 'x'); }},
        {"extsonginfo absent reads false and fontface on is still loaded",
         [](FakeRegistry& r) { r.Remove(kGeneral, "extsonginfo"); },
         [](TPluginSettings& e) { e.general.extsonginfo = false; }},
        {"extsonginfo stored as text reads false and loading goes on",
         [](FakeRegistry& r) { r.PutString(kGeneral, "extsonginfo", "1"); },
         [](TPluginSettings& e) { e.general.extsonginfo = false; }},
        {"bold absent keeps bold, italic, underline and strikeout",
         [](FakeRegistry& r) { r.Remove(kGeneral, "bold"); },
         [&](TPluginSettings& e) {
             e.general.bold = old.general.bold;
             e.general.italic = old.general.italic;
             e.general.underline = old.general.underline;
             e.general.strikeout = old.general.strikeout;
         }},
        {"any nonzero number is true",
         [](FakeRegistry& r) {
             r.PutDword(kGeneral, "bold", 2);
             r.PutDword(kAol, "aolfs", 0xFFFFFFFF);
         },
         [](TPluginSettings&) {}},
        {"a REG_DWORD of the wrong size ends the group",
         [](FakeRegistry& r) { r.Put(kGeneral, "enablefade", kRegDword, std::string("\1\0", 2)); },
         [&](TPluginSettings& e) {
             e.general = old.general;
             e.general.enablechat = true;
         }},
        {"a boolean stored as REG_BINARY ends the group",
         [](FakeRegistry& r) { r.Put(kGeneral, "strikeout", kRegBinary, FakeRegistry::Dword(1)); },
         [&](TPluginSettings& e) { e.general.strikeout = old.general.strikeout; }},
        {"general subkey that cannot be opened keeps the group",
         [](FakeRegistry& r) { r.FailCreateKey(kGeneral); },
         [&](TPluginSettings& e) { e.general = old.general; }},
        {"aolwavyscroll absent keeps it, aolfs and the port",
         [](FakeRegistry& r) { r.Remove(kAol, "aolwavyscroll"); },
         [&](TPluginSettings& e) {
             e.aol.aolwavyscroll = old.aol.aolwavyscroll;
             e.aol.aolfs = old.aol.aolfs;
             e.aol.fsport = old.aol.fsport;
         }},
        {"fs subkey absent is created and the port reads empty",
         [](FakeRegistry& r) { r.RemoveKey(kFs); }, [](TPluginSettings& e) { e.aol.fsport = ""; }},
        {"fs subkey that cannot be opened keeps the port",
         [](FakeRegistry& r) { r.FailCreateKey(kFs); },
         [&](TPluginSettings& e) { e.aol.fsport = old.aol.fsport; }},
        {"a port that is not a number is loaded as stored",
         [](FakeRegistry& r) { r.PutString(kFs, "fsport", "port 8o"); },
         [](TPluginSettings& e) { e.aol.fsport = "port 8o"; }},
        {"a port stored as a number keeps the port",
         [](FakeRegistry& r) { r.PutDword(kFs, "fsport", 1000); },
         [&](TPluginSettings& e) { e.aol.fsport = old.aol.fsport; }},
        {"fader subkey absent keeps the fader group", [](FakeRegistry& r) { r.RemoveKey(kFader); },
         [&](TPluginSettings& e) { e.fader = old.fader; }},
        {"fadecolors above 10 is kept as stored",
         [](FakeRegistry& r) { r.PutDword(kFader, "fadecolors", 15); },
         [](TPluginSettings& e) { e.fader.fadecolors = 15; }},
        {"a negative fadecolors is kept as stored",
         [](FakeRegistry& r) { r.PutDword(kFader, "fadecolors", 0xFFFFFFFE); },
         [](TPluginSettings& e) { e.fader.fadecolors = -2; }},
        {"fadecolor5 absent keeps colours 5 to 10",
         [](FakeRegistry& r) { r.Remove(kFader, "fadecolor5"); },
         [&](TPluginSettings& e) {
             for (int n = 5; n <= 10; ++n) {
                 e.fader.color(n) = old.fader.color(n);
             }
         }},
        {"a colour with the high byte set loads as a negative number",
         [](FakeRegistry& r) { r.PutDword(kFader, "fadecolor2", 0x80FF00FF); },
         [](TPluginSettings& e) { e.fader.color(2) = static_cast<std::int32_t>(0x80FF00FF); }},
    };
    for (const auto& c : cases) {
        FakeRegistry fresh;
        SetSettingsRegistry(&fresh);
        PutSettings(fresh, Stored());
        c.arrange(fresh);
        PluginSettings = old;
        TPluginSettings expected = Stored();
        c.expect(expected);

        LoadSettings();

        EXPECT_EQ(PluginSettings, expected) << c.name;
        EXPECT_EQ(fresh.OpenHandles(), 0u) << c.name;
    }
    SetSettingsRegistry(&reg);
}

TEST_F(SettingsStore, LoadCreatesMissingSubkeysEmpty) {
    reg.AddKey(kProductKey);
    LoadSettings();
    for (const auto& key : {kGeneral, kAol, kFader}) {
        EXPECT_TRUE(reg.HasKey(key)) << key;
        EXPECT_TRUE(reg.Values(key).empty()) << key;
    }
    EXPECT_FALSE(reg.HasKey(kFs)) << "the absent switches of \"aol\" end the group before \"fs\"";
    EXPECT_EQ(PluginSettings, TPluginSettings{}) << "a first load of an empty key stays zero";
}

TEST_F(SettingsStore, SaveWritesEveryValueOfTheFourSubkeysInOrderWithItsType) {
    PluginSettings = FirstStartValues();
    EXPECT_TRUE(IsFirstStart());

    SaveSettings();

    EXPECT_FALSE(IsFirstStart());
    EXPECT_EQ(reg.ValueNames(kGeneral), kGeneralNames);
    EXPECT_EQ(reg.ValueNames(kAol), kAolNames);
    EXPECT_EQ(reg.ValueNames(kFs), std::vector<std::string>{"fsport"});
    EXPECT_EQ(reg.ValueNames(kFader), kFaderNames) << "exactly ten colours";

    for (const auto& key : {kGeneral, kAol, kFs, kFader}) {
        for (const auto& v : reg.Values(key)) {
            bool isString = v.name == "presongtitle" || v.name == "postsongtitle" ||
                            v.name == "fontface" || v.name == "fsport";
            EXPECT_EQ(v.type, isString ? kRegSz : kRegDword) << v.name;
        }
    }
    auto data = [&](const std::string& key, const char* name) { return reg.Find(key, name)->data; };
    EXPECT_EQ(data(kGeneral, "enablechat"), FakeRegistry::Dword(1));
    EXPECT_EQ(data(kGeneral, "enablefade"), FakeRegistry::Dword(0));
    EXPECT_EQ(data(kGeneral, "presongtitle"), std::string(".:BP::[ \0", 9));
    EXPECT_EQ(data(kGeneral, "postsongtitle"), std::string(" ]:: v3 :.\0", 11));
    EXPECT_EQ(data(kGeneral, "fontface"), std::string("Comic Sans MS\0", 14));
    EXPECT_EQ(data(kAol, "aoladvertising"), FakeRegistry::Dword(1));
    EXPECT_EQ(data(kFs, "fsport"), std::string("1000\0", 5));
    EXPECT_EQ(data(kFader, "fadecolors"), FakeRegistry::Dword(1));
    EXPECT_EQ(data(kFader, "fadecolor10"), FakeRegistry::Dword(0));
}

TEST_F(SettingsStore, WhatIsSavedLoadsBackUnchanged) {
    TPluginSettings saved = Stored();
    saved.fader.fadecolors = 0;
    saved.fader.color(4) = -1;
    saved.aol.fsport = "not a port";
    saved.general.postsongtitle = "";
    PluginSettings = saved;
    SaveSettings();

    PluginSettings = Previous();
    LoadSettings();

    EXPECT_EQ(PluginSettings, saved);
}

TEST_F(SettingsStore, ABooleanStoredAsTwoIsSavedBackAsOne) {
    PutSettings(reg, Stored());
    reg.PutDword(kGeneral, "bold", 2);
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(reg.Find(kGeneral, "bold")->data, FakeRegistry::Dword(1));
}

TEST_F(SettingsStore, AFailedWriteEndsTheWholeSaveWithTheValueNameInTheError) {
    std::vector<std::string> order = kGeneralNames;
    order.insert(order.end(), kAolNames.begin(), kAolNames.end());
    order.push_back("fsport");
    order.insert(order.end(), kFaderNames.begin(), kFaderNames.end());

    for (const char* failing : {"enablechat", "fontface", "strikeout", "aolfs", "fsport",
                                "fadecolors", "fadecolor3", "fadecolor10"}) {
        FakeRegistry fresh;
        SetSettingsRegistry(&fresh);
        fresh.FailSetValue(failing);
        PluginSettings = Stored();

        std::string message;
        try {
            SaveSettings();
        } catch (const EBrenloError& e) {
            message = e.what();
        }

        EXPECT_EQ(message, std::string("Fehler beim Setzen der Daten f\xFCr '") + failing + "'");
        std::vector<std::string> before(order.begin(),
                                        std::find(order.begin(), order.end(), failing));
        EXPECT_EQ(fresh.WrittenNames(), before) << failing;
        EXPECT_EQ(fresh.OpenHandles(), 0u) << failing;
    }
    SetSettingsRegistry(&reg);
}

TEST_F(SettingsStore, ASubkeyThatCannotBeOpenedIsSkippedBySaving) {
    struct Case {
        std::string failingKey;
        std::vector<std::string> skipped;
    };
    const Case cases[] = {
        {kGeneral, kGeneralNames},
        {kAol, {"enableaol", "aoladvertising", "aolwavyscroll", "aolfs", "fsport"}},
        {kFs, {"fsport"}},
        {kFader, kFaderNames},
    };
    for (const auto& c : cases) {
        FakeRegistry fresh;
        SetSettingsRegistry(&fresh);
        fresh.FailCreateKey(c.failingKey);
        PluginSettings = Stored();

        SaveSettings();

        std::vector<std::string> expected = kGeneralNames;
        expected.insert(expected.end(), kAolNames.begin(), kAolNames.end());
        expected.push_back("fsport");
        expected.insert(expected.end(), kFaderNames.begin(), kFaderNames.end());
        std::erase_if(expected, [&](const std::string& n) {
            return std::find(c.skipped.begin(), c.skipped.end(), n) != c.skipped.end();
        });
        EXPECT_EQ(fresh.WrittenNames(), expected) << c.failingKey;
    }
    SetSettingsRegistry(&reg);
}

TEST_F(SettingsStore, IsFirstStartOnlyLooksAndDoesNotCreateTheKey) {
    EXPECT_TRUE(IsFirstStart());
    EXPECT_FALSE(reg.HasKey(kProductKey));
    reg.AddKey(kProductKey);
    EXPECT_FALSE(IsFirstStart()) << "an empty product key is enough";
}

TEST_F(SettingsStore, WithoutARegistryNothingIsReadOrWritten) {
    SetSettingsRegistry(nullptr);
    PluginSettings = Previous();
    EXPECT_TRUE(IsFirstStart());
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(PluginSettings, Previous());
    SetSettingsRegistry(&reg);
}

}  // namespace

namespace {

TEST_F(SettingsStore, HostOverridesAreReadFromFsAndNeverWritten) {
    PutSettings(reg, Stored());
    LoadSettings();
    EXPECT_EQ(PluginSettings.fs, TPluginSettings::Fs{}) << "absent overrides read as empty";

    reg.PutString(kFs, "echohost", "probe.example:8080");
    reg.PutString(kFs, "webhost", "web.example", kRegExpandSz);
    LoadSettings();
    EXPECT_EQ(PluginSettings.fs.echohost, "probe.example:8080");
    EXPECT_EQ(PluginSettings.fs.webhost, "web.example");

    // Saving keeps the hand-made values as they are and adds nothing.
    PluginSettings.fs.webhost = "changed.example";
    SaveSettings();
    EXPECT_EQ(reg.ValueNames(kFs), (std::vector<std::string>{"fsport", "echohost", "webhost"}));
    EXPECT_EQ(reg.Find(kFs, "webhost")->data, std::string("web.example\0", 12));

    reg.RemoveKey(kFs);
    reg.AddKey(kFs);
    reg.PutString(kFs, "fsport", "1000");
    LoadSettings();
    EXPECT_EQ(PluginSettings.fs, TPluginSettings::Fs{}) << "a removed override is gone again";
}

}  // namespace
