// The socket layer on real Winsock over loopback: several peers at once, streams arriving
// byte-identical, peers that reset or leave early, and a port that is already taken.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/app_error.h"
#include "common/file_stream_win32.h"
#include "net/BrenloScktComp.h"
#include "net/net_api_win32.h"
#include "process_util.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return data;
}

// Runs the message loop of this thread until `done` or the deadline.
bool PumpUntil(const std::function<bool()>& done, int seconds = 60) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        if (!NetApi().DispatchPending())
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

int NotifyWindows() {
    int count = 0;
    HWND w = nullptr;
    while ((w = FindWindowExA(HWND_MESSAGE, w, "TBrenloSocketWindow", nullptr)) != nullptr)
        ++count;
    return count;
}

// A blocking loopback client for the peers.
class Peer {
  public:
    explicit Peer(int port) {
        s_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        DWORD timeout = 30000;  // every wait bounded
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        ok_ = connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Peer() { Close(); }
    bool Ok() const { return ok_; }
    bool Send(const std::string& text) {
        return send(s_, text.data(), static_cast<int>(text.size()), 0) ==
               static_cast<int>(text.size());
    }
    // Receives up to `size` bytes (fewer when the server closes or a wait times out).
    std::string Receive(std::size_t size) {
        std::string data;
        char buffer[65536];
        while (data.size() < size) {
            const int n =
                recv(s_, buffer, static_cast<int>(std::min(sizeof buffer, size - data.size())), 0);
            if (n <= 0)
                break;
            data.append(buffer, static_cast<std::size_t>(n));
        }
        return data;
    }
    void Reset() {
        linger l{1, 0};  // abortive close: the server sees a reset
        setsockopt(s_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
        Close();
    }
    void Close() {
        if (s_ != INVALID_SOCKET)
            closesocket(s_);
        s_ = INVALID_SOCKET;
    }

  private:
    SOCKET s_ = INVALID_SOCKET;
    bool ok_ = false;
};

// Counts live connection objects.
class CountedClient : public TServerClientWinSocket {
  public:
    CountedClient(TSocketHandle h, TServerWinSocket* server) : TServerClientWinSocket(h, server) {
        ++live;
    }
    ~CountedClient() override { --live; }
    static inline std::atomic<int> live{0};
};

class LoopbackTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& m) { shown.push_back(m); });
        baseWindows = NotifyWindows();
        server->OnGetSocket() = [](TObject* sender, TSocketHandle h,
                                   TServerClientWinSocket*& client) {
            client = new CountedClient(h, static_cast<TServerWinSocket*>(sender));
        };
    }
    void TearDown() override {
        server.reset();
        EXPECT_EQ(CountedClient::live, 0);
        EXPECT_EQ(NotifyWindows(), baseWindows);
        SetErrorDisplay(nullptr);
    }
    // Opens the server on a free port.
    int Open() {
        for (int port = 42000 + static_cast<int>(GetCurrentProcessId() % 2000); port < 65000;
             port += 7) {
            server->SetPort(port);
            try {
                server->SetActive(true);
                return port;
            } catch (const ESocketError&) {
            }
        }
        ADD_FAILURE() << "no free port";
        return 0;
    }

    struct Winsock {
        Winsock() {
            WSADATA data;
            WSAStartup(0x0202, &data);  // for the peers' own sockets
            InstallWinsockNetApi();
        }
        ~Winsock() { WSACleanup(); }
    } winsock;
    std::unique_ptr<TServerSocket> server = std::make_unique<TServerSocket>();
    std::vector<std::string> shown;
    int baseWindows = 0;
};

TEST_F(LoopbackTest, SeveralPeersAtOnceEachGetTheirStreamByteIdenticalWhileOthersSendText) {
    constexpr std::size_t kSize = 3 * 1024 * 1024 + 123;
    // Like the file server: each connection takes over its own hooks.
    server->OnClientConnect() = [](TObject*, TCustomWinSocket* socket) {
        socket->OnNetEvent = [](TObject*, TCustomWinSocket* s, TNetEventKind kind) {
            if (kind != neRead)
                return;
            const std::string text = s->ReceiveString();
            if (text.rfind("stream ", 0) == 0)
                s->SendFromStream(std::make_unique<TMemoryStream>(
                    Pattern(kSize, static_cast<unsigned>(std::stoi(text.substr(7))))));
            else if (!text.empty())
                s->SendString("echo:" + text);
        };
        socket->OnNetError = [](TObject*, TCustomWinSocket*, TErrorEvent, int& code) { code = 0; };
    };
    const int port = Open();
    ASSERT_NE(port, 0);

    std::atomic<int> finished{0};
    std::vector<std::string> failures(6);
    std::vector<std::thread> peers;
    for (int i = 0; i < 3; ++i)
        peers.emplace_back([&, i] {
            Peer peer(port);
            if (!peer.Ok() || !peer.Send("stream " + std::to_string(i)))
                failures[i] = "connect";
            else if (peer.Receive(kSize) != Pattern(kSize, static_cast<unsigned>(i)))
                failures[i] = "stream differs";
            ++finished;
        });
    for (int i = 3; i < 6; ++i)
        peers.emplace_back([&, i] {
            Peer peer(port);
            for (int round = 0; round < 20 && peer.Ok(); ++round) {
                const std::string text = "text " + std::to_string(i) + "/" + std::to_string(round);
                if (!peer.Send(text) || peer.Receive(5 + text.size()) != "echo:" + text) {
                    failures[i] = "echo " + text;
                    break;
                }
            }
            if (!peer.Ok())
                failures[i] = "connect";
            ++finished;
        });
    EXPECT_TRUE(PumpUntil([&] { return finished == 6; }));
    for (auto& t : peers)
        t.join();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(failures[i], "") << "peer " << i;
    EXPECT_EQ(shown, std::vector<std::string>{});
    EXPECT_EQ(server->Listener()->ClientCount(), 6) << "replaced hooks: listed until closing";
    server->SetActive(false);
    EXPECT_EQ(CountedClient::live, 0);
    EXPECT_EQ(NotifyWindows(), baseWindows + 1);
}

TEST_F(LoopbackTest, PeersThatResetMidStreamOrLeaveEarlyLeaveNoSocketOrWindowBehind) {
    constexpr std::size_t kSize = 16 * 1024 * 1024;
    server->OnClientRead() = [](TObject*, TCustomWinSocket* socket) {
        if (!socket->ReceiveString().empty())
            socket->SendFromStream(std::make_unique<TMemoryStream>(Pattern(kSize, 9)));
    };
    server->OnClientError() = [](TObject*, TCustomWinSocket*, TErrorEvent, int& code) {
        code = 0;  // as the file server does: a failing transfer simply closes
    };
    const int port = Open();
    ASSERT_NE(port, 0);

    std::atomic<int> finished{0};
    std::vector<std::thread> peers;
    for (int i = 0; i < 3; ++i)
        peers.emplace_back([&] {
            Peer peer(port);
            peer.Send("go");
            peer.Receive(200000);
            peer.Reset();
            ++finished;
        });
    for (int i = 0; i < 2; ++i)
        peers.emplace_back([&] {
            Peer peer(port);
            peer.Send("go");
            peer.Close();  // leaves before reading anything
            ++finished;
        });
    peers.emplace_back([&] {
        Peer peer(port);  // connects and leaves without a word
        ++finished;
    });
    EXPECT_TRUE(PumpUntil([&] {
        return finished == 6 && CountedClient::live == 0 && server->Listener()->ClientCount() == 0;
    }));
    for (auto& t : peers)
        t.join();
    EXPECT_EQ(CountedClient::live, 0);
    EXPECT_EQ(NotifyWindows(), baseWindows + 1) << "only the listener's window is left";
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(shown, std::vector<std::string>{});
}

TEST_F(LoopbackTest, APortAlreadyTakenReportsTheBindErrorAndLeavesActiveFalse) {
    const int port = Open();
    ASSERT_NE(port, 0);
    TServerSocket second;
    second.SetPort(port);
    try {
        second.SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Windows-Socket-Fehler: ", 0), 0u) << text;
        EXPECT_NE(text.find("(10048), auf API 'bind'"), std::string::npos) << text;
    }
    EXPECT_FALSE(second.Active());
    EXPECT_TRUE(server->Active());
}

// Serves one client by echoing in capitals; polls so that closing never waits on a recv.
class EchoThread : public TServerClientThread {
  public:
    explicit EchoThread(TServerClientWinSocket* client) : TServerClientThread(true, client) {
        ++created;
        Resume();
    }
    static inline std::atomic<int> created{0};
    static inline std::atomic<int> mainThreadCalls{0};
    static inline DWORD mainThread = 0;

  protected:
    void ServeClient() override {
        TServerClientWinSocket* client = Client();
        while (!Terminated() && client->IsConnected()) {
            if (NetApi().Select(client->SocketHandle(), false, 20000) <= 0)
                continue;
            char buffer[256];
            const int n = client->ReceiveBytes(buffer, sizeof buffer);
            if (n <= 0)
                break;
            std::string text(buffer, static_cast<std::size_t>(n));
            for (char& c : text)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            client->SendString(text);
            Synchronize([] {
                if (GetCurrentThreadId() == mainThread)
                    ++mainThreadCalls;
            });
        }
    }
};

TEST_F(LoopbackTest, ThreadBlockingModeServesEachPeerOnACachedThread) {
    EchoThread::mainThread = GetCurrentThreadId();
    int started = 0;
    server->SetServerType(stThreadBlocking);
    server->OnGetThread() = [](TObject*, TServerClientWinSocket* client,
                               TServerClientThread*& thread) { thread = new EchoThread(client); };
    server->OnThreadStart() = [&](TObject*, TServerClientThread*) { ++started; };
    const int port = Open();
    ASSERT_NE(port, 0);

    for (const std::string word : {"abc", "def"}) {
        std::atomic<bool> done{false};
        std::string answer;
        std::thread peer([&] {
            Peer p(port);
            p.Send(word);
            answer = p.Receive(word.size());
            done = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
        peer.join();
        EXPECT_EQ(answer, word == "abc" ? "ABC" : "DEF");
        // The thread goes back to the cache once its client is freed.
        EXPECT_TRUE(PumpUntil([&] {
            auto threads = server->Listener()->ThreadList();
            return threads.size() == 1 && threads[0]->Client() == nullptr;
        }));
    }
    EXPECT_EQ(EchoThread::created, 1) << "the cached thread was not reused";
    EXPECT_GE(EchoThread::mainThreadCalls, 2);
    server->SetActive(false);
    EXPECT_FALSE(server->Active());
    EXPECT_TRUE(server->Listener()->ThreadList().empty());
    EXPECT_EQ(CountedClient::live, 0);
}

TEST_F(LoopbackTest, AFileThatFailsMidwayReachesThePeerAsAClosedConnectionNotAShortFile) {
    const std::string data = Pattern(6 * 64 * 1024, 5);
    const std::string path = testutil::TempFile("served-midfail.bin", data);
    // Reading the fourth block of the served file fails.
    testutil::FailReadFileAfter(3);
    server->OnClientConnect() = [&path](TObject*, TCustomWinSocket* socket) {
        socket->OnNetEvent = [&path](TObject*, TCustomWinSocket* s, TNetEventKind kind) {
            if (kind == neRead && s->ReceiveString() == "send")
                s->SendFromStream(OpenFileStreamForReading(path));
        };
        socket->OnNetError = [](TObject*, TCustomWinSocket*, TErrorEvent, int& code) { code = 0; };
    };
    const int port = Open();
    ASSERT_NE(port, 0);

    std::atomic<bool> done{false};
    std::string received;
    std::thread peer([&] {
        Peer p(port);
        // Ends before the whole file only when the server closes or the wait times out (30 s).
        if (p.Ok() && p.Send("send"))
            received = p.Receive(data.size());
        done = true;
    });
    const auto started = Clock::now();
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 40));
    peer.join();
    testutil::FailReadFileAfter(-1);
    EXPECT_LT(received.size(), data.size());
    EXPECT_EQ(received.size() % 4096, 0u);
    EXPECT_TRUE(received == data.substr(0, received.size())) << "what arrived is the file's start";
    // Closed, not left open: otherwise the peer would have waited for its receive timeout.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
}

}  // namespace
