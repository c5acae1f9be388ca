// The address encoder and the download link text.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fileshare/EncodeIP.h"

namespace {

TEST(AlphabetIndex, GivesThePositionInThePlainAlphabetAndColonForAnythingElse) {
    const std::string alphabet = "0123456789.:";
    for (int p = 0; p < 12; ++p) {
        EXPECT_EQ(AlphabetIndex(alphabet[static_cast<std::size_t>(p)]), p);
    }
    for (char other : {'a', 'Z', '\n', '\r', '\0', ' ', '/', ';', static_cast<char>(0xFF)}) {
        EXPECT_EQ(AlphabetIndex(other), 11) << int(other);
    }
}

TEST(EncodeAddress, EncodesPairsThroughTheMatrixAndPadsOddLengthsWithAColon) {
    // (x1, x2) -> ((5 x1 + 2 x2) mod 12, (7 x1 + 3 x2) mod 12) over "kwhmzrfsuxgj".
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},
        {"00", "kk"},
        {"01", "hm"},  // (2, 3)
        {"10", "rs"},  // (5, 7)
        {"::", "rh"},  // (77 mod 12, 110 mod 12) = (5, 2)
        {"1", "mz"},   // "1:" -> (27 mod 12, 40 mod 12) = (3, 4)
        {"4.", "zg"},  // (40 mod 12, 58 mod 12) = (4, 10)
        {"111.2.3.4:1000:::", "sgwwfujmfwrskkrhrh"},
    };
    for (const auto& [plain, token] : vectors) {
        EXPECT_EQ(EncodeAddress(plain), token) << plain;
    }
}

TEST(EncodeAddress, TreatsCharactersOutsideTheAlphabetAsAColon) {
    EXPECT_EQ(EncodeAddress("4\n"), EncodeAddress("4:"));
    EXPECT_EQ(EncodeAddress("x"), EncodeAddress("::"));
    const std::string page = "<html>IP: 1.2.3.4</html>\r\n";
    const std::string token = EncodeAddress(page);
    EXPECT_EQ(token.size(), page.size());
    EXPECT_EQ(token.find_first_not_of("kwhmzrfsuxgj"), std::string::npos);
}

TEST(DownloadLinkText, IsTheFivePiecesWithTheTokenAfterTheSchemePrefix) {
    const std::string tail =
        "\" title=\"Du brauchst BrenloPlug, um diese Funktion zu nutzen.\">"
        "<font face=\"Wingdings\"></b></u>\xCA"
        "<font face=\"Arial Narrow\" color=\"#FEFEFE\"></a>";
    EXPECT_EQ(DownloadLinkText(""), "<a href=\"www.brenloplug:" + tail);
    EXPECT_EQ(DownloadLinkText("sgwwfu"), "<a href=\"www.brenloplug:sgwwfu" + tail);
}

}  // namespace
