// File transfers on real Winsock over loopback: a listener and transfer objects built here (as
// the file-server window builds them), the download_peer program on the other side. Files must
// arrive byte-identical (SHA-256); refusals, cancellations and resets must end the transfer
// and leave no socket open.
#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/app_error.h"
#include "fileshare/BrenloFileServer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "net/BrenloScktComp.h"
#include "net/net_api_win32.h"
#include "process_util.h"

namespace {

std::string Pattern(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned x = seed * 2654435761u + 7;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return data;
}

// SHA-256 of a file in hex, or "" when it cannot be read.
std::string Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::stringstream content;
    content << in.rdbuf();
    const std::string data = content.str();
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()),
                      static_cast<DWORD>(data.size()), 0)) {
        BYTE digest[32];
        DWORD length = sizeof digest;
        if (CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
            for (DWORD i = 0; i < length; ++i) {
                char two[3];
                wsprintfA(two, "%02x", digest[i]);
                hex += two;
            }
        }
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return hex;
}

std::string Folder(const std::string& name) {
    const std::string path = testutil::BuildDir() + "\\" + name;
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class TransferLoopbackTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorDisplay([this](const std::string& m) { shown.push_back(m); });
        served = Folder("transfer_served");
        downloads = Folder("transfer_downloads");
        server->OnClientConnect() = [this](TObject*, TCustomWinSocket* socket) {
            auto* transfer = new TBrenloFileServer(socket, servedFile);
            ++transfers;
            transfer->OnConfirmUser = [this](TBrenloFileServer*, const std::string& user) {
                users.push_back(user);
                return answer;
            };
            transfer->OnStat = [this](TBrenloFileServer*, std::int32_t pos, const std::string& time,
                                      const std::string& speed, std::int64_t, std::int64_t) {
                lastPercent = pos;
                if (!speed.empty())
                    speeds.push_back(time + " s: " + speed);
            };
            transfer->OnClose = [this](TBrenloFileServer*) { ++closed; };
        };
        port = testutil::SearchPort([this](int p) {
            server->SetPort(p);
            try {
                server->SetActive(true);
                return true;
            } catch (const ESocketError&) {
                return false;
            }
        });
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        server.reset();
        SetErrorDisplay(nullptr);
        EXPECT_TRUE(shown.empty()) << shown.front();
    }

    std::string Serve(const std::string& name, const std::string& content) {
        servedFile = served + "\\" + name;
        std::ofstream(servedFile, std::ios::binary) << content;
        DeleteFileA((downloads + "\\" + name).c_str());
        return servedFile;
    }

    // Runs the peer against our listener while this thread's message loop serves it.
    testutil::ProcessResult RunPeer(const std::string& options) {
        const std::string command = testutil::Quote(testutil::WinePath(BP_DOWNLOAD_PEER_EXE)) +
                                    " 127.0.0.1 " + std::to_string(port) + " --quiet --folder " +
                                    testutil::Quote(downloads) + " " + options;
        testutil::ProcessResult result;
        std::atomic<bool> done{false};
        std::thread runner([&] {
            result = testutil::RunProgram(command, 120000);
            done = true;
        });
        const bool finished = testutil::PumpUntil([&] { return done.load(); }, 150000);
        runner.join();
        EXPECT_TRUE(finished);
        return result;
    }

    // Connections whose socket is still open.
    int OpenConnections() {
        int open = 0;
        for (TServerClientWinSocket* client : server->Listener()->ClientList())
            open += client->IsConnected() ? 1 : 0;
        return open;
    }
    // Every transfer has ended and no connection is open.
    bool AllEnded() { return closed == transfers && OpenConnections() == 0; }

    struct Winsock {
        Winsock() {
            InstallWinsockNetApi();
            InstallWin32TransferPlatform();
        }
    } winsock;
    std::unique_ptr<TServerSocket> server = std::make_unique<TServerSocket>();
    int port = 0;
    std::string served, downloads, servedFile;
    bool answer = true;
    std::vector<std::string> users;
    std::vector<std::string> speeds;  // "<time> s: <speed>" of every report with a speed
    std::vector<std::string> shown;
    int transfers = 0, closed = 0, lastPercent = -1;
};

TEST_F(TransferLoopbackTest, ThePeerReceivesTheFileByteIdentical) {
    struct Case {
        const char* name;
        std::size_t size;
        const char* options;
    };
    const Case cases[] = {
        {"small.mp3", 1000, "--user bob"},
        {"big file - 3 MiB.mp3", 3 * 1024 * 1024 + 17, "--user ann"},
        // A slow reader with a small window: the stream waits for space again and again.
        {"slow.mp3", 3 * 1024 * 1024, "--user slow --read-size 4096 --window 4096 --read-delay 1"},
        // Every message in two pieces: the request is cut after its prefix. The peer pauses
        // between the pieces, but nothing makes the server read them apart.
        {"split.mp3", 70000, "--user split --split-at 13"},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Serve(c.name, Pattern(c.size, seed++));
        const auto result = RunPeer(c.options);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        const std::string copy = downloads + "\\" + c.name;
        EXPECT_EQ(Sha256OfFile(copy), Sha256OfFile(path));
        EXPECT_EQ(Sha256OfFile(copy).size(), 64u);
        EXPECT_TRUE(testutil::PumpUntil([&] { return AllEnded(); }));
        EXPECT_EQ(lastPercent, 100);
    }
    // The request cut right after its prefix is asked with the name that follows.
    EXPECT_EQ(users, (std::vector<std::string>{"bob", "ann", "slow", "split"}));
}

TEST_F(TransferLoopbackTest, ASlowDownloadReportsItsSpeedEverySecondOrSo) {
    // About four seconds: the statistics timer and the tick counter of Windows at work.
    const std::string path = Serve("slow speed.mp3", Pattern(1024 * 1024, 9));
    const auto result = RunPeer(
        "--user bob --read-size 4096 --window 4096 --read-delay 15 "
        "--status-every 4096");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Sha256OfFile(downloads + "\\slow speed.mp3"), Sha256OfFile(path));
    EXPECT_TRUE(testutil::PumpUntil([&] { return AllEnded(); }));
    ASSERT_FALSE(speeds.empty()) << "no speed sample in a transfer of several seconds";
    for (const std::string& s : speeds)
        EXPECT_TRUE(s.size() > 9 && s.compare(s.size() - 7, 7, " Kbit/s") == 0) << s;
}

// Transfers that end without the whole file: nothing is saved, the peer says why, and both
// sides end. The cancelling peer sends no status report before its "fuck off", so that the
// cancel is a message of its own for the server without a pause in between.
TEST_F(TransferLoopbackTest, EmptyRefusedAndCancelledTransfersEndBothSides) {
    struct Case {
        const char* name;
        std::string content;
        bool answer;
        const char* options;
        int exitCode;
        const char* says;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"empty.mp3", "", true, "--user bob", 3, "without offering a file", {"bob"}},
        {"refused.mp3",
         Pattern(5000, 3),
         false,
         "--user eve",
         3,
         "the server refused the download",
         {"eve"}},
        {"cancel.mp3",
         Pattern(3 * 1024 * 1024, 4),
         true,
         "--user bob --cancel-after 65536 --status-every 1048576 --read-size 4096 --window 8192",
         8,
         "the server closed the connection",
         {"bob"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(c.name, c.content);
        answer = c.answer;
        users.clear();
        const auto result = RunPeer(c.options);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_NE(result.Find(c.says), -1) << result.output;
        EXPECT_FALSE(Exists(downloads + "\\" + c.name));
        EXPECT_TRUE(testutil::PumpUntil([&] { return AllEnded(); }));
        EXPECT_EQ(users, c.asked);
    }
}

TEST_F(TransferLoopbackTest, APeerThatResetsMidStreamLeavesNoOpenSocket) {
    Serve("reset.mp3", Pattern(3 * 1024 * 1024, 5));
    for (int round = 0; round < 3; ++round) {
        const auto result =
            RunPeer("--user bob --reset-after 65536 --read-size 4096 --window 8192");
        EXPECT_EQ(result.exitCode, 9) << result.output;
    }
    EXPECT_TRUE(testutil::PumpUntil([&] { return AllEnded(); }))
        << OpenConnections() << " sockets open, " << transfers - closed << " transfers left";
    EXPECT_EQ(transfers, 3);
}

}  // namespace
