// The chat rooms as a web page: reading the transcript, and the chat markup made safe to show.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "chat_page.h"

namespace {

struct MarkupCase {
    const char* name;
    const char* line;
    const char* html;
};

void PrintTo(const MarkupCase& c, std::ostream* os) {
    *os << c.name;
}

const MarkupCase kMarkupCases[] = {
    {"FaderPiecesPass", "<font color=\"#FF0000\">a<font color=\"#80007F\">b",
     "<font color=\"#FF0000\">a<font color=\"#80007F\">b"},
    {"WavyPiecesPass", "<sub><font color=\"#FF0000\">a</sub><sup><font color=\"#00FF00\">c</sup>",
     "<sub><font color=\"#FF0000\">a</sub><sup><font color=\"#00FF00\">c</sup>"},
    {"FontPrefixPasses", "<font face=\"Arial\"><b></i><u></s>x",
     "<font face=\"Arial\"><b></i><u></s>x"},
    {"LinkWithTitlePasses",
     "<a href=\"www.brenloplug:sgxw\" title=\"Du brauchst BrenloPlug.\">\xCA</a>",
     "<a href=\"www.brenloplug:sgxw\" title=\"Du brauchst BrenloPlug.\">\xC3\x8A</a>"},
    {"TagNamesAndAttributesInAnyCase", "<FONT Color=\"#ff00aa\" FACE=Verdana>x</Font>",
     "<font color=\"#ff00aa\" face=\"Verdana\">x</font>"},
    {"UnknownTagsAreShownAsText", "<script>alert(1)</script><img src=x>",
     "&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x&gt;"},
    {"CellAndTableTagsCannotEndTheLine", "</td></tr></table><p>",
     "&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;p&gt;"},
    {"OtherAttributesAreDropped", "<font color=\"#00FF00\" style=\"x\" onclick='y'><b id=1>",
     "<font color=\"#00FF00\"><b>"},
    {"AColourOtherThanSixHexDigitsIsDropped",
     "<font color=\"red;background:url(x)\" face=\"A\"><font color=\"#12345G\">",
     "<font face=\"A\"><font>"},
    {"OnlyThePlugInsAndWebLinksAreFollowed",
     "<a href=\"javascript:alert(1)\" title=\"t\"><a href=\" http://x\"><a href=\"HTTPS://x\">",
     "<a title=\"t\"><a><a href=\"HTTPS://x\">"},
    {"TheFirstOfEqualAttributesCounts",
     "<font color=\"#111111\" color=\"#222222\"><a href=\"data:x\" href=\"http://y\">",
     "<font color=\"#111111\"><a>"},
    {"AttributeValuesAreEscaped", "<font face='A\"><script>'>",
     "<font face=\"A&quot;&gt;&lt;script&gt;\">"},
    {"AnUnfinishedTagIsText", "<font color=\"#FF0000\"", "&lt;font color=&quot;#FF0000&quot;"},
    {"AnUnclosedQuoteIsText", "<font face=\"Arial>x", "&lt;font face=&quot;Arial&gt;x"},
    {"AColouredLessThanSignIsText", "<font color=\"#FF0000\"><<font color=\"#00FF00\">3",
     "<font color=\"#FF0000\">&lt;<font color=\"#00FF00\">3"},
    {"TextIsEscaped", "a < b & c > d 'e'", "a &lt; b &amp; c &gt; d &#39;e&#39;"},
    {"Windows1252BecomesUtf8", "\xFC\x80\x93\x9F\xA0",
     "\xC3\xBC\xE2\x82\xAC\xE2\x80\x9C\xC5\xB8\xC2\xA0"},
    {"ControlsAndUnassignedBytesBecomeReplacementCharacters", "a\x01\x7F\x81\tb",
     "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\tb"},
};

class Markup : public testing::TestWithParam<MarkupCase> {};

TEST_P(Markup, KeepsWhatTheChatClientReadsAndShowsTheRestAsText) {
    EXPECT_EQ(chatpage::RenderMarkup(GetParam().line), GetParam().html);
}

INSTANTIATE_TEST_SUITE_P(Cases, Markup, testing::ValuesIn(kMarkupCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Transcript, CollectsEachRoomsLinesInOrderAndTheLastTextOfEachInput) {
    std::istringstream in(
        "chat: ready\r\n"
        "chat: room 'Lobby': first\r\n"
        "chat: room 'Musik': <b>x' input 1: not an input\r\n"
        "chat: room 'Lobby': \r\n"
        "chat: room 'Lobby': second: with colon\r\n"
        "player: room 'Lobby': not from the chat client\r\n"
        "chat: room 'Lobby' input 1: typed\r\n"
        "chat: room 'Musik' input 2: \r\n"
        "chat: room 'Lobby' input 1: hallo, wie gehts?\r\n"
        "chat: room 'Lobby' input x: no number\r\n"
        "chat: room 'Broken\r\n"
        "chat: timeout\n");
    const std::vector<chatpage::Room> rooms = chatpage::ParseTranscript(in);
    ASSERT_EQ(rooms.size(), 2u);
    EXPECT_EQ(rooms[0].name, "Lobby");
    EXPECT_EQ(rooms[0].lines, (std::vector<std::string>{"first", "", "second: with colon"}));
    EXPECT_EQ(rooms[0].inputs, (std::vector<std::string>{"hallo, wie gehts?"}));
    EXPECT_EQ(rooms[1].name, "Musik");
    EXPECT_EQ(rooms[1].lines, (std::vector<std::string>{"<b>x' input 1: not an input"}));
    EXPECT_EQ(rooms[1].inputs, (std::vector<std::string>{"", ""}));
}

TEST(Page, ShowsEveryRoomWithItsLinesInCellsOfTheirOwnAndItsTypedText) {
    const std::vector<chatpage::Room> rooms = {
        {"<i>Lobby", {"<b>eins", "zwei & drei"}, {"hallo \xFC"}},
        {"Musik", {}, {""}},
    };
    const std::string page = chatpage::RenderPage(rooms);
    for (const char* expected :
         {"<meta charset=\"utf-8\">", "Room &#8222;&lt;i&gt;Lobby&#8220;",
          "<td class=\"line\"><b>eins</td>", "<td class=\"line\">zwei &amp; drei</td>",
          "Typed text in input 1: <span>hallo \xC3\xBC</span>", "Room &#8222;Musik&#8220;",
          "No lines.", "Typed text in input 1: (empty)"}) {
        EXPECT_NE(page.find(expected), std::string::npos) << expected;
    }
}

TEST(Page, RunsNoScriptAndLoadsNothingUnlessATestScriptIsGiven) {
    const std::vector<chatpage::Room> rooms = {{"Lobby", {"x"}, {}}};
    const std::string page = chatpage::RenderPage(rooms);
    EXPECT_NE(page.find("content=\"default-src 'none'; style-src 'unsafe-inline'\""),
              std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("script-src"), std::string::npos);

    const std::string withScript = chatpage::RenderPage(rooms, "let x = 1;");
    EXPECT_NE(withScript.find("script-src 'unsafe-inline'"), std::string::npos);
    EXPECT_NE(withScript.find("<script>\nlet x = 1;\n</script>"), std::string::npos);
}

}  // namespace
