// The address lookup over WinHTTP and Winsock against the stand-in address service on loopback:
// the token (or its absence) for each way the service may answer, and how long each lookup held
// the calling thread. The bound checked here only catches a lookup that hangs; the figures
// against the two-second budget come from bench/address_hold.sh. A service that never answers in
// time is asked with a short bound, so that the suite does not wait out two seconds each time.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "announce/u_composer.h"
#include "config/u_config.h"
#include "echo_service_util.h"
#include "fileshare/BrenloFileServer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/DecodeIP.h"
#include "fileshare/EncodeIP.h"
#include "fileshare/http_client_win32.h"
#include "fileshare/listener_state.h"
#include "fileshare/public_address.h"
#include "net/BrenloScktComp.h"
#include "net/net_api.h"
#include "net/net_api_win32.h"
#include "plugin/addressed_file_server.h"
#include "process_util.h"

namespace {

using testutil::EchoServiceProcess;

// A lookup that holds its caller longer than this has not kept its bound at all (the figures
// against the bound itself come from the benchmark).
constexpr ULONGLONG kHangLimitMs = 10000;
// The bound of the lookups that wait it out.
constexpr std::chrono::milliseconds kShortBound{300};

struct FixedListener : IListenerState {
    bool Listening() const override { return true; }
    int ListenerPort() const override { return 45123; }
};

struct Timed {
    std::string token;
    ULONGLONG heldMs = 0;
};

Timed Lookup(const TAddressHosts& hosts, std::chrono::milliseconds bound = kHoldBound) {
    TAddressLookup lookup(WindowsHttpClient(), SteadyClock(), bound);
    FixedListener listener;
    const ULONGLONG start = GetTickCount64();
    Timed t;
    t.token = lookup.GetEncodedAddress('1', listener, hosts);
    t.heldMs = GetTickCount64() - start;
    return t;
}

TAddressHosts Hosts(const std::string& hostPort) {
    TAddressHosts hosts;
    hosts.EchoHost = hostPort;
    hosts.WebHost = hostPort;
    return hosts;
}

struct ServiceCase {
    const char* mode;
    bool token;  // a token that decodes to 127.0.0.1 and the listener's port
    std::chrono::milliseconds bound = kHoldBound;
};

TEST(AddressLookupWine, TokenOrNoneForEachWayTheServiceAnswersWithinTheBudget) {
    const ServiceCase cases[] = {
        {"address", true},
        {"lineend", true},
        {"html", false},
        {"redirect", false},
        {"nodot", false},
        {"status500", false},
        {"silent", false, kShortBound},
        {"trickle", false, kShortBound},
    };
    for (const ServiceCase& c : cases) {
        EchoServiceProcess service(c.mode);
        ASSERT_NE(service.Port(), 0) << c.mode;
        const Timed t = Lookup(Hosts(service.HostPort()), c.bound);
        std::printf("lookup against '%s': token \"%s\", held the thread %llu ms\n", c.mode,
                    t.token.c_str(), static_cast<unsigned long long>(t.heldMs));
        EXPECT_LT(t.heldMs, kHangLimitMs) << c.mode;
        if (c.token) {
            EXPECT_EQ(ParseDownloadLink(t.token), (TLinkAddress{"127.0.0.1", 45123})) << c.mode;
        } else {
            EXPECT_EQ(t.token, "") << c.mode;
        }
        EXPECT_NE(service.Output().find("request GET /BrenloPlug/checkip.php HTTP/1.1"),
                  std::string::npos)
            << c.mode << " got the GET of the address script:\n"
            << service.Output();
        EXPECT_EQ(service.Output().find("request GET /moved"), std::string::npos)
            << c.mode << ": a redirect is not followed\n"
            << service.Output();
    }
}

// A lookup that gave up leaves its worker to end on its own time-outs; they must really end, or
// the workers of earlier songs would use up the few allowed and later lookups would not even ask.
TEST(AddressLookupWine, WorkersLeftBehindByAServiceThatNeverAnswersOrTricklesEndSoon) {
    for (const char* mode : {"silent", "trickle"}) {
        EchoServiceProcess service(mode);
        ASSERT_NE(service.Port(), 0) << mode;
        constexpr int kLookups = 6;
        for (int i = 0; i < kLookups; ++i)
            EXPECT_EQ(Lookup(Hosts(service.HostPort()), kShortBound).token, "") << mode;
        std::size_t requests = 0;
        const std::string output = service.Output();
        for (std::size_t at = output.find("request GET"); at != std::string::npos;
             at = output.find("request GET", at + 1))
            ++requests;
        EXPECT_EQ(requests, static_cast<std::size_t>(kLookups))
            << mode << ": every lookup got as far as its GET\n"
            << output;
    }
}

TEST(AddressLookupWine, TheTokenCarriesTheBareAddressWithOrWithoutALineEnd) {
    EchoServiceProcess exact("address", "84.132.7.201");
    EXPECT_EQ(Lookup(Hosts(exact.HostPort())).token, EncodeAddress("1184.132.7.201:45123:::"));
    EchoServiceProcess lineEnd("lineend", "84.132.7.201");
    EXPECT_EQ(Lookup(Hosts(lineEnd.HostPort())).token, EncodeAddress("1184.132.7.201:45123:::"));
}

// Users name the hosts; a name is resolved for the probe and for the GET (here one that stays on
// this machine).
TEST(AddressLookupWine, AHostGivenByNameIsResolvedForTheProbeAndTheScript) {
    EchoServiceProcess service("address", "84.132.7.201");
    ASSERT_NE(service.Port(), 0);
    EXPECT_EQ(Lookup(Hosts("localhost:" + std::to_string(service.Port()))).token,
              EncodeAddress("1184.132.7.201:45123:::"));
    EXPECT_NE(service.Output().find("request GET /BrenloPlug/checkip.php"), std::string::npos)
        << service.Output();
}

TEST(AddressLookupWine, AClosedPortForTheProbeOrTheScriptGivesNoToken) {
    EchoServiceProcess service("address");
    ASSERT_NE(service.Port(), 0);
    const std::string closed = "127.0.0.1:" + std::to_string(testutil::ClosedLoopbackPort());

    TAddressHosts probeClosed;
    probeClosed.EchoHost = closed;
    probeClosed.WebHost = service.HostPort();
    TAddressHosts scriptClosed;
    scriptClosed.EchoHost = service.HostPort();
    scriptClosed.WebHost = closed;
    for (const TAddressHosts& hosts : {probeClosed, scriptClosed}) {
        const Timed t = Lookup(hosts);
        std::printf("lookup with probe %s and script %s: token \"%s\", held %llu ms\n",
                    hosts.EchoHost.c_str(), hosts.WebHost.c_str(), t.token.c_str(),
                    static_cast<unsigned long long>(t.heldMs));
        EXPECT_EQ(t.token, "");
        EXPECT_LT(t.heldMs, kHangLimitMs);
    }
    EXPECT_EQ(service.Output().find("request "), std::string::npos)
        << "a failed probe ends the lookup before the GET";
}

// The composer's seam with a real listener: the announced line's link leads to the listener.
TEST(AddressLookupWine, TheAnnouncedLinkLeadsToTheListeningServerSocket) {
    WSADATA data;
    WSAStartup(0x0202, &data);
    InstallWinsockNetApi();
    EchoServiceProcess service("address");
    ASSERT_NE(service.Port(), 0);

    TServerSocket server;
    const int port = testutil::ClosedLoopbackPort();
    server.SetPort(port);
    server.SetActive(true);
    TServerSocketListener listener(server);

    TPluginSettings settings;
    settings.general.enablechat = true;
    settings.general.presongtitle = "Ich h\xF6re: ";
    settings.aol.aolfs = true;
    settings.aol.fsport = std::to_string(port);
    settings.fs.echohost = service.HostPort();
    settings.fs.webhost = service.HostPort();
    TAddressLookup lookup(WindowsHttpClient(), SteadyClock());
    TAddressedFileServer link(lookup, settings);
    link.Attach(nullptr, &listener);

    TSongInfo song;
    song.Title = "Artist - Song";
    song.FileName = "C:\\song.mp3";
    const std::optional<TAolMessage> message = ComposeAolMessage(song, settings, link);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(ParseDownloadLink(message->PreText + message->Text + message->PostText),
              (TLinkAddress{"127.0.0.1", port}));

    server.SetActive(false);
    const std::optional<TAolMessage> closed = ComposeAolMessage(song, settings, link);
    ASSERT_TRUE(closed.has_value());
    EXPECT_NE(closed->Text.find(DownloadLinkText("")), std::string::npos)
        << "with the listener closed the link has an empty token";
    WSACleanup();
}

// The loop closed: the other user's downloading peer takes the announced chat line, follows its
// link to this computer's listener and gets the song byte for byte.
TEST(AddressLookupWine, TheOtherUsersPeerFollowsTheAnnouncedLinkAndGetsTheSongByteForByte) {
    WSADATA data;
    WSAStartup(0x0202, &data);
    InstallWinsockNetApi();
    InstallWin32TransferPlatform();
    EchoServiceProcess service("address");
    ASSERT_NE(service.Port(), 0);

    const std::string id = std::to_string(GetCurrentProcessId());
    std::string song;
    for (int i = 0; i < 300000; ++i)
        song += static_cast<char>(i * 7 + i / 251);
    const std::string songName = "Kraftwerk - Das Model " + id + ".mp3";
    const std::string songPath = testutil::TempFile(songName, song);
    const std::string folder = testutil::BuildDir() + "\\testdata\\peer_" + id;
    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA((folder + "\\" + songName).c_str());

    TServerSocket server;
    std::string askedFor;
    server.OnClientConnect() = [&](TObject*, TCustomWinSocket* socket) {
        auto* transfer = new TBrenloFileServer(socket, songPath);
        transfer->OnConfirmUser = [&askedFor](TBrenloFileServer*, const std::string& user) {
            askedFor = user;
            return true;
        };
    };
    const int port = testutil::ClosedLoopbackPort();
    server.SetPort(port);
    server.SetActive(true);
    TServerSocketListener listener(server);

    TPluginSettings settings;
    settings.general.enablechat = true;
    settings.general.presongtitle = "Ich h\xF6re: ";
    settings.general.preposttitlefade = false;
    settings.aol.aolfs = true;
    settings.aol.fsport = std::to_string(port);
    settings.fs.echohost = service.HostPort();
    settings.fs.webhost = service.HostPort();
    TAddressLookup lookup(WindowsHttpClient(), SteadyClock());
    TAddressedFileServer link(lookup, settings);
    link.Attach(nullptr, &listener);
    TSongInfo info;
    info.Title = "Kraftwerk - Das Model";
    info.FileName = songPath;
    const std::optional<TAolMessage> message = ComposeAolMessage(info, settings, link);
    ASSERT_TRUE(message.has_value());

    // The line as the other user's chat client shows it, saved as a chat log.
    const std::string chatLog = testutil::TempFile(
        "chat_" + id + ".log", "room 'Lobby': hallo\r\nroom 'Musik': " + message->PreText +
                                   message->Text + message->PostText + "\r\n");
    std::string cmd = testutil::Quote(testutil::DownloadPeerExe()) + " --link-file " +
                      testutil::Quote(chatLog) + " --folder " + testutil::Quote(folder) +
                      " --user Zuhoerer --quiet --timeout 20";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION peer = {};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &peer));
    const ULONGLONG end = GetTickCount64() + 60000;
    while (WaitForSingleObject(peer.hProcess, 0) != WAIT_OBJECT_0 && GetTickCount64() < end) {
        if (!NetApi().DispatchPending())
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(peer.hProcess, &exitCode);
    if (exitCode == STILL_ACTIVE)
        TerminateProcess(peer.hProcess, 1);
    CloseHandle(peer.hProcess);
    CloseHandle(peer.hThread);

    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(askedFor, "Zuhoerer");
    std::ifstream got(folder + "\\" + songName, std::ios::binary);
    const std::string received((std::istreambuf_iterator<char>(got)),
                               std::istreambuf_iterator<char>());
    EXPECT_TRUE(received == song) << "received " << received.size() << " of " << song.size()
                                  << " bytes";
    server.SetActive(false);
    WSACleanup();
}

}  // namespace
