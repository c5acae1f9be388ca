// The file server under hostile and careless peers, over the in-memory network with the fake
// clock: the caps applied at accept, the queue of confirmation questions, the time-outs of idle
// connections, and what a peer can make the server hold or show.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
#include "fake_net.h"
#include "fake_transfer_platform.h"
#include "fileshare/u_brenlofileserver.h"

namespace {

const char kPath[] = "C:\\Musik\\song.mp3";
const char kOffer[] = "request sendfile:10000-song.mp3";
const char kRefused[] = "connectionrefused";

// The limits the README gives to users, as numbers: a change of a constant must show here.
constexpr int kPromisedInAll = 32;
constexpr int kPromisedPerAddress = 4;
constexpr std::uint32_t kPromisedRequestMs = 30 * 1000;
constexpr std::uint32_t kPromisedStartMs = 3 * 60 * 1000;
constexpr std::uint32_t kPromisedStallMs = 3 * 60 * 1000;

// The window as the form sees it. A question is a window of its own: it stays open until the
// test answers it (Answer) or the form closes it.
struct FakeWindow final : IFileServerWindow {
    std::set<int> rows;
    std::map<int, std::string> shownNames;
    std::vector<int> asked;          // rows in the order their questions opened
    std::vector<std::string> texts;  // the questions' texts, in the same order
    std::map<int, TRowTicket> open;  // the open questions by row
    std::vector<int> closed;         // rows whose question the form closed unanswered
    std::size_t mostOpen = 0;
    std::vector<std::string> told;
    bool cannotShow = false;       // the next question's window cannot be created
    bool cannotCreateRow = false;  // the controls of a row cannot be created

    void OpenQuestion(const TConfirmQuestion& question, TRowTicket ticket) override {
        if (cannotShow) {
            cannotShow = false;
            throw EBrenloError("no window");
        }
        EXPECT_EQ(open.count(ticket.Row), 0u) << "row " << ticket.Row << " asked twice";
        asked.push_back(ticket.Row);
        texts.push_back(question.Text);
        open[ticket.Row] = ticket;
        mostOpen = std::max(mostOpen, open.size());
    }
    void CloseQuestion(TRowTicket ticket) override {
        const auto it = open.find(ticket.Row);
        if (it == open.end() || it->second.Serial != ticket.Serial)
            return;
        open.erase(it);
        closed.push_back(ticket.Row);
    }
    std::vector<int> OpenRows() const {
        std::vector<int> result;
        for (const auto& [row, ticket] : open)
            result.push_back(row);
        return result;
    }
    void CreateRow(int row, const std::string&) override {
        if (cannotCreateRow)
            throw EBrenloError("no window");  // the controls clean up after themselves
        EXPECT_TRUE(rows.insert(row).second) << "row " << row << " created twice";
    }
    void FreeRow(int row) override { EXPECT_EQ(rows.erase(row), 1u) << "row " << row; }
    void ShowRow(int row, const std::string& userName, const std::string&) override {
        shownNames[row] = userName;
    }
    void TellUser(const std::string& text) override { told.push_back(text); }
    void RunLater(std::function<void()> call) override { later.push_back(std::move(call)); }
    std::vector<std::function<void()>> later;

    void SetFileLabel(const std::string&, const std::string&) override {}
    void SetPortText(const std::string&) override {}
    bool AddTrayIcon() override { return true; }
    void RemoveTrayIcon() override {}
    void HideWindow() override {}
    void RestoreWindow() override {}
    void StartFirstStartTimer(unsigned) override {}
    void SetBarMarked(int, bool) override {}
    void SetBarPosition(int, int) override {}
    void SetBarHint(int, const std::string&) override {}
    void SetSpeedText(int, const std::string&) override {}
    void RepaintRow(int, bool) override {}
    void SetStatusPanels(const std::string&, const std::string&, const std::string&) override {}
    void SetStatusMessage(const std::string&) override {}
    std::uint64_t TickCount() override { return 0; }
};

class FileServerGuard : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& message) { shown.push_back(message); });
        SetFileServerTextSource([] {
            TFileServerTexts texts;
            texts.acceptdownloadmsg = "Darf %username% den Song laden?";
            return texts;
        });
        fake.files[kPath] = std::string(10000, 'x');
        baseWindows = net.Windows();
        form = std::make_unique<TBrenloFileserverForm>(window, false);
        form->SetServedFile(kPath);
        listenerWindows = net.Windows();
    }
    void TearDown() override {
        form.reset();
        SetFileServerTextSource(nullptr);
        SetErrorDisplay(nullptr);
        EXPECT_TRUE(shown.empty()) << shown.front();
        EXPECT_EQ(net.Windows(), baseWindows);
        EXPECT_EQ(fake.LiveTimers(), 0);
        EXPECT_EQ(fake.openStreams, 0);
    }

    // A peer from 10.0.0.`host` connects and is accepted (or refused).
    TSocketHandle Connect(std::uint32_t host) {
        const TSocketHandle peer = net.PeerConnect(kInitialServerPort, 0x0A000000u + host);
        net.RunUntilIdle();
        return peer;
    }
    void Send(TSocketHandle peer, const std::string& message) {
        net.PeerSend(peer, message);
        net.RunUntilIdle();
    }
    // The user answers the open question of `row`, as its window reports it.
    void Answer(int row, bool yes) {
        const auto it = window.open.find(row);
        ASSERT_NE(it, window.open.end()) << "no question open for row " << row;
        const TRowTicket ticket = it->second;
        window.open.erase(it);
        form->QuestionAnswered(ticket, yes);
        net.RunUntilIdle();
    }
    // Everything the server sent after the offer.
    std::string Streamed(TSocketHandle peer) const {
        return net.Sent(peer).substr(sizeof kOffer - 1);
    }
    // The peer's connection is closed and its object, window and timer are gone.
    void ExpectAllGone() {
        net.RunUntilIdle();
        EXPECT_EQ(form->Connections(), 0);
        EXPECT_EQ(net.Windows(), listenerWindows) << "a connection object was left behind";
        EXPECT_EQ(fake.LiveTimers(), 0) << "a statistics timer or the idle watch was left";
        EXPECT_EQ(form->Rows().OpenCount(), 0);
    }

    FakeNet net;
    FakeTransferPlatform fake;
    FakeWindow window;
    std::unique_ptr<TBrenloFileserverForm> form;
    std::vector<std::string> shown;
    int baseWindows = 0;
    int listenerWindows = 0;
};

// ---- caps at accept
// ------------------------------------------------------------------------------

TEST_F(FileServerGuard, ConnectionsOverTheCapsAreClosedAtOnceBeforeAnyRowOrTransfer) {
    std::vector<TSocketHandle> kept;
    // One address: its first few are taken, the next one is not.
    for (int i = 0; i < kPromisedPerAddress; ++i)
        kept.push_back(Connect(1));
    const TSocketHandle sameAddress = Connect(1);
    EXPECT_FALSE(net.IsOpen(sameAddress));
    EXPECT_EQ(net.Sent(sameAddress), "") << "a capped peer is told nothing";
    EXPECT_EQ(form->RefusedConnections(), 1);
    // Other addresses fill the places in all; the first one over the cap is closed, whatever
    // its address.
    for (std::uint32_t host = 2; host < 100 && form->Connections() < kPromisedInAll; ++host)
        kept.push_back(Connect(host));
    ASSERT_EQ(form->Connections(), kPromisedInAll);
    const TSocketHandle overAll = Connect(200);
    EXPECT_FALSE(net.IsOpen(overAll));
    EXPECT_EQ(form->RefusedConnections(), 2);
    EXPECT_EQ(form->Rows().Count(), kPromisedInAll) << "a refused connection got a row";
    EXPECT_EQ(fake.LiveTimers(), kPromisedInAll + 1) << "statistics timers and one idle watch";
    EXPECT_EQ(net.Windows(), listenerWindows + kPromisedInAll)
        << "the refused connections' objects were not released";
    for (TSocketHandle peer : kept)
        EXPECT_TRUE(net.IsOpen(peer));

    // A place that comes free is taken again.
    net.PeerClose(kept.front());
    net.RunUntilIdle();
    const TSocketHandle again = Connect(1);
    EXPECT_TRUE(net.IsOpen(again));
    EXPECT_EQ(form->RefusedConnections(), 2);
    kept.push_back(again);
    for (TSocketHandle peer : kept)
        net.PeerClose(peer);
    ExpectAllGone();
}

TEST_F(FileServerGuard, AFloodOfSilentJunkAndHalfRequestsLeavesNothingBehind) {
    // One address: a third stay silent, a third send junk, a third half a request.
    std::vector<TSocketHandle> peers;
    for (int i = 0; i < 300; ++i) {
        peers.push_back(net.PeerConnect(kInitialServerPort, 0x7F000001));
        if (i % 3 == 1)
            net.PeerSend(peers.back(), "\x16\x03\x01 junk");
        else if (i % 3 == 2)
            net.PeerSend(peers.back(), "request fi");
    }
    net.RunUntilIdle();
    // The first ones hold the address's places (half a request waits for its rest, as silence
    // does); whoever came while they were taken was closed at accept without a word; whoever got
    // a place and sent junk was refused by the protocol.
    int open = 0, refusedByProtocol = 0;
    for (TSocketHandle peer : peers) {
        open += net.IsOpen(peer) ? 1 : 0;
        refusedByProtocol += net.Sent(peer) == kRefused ? 1 : 0;
    }
    EXPECT_EQ(open, kPromisedPerAddress);
    EXPECT_EQ(form->RefusedConnections() + refusedByProtocol + open, 300);
    EXPECT_GT(form->RefusedConnections(), 250);
    EXPECT_TRUE(window.asked.empty());
    fake.Advance(kPromisedRequestMs + 1000);
    for (TSocketHandle peer : peers)
        EXPECT_FALSE(net.IsOpen(peer));
    ExpectAllGone();
}

TEST_F(FileServerGuard, AnAcceptWhoseRowCannotBeMadeLeavesNothingBehind) {
    // One peer is served; the next arrives when no controls can be made (window quota). It is
    // turned away, and neither the idle watch nor the teardown touches anything of it again.
    const TSocketHandle served = Connect(1);
    window.cannotCreateRow = true;
    const TSocketHandle failed = Connect(2);
    window.cannotCreateRow = false;
    EXPECT_FALSE(net.IsOpen(failed));
    EXPECT_EQ(net.Closes(failed), 1);
    EXPECT_EQ(form->Connections(), 1);
    EXPECT_EQ(form->Rows().OpenCount(), 1);
    EXPECT_EQ(fake.LiveTimers(), 2) << "the served peer's timer and the idle watch";
    EXPECT_EQ(net.Windows(), listenerWindows + 1) << "the failed connection's object stayed";
    fake.Advance(5000);  // the idle watch runs over what is left
    // The place is free for the next peer, whose row is the failed one's.
    const TSocketHandle next = Connect(2);
    Send(next, "request file:ann");
    EXPECT_EQ(window.OpenRows(), (std::vector<int>{1}));
    Answer(1, true);
    EXPECT_EQ(net.Sent(next), kOffer);
    net.PeerClose(served);
    net.PeerClose(next);
    ExpectAllGone();
}

// ---- the queue of questions
// ------------------------------------------------------------------------

TEST_F(FileServerGuard, AtMostThreeQuestionsAreOpenAndTheRestWaitInArrivalOrderSilently) {
    std::vector<TSocketHandle> peers;
    for (std::uint32_t host = 1; host <= 5; ++host)
        peers.push_back(Connect(host));  // rows 0 to 4
    for (std::size_t i = 0; i < peers.size(); ++i)
        net.PeerSend(peers[i], "request file:peer" + std::to_string(i));
    net.RunUntilIdle();
    EXPECT_EQ(window.OpenRows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(form->WaitingRequests(), 2);
    EXPECT_EQ(net.Sent(peers[3]), "") << "a waiting peer hears nothing";
    EXPECT_EQ(net.Sent(peers[4]), "");
    // A waiting peer that gives up leaves the queue.
    net.PeerClose(peers[3]);
    net.RunUntilIdle();
    EXPECT_EQ(form->WaitingRequests(), 1);

    Answer(2, true);  // a place comes free: peer 4 is asked next
    EXPECT_EQ(window.OpenRows(), (std::vector<int>{0, 1, 4}));
    Answer(4, false);
    Answer(1, true);
    Answer(0, true);
    EXPECT_EQ(window.asked, (std::vector<int>{0, 1, 2, 4}));
    EXPECT_EQ(window.mostOpen, 3u);
    EXPECT_EQ(net.Sent(peers[0]), kOffer);
    EXPECT_EQ(net.Sent(peers[1]), kOffer);
    EXPECT_EQ(net.Sent(peers[2]), kOffer);
    EXPECT_EQ(net.Sent(peers[4]), kRefused);
    EXPECT_FALSE(net.IsOpen(peers[4]));
    EXPECT_EQ(form->WaitingRequests(), 0);
    EXPECT_EQ(form->OpenQuestions(), 0);
    for (TSocketHandle peer : peers)
        net.PeerClose(peer);
    ExpectAllGone();
}

TEST_F(FileServerGuard, OpenQuestionsAreAnsweredInAnyOrderAndEachAnswerTakesEffectAtOnce) {
    // Two peers asked, then answered first-asked-first and last-asked-first: each answer is
    // sent at once, whatever the other question does.
    for (const bool firstAskedFirst : {true, false}) {
        SCOPED_TRACE(firstAskedFirst ? "A then B" : "B then A");
        const TSocketHandle a = Connect(1);
        const TSocketHandle b = Connect(2);
        Send(a, "request file:A");
        Send(b, "request file:B");
        ASSERT_EQ(window.OpenRows(), (std::vector<int>{0, 1}));
        if (firstAskedFirst) {
            Answer(0, true);
            EXPECT_EQ(net.Sent(a), kOffer) << "A is offered while B is still asked";
            Send(a, "ok sendfile");
            EXPECT_EQ(Streamed(a), std::string(10000, 'x'));
            EXPECT_EQ(window.OpenRows(), (std::vector<int>{1}));
            Answer(1, false);
        } else {
            Answer(1, false);
            EXPECT_EQ(net.Sent(b), kRefused) << "B is refused while A is still asked";
            EXPECT_EQ(window.OpenRows(), (std::vector<int>{0}));
            Answer(0, true);
            Send(a, "ok sendfile");
            EXPECT_EQ(Streamed(a), std::string(10000, 'x'));
        }
        EXPECT_EQ(net.Sent(b), kRefused);
        EXPECT_FALSE(net.IsOpen(b));
        // A late second answer for a question already answered changes nothing.
        form->QuestionAnswered(TRowTicket{1, 0}, true);
        form->QuestionAnswered(TRowTicket{0, 0}, false);
        net.RunUntilIdle();
        EXPECT_TRUE(net.IsOpen(a));
        net.PeerClose(a);
        ExpectAllGone();
        window.asked.clear();
    }
}

TEST_F(FileServerGuard, APeerThatClosesDuringItsQuestionClosesItAndTheNextIsAsked) {
    std::vector<TSocketHandle> peers;
    for (std::uint32_t host = 1; host <= 4; ++host)
        peers.push_back(Connect(host));
    for (std::size_t i = 0; i < peers.size(); ++i)
        net.PeerSend(peers[i], "request file:peer" + std::to_string(i));
    net.RunUntilIdle();
    ASSERT_EQ(window.OpenRows(), (std::vector<int>{0, 1, 2}));
    net.PeerClose(peers[2]);
    net.RunUntilIdle();
    EXPECT_EQ(window.closed, (std::vector<int>{2}));
    EXPECT_EQ(window.OpenRows(), (std::vector<int>{0, 1, 3}));
    Answer(3, true);
    Answer(1, true);
    Answer(0, false);
    EXPECT_EQ(window.asked, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(net.Sent(peers[2]), "");
    EXPECT_EQ(net.Sent(peers[3]), kOffer);
    EXPECT_EQ(net.Sent(peers[1]), kOffer);
    EXPECT_EQ(net.Sent(peers[0]), kRefused);
    for (TSocketHandle peer : peers)
        net.PeerClose(peer);
    ExpectAllGone();
}

TEST_F(FileServerGuard, APortChangeAndTheFormsEndCloseEveryOpenQuestionUnanswered) {
    std::vector<TSocketHandle> peers;
    for (std::uint32_t host = 1; host <= 4; ++host)
        peers.push_back(Connect(host));
    for (TSocketHandle peer : peers)
        net.PeerSend(peer, "request file:p");
    net.RunUntilIdle();
    ASSERT_EQ(window.open.size(), 3u);
    const TRowTicket stale = window.open[0];
    form->SetServerPort(2000);
    EXPECT_TRUE(window.open.empty());
    EXPECT_EQ(window.asked.size(), 3u) << "the waiting one was not asked on its way out";
    EXPECT_EQ(form->OpenQuestions(), 0);
    EXPECT_EQ(form->WaitingRequests(), 0);
    for (TSocketHandle peer : peers)
        EXPECT_FALSE(net.IsOpen(peer));
    EXPECT_TRUE(form->IsListening());
    EXPECT_TRUE(net.ListenerOn(2000).has_value());
    form->QuestionAnswered(stale, true);  // an answer racing the close does nothing
    ExpectAllGone();

    // The form's end closes what is open, and no answer comes back.
    const TSocketHandle last = net.PeerConnect(2000, 0x0A000009u);
    net.RunUntilIdle();
    Send(last, "request file:q");
    ASSERT_EQ(window.open.size(), 1u);
    form.reset();
    EXPECT_TRUE(window.open.empty());
    EXPECT_FALSE(net.IsOpen(last));
}

TEST_F(FileServerGuard, AQuestionThatCannotBeShownRefusesItsPeerAndFreesThePlace) {
    const TSocketHandle first = Connect(1);
    const TSocketHandle second = Connect(2);
    window.cannotShow = true;
    Send(first, "request file:ann");
    EXPECT_EQ(net.Sent(first), kRefused) << "nobody can say yes to a question not shown";
    EXPECT_EQ(form->OpenQuestions(), 0);
    Send(second, "request file:bob");
    EXPECT_EQ(window.OpenRows(), (std::vector<int>{1}));
    Answer(1, true);
    EXPECT_EQ(net.Sent(second), kOffer);
    net.PeerClose(first);
    net.PeerClose(second);
    ExpectAllGone();
}

// ---- time-outs
// -------------------------------------------------------------------------------------

TEST_F(FileServerGuard, AConnectionWithoutARequestIsClosedAfterThirtySeconds) {
    const TSocketHandle silent = Connect(1);
    fake.Advance(kPromisedRequestMs - 1000);
    EXPECT_TRUE(net.IsOpen(silent));
    const TSocketHandle later = Connect(2);  // its own clock
    fake.Advance(2000);
    EXPECT_FALSE(net.IsOpen(silent));
    EXPECT_EQ(net.Sent(silent), "");
    EXPECT_TRUE(net.IsOpen(later));
    fake.Advance(kPromisedRequestMs);
    EXPECT_FALSE(net.IsOpen(later));
    ExpectAllGone();
}

TEST_F(FileServerGuard, TheUsersTimeToAnswerNeverCountsButAStartThatNeverComesDoes) {
    const TSocketHandle first = Connect(1);
    const TSocketHandle second = Connect(2);
    Send(first, "request file:ann");
    Send(second, "request file:bob");
    fake.Advance(20 * 60 * 1000);  // the user is away for twenty minutes
    EXPECT_TRUE(net.IsOpen(first));
    EXPECT_TRUE(net.IsOpen(second));
    Answer(1, true);
    Answer(0, true);
    ASSERT_EQ(net.Sent(first), kOffer);
    ASSERT_EQ(net.Sent(second), kOffer);
    // ann starts at once; bob never does.
    Send(first, "ok sendfile");
    EXPECT_EQ(Streamed(first), std::string(10000, 'x'));
    fake.Advance(kPromisedStartMs - 2000);
    EXPECT_TRUE(net.IsOpen(second));
    Send(first, "status10000");
    fake.Advance(3000);
    EXPECT_FALSE(net.IsOpen(second));
    EXPECT_TRUE(net.IsOpen(first)) << "its report came a moment ago";
    net.PeerClose(first);
    ExpectAllGone();
}

TEST_F(FileServerGuard, AStreamIsKeptWhileBytesMoveOrStatusComesAndClosedWhenBothStop) {
    const TSocketHandle peer = Connect(1);
    Send(peer, "request file:ann");
    Answer(0, true);
    net.sendPlan = {FakeNet::Take(4096), FakeNet::Block()};
    Send(peer, "ok sendfile");
    ASSERT_EQ(Streamed(peer).size(), 4096u);
    // Status reports alone keep it open, though no byte moves.
    for (int minute = 0; minute < 5; ++minute) {
        fake.Advance(60 * 1000);
        Send(peer, "status" + std::to_string(1000 * (minute + 1)));
    }
    EXPECT_TRUE(net.IsOpen(peer));
    // Bytes moving alone keep it open too, though the peer says nothing.
    net.sendPlan = {FakeNet::Take(1000), FakeNet::Block(), FakeNet::Take(1000), FakeNet::Block()};
    for (int i = 0; i < 2; ++i) {
        fake.Advance(kPromisedStallMs - 60 * 1000);
        net.MakeWritable(peer);
        net.RunUntilIdle();
    }
    EXPECT_EQ(Streamed(peer).size(), 6096u);
    EXPECT_TRUE(net.IsOpen(peer));
    // Then nothing at all.
    fake.Advance(kPromisedStallMs - 2000);
    EXPECT_TRUE(net.IsOpen(peer));
    fake.Advance(3000);
    EXPECT_FALSE(net.IsOpen(peer));
    ExpectAllGone();
}

// ---- what a peer can make us hold or show ------------------------------------------------------

TEST(ShownUserNameText, IsCutToAReadableLengthWithControlCharactersMadeVisible) {
    const struct {
        std::string name, shown;
    } cases[] = {
        {"", ""},
        {"Bob", "Bob"},
        {"M\xFCller \xC4rger", "M\xFCller \xC4rger"},  // Windows-1252 letters stay
        {"bob\r\n", "bob\\x0D\\x0A"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"x\x7F\x81\x9D\x1B[2J", "x\\x7F\\x81\\x9D\\x1B[2J"},
        {std::string(kMaxShownNameChars, 'n'), std::string(kMaxShownNameChars, 'n')},
        {std::string(kMaxShownNameChars + 1, 'n'), std::string(kMaxShownNameChars, 'n') + "..."},
        {std::string(kMaxShownNameChars - 1, 'n') + "\t\t",
         std::string(kMaxShownNameChars - 1, 'n') + "\\x09..."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShownUserName(c.name), c.shown) << c.name;
}

TEST_F(FileServerGuard, AHugeRequestIsAskedWithItsNameCutAndTheRestBreaksTheExchange) {
    const TSocketHandle peer = Connect(1);
    // While it is asked, the rest of the flood comes in as further messages.
    net.PeerSend(peer, "request file:evil\r\n" + std::string(100000, 'A'));
    net.RunUntilIdle();
    ASSERT_EQ(window.texts.size(), 1u);
    EXPECT_EQ(window.texts[0], "Darf evil\\x0D\\x0A" + std::string(kMaxShownNameChars - 6, 'A') +
                                   "... den Song laden?\n\r\n\r");
    EXPECT_EQ(net.Sent(peer), kRefused);
    EXPECT_TRUE(window.open.empty()) << "its question closed with the connection";
    ExpectAllGone();
}

TEST_F(FileServerGuard, TheAcceptedRowShowsTheCutName) {
    const TSocketHandle peer = Connect(1);
    Send(peer, "request file:" + std::string(40, 'z') + "\x07");
    Answer(0, true);
    EXPECT_EQ(window.shownNames[0], std::string(kMaxShownNameChars, 'z') + "...");
    net.PeerClose(peer);
    ExpectAllGone();
}

}  // namespace
