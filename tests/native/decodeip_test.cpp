// The peer's side of the link: decoding tokens and reading links out of what a user passes on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fileshare/DecodeIP.h"
#include "fileshare/EncodeIP.h"

namespace {

TEST(DecodeAddress, InvertsTheEncoderForEveryPairOfPlainCharacters) {
    const std::string alphabet = kPlainAlphabet;
    for (char a : alphabet) {
        for (char b : alphabet) {
            const std::string plain{a, b};
            EXPECT_EQ(DecodeAddress(EncodeAddress(plain)), plain);
        }
    }
    EXPECT_EQ(DecodeAddress(""), "");
}

TEST(DecodeAddress, RefusesOddLengthsAndForeignLetters) {
    for (const char* token : {"k", "kwh", "ka", "KW", "k ", "sgwwfujmfwrskkrhr"}) {
        EXPECT_EQ(DecodeAddress(token), std::nullopt) << token;
    }
}

TEST(ParsePlainAddress, FindsAddressAndPortInTheFieldsOfThePlainText) {
    struct Case {
        const char* plain;
        std::optional<TLinkAddress> expected;
    };
    const std::vector<Case> cases = {
        {"111.2.3.4:1000::::", TLinkAddress{"1.2.3.4", 1000}},
        {"11255.255.255.255:65535:::", TLinkAddress{"255.255.255.255", 65535}},
        {"1110.0.0.1::1000:::", TLinkAddress{"10.0.0.1", 1000}},              // a line end after it
        {"11::::.:::84.1.2.3.:::::1000:::", TLinkAddress{"84.1.2.3", 1000}},  // an HTML page
        {"111.0:::84.1.2.3:1000:::", TLinkAddress{"84.1.2.3", 1000}},         // a version before it
        {"211.2.3.4:21:::", TLinkAddress{"1.2.3.4", 21}},  // another kind character
        {"101.2.3.4:1000:::", std::nullopt},               // no "1" after the kind
        {"111.2.3.4:0:::", std::nullopt},
        {"111.2.3.4:65536:::", std::nullopt},
        {"111.2.3.4:::", std::nullopt},
        {"11256.1.1.1:1000:::", std::nullopt},
        {"111.2.3:1000:::", std::nullopt},
        {"111.2.3.4.5:1000:::", std::nullopt},
        {"111..2.3.4:1000:::", std::nullopt},
        {"111.2.3.4:10.0:::", std::nullopt},
        {"", std::nullopt},
        {"11", std::nullopt},
        {"::::", std::nullopt},
        // Text that did not come out of the decoder.
        {"111.2.3.4:1a00:::", std::nullopt},
        {"11x.2.3.4:1000:::", std::nullopt},
        {":1:::\xBB"
         "9\xF8",
         std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParsePlainAddress(c.plain), c.expected) << c.plain;
    }
}

TEST(ParseDownloadLink, TakesTheTargetTheBareTokenOrAWholeChatLine) {
    const std::string token = EncodeAddress("1184.132.7.201:1000:::");
    const TLinkAddress expected{"84.132.7.201", 1000};
    const std::string line =
        "<font face=\"Arial\"><b>.:BP::[ Artist - Song<a href=\"www.brenloplug:" + token +
        "\" title=\"Du brauchst BrenloPlug, um diese Funktion zu nutzen.\"><font "
        "face=\"Wingdings\"></b></u>\xCA<font face=\"Arial Narrow\" color=\"#FEFEFE\"></a> ]::";
    for (const std::string& text : {token, " " + token + "\r\n", "www.brenloplug:" + token,
                                    "WWW.BrenloPlug:" + token, line}) {
        EXPECT_EQ(ParseDownloadLink(text), expected) << text;
    }
}

TEST(ParseDownloadLink, RefusesTextWithoutAUsableLink) {
    const std::string noAddress = EncodeAddress("11:1000:::");
    for (const std::string& text :
         {std::string(), std::string("hallo"), std::string("www.brenloplug:"),
          std::string("<a href=\"www.brenloplug:\" title=\"x\">"), "www.brenloplug:" + noAddress,
          std::string("www.brenloplug:kwh\"")}) {
        EXPECT_EQ(ParseDownloadLink(text), std::nullopt) << text;
    }
}

// Any reply the plain alphabet can carry, padded with line ends or page text outside it, gives
// back address and port.
TEST(DecodeAddress, RoundTripsAddressesAndPortsThroughTheEncoder) {
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    const std::vector<std::string> before = {"", "IP: ", "<p>", "\n"};
    const std::vector<std::string> after = {"", "\n", "\r\n", "</p>"};
    for (int i = 0; i < 2000; ++i) {
        const std::string address =
            std::to_string(next() % 256) + "." + std::to_string(next() % 256) + "." +
            std::to_string(next() % 256) + "." + std::to_string(next() % 256);
        const int port = 1 + static_cast<int>((next() * 3u) % 65535u);
        const std::string reply =
            before[next() % before.size()] + address + after[next() % after.size()];
        const std::string token = EncodeAddress("11" + reply + ":" + std::to_string(port) + ":::");
        EXPECT_EQ(ParseDownloadLink(token), (TLinkAddress{address, port})) << reply << port;
    }
}

}  // namespace
