// The file transfer protocol over the in-memory network, with a fake clock, fake timers and
// files in memory: requests, the question, the offer, the stream, progress and speed, the end of
// the object, and the peers that misbehave.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "fake_net.h"
#include "fake_transfer_platform.h"
#include "fileshare/BrenloFileServer.h"
#include "net/BrenloScktComp.h"

namespace {

const char kPath[] = "C:\\Musik\\Alben\\song.mp3";
const char kOffer5[] = "request sendfile:5-song.mp3";

struct Stat {
    int pos;
    std::string time, speed;
    std::int64_t bytes, total;
    bool operator==(const Stat&) const = default;
};

class TransferTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& message) { shown.push_back(message); });
        fake.files[kPath] = "hello";
        server->OnClientConnect() = [this](TObject*, TCustomWinSocket* socket) {
            transfer = new TBrenloFileServer(socket, kPath);
            transfer->OnClose = [this](TBrenloFileServer* sender) {
                log.push_back("close");
                if (sender == transfer)
                    transfer = nullptr;
            };
            transfer->OnStat = [this](TBrenloFileServer*, std::int32_t pos, const std::string& time,
                                      const std::string& speed, std::int64_t bytes,
                                      std::int64_t total) {
                stats.push_back({pos, time, speed, bytes, total});
            };
            transfer->OnConfirmUser = [this](TBrenloFileServer* sender, const std::string& name) {
                log.push_back("ask " + name);
                return confirm ? confirm(sender, name) : true;
            };
            transfer->OnClientDisconnect = [this](TBrenloFileServer*) { log.push_back("cancel"); };
        };
        server->SetPort(1000);
        server->SetActive(true);
        peer = net.PeerConnect(1000);
        net.RunUntilIdle();
        ASSERT_NE(transfer, nullptr);
    }
    void TearDown() override {
        server.reset();
        SetErrorDisplay(nullptr);
        EXPECT_TRUE(shown.empty()) << shown.front();
        EXPECT_EQ(fake.openStreams, 0) << "a file was left open";
        EXPECT_EQ(net.StartupBalance(), 0);
    }

    void Send(const std::string& message) {
        net.PeerSend(peer, message);
        net.RunUntilIdle();
    }
    std::string Sent() const { return net.Sent(peer); }
    bool Ended() const { return transfer == nullptr && fake.LiveTimers() == 0; }
    // Requested, confirmed and offered.
    void Confirmed() {
        Send("request file:bob");
        ASSERT_EQ(Sent(), kOffer5);
    }
    // The stream has gone out in full.
    void Streaming() {
        Confirmed();
        Send("ok sendfile");
        ASSERT_EQ(Sent(), std::string(kOffer5) + "hello");
    }

    FakeNet net;
    FakeTransferPlatform fake;
    std::unique_ptr<TServerSocket> server = std::make_unique<TServerSocket>();
    TBrenloFileServer* transfer = nullptr;
    TSocketHandle peer = 0;
    std::function<bool(TBrenloFileServer*, const std::string&)> confirm;
    std::vector<std::string> shown;
    std::vector<std::string> log;
    std::vector<Stat> stats;
};

TEST_F(TransferTest, ADownloadRunsFromRequestToThePeersClose) {
    EXPECT_EQ(transfer->UserName(), "unknown yet");
    EXPECT_FALSE(transfer->Timer1->Enabled());
    EXPECT_EQ(transfer->Timer1->Interval(), 1000u);
    Streaming();
    EXPECT_EQ(transfer->UserName(), "bob");
    EXPECT_TRUE(transfer->Confirmed());
    EXPECT_EQ(transfer->FileSize(), 5);
    EXPECT_TRUE(transfer->Timer1->Enabled());
    Send("status3");
    EXPECT_TRUE(stats.empty()) << "only the complete report and the timer report";
    Send("status5");
    EXPECT_EQ(stats, (std::vector<Stat>{{100, "", "", 5, 5}}));
    EXPECT_FALSE(transfer->Timer1->Enabled());
    net.PeerClose(peer);
    net.RunUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"ask bob", "close"}));
    EXPECT_TRUE(Ended());
    EXPECT_FALSE(net.IsOpen(peer));
}

TEST_F(TransferTest, TheFirstMessageDecidesBetweenTheQuestionAndARefusal) {
    enum Outcome { kAsked, kRefused, kWaiting };
    struct Case {
        std::string message;
        Outcome outcome;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"request file:", kAsked, ""},  // a moment later: no name came
        {"request file:bob\r\n", kAsked, "bob\r\n"},
        {"request file:request file:x", kAsked, "request file:x"},
        {" request file:bob", kRefused, ""},
        {"Request file:bob", kRefused, ""},
        {"request file", kWaiting, ""},  // the rest of the prefix may come
        {"ok sendfile", kRefused, ""},
        {"status5", kRefused, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        if (!transfer) {
            peer = net.PeerConnect(1000);
            net.RunUntilIdle();
        }
        Send(c.message);
        fake.Advance(kRequestNameWaitMs);
        if (c.outcome == kWaiting) {
            EXPECT_TRUE(log.empty());
            EXPECT_EQ(Sent(), "");
            EXPECT_TRUE(net.IsOpen(peer));
            transfer->EndTransfer();
        } else if (c.outcome == kAsked) {
            EXPECT_EQ(log, std::vector<std::string>{"ask " + c.name});
            EXPECT_EQ(transfer->UserName(), c.name);
            EXPECT_EQ(Sent(), kOffer5);
            transfer->EndTransfer();
        } else {
            EXPECT_EQ(log, std::vector<std::string>{"close"});
            EXPECT_EQ(Sent(), "connectionrefused");
            EXPECT_FALSE(net.IsOpen(peer));
        }
        EXPECT_TRUE(Ended());
    }
}

TEST_F(TransferTest, ADeclinedRequestIsRefusedAndClosed) {
    confirm = [](TBrenloFileServer*, const std::string&) { return false; };
    Send("request file:eve");
    EXPECT_EQ(Sent(), "connectionrefused");
    EXPECT_EQ(log, (std::vector<std::string>{"ask eve", "close"}));
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, OnlyExactMessagesCountOnceConfirmed) {
    Confirmed();
    for (const char* ignored :
         {"ok sendfile ", "OK sendfile", "fuck off ", "Fuck off", "hello", "request file:bob"}) {
        Send(ignored);
        EXPECT_EQ(Sent(), kOffer5) << ignored;
    }
    EXPECT_EQ(log, std::vector<std::string>{"ask bob"});
    Send("fuck off");
    EXPECT_EQ(log, (std::vector<std::string>{"ask bob", "cancel", "close"}));
    EXPECT_TRUE(Ended());
    EXPECT_FALSE(net.IsOpen(peer));
}

TEST_F(TransferTest, StatusReportsFollowTheLastCountAndNeverGoBack) {
    fake.files[kPath] = std::string(200, 'x');
    Send("request file:bob");
    Send("ok sendfile");
    struct Step {
        std::string message;
        std::int64_t position;
        int percent;
        std::size_t stats;  // OnStat calls so far
    };
    // Each read follows the ones before on the same connection.
    const std::vector<Step> steps = {
        {"status10status20", 20, 10, 0}, {"status", 20, 10, 0},
        {"status30status", 30, 15, 0},  // a count followed by the next report
        {"xxstatus1", 30, 15, 0},       // lower: position kept, percentage recomputed
        {"status3x", 30, 15, 0},        // not a number
        {"status 40", 30, 15, 0},        {"status2147483648", 30, 15, 0},  // more than the file
        {"statustatus5", 30, 15, 0},  // "tatus5" follows the first one: not a number
        {"status-7", 30, 15, 0},         {"status200", 200, 100, 1},
        {"status150", 200, 100, 2},  // lower, still complete: reported again
        {"status201", 200, 100, 2},  // more than was offered: not believed
    };
    for (const Step& s : steps) {
        Send(s.message);
        SCOPED_TRACE(s.message);
        EXPECT_EQ(transfer->Position(), s.position);
        EXPECT_EQ(transfer->Percent(), s.percent);
        EXPECT_EQ(stats.size(), s.stats);
    }
    EXPECT_EQ(stats.back(), (Stat{100, "", "", 200, 200}));
}

TEST_F(TransferTest, ACountIsBelievedOnlyUpToTheOfferedSizeAndTheBytesSent) {
    constexpr int kSize = 1 << 20;
    fake.files[kPath] = std::string(kSize, 'x');
    Send("request file:bob");
    net.sendPlan = {FakeNet::Take(4096), FakeNet::Block()};
    Send("ok sendfile");
    const struct {
        const char* message;
        std::int64_t position;
    } steps[] = {
        {"status999999999", 0},             // more than the file: not believed at all
        {"status99999999999999999999", 0},  // more digits than any size
        {"status1048576", 4096},            // the whole file, but only one piece went out
        {"status2000", 4096},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.message);
        Send(step.message);
        EXPECT_EQ(transfer->Position(), step.position);
    }
    EXPECT_TRUE(stats.empty()) << "no complete report";
    fake.Advance(1000);
    EXPECT_EQ(stats.back().pos, 0);
    // The rest goes out; the same count is now believed.
    net.MakeWritable(peer);
    net.RunUntilIdle();
    Send("status1048576");
    EXPECT_EQ(stats.back(), (Stat{100, "1", "", kSize, kSize}));

    // A second pass: what was reported of the first moves nothing, before or after a report.
    net.sendPlan = {FakeNet::Block()};
    Send("ok sendfile");
    fake.Advance(1000);
    EXPECT_EQ(stats.back(), (Stat{0, "1", "", 0, 0}));
    Send("status1048576");  // late, from the first pass: nothing of this one has gone out
    EXPECT_EQ(transfer->Position(), 0);
    EXPECT_EQ(transfer->Percent(), 0);
    transfer->EndTransfer();
}

TEST_F(TransferTest, AFileOfMoreThanFourGibibytesCompletes) {
    constexpr std::int64_t kSize = 5LL << 30;
    fake.bigFiles[kPath] = kSize;
    Send("request file:bob");
    EXPECT_EQ(Sent(), "request sendfile:5368709120-song.mp3");
    net.sendPlan = {FakeNet::Take(4096), FakeNet::Block()};
    Send("ok sendfile");
    Send("status4096");
    EXPECT_EQ(transfer->Position(), 4096);
    // All but the last piece went out (not through this test's memory).
    ASSERT_NE(fake.bigStream, nullptr);
    fake.bigStream->SetPosition(kSize - 4096);
    net.MakeWritable(peer);
    net.RunUntilIdle();
    Send("status3000000000");
    EXPECT_EQ(transfer->Position(), 3000000000LL);
    Send("status5368709120");
    EXPECT_EQ(stats.back(), (Stat{100, "", "", kSize, kSize}));
    EXPECT_FALSE(transfer->Timer1->Enabled());
    transfer->EndTransfer();
}

TEST_F(TransferTest, TheLastReportBeforeThePeerClosesIsStillRead) {
    // A peer that reports often sends more than one read takes, the last report last, and
    // closes at once: the reports are cut across reads, and the last one waits behind the close.
    constexpr int kSize = 10000;
    fake.files[kPath] = std::string(kSize, 'x');
    Send("request file:bob");
    Send("ok sendfile");
    std::string reports;
    for (int count = 1; count <= kSize; count += 7)
        reports += "status" + std::to_string(count);
    reports += "status" + std::to_string(kSize);
    ASSERT_GT(reports.size(), 2u * kMaxMessageBytes);
    net.PeerSend(peer, reports);
    net.PeerClose(peer);
    net.RunUntilIdle();
    ASSERT_FALSE(stats.empty());
    EXPECT_EQ(stats.back(), (Stat{100, "", "", kSize, kSize}));
    EXPECT_EQ(log.back(), "close");
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, ThePercentageRoundsHalfToEven) {
    struct Case {
        std::int64_t position, size, percent;
    };
    for (const Case& c : std::vector<Case>{{1, 200, 0},
                                           {3, 200, 2},
                                           {5, 200, 2},
                                           {1, 8, 12},
                                           {3, 8, 38},
                                           {2, 3, 67},
                                           {0, 0, 100},
                                           {2147483647, 2147483647, 100},
                                           {2147483647, 4294967296LL, 50}})
        EXPECT_EQ(PercentOf(c.position, c.size), c.percent) << c.position << "/" << c.size;
}

TEST_F(TransferTest, TheTimerReportsSecondsAndASpeedSampledAfterMoreThanTwoSeconds) {
    fake.files[kPath] = std::string(8 << 20, 'x');
    Send("request file:bob");
    Send("ok sendfile");
    fake.Advance(1000);
    EXPECT_EQ(stats.back(), (Stat{0, "1", "", 0, 0}));
    Send("status1048576");
    fake.Advance(1000);
    EXPECT_EQ(stats.back(), (Stat{12, "2", "", 1048576, 8 << 20}));
    Send("status3145728");
    fake.Advance(1000);  // 3 s: 3 MiB in 3 s = 8192 Kbit/s
    EXPECT_EQ(stats.back(), (Stat{38, "3", "8,192.00 Kbit/s", 3145728, 8 << 20}));
    fake.decimal = ",";
    fake.thousands = ".";
    Send("status4194304");
    fake.Advance(1500, 1500);  // 1 MiB in 1.5 s; no sample yet (not more than 2 s)
    EXPECT_EQ(stats.back().time, "1,5");
    EXPECT_EQ(stats.back().speed, "8,192.00 Kbit/s") << "the text of the last sample";
    fake.Advance(1000);  // 2.5 s since the sample: 1 MiB / 2.5 s
    EXPECT_EQ(stats.back().time, "2,5");
    EXPECT_EQ(stats.back().speed, "3.276,80 Kbit/s");
    EXPECT_EQ(stats.size(), 5u);
    transfer->EndTransfer();
}

TEST_F(TransferTest, TheSpeedKeepsBeingSampledAcrossTheTickCountersWrap) {
    fake.tick = 0xFFFFF000u;
    fake.files[kPath] = std::string(1 << 20, 'x');
    Send("request file:bob");
    Send("ok sendfile");
    for (int second = 1; second <= 12; ++second) {
        Send("status" + std::to_string(second * 1024));
        fake.Advance(1000);
    }
    // The counter wrapped after 4.1 s; samples still come every third second (1 KiB/s).
    EXPECT_LT(fake.tick, 0x10000u);
    EXPECT_EQ(static_cast<std::uint32_t>(transfer->SampleTick()), fake.tick);
    EXPECT_EQ(stats.back().time, "3");
    EXPECT_EQ(stats.back().speed, "8.00 Kbit/s");
    transfer->EndTransfer();
}

TEST_F(TransferTest, EveryMessageSplitOverTwoReadsIsUnderstood) {
    // What one message split at `at` does: the number of questions, the offer, whether the
    // stream went out, the position and whether the transfer ended.
    struct Outcome {
        int asked = 0;
        bool offered = false, streamed = false, ended = false;
        std::int64_t position = 0;
        bool operator==(const Outcome&) const = default;
    };
    struct Case {
        std::string message;
        int setup;  // 0 fresh, 1 confirmed, 2 streaming
        std::function<Outcome(std::size_t at)> expected;
    };
    const std::string request = "request file:bob";
    const std::vector<Case> cases = {
        {request, 0,
         [](std::size_t) {
             return Outcome{1, true, false, false, 0};
         }},
        {"ok sendfile", 1,
         [](std::size_t) {
             return Outcome{1, true, true, false, 0};
         }},
        {"fuck off", 1,
         [](std::size_t) {
             return Outcome{1, true, false, true, 0};
         }},
        {"status5", 2,
         [](std::size_t) {
             return Outcome{1, true, true, false, 5};
         }},
    };
    for (const Case& c : cases) {
        for (std::size_t at = 1; at < c.message.size(); ++at) {
            SCOPED_TRACE(c.message + " split at " + std::to_string(at));
            if (!transfer) {
                peer = net.PeerConnect(1000);
                net.RunUntilIdle();
            }
            log.clear();
            if (c.setup >= 1)
                Send("request file:bob");
            if (c.setup >= 2)
                Send("ok sendfile");
            Send(c.message.substr(0, at));
            Send(c.message.substr(at));
            Outcome got;
            for (const std::string& line : log)
                got.asked += line.rfind("ask", 0) == 0 ? 1 : 0;
            got.offered = Sent().rfind(kOffer5, 0) == 0;
            got.streamed = Sent().find("hello") != std::string::npos;
            got.ended = transfer == nullptr;
            got.position = transfer ? transfer->Position() : 0;
            EXPECT_EQ(got, c.expected(at));
            if (c.message == request) {
                // Up to the name's start the whole name comes; a name that is cut itself is
                // taken as far as it came (the rest is no message of a confirmed peer).
                EXPECT_EQ(transfer ? transfer->UserName() : "",
                          at <= 13 ? "bob" : request.substr(13, at - 13));
            }
            if (transfer)
                transfer->EndTransfer();
            EXPECT_TRUE(Ended());
        }
    }
}

// ---- sound behaviour where the plain rules would fail ------------------------------------------

TEST_F(TransferTest, APeerThatClosesDuringTheQuestionEndsTheTransferOnlyAfterTheAnswer) {
    // The question runs a nested message loop in which the close arrives; then "Yes".
    confirm = [this](TBrenloFileServer* sender, const std::string&) {
        net.PeerClose(peer);
        net.RunUntilIdle();
        EXPECT_EQ(transfer, sender) << "ended under the open question";
        EXPECT_TRUE(sender->Asking());
        log.push_back("answer");
        return true;
    };
    Send("request file:bob");
    EXPECT_EQ(log, (std::vector<std::string>{"ask bob", "answer", "close"}));
    EXPECT_EQ(Sent(), "") << "no offer to a closed connection";
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, MessagesDuringTheQuestionNeverRaiseASecondQuestion) {
    for (const char* during : {"request file:again", "ok sendfile", "fuck off"}) {
        SCOPED_TRACE(during);
        if (!transfer) {
            peer = net.PeerConnect(1000);
            net.RunUntilIdle();
        }
        log.clear();
        bool nested = false;
        confirm = [this, during, &nested](TBrenloFileServer*, const std::string&) {
            if (!nested) {
                nested = true;
                Send(during);
            }
            log.push_back("answer");
            return true;
        };
        Send("request file:bob");
        EXPECT_EQ(log, (std::vector<std::string>{"ask bob", "answer", "close"}));
        EXPECT_EQ(Sent(), "connectionrefused");
        EXPECT_TRUE(Ended());
    }
}

TEST_F(TransferTest, TheOfferedFileIsStreamedThoughTheFileChangesAfterTheOffer) {
    // The file held since the offer is sent, whatever happens to the path meanwhile; a further
    // pass, which opens it again, needs the offered size.
    const struct {
        const char* what;
        std::function<void()> change;
    } changes[] = {
        {"rewritten", [this] { fake.files[kPath] = "HELLO"; }},
        {"shrunk", [this] { fake.files[kPath] = "he"; }},
        {"removed", [this] { fake.files.erase(kPath); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        fake.files[kPath] = "hello";
        if (!transfer) {
            peer = net.PeerConnect(1000);
            net.RunUntilIdle();
        }
        stats.clear();
        Confirmed();
        Send("status5");  // before the stream: nothing to measure it against
        EXPECT_TRUE(stats.empty());
        c.change();
        Send("ok sendfile");
        EXPECT_EQ(Sent(), std::string(kOffer5) + "hello");
        Send("status5");
        EXPECT_EQ(stats, (std::vector<Stat>{{100, "", "", 5, 5}}));
        Send("ok sendfile");
        const bool sameSize = fake.files.count(kPath) != 0 && fake.files[kPath].size() == 5;
        EXPECT_EQ(Sent(), std::string(kOffer5) + "hello" +
                              (sameSize ? fake.files[kPath] : std::string(kConnectionRefused)));
        EXPECT_EQ(Ended(), !sameSize);
        if (transfer)
            transfer->EndTransfer();
    }
}

TEST_F(TransferTest, AnEmptyFileIsNotOfferedAndTheConnectionCloses) {
    fake.files[kPath] = "";
    Send("request file:bob");
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(log, (std::vector<std::string>{"ask bob", "close"}));
    EXPECT_FALSE(net.IsOpen(peer));
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, AFileThatCannotBeOpenedIsRefusedWithoutABox) {
    // For the offer, and for a second pass. TearDown checks that nothing was shown.
    fake.files.clear();
    Send("request file:bob");
    EXPECT_EQ(Sent(), "connectionrefused");
    EXPECT_TRUE(Ended());

    fake.files[kPath] = "hello";
    peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    Streaming();
    fake.files.clear();
    Send("ok sendfile");  // a second pass opens the file again
    EXPECT_EQ(Sent(), std::string(kOffer5) + "hello" + "connectionrefused");
    EXPECT_TRUE(Ended());
    EXPECT_FALSE(net.IsOpen(peer));
}

TEST_F(TransferTest, ASecondOkWhileStreamingNeitherLeaksNorCorruptsTheStream) {
    fake.files[kPath] = std::string(10000, 'a') + std::string(10000, 'b');
    Send("request file:bob");
    net.sendPlan = {FakeNet::Take(4096), FakeNet::Block()};
    Send("ok sendfile");
    EXPECT_EQ(fake.openStreams, 1);
    const int opens = fake.opens;
    Send("status4096");
    Send("ok sendfile");
    EXPECT_EQ(fake.opens, opens) << "the file was opened again";
    EXPECT_EQ(fake.openStreams, 1);
    EXPECT_EQ(transfer->Position(), 4096) << "counters were reset";
    net.MakeWritable(peer);
    net.RunUntilIdle();
    const std::string offer = "request sendfile:20000-song.mp3";
    EXPECT_EQ(Sent(), offer + fake.files[kPath]);
    EXPECT_EQ(fake.openStreams, 0);
    // Once the stream is through, another "ok sendfile" sends the whole file again.
    Send("status20000");
    Send("ok sendfile");
    EXPECT_EQ(Sent(), offer + fake.files[kPath] + fake.files[kPath]);
    EXPECT_EQ(transfer->Position(), 0);
    EXPECT_TRUE(transfer->Timer1->Enabled());
    transfer->EndTransfer();
}

TEST_F(TransferTest, APeerThatResetsAtAnyStepEndsItsTransfer) {
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        if (!transfer) {
            peer = net.PeerConnect(1000);
            net.RunUntilIdle();
        }
        log.clear();
        if (step >= 1)
            Send("request file:bob");
        if (step == 2)
            net.sendPlan = {FakeNet::Take(2), FakeNet::Block()};  // stream pending
        if (step >= 2)
            Send("ok sendfile");
        if (step == 3)
            Send("status5");
        net.PeerClose(peer, kWsaEConnReset);
        net.RunUntilIdle();
        EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 1);
        EXPECT_TRUE(Ended()) << "the timer or the object stayed";
        EXPECT_FALSE(net.IsOpen(peer)) << "the connection stayed open";
    }
    EXPECT_EQ(fake.openStreams, 0);
}

TEST_F(TransferTest, AFailingSendEndsTheTransferSilently) {
    Confirmed();
    net.sendPlan = {FakeNet::Fail(kWsaEConnReset)};
    Send("ok sendfile");
    EXPECT_EQ(log.back(), "close");
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, ClosingTheListenerEndsEveryTransferItHeld) {
    // The listener frees its connections without a word; each transfer still ends once.
    Streaming();
    peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    TBrenloFileServer* second = transfer;
    ASSERT_NE(second, nullptr);
    Send("request file:ann");
    server->SetActive(false);
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 2);
    EXPECT_EQ(fake.LiveTimers(), 0);
}

TEST_F(TransferTest, EndingTheTransferFromItsOwnEventsIsSafe) {
    // The owner ends the transfer from inside the events it receives.
    transfer->OnStat = [](TBrenloFileServer* sender, std::int32_t, const std::string&,
                          const std::string&, std::int64_t,
                          std::int64_t) { sender->EndTransfer(); };
    Streaming();
    fake.Advance(1000);
    EXPECT_TRUE(Ended());
    EXPECT_EQ(log.back(), "close");
}

TEST(TransferText, NumbersAreFormattedForTheUser) {
    EXPECT_EQ(FormatGeneral(1.5, "."), "1.5");
    EXPECT_EQ(FormatGeneral(2, ","), "2");
    EXPECT_EQ(FormatGeneral(-0.001, ","), "-0,001");
    EXPECT_EQ(FormatGeneral(2147483.647, "."), "2147483.647");
    EXPECT_EQ(FormatThousands2(0, ".", ","), "0.00");
    EXPECT_EQ(FormatThousands2(999.999, ".", ","), "1,000.00");
    EXPECT_EQ(FormatThousands2(1234567.891, ",", "."), "1.234.567,89");
    EXPECT_EQ(FormatThousands2(123456.5, ".", ""), "123456.50");
}

}  // namespace

TEST_F(TransferTest, AMessageIsNeverTakenWholerThanTheBound) {
    // A request with a huge name is asked about with the first piece only; the rest follows as
    // further messages, which break the exchange while the question is open.
    confirm = [this](TBrenloFileServer*, const std::string&) {
        net.RunUntilIdle();
        return true;
    };
    Send("request file:" + std::string(3 * kMaxMessageBytes, 'A'));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "ask " + std::string(kMaxMessageBytes - 13, 'A'));
    EXPECT_EQ(Sent(), kConnectionRefused);
    EXPECT_TRUE(Ended());
}

TEST_F(TransferTest, ADeferredRequestWaitsSilentlyForTheAnswer) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        if (!transfer) {
            peer = net.PeerConnect(1000);
            net.RunUntilIdle();
        }
        std::vector<std::string> handed;
        transfer->OnRequest = [&](TBrenloFileServer*, const std::string& name) {
            handed.push_back(name);
        };
        Send("request file:bob");
        EXPECT_EQ(handed, std::vector<std::string>{"bob"});
        EXPECT_TRUE(transfer->Asking());
        EXPECT_TRUE(transfer->Requested());
        EXPECT_EQ(Sent(), "") << "the peer hears nothing until the answer";
        EXPECT_TRUE(std::find(log.begin(), log.end(), "ask bob") == log.end());
        transfer->Answer(yes);
        EXPECT_EQ(Sent(), yes ? std::string(kOffer5) : std::string(kConnectionRefused));
        if (yes) {
            transfer->Answer(false);  // a second answer changes nothing
            Send("ok sendfile");
            EXPECT_EQ(Sent(), std::string(kOffer5) + "hello");
            EXPECT_EQ(transfer->BytesRead(), 5);
            net.PeerClose(peer);
            net.RunUntilIdle();
        }
        EXPECT_TRUE(Ended());
    }
}
