// The asynchronous socket on the in-memory network: stream sending, direct sends and receives,
// error hooks, closing and deferred freeing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/app_error.h"
#include "fake_net.h"
#include "net/BrenloScktComp.h"

namespace {

class TrackedStream : public TMemoryStream {
  public:
    TrackedStream(std::string data, bool* released)
        : TMemoryStream(std::move(data)), released_(released) {}
    ~TrackedStream() override { *released_ = true; }

  private:
    bool* released_;
};

std::string Pattern(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    return data;
}

const char* KindName(TNetEventKind kind) {
    static const char* const names[] = {"lookup", "connect", "disconnect", "listen",
                                        "accept", "write",   "read"};
    return names[kind];
}

class SocketTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& message) { shown.push_back(message); });
    }
    void TearDown() override {
        SetErrorDisplay(nullptr);
        EXPECT_EQ(net.StartupBalance(), 0) << "a socket object was leaked";
    }

    // A connection accepted from a peer, as a handle the socket object can take over.
    TSocketHandle ConnectedHandle() {
        const TSocketHandle listener = net.Socket();
        TSockAddrIn address;
        address.port = NetHtons(40000);
        net.Bind(listener, address);
        net.Listen(listener, 5);
        const TSocketHandle handle = net.PeerConnect(40000);
        net.Accept(listener, nullptr);
        net.CloseSocket(listener);
        return handle;
    }

    // A connected socket object with recording hooks; the write notification of the
    // establishment has been handled already.
    std::unique_ptr<TServerClientWinSocket> Connected(TSocketHandle* handle,
                                                      bool clearErrors = false) {
        *handle = ConnectedHandle();
        auto socket = std::make_unique<TServerClientWinSocket>(*handle, nullptr);
        socket->OnNetEvent = [this](TObject*, TCustomWinSocket*, TNetEventKind kind) {
            events.push_back(KindName(kind));
        };
        socket->OnNetError = [this, clearErrors](TObject*, TCustomWinSocket*, TErrorEvent origin,
                                                 int& code) {
            errors.push_back({origin, code});
            if (clearErrors)
                code = 0;
        };
        net.RunUntilIdle();
        events.clear();
        return socket;
    }

    // Lets the connection take data until the stream is gone (bounded).
    void DrainStream(TCustomWinSocket& socket, TSocketHandle handle) {
        for (int round = 0; round < 200000 && socket.StreamPending(); ++round) {
            net.MakeWritable(handle);
            net.RunUntilIdle();
        }
    }

    FakeNet net;
    std::vector<std::string> shown;
    std::vector<std::string> events;
    std::vector<std::pair<TErrorEvent, int>> errors;
};

TEST_F(SocketTest, RandomPartialSendsAndWouldBlocksDeliverEveryByteOnceInOrder) {
    for (unsigned seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const std::string data = Pattern(1 + rng() % 70000, seed);
        net.sendPolicy = [&rng](int count) {
            switch (rng() % 4) {
                case 0:
                    return FakeNet::Block();
                case 1:
                    return FakeNet::Take(1 + static_cast<int>(rng() % count));
                default:
                    return FakeNet::Take(-1);
            }
        };
        TSocketHandle handle;
        auto socket = Connected(&handle);
        bool released = false;
        std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>(data, &released);
        EXPECT_TRUE(socket->SendFromStream(std::move(stream)));
        DrainStream(*socket, handle);
        EXPECT_TRUE(released);
        EXPECT_EQ(net.Sent(handle), data);
        EXPECT_EQ(events, std::vector<std::string>{}) << "a write ended a stream with neWrite";
        net.sendPolicy = nullptr;
    }
}

TEST_F(SocketTest, AStreamThatNeverBlocksStillLetsTheMessageLoopRunBetweenSlices) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    net.sendPolicy = [](int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return FakeNet::Take(-1);
    };
    const std::string data = Pattern(50 * 4096, 6);
    EXPECT_TRUE(socket->SendFromStream(std::make_unique<TMemoryStream>(data)));
    EXPECT_TRUE(socket->StreamPending()) << "the whole stream went out inside one call";
    EXPECT_LT(net.Sent(handle).size(), data.size());
    const int messages = net.RunUntilIdle();
    EXPECT_GE(messages, 2);
    EXPECT_FALSE(socket->StreamPending());
    EXPECT_EQ(net.Sent(handle), data);
    EXPECT_EQ(events, std::vector<std::string>{}) << "a continuation raised neWrite";
}

TEST_F(SocketTest, AStreamWhoseContinuationCannotBePostedGoesOnInsteadOfStalling) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    net.sendPolicy = [](int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return FakeNet::Take(-1);
    };
    net.FailPosts(MSG_CONTINUE_STREAM, 1);  // the thread's queue is full at the first slice end
    const std::string data = Pattern(50 * 4096, 7);
    EXPECT_TRUE(socket->SendFromStream(std::make_unique<TMemoryStream>(data)));
    net.RunUntilIdle();
    EXPECT_FALSE(socket->StreamPending()) << "the stream stalled";
    EXPECT_TRUE(net.Sent(handle) == data)
        << net.Sent(handle).size() << " of " << data.size() << " bytes sent";
}

TEST_F(SocketTest, AnEmptyStreamIsReleasedAtOnce) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    bool released = false;
    std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>("", &released);
    EXPECT_TRUE(socket->SendFromStream(std::move(stream)));
    EXPECT_TRUE(released);
    EXPECT_FALSE(socket->StreamPending());
}

TEST_F(SocketTest, ASecondStreamWhileOneIsPendingIsRefusedAndLeftWithTheCaller) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    net.sendPlan = {FakeNet::Take(100), FakeNet::Block()};
    const std::string first = Pattern(10000, 1);
    EXPECT_TRUE(socket->SendFromStream(std::make_unique<TMemoryStream>(first)));
    ASSERT_TRUE(socket->StreamPending());

    bool released = false;
    std::unique_ptr<TStream> second = std::make_unique<TrackedStream>("second", &released);
    EXPECT_FALSE(socket->SendFromStream(std::move(second)));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(released);

    DrainStream(*socket, handle);
    EXPECT_EQ(net.Sent(handle), first);
}

TEST_F(SocketTest, WriteNotificationsRaiseNeWriteOnlyWhenNoStreamWasPending) {
    TSocketHandle handle = ConnectedHandle();
    TServerClientWinSocket socket(handle, nullptr);
    socket.OnNetEvent = [this](TObject*, TCustomWinSocket*, TNetEventKind kind) {
        events.push_back(KindName(kind));
    };
    net.RunUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"write"}) << "establishment";

    events.clear();
    net.sendPlan = {FakeNet::Take(10), FakeNet::Block()};
    socket.SendFromStream(std::make_unique<TMemoryStream>(Pattern(9000, 2)));
    DrainStream(socket, handle);
    EXPECT_EQ(events, std::vector<std::string>{}) << "the write that finished the stream";

    net.sendPlan = {FakeNet::Block()};
    EXPECT_EQ(socket.SendString("direct"), -1);
    net.MakeWritable(handle);
    net.RunUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"write"});
    EXPECT_EQ(socket.SendString("direct"), 6);
}

TEST_F(SocketTest, ClosingWhileSendingReleasesTheStreamWithoutSendingTheRest) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    net.sendPlan = {FakeNet::Take(-1), FakeNet::Block()};
    bool released = false;
    std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>(Pattern(20000, 3), &released);
    socket->SendFromStream(std::move(stream));
    socket->CloseConnection();
    EXPECT_TRUE(released);
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
    EXPECT_FALSE(net.IsOpen(handle));
}

TEST_F(SocketTest, AFailedPieceClosesSilentlyAndReleasesTheStream) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    net.sendPlan = {FakeNet::Take(-1), FakeNet::Block()};
    bool released = false;
    std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>(Pattern(20000, 4), &released);
    socket->SendFromStream(std::move(stream));
    net.sendPlan = {FakeNet::Fail(kWsaEConnReset)};
    net.MakeWritable(handle);
    net.RunUntilIdle();

    EXPECT_TRUE(released);
    EXPECT_FALSE(socket->IsConnected());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], std::make_pair(eeSend, kWsaEConnReset));
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
    EXPECT_EQ(shown, std::vector<std::string>{}) << "the silent abort is dropped";

    // Called directly, the abort reaches the caller.
    TSocketHandle other;
    auto second = Connected(&other);
    net.sendPlan = {FakeNet::Fail(kWsaEConnReset)};
    EXPECT_THROW(second->SendFromStream(std::make_unique<TMemoryStream>("abc")), EAbort);
    EXPECT_FALSE(second->StreamPending());
}

// A source that fails after `goodBytes`: by raising, or by returning 0 before its size.
class FailingStream : public TMemoryStream {
  public:
    FailingStream(std::string data, std::int64_t goodBytes, bool raise)
        : TMemoryStream(std::move(data)), goodBytes_(goodBytes), raise_(raise) {}
    int Read(void* buffer, int count) override {
        if (Position() >= goodBytes_) {
            if (raise_)
                throw EBrenloError("Die Datei kann nicht gelesen werden (Fehler 33).");
            return 0;
        }
        count = static_cast<int>(std::min<std::int64_t>(count, goodBytes_ - Position()));
        return TMemoryStream::Read(buffer, count);
    }

  private:
    std::int64_t goodBytes_;
    bool raise_;
};

TEST_F(SocketTest, ASourceFailingMidStreamClosesTheConnectionInsteadOfEndingTheStream) {
    for (bool raise : {true, false}) {
        SCOPED_TRACE(raise ? "read raises" : "read returns 0 early");
        TSocketHandle handle;
        auto socket = Connected(&handle);
        const std::string data = Pattern(50000, 9);
        int taken = 0;
        bool blocked = false;
        net.sendPolicy = [&](int count) {
            if (taken == 2 * 4096 && !blocked) {
                blocked = true;  // once in the middle, so that the failure comes on a later write
                return FakeNet::Block();
            }
            taken += count;
            return FakeNet::Take(-1);
        };
        socket->SendFromStream(std::make_unique<FailingStream>(data, 3 * 4096, raise));
        DrainStream(*socket, handle);
        net.sendPolicy = nullptr;

        EXPECT_EQ(taken, 3 * 4096) << "everything read before the failure goes out";
        EXPECT_FALSE(socket->StreamPending());
        EXPECT_FALSE(socket->IsConnected()) << "the peer must see the connection end";
        EXPECT_FALSE(net.IsOpen(handle));
        EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
        EXPECT_EQ(shown, std::vector<std::string>{}) << "a failing transfer simply closes";
        events.clear();
    }
}

TEST_F(SocketTest, AStreamHandedToASocketThatNeverConnectsIsReleasedWithTheSocket) {
    bool released = false;
    {
        TCustomWinSocket socket(kInvalidSocket);
        std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>("data", &released);
        EXPECT_FALSE(socket.SendFromStream(std::move(stream)));
        EXPECT_EQ(stream, nullptr) << "taken although nothing was sent";
        EXPECT_TRUE(socket.StreamPending());
        EXPECT_FALSE(released);
    }
    EXPECT_TRUE(released);
}

struct FailedCall {
    const char* api;
    bool clearCode;
};

class SocketFailureTest : public SocketTest, public testing::WithParamInterface<FailedCall> {};

TEST_P(SocketFailureTest, AFailedSendOrReceiveClosesAndRaisesUnlessTheHookClearsTheCode) {
    const FailedCall call = GetParam();
    TSocketHandle handle;
    auto socket = Connected(&handle, call.clearCode);
    const std::string api = call.api;
    auto run = [&] {
        if (api == "send") {
            net.sendPlan = {FakeNet::Fail(kWsaEConnReset)};
            EXPECT_EQ(socket->SendString("hello"), -1);
        } else {
            net.FailNext("recv", kWsaEConnReset);
            EXPECT_EQ(socket->ReceiveString(), "");
        }
    };
    if (call.clearCode) {
        EXPECT_NO_THROW(run());
    } else {
        try {
            run();
            ADD_FAILURE() << "no exception";
        } catch (const ESocketError& e) {
            EXPECT_STREQ(
                e.what(),
                ("Windows-Socket-Fehler: Testfehler 10054 (10054), auf API '" + api + "'").c_str());
        }
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, api == "send" ? eeSend : eeReceive);
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_FALSE(net.IsOpen(handle));
}

INSTANTIATE_TEST_SUITE_P(Calls, SocketFailureTest,
                         testing::Values(FailedCall{"send", true}, FailedCall{"send", false},
                                         FailedCall{"recv", true}, FailedCall{"recv", false}));

TEST_F(SocketTest, AnAbortiveCloseGoesToTheErrorHookAndLeavesTheSocketOpen) {
    for (bool clear : {true, false}) {
        SCOPED_TRACE(clear);
        shown.clear();
        errors.clear();
        TSocketHandle handle;
        auto socket = Connected(&handle, clear);
        net.PeerClose(handle, kWsaEConnReset);
        net.RunUntilIdle();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], std::make_pair(eeDisconnect, kWsaEConnReset));
        EXPECT_TRUE(socket->IsConnected());
        EXPECT_TRUE(net.IsOpen(handle));
        EXPECT_EQ(events, std::vector<std::string>{});
        EXPECT_EQ(shown, clear ? std::vector<std::string>{}
                               : std::vector<std::string>{"Asynchroner Socket-Fehler 10054"});
    }
}

TEST_F(SocketTest, AnAbortiveCloseDuringAStreamEndsTheStreamThroughTheFailingSend) {
    TSocketHandle handle;
    auto socket = Connected(&handle, true);
    net.sendPlan = {FakeNet::Take(-1), FakeNet::Block()};
    bool released = false;
    std::unique_ptr<TStream> stream = std::make_unique<TrackedStream>(Pattern(20000, 5), &released);
    socket->SendFromStream(std::move(stream));
    net.sendPlan = {FakeNet::Fail(kWsaEConnReset)};
    net.PeerClose(handle, kWsaEConnReset);
    net.RunUntilIdle();
    EXPECT_TRUE(released);
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
    EXPECT_EQ(shown, std::vector<std::string>{});
}

TEST_F(SocketTest, AnOrderlyCloseRaisesNeDisconnectOnceWhileTheHandleIsStillOpen) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    bool openDuringHook = false;
    socket->OnNetEvent = [&](TObject*, TCustomWinSocket* s, TNetEventKind kind) {
        events.push_back(KindName(kind));
        if (kind == neDisconnect)
            openDuringHook = net.IsOpen(s->SocketHandle());
    };
    net.PeerClose(handle);
    net.PeerClose(handle);
    net.RunUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
    EXPECT_TRUE(openDuringHook);
    EXPECT_FALSE(net.IsOpen(handle));
}

TEST_F(SocketTest, ReadsDeliverWhatArrivedAndNothingWhenNothingIsPending) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    std::vector<std::string> received;
    socket->OnNetEvent = [&](TObject*, TCustomWinSocket* s, TNetEventKind kind) {
        if (kind == neRead)
            received.push_back(s->ReceiveString());
    };
    EXPECT_EQ(socket->ReceiveString(), "");
    net.PeerSend(handle, "request file:");
    net.PeerSend(handle, "Alice");
    net.RunUntilIdle();
    EXPECT_EQ(received, std::vector<std::string>{"request file:Alice"});
    EXPECT_EQ(socket->ReceiveBytes(nullptr, -1), 0);
}

TEST_F(SocketTest, ANotificationForAnotherHandleRaisesNothing) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    TSocketHandle other = ConnectedHandle();
    auto window = socket->NotifyWindow();
    net.PostNotify(window, MSG_SOCKET_EVENT, other, kFdRead);
    net.PostNotify(window, MSG_SOCKET_EVENT, other, kFdWrite);
    net.RunUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{});
    net.CloseSocket(other);
}

class FreeProbe : public TServerClientWinSocket {
  public:
    FreeProbe(TSocketHandle handle, int* frees)
        : TServerClientWinSocket(handle, nullptr), frees_(frees) {}
    ~FreeProbe() override { ++*frees_; }

  private:
    int* frees_;
};

TEST_F(SocketTest, DeferredFreeHappensOnceAndNothingReachesAFreedSocket) {
    int frees = 0;
    auto* later = new FreeProbe(ConnectedHandle(), &frees);
    later->FreeLater();
    EXPECT_EQ(frees, 0);
    net.RunUntilIdle();
    EXPECT_EQ(frees, 1);

    // Freed directly while its deferred free and a read are still queued.
    const TSocketHandle handle = ConnectedHandle();
    auto* direct = new FreeProbe(handle, &frees);
    direct->OnNetEvent = [](TObject*, TCustomWinSocket*, TNetEventKind) {
        ADD_FAILURE() << "notification reached a freed socket";
    };
    net.PeerSend(handle, "late");
    direct->FreeLater();
    delete direct;
    EXPECT_EQ(net.QueuedMessages(), 0);
    net.RunUntilIdle();
    EXPECT_EQ(frees, 2);
    EXPECT_EQ(net.Windows(), 0);
    EXPECT_EQ(net.OpenSockets(), 0);

    // Without a window there is nothing to post to.
    TCustomWinSocket windowless(kInvalidSocket);
    windowless.FreeLater();
    EXPECT_EQ(net.QueuedMessages(), 0);
}

TEST_F(SocketTest, AnExceptionFromAHookIsShownAndTheSocketKeepsWorking) {
    TSocketHandle handle;
    auto socket = Connected(&handle);
    socket->OnNetEvent = [](TObject*, TCustomWinSocket*, TNetEventKind kind) {
        if (kind == neRead)
            throw EBrenloError("kaputt");
    };
    net.PeerSend(handle, "x");
    net.RunUntilIdle();
    EXPECT_EQ(shown, std::vector<std::string>{"kaputt"});
    EXPECT_EQ(socket->ReceiveString(), "x");
}

TEST_F(SocketTest, StartupFailureIsReportedWithTheApiName) {
    net.FailNext("startup", 10091);
    try {
        TCustomWinSocket socket(kInvalidSocket);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(),
                     "Windows-Socket-Fehler: Testfehler 10091 (10091), auf API 'WSAStartup'");
    }
}

}  // namespace
