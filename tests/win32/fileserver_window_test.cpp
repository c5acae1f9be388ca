// The file-server window under Wine, through its real controls and real Winsock on loopback:
// downloading peers on threads of their own, the confirmation dialog answered through its
// buttons, the progress rows, the status bar, the tray click, port changes and a port that
// cannot be opened.
#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "aol_standin_util.h"
#include "common/app_error.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "control_lookup.h"
#include "echo_service_util.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/DecodeIP.h"
#include "fileshare/u_brenlofileserver_ids.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "fileshare/u_brenlofileserverframe.h"
#include "net/net_api_win32.h"
#include "process_util.h"
#include "taskbar_standin_util.h"

namespace {

using testutil::PumpFor;
using testutil::PumpUntil;

constexpr char kCaption[] = "Download best\xE4tigen";

// ---- the confirmation dialog, answered through its buttons -------------------------------------

BOOL CALLBACK CollectQuestion(HWND hwnd, LPARAM param) {
    char cls[64] = {};
    char text[256] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    if (std::string(cls) == "#32770" && std::string(text) == kCaption && IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// The open confirmation dialogs of this thread.
std::vector<HWND> OpenQuestions() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectQuestion, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string ControlText(HWND dialog, int id) {
    char text[2048] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Answers each confirmation dialog that opens with the next answer: 'o' clicks OK, 'c' clicks
// Cancel, 'h' leaves it open. Runs from a thread timer of the test's loop. Records what each
// dialog showed: its text and its two buttons' captions.
struct Answerer {
    std::deque<char> answers;
    std::vector<std::string> texts;
    std::vector<std::pair<std::string, std::string>> buttons;
    std::vector<HWND> seen;
    std::vector<HWND> held;
    // Runs when a question is left open ('h').
    std::function<void(HWND)> onHold;
    UINT_PTR timer = 0;

    static Answerer*& Current() {
        static Answerer* current = nullptr;
        return current;
    }
    Answerer() {
        Current() = this;
        timer = SetTimer(nullptr, 0, 20, Tick);
    }
    ~Answerer() {
        KillTimer(nullptr, timer);
        Current() = nullptr;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        Answerer* self = Current();
        if (!self)
            return;
        for (HWND dialog : OpenQuestions()) {
            bool known = false;
            for (HWND h : self->seen)
                known = known || h == dialog;
            if (known || self->answers.empty())
                continue;
            self->seen.push_back(dialog);
            self->texts.push_back(ControlText(dialog, fsid::Label1));
            self->buttons.emplace_back(ControlText(dialog, fsid::OKBtn),
                                       ControlText(dialog, fsid::CancelBtn));
            const char answer = self->answers.front();
            self->answers.pop_front();
            if (answer == 'h') {
                self->held.push_back(dialog);
                if (self->onHold)
                    self->onHold(dialog);
                continue;
            }
            HWND button = GetDlgItem(dialog, answer == 'o' ? fsid::OKBtn : fsid::CancelBtn);
            SendMessageA(button, BM_CLICK, 0, 0);
        }
    }
};

// ---- a downloading peer on a thread of its own --------------------------------------------------

struct Peer {
    enum Mode { Download, CancelAfterOffer, CloseWhileAsked };

    Peer(int port, std::string name, Mode mode = Download, int pauseMs = 0, int readSize = 8192,
         bool retry = false)
        : port_(port),
          name_(std::move(name)),
          mode_(mode),
          pauseMs_(pauseMs),
          readSize_(readSize),
          retry_(retry) {
        release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        Release();
        if (thread_.joinable())
            thread_.join();
        CloseHandle(release_);
    }
    // Lets the peer close its connection (after its download, or while it is being asked).
    void Release() { SetEvent(release_); }

    std::atomic<bool> finished{false};
    std::atomic<bool> refused{false};
    std::atomic<bool> closedByServer{false};
    std::atomic<bool> complete{false};
    std::atomic<int> connectError{0};
    std::string offer;
    std::string data;

  private:
    std::string Receive(SOCKET s) {
        char buffer[8192];
        const int n = recv(s, buffer, std::min<int>(readSize_, sizeof buffer), 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    void WaitForServerClose(SOCKET s) {
        char buffer[256];
        while (recv(s, buffer, sizeof buffer, 0) > 0) {
        }
        closedByServer = true;
    }
    void Run() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // A peer started before the listener is there tries again for a while.
        const DWORD start = GetTickCount();
        while (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            closesocket(s);
            s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            connectError = WSAGetLastError();
            if (!retry_ || GetTickCount() - start > 20000) {
                closesocket(s);
                finished = true;
                return;
            }
            Sleep(100);
        }
        const std::string request = "request file:" + name_;
        send(s, request.data(), static_cast<int>(request.size()), 0);
        if (mode_ == CloseWhileAsked) {
            WaitForSingleObject(release_, 20000);
            closesocket(s);
            finished = true;
            return;
        }
        offer = Receive(s);
        if (offer == "connectionrefused") {
            refused = true;
            WaitForServerClose(s);
        } else if (offer.rfind("request sendfile:", 0) == 0) {
            const long long size = std::atoll(offer.c_str() + 17);
            if (mode_ == CancelAfterOffer) {
                send(s, "fuck off", 8, 0);
                WaitForServerClose(s);
            } else {
                send(s, "ok sendfile", 11, 0);
                while (static_cast<long long>(data.size()) < size) {
                    const std::string piece = Receive(s);
                    if (piece.empty()) {
                        closedByServer = true;
                        break;
                    }
                    data += piece;
                    const std::string status = "status" + std::to_string(data.size());
                    send(s, status.data(), static_cast<int>(status.size()), 0);
                    if (pauseMs_)
                        Sleep(static_cast<DWORD>(pauseMs_));
                }
                complete = static_cast<long long>(data.size()) == size;
                if (!closedByServer) {
                    // Stays connected until the test has looked at the row, unless the server
                    // closes first.
                    u_long nonBlocking = 1;
                    ioctlsocket(s, FIONBIO, &nonBlocking);
                    while (WaitForSingleObject(release_, 20) == WAIT_TIMEOUT) {
                        char b;
                        const int n = recv(s, &b, 1, 0);
                        if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
                            closedByServer = true;
                            break;
                        }
                    }
                }
            }
        }
        closesocket(s);
        finished = true;
    }

    int port_;
    std::string name_;
    Mode mode_;
    int pauseMs_;
    int readSize_;
    bool retry_;
    HANDLE release_ = nullptr;
    std::thread thread_;
};

// ---- the fixture --------------------------------------------------------------------------------

class FileServerWindow : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        InstallWinsockNetApi();
        InstallWin32TransferPlatform();
    }

    void SetUp() override {
        auto& t = texts;
        t.filecaption = "Datei";
        t.confirmdownloadcaption = kCaption;
        t.okbuttoncaption = "&Ja";
        t.cancelbuttoncaption = "&Nein";
        t.acceptdownloadmsg =
            "%username% m\xF6"
            "chte den Song laden. (%username%)";
        t.downloaddisclaimer = "Nur legale Dateien!";
        t.waitfordownloadstart = "Warte auf %username%";
        t.atspeedcaption = "mit";
        t.totalcaption = "Gesamt";
        t.transfercancelledbyusermsg = "%username% hat den Download abgebrochen.";
        SetFileServerTextSource([this] { return texts; });
        SetErrorDisplay([this](const std::string& text) { told.push_back(text); });

        song.assign(150000, '\0');
        for (std::size_t i = 0; i < song.size(); ++i)
            song[i] = static_cast<char>((i * 7919u + i / 251u) & 0xFF);
        songPath = testutil::TempFile("fileserver song.mp3", song);
    }

    void TearDown() override {
        peers.clear();
        window.reset();
        PumpFor(50);
        SetErrorDisplay(nullptr);
        SetFileServerTextSource(nullptr);
    }

    // The window as the load creates it, then moved to a free port with the song served.
    void Open() {
        window = std::make_unique<TBrenloFileserverWindow>(true);
        port = testutil::FreeLoopbackPort();
        Form().SetServedFile(songPath);
        Form().SetServerPort(port);
        ASSERT_TRUE(Form().IsListening());
        // Port 1000 of the start may be held by another plug-in under test on this machine;
        // what the window said about it does not concern the tests that use their own port.
        told.clear();
    }

    TBrenloFileserverForm& Form() { return window->Form(); }

    Peer& Connect(const std::string& name, Peer::Mode mode = Peer::Download, int pauseMs = 0,
                  int readSize = 8192) {
        peers.push_back(std::make_unique<Peer>(port, name, mode, pauseMs, readSize));
        return *peers.back();
    }

    // Waits for the row to show 100 % with the peer still connected.
    void WaitComplete(int row, Peer& peer) {
        ASSERT_TRUE(PumpUntil([&] { return window->RowPosition(row) == 100 && peer.complete; }))
            << "row " << row << " at " << window->RowPosition(row);
    }

    TFileServerTexts texts;
    std::vector<std::string> told;
    std::string song;
    std::string songPath;
    std::unique_ptr<TBrenloFileserverWindow> window;
    std::vector<std::unique_ptr<Peer>> peers;
    int port = 0;
};

TEST_F(FileServerWindow, IsBuiltAsDescribedAndListensOnPort1000FromTheStart) {
    window = std::make_unique<TBrenloFileserverWindow>(false);
    HWND hwnd = window->Handle();
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_LBUTTONUP);  // shown as a tray click shows it
    char caption[64] = {};
    GetWindowTextA(hwnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "BrenloPlug FileServer");
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 248);
    EXPECT_EQ(client.bottom, 147);
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(window->FileLabelText(), "Datei:");
    EXPECT_EQ(window->PortText(), "1000");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, fsid::Edit2)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, fsid::Label3)));
    RECT frame{};
    GetWindowRect(GetDlgItem(hwnd, fsid::Frame21), &frame);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&frame), 2);
    EXPECT_EQ(frame.top, 16);
    EXPECT_EQ(frame.bottom - frame.top, 112);
    EXPECT_EQ(SendMessageA(GetDlgItem(hwnd, fsid::StatusBar1), SB_GETPARTS, 0, 0), 3);

    EXPECT_EQ(Form().ServerPort(), 1000);
    EXPECT_TRUE(told.empty()) << "a port of the start that is taken is not told: " << told[0];
    if (!Form().IsListening()) {
        // Another program on this machine (another plug-in under test) holds port 1000 now.
        SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(1000);
        const bool taken = bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
        closesocket(probe);
        ASSERT_TRUE(taken) << "port 1000 is free, yet the window does not listen on it";
        GTEST_SKIP() << "port 1000 is held by another program";
    }
    Answerer answerer;
    answerer.answers = {'h'};
    int rowsWhileAsked = 0;
    Peer peer(1000, "Eve", Peer::CloseWhileAsked);
    answerer.onHold = [&](HWND) {
        rowsWhileAsked = Form().Rows().OpenCount();
        peer.Release();
    };
    ASSERT_TRUE(PumpUntil([&] { return answerer.held.size() == 1; }));
    EXPECT_EQ(rowsWhileAsked, 1);
    EXPECT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 0; }));
}

TEST_F(FileServerWindow, HidesTenMillisecondsAfterCreationAndATrayClickBringsItBack) {
    testutil::StandInTaskbar taskbar;
    ASSERT_TRUE(testutil::NotificationAreaAnswers());
    window = std::make_unique<TBrenloFileserverWindow>(true);
    HWND hwnd = window->Handle();
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(hwnd); }, 2000));
    EXPECT_TRUE(testutil::ShellHoldsIcon(hwnd)) << "hidden without an icon to bring it back";

    // Other mouse messages of the tray icon are swallowed; a released left button restores.
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_RBUTTONUP);
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_MOUSEMOVE);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(IsIconic(hwnd));

    // Closing and minimising only hide it.
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_TRUE(IsWindow(hwnd));
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_LBUTTONUP);
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));
}

TEST_F(FileServerWindow, TheTrayIconFollowsSharing) {
    testutil::StandInTaskbar taskbar;
    ASSERT_TRUE(testutil::NotificationAreaAnswers());
    window = std::make_unique<TBrenloFileserverWindow>(false);
    HWND hwnd = window->Handle();
    EXPECT_FALSE(testutil::ShellHoldsIcon(hwnd));
    Form().SetTrayIcon(true);
    EXPECT_TRUE(testutil::ShellHoldsIcon(hwnd));
    Form().SetTrayIcon(true);  // every song change says so again: still the one icon
    EXPECT_TRUE(testutil::ShellHoldsIcon(hwnd));
    Form().SetTrayIcon(false);
    EXPECT_FALSE(testutil::ShellHoldsIcon(hwnd));
    Form().SetTrayIcon(true);
    EXPECT_TRUE(testutil::ShellHoldsIcon(hwnd));
    window.reset();
    EXPECT_FALSE(testutil::ShellHoldsIcon(hwnd)) << "the icon outlived its window";
}

TEST_F(FileServerWindow, AnAcceptedPeerGetsTheFileByteForByteAndItsRowReaches100Percent) {
    Open();
    EXPECT_EQ(window->FileLabelText(), "Datei: " + songPath);
    EXPECT_EQ(window->FileLabelHint(), songPath);
    Answerer answerer;
    answerer.answers = {'o'};
    Peer& peer = Connect("Bob");
    WaitComplete(0, peer);

    ASSERT_EQ(answerer.texts.size(), 1u);
    EXPECT_EQ(answerer.texts[0],
              "Bob m\xF6"
              "chte den Song laden. (%username%)\n\r\n\rNur legale Dateien!");
    EXPECT_EQ(answerer.buttons[0], (std::pair<std::string, std::string>{"&Ja", "&Nein"}));
    EXPECT_EQ(peer.offer, "request sendfile:150000-fileserver song.mp3");
    EXPECT_TRUE(peer.data == song) << "the file arrived changed";
    EXPECT_TRUE(window->RowVisible(0));
    EXPECT_EQ(window->RowName(0), "Bob");
    EXPECT_EQ(window->RowHint(0), songPath + "       (100% mit: )");
    // Row 0 counts as selected: its bar is red and the status bar shows its figures.
    EXPECT_TRUE(window->RowMarked(0));
    EXPECT_EQ(window->StatusText(0), "100%");
    EXPECT_EQ(window->StatusText(2), "Gesamt: 150000 Bytes");

    peer.Release();
    ASSERT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 0; }));
    EXPECT_EQ(window->RowBar(0), nullptr);
    EXPECT_EQ(Form().Rows().SelectedRow(), -1);
    EXPECT_EQ(window->StatusText(0), "100%") << "the panels keep their texts";
}

TEST_F(FileServerWindow, ADeclinedPeerIsRefusedAndItsRowNeverShows) {
    Open();
    Answerer answerer;
    answerer.answers = {'c'};
    Peer& peer = Connect("Mallory");
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_TRUE(peer.refused);
    EXPECT_TRUE(peer.closedByServer);
    ASSERT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 0; }));
    EXPECT_FALSE(Form().Rows().Row(0).Shown);
    EXPECT_EQ(window->RowBar(0), nullptr);
}

TEST_F(FileServerWindow, TheStatusBarShowsPercentSpeedAndTotalOfTheSelectedRow) {
    Open();
    Answerer answerer;
    answerer.answers = {'o'};
    // A slow peer: the speed is sampled after more than two seconds.
    Peer& peer = Connect("Slow", Peer::Download, 100, 4096);
    WaitComplete(0, peer);
    const std::string speed = window->StatusText(1);
    EXPECT_NE(speed.find(" Kbit/s"), std::string::npos) << speed;
    EXPECT_EQ(window->RowSpeed(0), speed);
    EXPECT_EQ(window->StatusText(0), "100%");
    EXPECT_EQ(window->StatusText(2), "Gesamt: 150000 Bytes");
    EXPECT_EQ(window->RowHint(0), songPath + "       (100% mit: " + speed + ")");
}

TEST_F(FileServerWindow, ThreePeersAtOnceThenAFourthReusesTheFreedRowAndTheMouseMovesTheMark) {
    Open();
    Answerer answerer;
    answerer.answers = {'o', 'o', 'o', 'o'};
    Peer& a = Connect("Anna");
    WaitComplete(0, a);
    Peer& b = Connect("Ben");
    WaitComplete(1, b);
    Peer& c = Connect("Cleo");
    WaitComplete(2, c);
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(window->RowVisible(row));
        EXPECT_EQ(window->RowTop(row), row * 13);
    }
    EXPECT_EQ(window->RowName(1), "Ben");
    EXPECT_TRUE(a.data == song && b.data == song && c.data == song);

    // The mouse over Cleo's bar moves the red mark there.
    SendMessageA(window->RowBar(2), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Form().Rows().SelectedRow(), 2);
    EXPECT_TRUE(window->RowMarked(2));
    EXPECT_FALSE(window->RowMarked(0));

    b.Release();
    ASSERT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 2; }));
    EXPECT_EQ(window->RowBar(1), nullptr);
    Peer& d = Connect("Dora");
    WaitComplete(1, d);
    EXPECT_EQ(window->RowName(1), "Dora");
    EXPECT_EQ(window->RowTop(1), 13);
    EXPECT_EQ(Form().Rows().Count(), 3);
    EXPECT_TRUE(d.data == song);
}

TEST_F(FileServerWindow, APortChangeMovesTheListenerAndEndsTheTransfersOfTheOldOne) {
    Open();
    Answerer answerer;
    answerer.answers = {'o', 'o', 'o'};
    Peer& a = Connect("Anna");
    WaitComplete(0, a);
    Peer& b = Connect("Ben");
    WaitComplete(1, b);

    // The same port changes nothing.
    Form().SetServerPort(port);
    EXPECT_EQ(Form().Rows().OpenCount(), 2);

    const int oldPort = port;
    port = testutil::FreeLoopbackPort();
    Form().SetServerPort(port);
    EXPECT_EQ(window->PortText(), std::to_string(port));
    EXPECT_EQ(Form().Rows().OpenCount(), 0) << "the rows go with their transfers";
    EXPECT_EQ(window->RowBar(0), nullptr);
    EXPECT_EQ(window->RowBar(1), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return a.finished && b.finished; }));
    EXPECT_TRUE(a.closedByServer && b.closedByServer);
    // Nothing of the ended transfers comes back later: their timers are gone.
    EXPECT_TRUE(PumpUntil([] { return RunningTransferTimers() == 0; }))
        << RunningTransferTimers() << " transfer timers still run";
    EXPECT_EQ(window->RowBar(0), nullptr);
    EXPECT_TRUE(told.empty()) << told[0];

    Peer late(oldPort, "Late", Peer::CloseWhileAsked);
    ASSERT_TRUE(PumpUntil([&] { return late.finished.load(); }));
    EXPECT_EQ(Form().Rows().OpenCount(), 0) << "nothing listens on the old port";

    Peer& c = Connect("Cleo");
    WaitComplete(0, c);
    EXPECT_TRUE(c.data == song);
}

TEST_F(FileServerWindow, ATakenPortIsReportedOnceAndTriedAgainAtTheNextChange) {
    Open();
    SOCKET blocker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    const int taken = testutil::FreeLoopbackPort();
    a.sin_port = htons(static_cast<u_short>(taken));
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(blocker, 1), 0);

    Form().SetServerPort(taken);
    EXPECT_FALSE(Form().IsListening());
    ASSERT_EQ(told.size(), 1u) << told.back();
    EXPECT_NE(told[0].find("Port " + std::to_string(taken)), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("schon von einem anderen Programm benutzt"), std::string::npos)
        << told[0];
    Form().SetServerPort(taken);
    EXPECT_EQ(told.size(), 1u) << "told once";

    closesocket(blocker);
    Form().SetServerPort(taken);
    EXPECT_TRUE(Form().IsListening());
    EXPECT_EQ(told.size(), 1u);

    // A port text that is no port: told once, the listener stays.
    Form().RejectServerPort("tausend");
    Form().RejectServerPort("tausend");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[1].find("\"tausend\""), std::string::npos) << told[1];
    EXPECT_TRUE(Form().IsListening());
    EXPECT_EQ(Form().ServerPort(), taken);
}

TEST_F(FileServerWindow, APeerThatLeavesWhileAskedDropsTheQuestionAndItsRowOnce) {
    Open();
    Answerer answerer;
    answerer.answers = {'h', 'o'};
    Peer& leaver = Connect("Leaver", Peer::CloseWhileAsked);
    // The peer leaves while the question is open.
    answerer.onHold = [&](HWND) { leaver.Release(); };
    const DWORD start = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return answerer.held.size() == 1; }));
    HWND question = answerer.held[0];
    // The question closes by itself as the connection does; the row is freed and nothing was
    // accepted.
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(question); }, 5000));
    EXPECT_LT(GetTickCount() - start, 5000u);
    ASSERT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 0; }));
    EXPECT_FALSE(Form().Rows().Row(0).Shown);

    // The row is released once: the next peer reuses it.
    Peer& next = Connect("Next");
    WaitComplete(0, next);
    EXPECT_EQ(window->RowName(0), "Next");
    EXPECT_EQ(Form().Rows().Count(), 1);
}

TEST_F(FileServerWindow, APeersCancellationIsShownInTheStatusBarWithoutAnyDialog) {
    Open();
    Answerer answerer;
    answerer.answers = {'o'};
    Peer& peer = Connect("Quitter", Peer::CancelAfterOffer);
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_TRUE(peer.closedByServer);
    ASSERT_TRUE(PumpUntil([&] { return Form().Rows().OpenCount() == 0; }));
    EXPECT_TRUE(window->StatusSimple());
    EXPECT_EQ(window->StatusMessage(), "Quitter hat den Download abgebrochen.");
    EXPECT_TRUE(OpenQuestions().empty());
    EXPECT_TRUE(told.empty()) << told.front();
}

TEST_F(FileServerWindow, AnAbandonedWindowNoLongerCallsIntoTheModule) {
    Open();
    HWND hwnd = window->Handle();
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_LBUTTONUP);
    HWND frame = GetDlgItem(hwnd, fsid::Frame21);
    Answerer answerer;
    answerer.answers = {'o'};
    Peer& peer = Connect("Bob");
    WaitComplete(0, peer);
    window->Abandon();
    EXPECT_EQ(GetWindowLongPtrA(hwnd, DWLP_DLGPROC), 0);
    EXPECT_EQ(GetWindowLongPtrA(frame, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(DefWindowProcA));
    // The port is free again and the peer's connection is gone.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    EXPECT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << WSAGetLastError();
    closesocket(probe);
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_TRUE(peer.closedByServer);
    // Messages now get default handling only: a tray click no longer hides and shows.
    SendMessageA(hwnd, WM_TRAYICON, 0, WM_LBUTTONUP);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    PumpFor(100);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    // The destructor leaves the abandoned window alone, as an unmapped library must.
    window.reset();
    EXPECT_TRUE(IsWindow(hwnd));
    DestroyWindow(hwnd);
}

// ---- the whole chain: player, plug-in, announcement, download ---------------------------------

class FileServerEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        SetSettingsRegistry(&WindowsRegistry());
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
        SetSettingsRegistry(nullptr);
    }
};

TEST_F(FileServerEndToEnd, AnotherUserDownloadsTheAnnouncedSongThroughThePlayersPlugin) {
    std::string song(200000, '\0');
    for (std::size_t i = 0; i < song.size(); ++i)
        song[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string songPath = testutil::TempFile("Nena - 99 Luftballons.mp3", song);

    TPluginSettings settings;
    settings.general.enablechat = true;
    settings.aol.enableaol = true;
    settings.aol.aolfs = true;
    const int port = testutil::FreeLoopbackPort();
    settings.aol.fsport = std::to_string(port);
    PluginSettings = settings;
    SaveSettings();
    // The address lookup asks the stand-in service on loopback (hand-made registry values, as
    // a user would set them), which gives an address of its choosing for the link.
    testutil::EchoServiceProcess service("address", "84.132.7.201");
    ASSERT_NE(service.Port(), 0);
    for (const char* name : {"echohost", "webhost"})
        RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\fs", name, REG_SZ,
                        service.HostPort().c_str(),
                        static_cast<DWORD>(service.HostPort().size() + 1));
    testutil::ChatClientProcess client("--room \"AB|24|Lobby\"");
    ASSERT_TRUE(client.Ready());

    const std::string list =
        testutil::TempFile("fileserver.m3u", "C:\\Music\\Intro.mp3|Intro|300|192\n" + songPath +
                                                 "|Nena - 99 Luftballons|185|128\n");
    // The peer waits for the listener on the configured port, which opens with the announcement.
    Peer peer(port, "Bob", Peer::Download, 0, 8192, true);
    testutil::PlayerCue posted;  // the announcement has reached the room
    testutil::ProcessResult player;
    std::thread run([&] {
        player = testutil::RunProgram(
            testutil::Quote(testutil::WinampStandin()) + " --plugin " +
                testutil::Quote(testutil::PluginDll()) + " --playlist " + testutil::Quote(list) +
                " --answer no --confirm ok -c \"" + testutil::kUntilArmed +
                "; play 2; fileserver 100% 'Bob'; await " + posted.Name() + "; quit\"",
            60000);
    });
    EXPECT_TRUE(client.WaitFor("Nena - 99 Luftballons", 30000));
    posted.Set();
    run.join();
    EXPECT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    ASSERT_EQ(player.exitCode, 0) << player.output;
    const testutil::ProcessResult chat = client.Finish();
    // The announced line's link leads to the address the service gave and the listener's port.
    std::optional<TLinkAddress> link;
    for (const std::string& line : testutil::ChatClientProcess::Transcript(chat, "Lobby"))
        if (line.find("Nena - 99 Luftballons") != std::string::npos)
            link = ParseDownloadLink(line);
    EXPECT_EQ(link, (TLinkAddress{"84.132.7.201", port})) << chat.output;
    ASSERT_TRUE(peer.complete) << player.output;
    EXPECT_TRUE(peer.data == song) << "the song arrived changed";
    EXPECT_EQ(peer.offer, "request sendfile:200000-Nena - 99 Luftballons.mp3");
    EXPECT_GE(player.Find("answering ok"), 0) << player.output;
    // The row shows the user and 100 % while the peer is still connected.
    EXPECT_GE(player.Find("file server row at 0: 100% 'Bob'"), 0) << player.output;
    EXPECT_GE(player.Find("file server status bar: '100%'"), 0) << player.output;
    EXPECT_TRUE(peer.closedByServer) << "the unload ends the transfer";
}

}  // namespace
