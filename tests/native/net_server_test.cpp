// The server socket on the in-memory network: opening and closing the listener, accepting,
// relaying connection events, replaced hooks, the service lookup and the client-thread cache.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "fake_net.h"
#include "net/BrenloScktComp.h"

namespace {

const char kCannotChange[] = "Wert kann nicht ge\xe4ndert werden, w\xe4hrend der Socket aktiv ist";

class ServerTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& message) { shown.push_back(message); });
    }
    void TearDown() override {
        server.reset();
        SetErrorDisplay(nullptr);
        EXPECT_EQ(net.StartupBalance(), 0);
        EXPECT_EQ(net.Windows(), 0);
    }

    void Open(int port) {
        server->SetPort(port);
        server->SetActive(true);
        ASSERT_TRUE(server->Active());
    }

    FakeNet net;
    std::unique_ptr<TServerSocket> server = std::make_unique<TServerSocket>();
    std::vector<std::string> shown;
    std::vector<std::string> log;
};

TEST_F(ServerTest, ClientConnectComesBeforeAcceptAndBothBeforeTheFirstRead) {
    server->OnClientConnect() = [&](TObject* sender, TCustomWinSocket*) {
        log.push_back(sender == server->Listener() ? "connect from listener" : "connect");
    };
    server->OnAccept = [&](TObject* sender, TCustomWinSocket* socket) {
        log.push_back(sender == server.get() ? "accept from component" : "accept");
        EXPECT_EQ(socket, server->Listener()->ClientList().back());
    };
    server->OnClientRead() = [&](TObject* sender, TCustomWinSocket* socket) {
        log.push_back((sender == server->Listener() ? "read from listener: " : "read: ") +
                      socket->ReceiveString());
    };
    server->OnListen = [&](TObject* sender, TCustomWinSocket*) {
        log.push_back(sender == server.get() ? "listen from component" : "listen");
    };
    Open(1000);
    const TSocketHandle peer = net.PeerConnect(1000);
    net.PeerSend(peer, "hello");
    net.RunUntilIdle();
    EXPECT_EQ(log,
              (std::vector<std::string>{"listen from component", "connect from listener",
                                        "accept from component", "read from listener: hello"}));
}

TEST_F(ServerTest, AListenQueueAboveFiveListensWithFive) {
    for (int queue : {3, 5, 50}) {
        TServerWinSocket listener(kInvalidSocket);
        listener.OpenListener("", "", "", 2000, queue);
        EXPECT_EQ(net.Backlog(listener.SocketHandle()), std::min(queue, 5));
    }
}

TEST_F(ServerTest, APortAboveTheSixteenBitRangeListensOnItsLowBits) {
    Open(65536 + 1000);
    EXPECT_TRUE(net.ListenerOn(1000).has_value());
    EXPECT_EQ(server->Port(), 66536);
}

TEST_F(ServerTest, ATakenPortReportsTheBindErrorAndLeavesTheServerInactive) {
    const TSocketHandle other = net.Socket();
    TSockAddrIn address;
    address.port = NetHtons(1000);
    net.Bind(other, address);
    server->SetPort(1000);
    try {
        server->SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Windows-Socket-Fehler: Testfehler 10048 (10048), auf API 'bind'");
    }
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(server->Port(), 1000);
    EXPECT_EQ(net.OpenSockets(), 1) << "the failed listener's socket was not closed";

    net.CloseSocket(other);
    server->SetActive(true);
    EXPECT_TRUE(server->Active());
    EXPECT_TRUE(net.ListenerOn(1000).has_value());
}

TEST_F(ServerTest, PortServiceAndTypeCannotChangeWhileActive) {
    Open(1000);
    auto expectRefused = [](auto change) {
        try {
            change();
            ADD_FAILURE() << "no exception";
        } catch (const ESocketError& e) {
            EXPECT_STREQ(e.what(), kCannotChange);
        }
    };
    expectRefused([&] { server->SetPort(1001); });
    expectRefused([&] { server->SetService("ftp"); });
    expectRefused([&] { server->SetServerType(stThreadBlocking); });
    EXPECT_EQ(server->Port(), 1000);
    EXPECT_EQ(server->ServerType(), stNonBlocking);

    server->SetActive(true);  // same value: nothing
    server->SetActive(false);
    EXPECT_FALSE(server->Active());
    EXPECT_FALSE(net.ListenerOn(1000).has_value());
    server->SetPort(1001);
    server->SetActive(true);
    EXPECT_TRUE(net.ListenerOn(1001).has_value());
}

TEST_F(ServerTest, APeerCloseRaisesClientDisconnectWhileOpenAndFreesTheConnectionLater) {
    std::vector<TCustomWinSocket*> disconnected;
    server->OnClientDisconnect() = [&](TObject* sender, TCustomWinSocket* socket) {
        EXPECT_EQ(sender, server->Listener());
        EXPECT_TRUE(net.IsOpen(socket->SocketHandle()));
        disconnected.push_back(socket);
    };
    Open(1000);
    const TSocketHandle peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    ASSERT_EQ(server->Listener()->ClientCount(), 1);
    net.PeerClose(peer);
    net.RunUntilIdle();
    EXPECT_EQ(disconnected.size(), 1u);
    EXPECT_EQ(server->Listener()->ClientCount(), 0);
    EXPECT_EQ(net.Windows(), 1) << "only the listener's window is left";
}

TEST_F(ServerTest, AConnectionWhoseDeferredFreeCannotBePostedIsFreedAfterTheNextNotification) {
    Open(1000);
    const TSocketHandle first = net.PeerConnect(1000);
    net.RunUntilIdle();
    net.FailPosts(MSG_DEFERRED_FREE, 1);  // the thread's queue is full when the peer leaves
    net.PeerClose(first);
    net.RunUntilIdle();
    ASSERT_EQ(server->Listener()->ClientCount(), 1) << "the free was not owed at all";

    const TSocketHandle second = net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 1) << "the closed connection was never freed";
    EXPECT_EQ(net.Windows(), 2) << "the listener's window and the second connection's";
    net.PeerClose(second);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 0);
}

TEST_F(ServerTest, AConnectionWithReplacedHooksStaysListedUntilTheListenerCloses) {
    std::vector<std::string> ownHook;
    int serverDisconnects = 0;
    server->OnClientDisconnect() = [&](TObject*, TCustomWinSocket*) { ++serverDisconnects; };
    server->OnClientConnect() = [&](TObject*, TCustomWinSocket* socket) {
        socket->OnNetEvent = [&](TObject*, TCustomWinSocket*, TNetEventKind kind) {
            if (kind == neDisconnect)
                ownHook.push_back("disconnect");
        };
        socket->OnNetError = [](TObject*, TCustomWinSocket*, TErrorEvent, int& code) { code = 0; };
    };
    Open(1000);
    const TSocketHandle peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    net.PeerClose(peer);
    net.RunUntilIdle();
    EXPECT_EQ(ownHook, std::vector<std::string>{"disconnect"});
    EXPECT_EQ(serverDisconnects, 0);
    ASSERT_EQ(server->Listener()->ClientCount(), 1);
    EXPECT_FALSE(server->Listener()->ClientList()[0]->IsConnected());

    server->SetActive(false);
    EXPECT_EQ(server->Listener()->ClientCount(), 0);
    EXPECT_EQ(ownHook, std::vector<std::string>{"disconnect"});
}

TEST_F(ServerTest, DeactivatingFreesEveryConnectionWithoutDisconnectEvents) {
    std::vector<std::string> heard;
    server->OnClientDisconnect() = [&](TObject*, TCustomWinSocket*) { heard.push_back("server"); };
    bool replace = false;
    server->OnClientConnect() = [&](TObject*, TCustomWinSocket* socket) {
        if (replace)
            socket->OnNetEvent = [&](TObject*, TCustomWinSocket*, TNetEventKind kind) {
                heard.push_back(kind == neDisconnect ? "own disconnect" : "own");
            };
        replace = !replace;
    };
    Open(1000);
    for (int i = 0; i < 4; ++i)
        net.PeerConnect(1000);
    net.RunUntilIdle();
    ASSERT_EQ(server->Listener()->ClientCount(), 4);
    heard.clear();
    server->SetActive(false);
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(server->Listener()->ClientCount(), 0);
    EXPECT_EQ(heard, std::vector<std::string>{});
    EXPECT_EQ(net.OpenSockets(), 0);
    EXPECT_EQ(net.Windows(), 1);
}

TEST_F(ServerTest, AnAcceptNotificationWithAnErrorIsShownAndTheListenerStaysOpen) {
    Open(1000);
    net.PostRaw(*net.ListenerOn(1000), kFdAccept, 10055);
    net.RunUntilIdle();
    EXPECT_EQ(shown, std::vector<std::string>{"Asynchroner Socket-Fehler 10055"});
    EXPECT_TRUE(server->Active());
    net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 1);
}

TEST_F(ServerTest, AConnectionWhoseObjectCannotBeBuiltIsClosedAndReported) {
    Open(1000);
    const int openBefore = net.OpenSockets();
    net.FailNext("startup", 10091);  // the client object's own Winsock start
    const TSocketHandle peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 0);
    EXPECT_FALSE(net.IsOpen(peer)) << "the accepted handle was leaked";
    EXPECT_EQ(net.OpenSockets(), openBefore);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("WSAStartup"), std::string::npos) << shown[0];
    // The listener goes on accepting.
    net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 1);
}

TEST_F(ServerTest, AnAcceptThatFailsClosesTheAcceptedHandleExactlyOnce) {
    // Before the connection object holds the handle (its Winsock start fails), and after it
    // (the connect handler raises): either way one close, and the failure is reported.
    const struct {
        const char* how;
        bool handlerRaises;
    } cases[] = {{"the object's start fails", false}, {"the connect handler raises", true}};
    Open(1000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        shown.clear();
        server->OnClientConnect() = [&c](TObject*, TCustomWinSocket*) {
            if (c.handlerRaises)
                throw EBrenloError("kein Fenster");
        };
        if (!c.handlerRaises)
            net.FailNext("startup", 10091);
        const TSocketHandle peer = net.PeerConnect(1000);
        net.RunUntilIdle();
        EXPECT_FALSE(net.IsOpen(peer));
        EXPECT_EQ(net.Closes(peer), 1);
        EXPECT_EQ(server->Listener()->ClientCount(), 0);
        EXPECT_EQ(shown.size(), 1u);
    }
    EXPECT_EQ(net.Windows(), 1) << "only the listener's window is left";
}

TEST_F(ServerTest, AFailedOpenTypeQueryStillAcceptsSoTheListenerKeepsHearingOfPeers) {
    Open(1000);
    net.FailNext("getopentype", 10022);
    net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 1);
    net.PeerConnect(1000);
    net.RunUntilIdle();
    EXPECT_EQ(server->Listener()->ClientCount(), 2);
}

TEST_F(ServerTest, AServiceNameIsLookedUpBeforeListening) {
    server->SetService("brenlo");
    server->SetActive(true);
    EXPECT_FALSE(server->Active());
    EXPECT_TRUE(net.LookupOutstanding());
    net.CompleteLookup(4711);
    net.RunUntilIdle();
    EXPECT_TRUE(server->Active());
    EXPECT_TRUE(net.ListenerOn(4711).has_value());
    server->SetActive(false);

    // A failed lookup closes the socket and is shown.
    server->SetActive(true);
    net.CompleteLookup(0, 11004);
    net.RunUntilIdle();
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(net.OpenSockets(), 0);
    EXPECT_EQ(shown,
              std::vector<std::string>{
                  "Windows-Socket-Fehler: Testfehler 11004 (11004), auf API 'ASync Lookup'"});

    // Freeing the component while a lookup is outstanding cancels it and closes the socket.
    server->SetActive(true);
    EXPECT_TRUE(net.LookupOutstanding());
    server.reset();
    EXPECT_FALSE(net.LookupOutstanding());
    EXPECT_EQ(net.OpenSockets(), 0);
}

TEST_F(ServerTest, LoadingStoresPropertiesAndOpensOnceLoaded) {
    server->BeginLoading();
    server->SetActive(true);
    server->SetPort(1000);
    EXPECT_FALSE(net.ListenerOn(1000).has_value());
    server->Loaded();
    EXPECT_TRUE(server->Active());
    EXPECT_TRUE(net.ListenerOn(1000).has_value());
}

TEST_F(ServerTest, ShrinkingTheThreadCacheMarksExactlyTheFirstThreadsAndGrowingMarksNone) {
    TServerWinSocket* listener = server->Listener();
    std::vector<TServerClientThread*> threads;
    listener->SetThreadCacheSize(3);
    for (int i = 0; i < 5; ++i) {
        threads.push_back(new TServerClientThread(true, nullptr));
        listener->RegisterThread(threads.back());
    }
    auto marks = [&] {
        std::string m;
        for (TServerClientThread* t : listener->ThreadList())
            m += t->KeepCached() ? 'K' : '-';
        return m;
    };
    EXPECT_EQ(marks(), "KKK--") << "registering marks while the cache has room";
    listener->SetThreadCacheSize(2);
    EXPECT_EQ(marks(), "KK---");
    listener->SetThreadCacheSize(4);
    EXPECT_EQ(marks(), "KK---");
    listener->SetThreadCacheSize(1);
    EXPECT_EQ(marks(), "K----");
    EXPECT_EQ(server->ThreadCacheSize(), 1);
    server.reset();  // closing the listener ends and frees every thread
}

}  // namespace
