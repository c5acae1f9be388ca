// The plug-in's version resource, read back from the built DLL the way Explorer and setup
// programs read it, carries the build's version number and the product's texts.
#include <gtest/gtest.h>

#include "process_util.h"
#include "version_info_util.h"

namespace {

TEST(VersionResource, CarriesTheBuildsVersionAndTheProductTexts) {
    const auto info = testutil::ReadVersionInfo(testutil::PluginDll());
    ASSERT_TRUE(info.found) << "no version resource in " << testutil::PluginDll();

    const auto expected = testutil::FixedVersion(BP_VERSION);
    EXPECT_EQ(info.fileVersionMS, expected.first);
    EXPECT_EQ(info.fileVersionLS, expected.second);
    EXPECT_EQ(info.productVersionMS, expected.first);
    EXPECT_EQ(info.productVersionLS, expected.second);
    EXPECT_EQ(info.fileType, static_cast<DWORD>(VFT_DLL));

    ASSERT_EQ(info.translations.size(), 1u);
    EXPECT_EQ(info.translations[0].first, 0x0407);  // German
    EXPECT_EQ(info.translations[0].second, 1252);   // Windows-1252
    EXPECT_EQ(info.String("FileVersion"), BP_VERSION);
    EXPECT_EQ(info.String("ProductVersion"), BP_VERSION);
    EXPECT_EQ(info.String("ProductName"), "BrenloPlug3");
    EXPECT_EQ(info.String("FileDescription"), "BrenloPlug, Bringt Musik ins AOL");
    EXPECT_EQ(info.String("CompanyName"), "BrenlosTools");
    EXPECT_EQ(info.String("OriginalFilename"), "gen_brenloplug3.dll");
    EXPECT_EQ(info.String("LegalCopyright"), "\xA9 BrenlosTools");
}

}  // namespace
