// The chat client driver against a fake window tree: line building, room recognition, the
// samples and the restore rule, focus and input attachment, and rooms that vanish or hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "announce/u_aol.h"
#include "fake_chat_windows.h"

namespace {

struct RoomSpec {
    int inputs = 1;  // "RICHCNTL" children
    bool readOnly = true;
    bool chatForm = true;
    bool comboBox = true;
    int children = 24;
    std::string typed;

    RoomSpec& Inputs(int n) { return inputs = n, *this; }
    RoomSpec& ReadOnly(bool on) { return readOnly = on, *this; }
    RoomSpec& ChatForm(bool on) { return chatForm = on, *this; }
    RoomSpec& Children(int n) { return children = n, *this; }
    RoomSpec& Typed(const std::string& text) { return typed = text, *this; }
};

struct Room {
    ChatWindow window = 0;
    std::vector<ChatWindow> inputs;
};

class ChatDriver : public testing::Test {
  protected:
    FakeChatWindows fake;
    ChatWindow main = 0;
    ChatWindow area = 0;
    ChatWindow userFocus = 0;

    void SetUp() override {
        main = fake.Add(0, "AOL Frame25");
        area = fake.Add(main, "MDIClient");
        userFocus = fake.Add(main, "_AOL_TOOLBAR");
        fake.focus = userFocus;
        SetChatWindows(&fake);
    }
    void TearDown() override { SetChatWindows(nullptr); }

    Room AddRoom(const RoomSpec& spec) {
        Room room;
        room.window = fake.Add(area, "AOL Child", "Lobby");
        int added = 0;
        auto add = [&](const char* cls, const std::string& text = "") {
            ++added;
            return fake.Add(room.window, cls, text);
        };
        if (spec.readOnly)
            add("RICHCNTLREADONLY");
        for (int i = 0; i < spec.inputs; ++i)
            room.inputs.push_back(add("RICHCNTL", spec.typed));
        if (spec.chatForm)
            add("_AOL_STATIC", "AOL_CHAT_FORM");
        if (spec.comboBox)
            add("_AOL_COMBOBOX");
        while (added < spec.children)
            add("_AOL_ICON");
        return room;
    }
    const std::vector<std::string>& Transcript(const Room& room) {
        return fake.At(room.window).transcript;
    }
};

TAolMessage Message(const std::string& text, bool advertising = false) {
    TAolMessage m;
    m.Text = text;
    m.Advertising = advertising;
    return m;
}

TEST(AolLine, FontPrefixWritesStylesThatAreOffAsClosingTags) {
    struct Case {
        bool format;
        std::string face;
        bool bold, italic, underline, strikeOut;
        std::string expected;
    } cases[] = {
        {true, "", true, false, false, false, "<b></i></u></s>pre-text-post"},
        {true, "Arial", false, true, true, true, "<font face=\"Arial\"></b><i><u><s>pre-text-post"},
        {false, "Arial", true, true, true, true, "pre-text-post"},
    };
    for (const Case& c : cases) {
        TAolMessage m;
        m.PreText = "pre-";
        m.Text = "text";
        m.PostText = "-post";
        m.FontFormat = c.format;
        m.FontFace = c.face;
        m.Bold = c.bold;
        m.Italic = c.italic;
        m.Underline = c.underline;
        m.StrikeOut = c.strikeOut;
        EXPECT_EQ(BuildAolLine(m), c.expected) << c.face << c.bold;
    }
}

TEST_F(ChatDriver, RoomsAreChosenByShapeAndChildCount) {
    struct Case {
        const char* what;
        RoomSpec spec;
        int receivingInput;  // index of the input that gets the line, -1: room skipped
    } cases[] = {
        {"A and B with 20 children", {1, true, true, true, 20, ""}, -1},
        {"A and B with 21 children", {1, true, true, true, 21, ""}, 0},
        {"A and B with 35 children", {1, true, true, true, 35, ""}, 0},
        {"A with 24 children", {1, true, false, true, 24, ""}, 0},
        {"A with 29 children", {1, true, false, true, 29, ""}, 0},
        {"A with 23 children", {1, true, false, true, 23, ""}, -1},
        {"A with 28 children", {1, true, false, true, 28, ""}, -1},
        {"A with 30 children", {1, true, false, true, 30, ""}, -1},
        {"C with 24 children", {2, true, false, true, 24, ""}, 1},
        {"C with 29 children", {2, true, false, true, 29, ""}, -1},
        {"C with a chat form marker", {2, true, true, true, 24, ""}, 1},
        {"three inputs", {3, true, true, true, 24, ""}, -1},
        {"no input", {0, true, true, true, 24, ""}, -1},
        {"B without a transcript", {1, false, true, true, 24, ""}, -1},
        {"A and B without a combo box", {1, true, true, false, 24, ""}, -1},
    };
    for (const Case& c : cases) {
        const Room room = AddRoom(c.spec);
        PostAolMessage(Message("song"));
        for (std::size_t i = 0; i < room.inputs.size(); ++i) {
            const bool receives = static_cast<int>(i) == c.receivingInput;
            const auto messages = fake.MessagesTo(room.inputs[i]);
            EXPECT_EQ(std::count(messages.begin(), messages.end(), "settext song"),
                      receives ? 1 : 0)
                << c.what << ", input " << i;
        }
        EXPECT_EQ(Transcript(room), c.receivingInput >= 0 ? std::vector<std::string>{"song"}
                                                          : std::vector<std::string>{})
            << c.what;
        fake.Destroy(room.window);
    }
}

TEST_F(ChatDriver, OneRoomGetsKillFocusFourSamplesAdvertLineRestoreAndFocusWithTheWaits) {
    const Room room = AddRoom(RoomSpec().Typed("hallo"));
    TAolMessage m = Message("<b>song</b>", true);
    PostAolMessage(m);

    const std::string id = std::to_string(room.inputs[0]) + " ";
    std::vector<std::string> sample = {id + "gettextlength", id + "gettext 1999", "sleep 150"};
    std::vector<std::string> expected = {"find AOL Frame25", "find AOL Frame25", "attach 1 7",
                                         "getfocus", id + "killfocus"};
    for (int i = 0; i < 4; ++i)
        expected.insert(expected.end(), sample.begin(), sample.end());
    for (const std::string& s :
         {id + "settext", id + "settext BrenloPlug3alpha >>2<< for Winamp5", id + "char 13",
          std::string("sleep 200"), id + "settext <b>song</b>", id + "char 13",
          std::string("sleep 100"), id + "settext hallo", id + "setfocus",
          "setfocus " + std::to_string(userFocus), std::string("detach 1 7"),
          std::string("sleep 100")})
        expected.push_back(s);
    EXPECT_EQ(fake.log, expected);
    EXPECT_EQ(Transcript(room),
              (std::vector<std::string>{"BrenloPlug3alpha >>2<< for Winamp5", "<b>song</b>"}));
    EXPECT_EQ(fake.At(room.inputs[0]).text, "hallo");
    EXPECT_EQ(fake.now, 1000u);
}

TEST_F(ChatDriver, TwoRoomsBothReceiveAdvertAndLineAndKeepTheirTypedText) {
    const Room first = AddRoom(RoomSpec().Typed("abc"));
    const Room second = AddRoom(RoomSpec().Children(22));
    TAolMessage m = Message("song");
    m.PreText = "Ich hoere: ";
    m.FontFormat = true;
    m.Bold = true;
    PostAolMessage(m);
    const std::vector<std::string> expected = {"BrenloPlug3alpha >>2<< for Winamp5",
                                               "<b></i></u></s>Ich hoere: song"};
    EXPECT_EQ(Transcript(first), std::vector<std::string>{expected[1]});
    EXPECT_EQ(Transcript(second), std::vector<std::string>{expected[1]});

    m.Advertising = true;
    PostAolMessage(m);
    EXPECT_EQ(Transcript(first), (std::vector<std::string>{expected[1], expected[0], expected[1]}));
    EXPECT_EQ(Transcript(second), Transcript(first));
    EXPECT_EQ(fake.At(first.inputs[0]).text, "abc");
    EXPECT_EQ(fake.At(second.inputs[0]).text, "");
}

TEST_F(ChatDriver, TypedTextIsRestoredByTheCommonEndingInShapeAAndByTheFourthSampleOtherwise) {
    struct Case {
        const char* what;
        RoomSpec spec;
        std::vector<std::string> samples;  // what the user's input holds at each read
        std::string restored;
    } cases[] = {
        // A room with one input passes the second gate only with a transcript, so it always
        // shows shape A: the fourth sample is what a shape-C room gets back.
        {"A and B, unchanged", {}, {"abc", "abc", "abc", "abc"}, "abc"},
        {"A and B, typing on", {}, {"abc", "abcd", "abcde", "abcdef"}, ""},
        {"A, edited at the front",
         RoomSpec().ChatForm(false),
         {"hello", "xhello", "xyhello", "yhello"},
         "hello"},
        {"A, one sample empty", RoomSpec().ChatForm(false), {"abc", "", "abc", "abc"}, ""},
        {"C, typing on", RoomSpec().Inputs(2), {"ab", "abc", "abcd", "abcde"}, "abcde"},
    };
    for (const Case& c : cases) {
        const Room room = AddRoom(c.spec);
        const ChatWindow target = room.inputs.back();
        int read = 0;
        fake.At(target).typist = [&](unsigned) { return c.samples.at(read++); };
        PostAolMessage(Message("song"));
        EXPECT_EQ(read, 4) << c.what;
        EXPECT_EQ(fake.At(target).text, c.restored) << c.what;
        EXPECT_EQ(Transcript(room), std::vector<std::string>{"song"}) << c.what;
        fake.Destroy(room.window);
    }
}

TEST_F(ChatDriver, UserTypingOnWhileTheFakeClockRunsLosesOnlyTheChangingEnding) {
    // A user who types a character every 100 ms: the samples 150 ms apart all end differently.
    const Room room = AddRoom(RoomSpec().ChatForm(false).Typed("Hallo"));
    const unsigned start = fake.now;
    fake.At(room.inputs[0]).typist = [start](unsigned now) {
        return std::string("Hallo") + std::string((now - start) / 100, '!') +
               static_cast<char>('a' + (now - start) / 100);
    };
    PostAolMessage(Message("song"));
    EXPECT_EQ(fake.At(room.inputs[0]).text, "");

    // The same user typing at the front keeps the common ending.
    const Room second = AddRoom(RoomSpec().ChatForm(false).Typed("Hallo"));
    const unsigned start2 = fake.now;
    fake.At(second.inputs[0]).typist = [start2](unsigned now) {
        return std::string((now - start2) / 100, '>') + "Hallo";
    };
    fake.Destroy(room.window);
    PostAolMessage(Message("song"));
    EXPECT_EQ(fake.At(second.inputs[0]).text, "Hallo");
}

TEST_F(ChatDriver, TypedTextLongerThan1999CharactersIsRestoredCutTo1999) {
    const std::string typed(2500, 'x');
    const Room room = AddRoom(RoomSpec().Typed(typed));
    PostAolMessage(Message("song"));
    EXPECT_EQ(fake.At(room.inputs[0]).text, typed.substr(0, 1999));
}

TEST_F(ChatDriver, WithoutTheChatClientNothingIsDoneAndNothingSleeps) {
    fake.Destroy(main);
    EXPECT_EQ(PostAolMessage(Message("song", true)), 1);
    EXPECT_EQ(fake.log, std::vector<std::string>{"find AOL Frame25"});
    EXPECT_EQ(fake.now, 0u);
}

TEST_F(ChatDriver, WithNoPassingRoomFocusAndInputAreRestoredAndTheFinalWaitHappens) {
    const Room room = AddRoom(RoomSpec().ReadOnly(false).Children(20));
    EXPECT_EQ(PostAolMessage(Message("song")), 1);
    EXPECT_TRUE(fake.MessagesTo(room.inputs[0]).empty());
    const std::vector<std::string> tail = {"setfocus " + std::to_string(userFocus), "detach 1 7",
                                           "sleep 100"};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), fake.log.end() - 3));
    EXPECT_EQ(fake.now, 100u);
}

TEST_F(ChatDriver, MainWindowVanishingBeforeTheWalkEndsThePostingWithFocusAndInputRestored) {
    AddRoom(RoomSpec().Typed("abc"));
    fake.onGetFocus = [&] { fake.Destroy(main); };
    PostAolMessage(Message("song", true));
    const std::vector<std::string> tail = {"getfocus", "setfocus " + std::to_string(userFocus),
                                           "detach 1 7", "sleep 100"};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), fake.log.end() - 4));
    EXPECT_EQ(fake.now, 100u);
}

TEST_F(ChatDriver, RoomClosedDuringTheSamplingIsSkippedAndTheNextRoomIsStillServed) {
    const Room closing = AddRoom(RoomSpec().Typed("abc"));
    const Room staying = AddRoom(RoomSpec().Typed("def"));
    fake.onGetText = [&](ChatWindow w, int read) {
        if (w == closing.inputs[0] && read == 2)
            fake.Destroy(closing.window);
    };
    PostAolMessage(Message("song", true));
    const auto toClosed = fake.MessagesTo(closing.inputs[0]);
    EXPECT_EQ(std::count(toClosed.begin(), toClosed.end(), "gettext 1999"), 2);
    EXPECT_TRUE(std::none_of(toClosed.begin(), toClosed.end(),
                             [](const std::string& m) { return m.rfind("settext", 0) == 0; }));
    EXPECT_TRUE(Transcript(closing).empty());
    EXPECT_EQ(Transcript(staying),
              (std::vector<std::string>{"BrenloPlug3alpha >>2<< for Winamp5", "song"}));
    EXPECT_EQ(fake.At(staying.inputs[0]).text, "def");
    EXPECT_EQ(fake.log.back(), "sleep 100");
}

TEST_F(ChatDriver, ClientThatStopsAnsweringIsLeftAtOnceWithFocusAndInputRestored) {
    const Room first = AddRoom(RoomSpec().Typed("abc"));
    const Room second = AddRoom(RoomSpec().Typed("def"));
    fake.At(first.inputs[0]).hung = true;
    fake.At(second.inputs[0]).hung = true;
    PostAolMessage(Message("song", true));
    const long noAnswers = std::count_if(fake.log.begin(), fake.log.end(),
                                         [](const auto& l) { return l.rfind("noanswer", 0) == 0; });
    EXPECT_EQ(noAnswers, 1);
    EXPECT_TRUE(fake.MessagesTo(second.inputs[0]).empty());
    const std::vector<std::string> tail = {"setfocus " + std::to_string(userFocus), "detach 1 7",
                                           "sleep 100"};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), fake.log.end() - 3));
    EXPECT_EQ(fake.now, 100u);

    // Once it answers again the next song is posted normally.
    fake.At(first.inputs[0]).hung = false;
    fake.At(second.inputs[0]).hung = false;
    PostAolMessage(Message("next"));
    EXPECT_EQ(Transcript(first), std::vector<std::string>{"next"});
    EXPECT_EQ(Transcript(second), std::vector<std::string>{"next"});
    EXPECT_EQ(fake.At(first.inputs[0]).text, "abc");
}

TEST_F(ChatDriver, AttachToChatClientJoinsTheClientsThreadOnlyWhenItRuns) {
    AttachToChatClient(true);
    AttachToChatClient(false);
    fake.Destroy(main);
    AttachToChatClient(true);
    EXPECT_EQ(fake.log,
              (std::vector<std::string>{"find AOL Frame25", "attach 1 7", "find AOL Frame25",
                                        "detach 1 7", "find AOL Frame25"}));
}

TEST(ChatDriverWithoutWindows, PostingWithoutInstalledWindowOperationsDoesNothing) {
    SetChatWindows(nullptr);
    EXPECT_EQ(PostAolMessage(Message("song")), 1);
    AttachToChatClient(true);
    EXPECT_EQ(GetChatWindows(), nullptr);
}

}  // namespace
