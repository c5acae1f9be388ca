// The downloading peer's reading of offers and its check of offered file names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peer_protocol.h"

namespace {

TEST(PeerOffer, AnOfferGivesTheSizeAndTheRestAsTheName) {
    struct Case {
        std::string message;
        bool ok;
        std::int64_t size;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"request sendfile:5-song.mp3", true, 5, "song.mp3"},
        {"request sendfile:3145728-a-b - c.mp3", true, 3145728, "a-b - c.mp3"},
        {"request sendfile:0-", true, 0, ""},
        {"request sendfile:9223372036854775807-x", true, 9223372036854775807LL, "x"},
        {"request sendfile:9223372036854775808-x", false, 0, ""},
        {"request sendfile:-song.mp3", false, 0, ""},
        {"request sendfile:12", false, 0, ""},
        {"request sendfile:1 2-x", false, 0, ""},
        {"Request sendfile:5-x", false, 0, ""},
        {"connectionrefused", false, 0, ""},
        {"", false, 0, ""},
    };
    for (const Case& c : cases) {
        peer::Offer offer;
        EXPECT_EQ(peer::ParseOffer(c.message, &offer), c.ok) << c.message;
        if (c.ok) {
            EXPECT_EQ(offer.size, c.size) << c.message;
            EXPECT_EQ(offer.name, c.name) << c.message;
        }
    }
}

TEST(PeerOffer, OnlyPlainNamesInsideTheFolderAreAccepted) {
    for (const char* good : {"song.mp3", "Die \xC4rzte - Westerland.mp3", "a..b.mp3", ".hidden",
                             "console.mp3", "COM10.mp3", "nullish.mp3"})
        EXPECT_TRUE(peer::IsSafeFileName(good)) << good;
    for (const char* bad : {"",
                            ".",
                            "..",
                            "../song.mp3",
                            "..\\song.mp3",
                            "music/song.mp3",
                            "C:song.mp3",
                            "C:\\Windows\\win.ini",
                            "/etc/passwd",
                            "\\\\server\\share\\x",
                            "song.mp3:stream",
                            "song\n.mp3",
                            "song.mp3.",
                            "song.mp3 ",
                            "CON",
                            "nul.txt",
                            "con.mp3",
                            "Com1.mp3",
                            "lpt9",
                            "aux .mp3"})
        EXPECT_FALSE(peer::IsSafeFileName(bad)) << bad;
}

}  // namespace
