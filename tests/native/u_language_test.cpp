// The language texts: which key feeds which text and in what order, the rules of the portable
// profile reader, and the two language files shipped with the plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "config/profile_reader.h"
#include "config/u_language.h"
#include "profile_cases.h"

namespace fs = std::filesystem;

namespace {

struct LanguageField {
    const char* section;
    const char* key;
    std::string& (*text)(TLanguageTexts&);
};

#define BP_FIELD(section, group, key)                                                \
    {                                                                                \
        section, #key, [](TLanguageTexts& t) -> std::string& { return t.group.key; } \
    }

// Every key in the order the file is read.
const LanguageField kFields[] = {
    BP_FIELD("language_general", general, configcaption),
    BP_FIELD("language_general", general, chk_enablechat),
    BP_FIELD("language_general", general, chk_enablefade),
    BP_FIELD("language_general", general, chk_preposttitlefade),
    BP_FIELD("language_general", general, chk_enablefontformat),
    BP_FIELD("language_general", general, chk_extsonginfo),
    BP_FIELD("language_general", general, lbl_songtitle),
    BP_FIELD("language_general", general, lbl_fontface),
    BP_FIELD("language_general", general, btn_choosefont),
    BP_FIELD("language_general", general, grp_titleformat),
    BP_FIELD("language_general", general, lbl_updatesnote),
    BP_FIELD("language_general", general, chk_bold),
    BP_FIELD("language_general", general, chk_italic),
    BP_FIELD("language_general", general, chk_underline),
    BP_FIELD("language_general", general, chk_strikeout),
    BP_FIELD("language_aol", aol, configcaption),
    BP_FIELD("language_aol", aol, chk_enableaol),
    BP_FIELD("language_aol", aol, chk_aoladvertising),
    BP_FIELD("language_aol", aol, chk_aolwavyscroll),
    BP_FIELD("language_aol", aol, chk_aolfs),
    BP_FIELD("language_aol", aol, edt_fsport),
    BP_FIELD("language_fader", fader, configcaption),
    BP_FIELD("language_fader", fader, lbl_colorbar),
    BP_FIELD("language_filesharing", filesharing, configcaption),
    BP_FIELD("language_filesharing", filesharing, okbuttoncaption),
    BP_FIELD("language_filesharing", filesharing, cancelbuttoncaption),
    BP_FIELD("language_filesharing", filesharing, filecaption),
    BP_FIELD("language_filesharing", filesharing, transfercancelledbyusermsg),
    BP_FIELD("language_filesharing", filesharing, confirmdownloadcaption),
    BP_FIELD("language_filesharing", filesharing, acceptdownloadmsg),
    BP_FIELD("language_filesharing", filesharing, downloaddisclaimer),
    BP_FIELD("language_filesharing", filesharing, waitfordownloadstart),
    BP_FIELD("language_filesharing", filesharing, totalcaption),
    BP_FIELD("language_filesharing", filesharing, atspeedcaption),
    BP_FIELD("language_other", other, firststartmessage),
};
#undef BP_FIELD

// Answers every key with "section/key" and records what it was asked.
class RecordingReader final : public IProfileReader {
  public:
    struct Call {
        std::string section, key, fileName;
    };
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fileName) override {
        calls.push_back({section, key, fileName});
        return answer ? answer(section, key) : section + "/" + key;
    }
    std::vector<Call> calls;
    std::string (*answer)(const std::string&, const std::string&) = nullptr;
};

// A folder of its own for each test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("bp_lang_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                 std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string Path() const { return path_.string(); }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
    }

  private:
    fs::path path_;
};

class LanguageTextsTest : public testing::Test {
  protected:
    void SetUp() override { MakeStale(); }
    // Every text holds something before the load, so that an untouched one shows.
    static void MakeStale() {
        LanguageTexts = TLanguageTexts{};
        for (const auto& f : kFields) {
            f.text(LanguageTexts) = "stale";
        }
    }
    void TearDown() override {
        SetLanguageProfileReader(nullptr);
        LanguageTexts = TLanguageTexts{};
    }
};

TEST_F(LanguageTextsTest, EveryKeyIsReadOnceInOrderFromTheBareFileNameIntoItsOwnText) {
    RecordingReader reader;
    SetLanguageProfileReader(&reader);

    LoadLanguage();

    ASSERT_EQ(reader.calls.size(), std::size(kFields));
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const auto& f = kFields[i];
        EXPECT_EQ(reader.calls[i].section, f.section) << i;
        EXPECT_EQ(reader.calls[i].key, f.key) << i;
        EXPECT_EQ(reader.calls[i].fileName, "brenloplug_language.ini");
        EXPECT_EQ(f.text(LanguageTexts), std::string(f.section) + "/" + f.key);
    }
}

TEST_F(LanguageTextsTest, TextsAreKeptAsTheyComeUpTo2047Characters) {
    RecordingReader reader;
    reader.answer = [](const std::string&, const std::string& key) -> std::string {
        if (key == "chk_bold") {
            return std::string(3000, 'b');
        }
        if (key == "chk_italic") {
            return std::string("kursiv\0rest", 11);
        }
        return "  " + key + " \t";
    };
    SetLanguageProfileReader(&reader);

    LoadLanguage();

    EXPECT_EQ(LanguageTexts.general.chk_bold, std::string(2047, 'b'));
    EXPECT_EQ(LanguageTexts.general.chk_italic, "kursiv");
    EXPECT_EQ(LanguageTexts.aol.edt_fsport, "  edt_fsport \t") << "not trimmed";
}

TEST_F(LanguageTextsTest, EveryTextNotInTheFileIsEmpty) {
    const struct {
        const char* name;
        bool reader;        // a profile reader is set
        const char* file;   // the language file's content, or none
        const char* aolfs;  // what chk_aolfs then says
    } cases[] = {
        {"without a reader", false, nullptr, ""},
        {"a file with only chk_aolfs", true, "[language_aol]\r\nchk_aolfs=Tauschen?\r\n",
         "Tauschen?"},
        {"a missing file", true, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeStale();
        TempFolder folder;
        if (c.file)
            folder.Write(LanguageFileName, c.file);
        TIniFileProfileReader reader(folder.Path());
        SetLanguageProfileReader(c.reader ? &reader : nullptr);

        LoadLanguage();

        for (const auto& f : kFields) {
            const bool aolfs =
                std::string(f.section) == "language_aol" && std::string(f.key) == "chk_aolfs";
            EXPECT_EQ(f.text(LanguageTexts), aolfs ? c.aolfs : "") << f.section << "/" << f.key;
        }
        SetLanguageProfileReader(nullptr);
    }
}

TEST(PortableProfileReader, FollowsTheRulesOfThePrivateProfileFormat) {
    const auto cases = ProfileCases();
    TempFolder folder;
    TIniFileProfileReader reader(folder.Path());
    for (const auto& c : cases) {
        folder.Write("test.ini", c.file);
        EXPECT_EQ(reader.ReadString(c.section, c.key, "test.ini"), c.expected) << c.name;
    }
    EXPECT_EQ(reader.ReadString("s", "k", "missing.ini"), "") << "a missing file";
    folder.Write("test.ini", "[s]\r\nk=mit Pfad\r\n");
    TIniFileProfileReader elsewhere("/nonexistent-folder");
    EXPECT_EQ(elsewhere.ReadString("s", "k", folder.Path() + "/test.ini"), "mit Pfad")
        << "a file name with a directory is taken as it stands";
}

// The language files that ship with the plug-in, next to this source tree.
fs::path ShippedFolder(const char* language) {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "lang" / language;
}

TEST_F(LanguageTextsTest, BothShippedFilesGiveEveryKeyAText) {
    for (const char* language : {"german", "english"}) {
        const fs::path folder = ShippedFolder(language);
        ASSERT_TRUE(fs::exists(folder / LanguageFileName)) << folder;
        TIniFileProfileReader reader(folder.string());
        SetLanguageProfileReader(&reader);
        LanguageTexts = TLanguageTexts{};

        LoadLanguage();

        for (const auto& f : kFields) {
            EXPECT_NE(f.text(LanguageTexts), "") << language << ": " << f.section << "/" << f.key;
        }
        const auto& fsTexts = LanguageTexts.filesharing;
        for (const auto* text : {&fsTexts.acceptdownloadmsg, &fsTexts.waitfordownloadstart,
                                 &fsTexts.transfercancelledbyusermsg}) {
            EXPECT_NE(text->find("%username%"), std::string::npos) << language << ": " << *text;
        }
        EXPECT_EQ(LanguageTexts.general.grp_titleformat.back(), ' ')
            << language << ": the quoted trailing blank of the group caption is kept";
    }
}

TEST_F(LanguageTextsTest, TheGermanFileCarriesTheFormCaptionsInWindows1252) {
    TIniFileProfileReader reader(ShippedFolder("german").string());
    SetLanguageProfileReader(&reader);
    LoadLanguage();

    const std::pair<const char*, const char*> captions[] = {
        {"language_general/configcaption", "Allgemein"},
        {"language_general/chk_enablechat", "Chat Ausgabe anschalten"},
        {"language_general/chk_enablefade", "mit Farbverlauf (zur Zeit nur aol und aim)"},
        {"language_general/chk_preposttitlefade", "mit Farbverlauf?"},
        {"language_general/chk_enablefontformat",
         "Schriftformatierung an? (zur Zeit nur aol, aim und yahoo)"},
        {"language_general/chk_extsonginfo",
         "erweiterte Songinfo (Bitrate und Spielzeit) anzeigen"},
        {"language_general/lbl_songtitle", "Songtitel"},
        {"language_general/lbl_fontface", "Schriftart"},
        {"language_general/btn_choosefont", "Schrift w\xE4hlen"},
        {"language_general/grp_titleformat", "Titelformat "},
        {"language_general/lbl_updatesnote", "Updates und Infos unter:"},
        {"language_general/chk_bold", "fett?"},
        {"language_general/chk_italic", "italic?"},
        {"language_general/chk_underline", "unterstrichen?"},
        {"language_general/chk_strikeout", "durchgestrichen?"},
        {"language_aol/configcaption", "AOL"},
        {"language_aol/chk_enableaol", "AOL Unterst\xFCtzung anschalten?"},
        {"language_aol/chk_aoladvertising", "mit Werbung?"},
        {"language_aol/chk_aolwavyscroll", "Wellenformat?"},
        {"language_aol/chk_aolfs", "Dateiaustausch aktivieren?"},
        {"language_aol/edt_fsport", "Fileserver auf Port:"},
        {"language_fader/configcaption", "Farbverlauf"},
        {"language_fader/lbl_colorbar", "Anzahl Farben (1-10):"},
        {"language_filesharing/configcaption", "Dateiaustausch"},
        {"language_filesharing/okbuttoncaption", "&OK"},
        {"language_filesharing/cancelbuttoncaption", "&Cancel"},
        {"language_filesharing/confirmdownloadcaption", "BrenloPlug Fileserver: Confirm Download"},
    };
    for (const auto& [where, caption] : captions) {
        bool found = false;
        for (const auto& f : kFields) {
            if (std::string(f.section) + "/" + f.key == where) {
                found = true;
                EXPECT_EQ(f.text(LanguageTexts), caption) << where;
            }
        }
        EXPECT_TRUE(found) << where;
    }
    // The file label appends its own colon.
    EXPECT_EQ(LanguageTexts.filesharing.filecaption.back(), 'e');
}

TEST(ShippedLanguageFiles, AreAnsiTextWithCrlfLineEnds) {
    for (const char* language : {"german", "english"}) {
        std::ifstream in(ShippedFolder(language) / LanguageFileName, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty()) << language;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n') {
                ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << language << ": bare LF at " << i;
            }
            // UTF-8 would show as a lead byte 0xC2..0xF4 followed by 0x80..0xBF.
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b >= 0xC2 && b <= 0xF4 && i + 1 < bytes.size()) {
                const auto next = static_cast<unsigned char>(bytes[i + 1]);
                EXPECT_FALSE(next >= 0x80 && next <= 0xBF) << language << ": UTF-8 at " << i;
            }
        }
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << language;
    }
}

}  // namespace
