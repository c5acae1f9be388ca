// The language texts read through GetPrivateProfileStringA: the same rules as the portable
// reader, and the bare file name found in the Windows folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "../native/profile_cases.h"
#include "config/profile_reader.h"
#include "config/u_language.h"
#include "process_util.h"

namespace {

std::string ReadBytes(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WindowsProfileReader, KeepsTheSameRulesAsThePortableReader) {
    const std::string file = testutil::TempFile("profile_case.ini", "");
    for (const auto& c : ProfileCases()) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.file;
        // Windows caches profile files; flush the cache so each case is read afresh.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
        EXPECT_EQ(WindowsProfileReader().ReadString(c.section, c.key, file), c.expected) << c.name;
    }
    DeleteFileA(file.c_str());
}

// Puts the shipped German file into the Windows folder for the test and restores whatever was
// there before.
class LanguageFileInWindowsFolder : public testing::Test {
  protected:
    void SetUp() override {
        char folder[MAX_PATH] = {};
        ASSERT_GT(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
        path_ = std::string(folder) + "\\" + LanguageFileName;
        saved_ = ReadBytes(path_, hadFile_);
        bool found = false;
        const std::string german = ReadBytes(
            testutil::WinePath(BP_SOURCE_DIR) + "\\lang\\german\\brenloplug_language.ini", found);
        ASSERT_TRUE(found);
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << german;
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
        LanguageTexts = TLanguageTexts{};
        SetLanguageProfileReader(&WindowsProfileReader());
    }
    void TearDown() override {
        SetLanguageProfileReader(nullptr);
        LanguageTexts = TLanguageTexts{};
        if (hadFile_) {
            std::ofstream(path_, std::ios::binary | std::ios::trunc) << saved_;
        } else {
            DeleteFileA(path_.c_str());
        }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
    }
    std::string path_;
    std::string saved_;
    bool hadFile_ = false;
};

TEST_F(LanguageFileInWindowsFolder, LoadLanguageFindsTheBareFileNameThere) {
    LoadLanguage();

    EXPECT_EQ(LanguageTexts.general.configcaption, "Allgemein");
    EXPECT_EQ(LanguageTexts.general.btn_choosefont, "Schrift w\xE4hlen");
    EXPECT_EQ(LanguageTexts.general.grp_titleformat, "Titelformat ");
    EXPECT_EQ(LanguageTexts.aol.chk_enableaol, "AOL Unterst\xFCtzung anschalten?");
    EXPECT_EQ(LanguageTexts.fader.lbl_colorbar, "Anzahl Farben (1-10):");
    EXPECT_NE(LanguageTexts.filesharing.acceptdownloadmsg.find("%username%"), std::string::npos);
    EXPECT_NE(LanguageTexts.other.firststartmessage, "");
}

}  // namespace
