// The file server window's logic on the in-memory network with real transfers: the listener from
// the start, the confirmation question, rows through a whole download, port changes that end the
// old transfers, ports that cannot be opened, and peers that leave while they are being asked.
#include "fileshare/u_brenlofileserver.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "fake_net.h"
#include "fake_transfer_platform.h"

namespace {

// The window's controls as plain state; an open question waits until the test answers it.
struct FakeWindow final : IFileServerWindow {
    struct Row {
        bool exists = false, visible = false, marked = false;
        int position = 0;
        std::string hint, name, speed;
    };
    std::map<int, Row> rows;
    std::vector<std::string> panels{"", "", ""};
    std::string statusMessage;
    std::string label, labelHint, portText;
    bool visible = true, tray = false, trayWorks = true;
    unsigned timerMs = 0;
    std::vector<TConfirmQuestion> questions;
    std::map<int, TRowTicket> open;  // open questions by row
    std::vector<std::string> told;
    std::vector<std::function<void()>> later;
    std::uint64_t now = 100000;

    void SetFileLabel(const std::string& caption, const std::string& hint) override {
        label = caption;
        labelHint = hint;
    }
    void SetPortText(const std::string& text) override { portText = text; }
    bool AddTrayIcon() override { return tray = trayWorks; }
    void RemoveTrayIcon() override { tray = false; }
    void HideWindow() override { visible = false; }
    void RestoreWindow() override { visible = true; }
    void StartFirstStartTimer(unsigned ms) override { timerMs = ms; }
    void OpenQuestion(const TConfirmQuestion& question, TRowTicket ticket) override {
        questions.push_back(question);
        open[ticket.Row] = ticket;
    }
    void CloseQuestion(TRowTicket ticket) override {
        if (open.count(ticket.Row) != 0 && open[ticket.Row].Serial == ticket.Serial)
            open.erase(ticket.Row);
    }
    void RunLater(std::function<void()> call) override { later.push_back(std::move(call)); }
    void TellUser(const std::string& text) override { told.push_back(text); }
    void CreateRow(int row, const std::string& barHint) override {
        EXPECT_FALSE(rows[row].exists) << "row " << row << " created twice";
        rows[row] = Row{true, false, false, 0, barHint, "", ""};
    }
    Row& At(int row) {
        EXPECT_TRUE(rows[row].exists) << "row " << row << " used without controls";
        return rows[row];
    }
    void FreeRow(int row) override { At(row).exists = false; }
    void ShowRow(int row, const std::string& userName, const std::string& barHint) override {
        At(row).visible = true;
        At(row).name = userName;
        At(row).hint = barHint;
    }
    void SetBarMarked(int row, bool marked) override { At(row).marked = marked; }
    void SetBarPosition(int row, int percent) override { At(row).position = percent; }
    void SetBarHint(int row, const std::string& hint) override { At(row).hint = hint; }
    void SetSpeedText(int row, const std::string& text) override { At(row).speed = text; }
    void RepaintRow(int row, bool) override { At(row); }
    void SetStatusPanels(const std::string& a, const std::string& b,
                         const std::string& c) override {
        panels = {a, b, c};
        statusMessage.clear();
    }
    void SetStatusMessage(const std::string& text) override { statusMessage = text; }
    std::uint64_t TickCount() override { return now; }
};

constexpr char kSong[] = "C:\\Musik\\Nena - 99 Luftballons.mp3";

class FileServerForm : public testing::Test {
  protected:
    void SetUp() override {
        auto& t = texts;
        t.filecaption = "Datei";
        t.confirmdownloadcaption = "Download?";
        t.okbuttoncaption = "&Ja";
        t.cancelbuttoncaption = "&Nein";
        t.acceptdownloadmsg = "%username% will %username% laden.";
        t.downloaddisclaimer = "Achtung.";
        t.waitfordownloadstart = "Warte auf %username%";
        t.atspeedcaption = "mit";
        t.totalcaption = "Gesamt";
        t.transfercancelledbyusermsg = "%username% bricht ab.";
        SetFileServerTextSource([this] { return texts; });
        SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
        transfers.files[kSong] = std::string(10000, 'x');
    }
    void TearDown() override {
        form.reset();
        net.RunUntilIdle();
        EXPECT_EQ(transfers.LiveTimers(), 0) << "a transfer outlived the form";
        SetErrorDisplay(nullptr);
        SetFileServerTextSource(nullptr);
    }

    void Create(bool aolfs = true) {
        form = std::make_unique<TBrenloFileserverForm>(window, aolfs);
        form->SetServedFile(kSong);
    }
    // The user answers the open question of `row`.
    void Answer(int row, bool yes) {
        ASSERT_EQ(window.open.count(row), 1u) << "no question open for row " << row;
        const TRowTicket ticket = window.open[row];
        window.open.erase(row);
        form->QuestionAnswered(ticket, yes);
        net.RunUntilIdle();
    }
    // A peer that connected and asked for the file, and the user's answer (none: still open).
    TSocketHandle Request(const std::string& name, int port = 1000,
                          std::optional<bool> answer = true) {
        const TSocketHandle peer = net.PeerConnect(static_cast<std::uint16_t>(port));
        net.RunUntilIdle();
        net.PeerSend(peer, "request file:" + name);
        net.RunUntilIdle();
        if (answer) {
            EXPECT_EQ(window.open.size(), 1u);
            if (!window.open.empty())
                Answer(window.open.begin()->first, *answer);
        }
        return peer;
    }
    // A peer whose download is accepted, started and reported complete.
    TSocketHandle Download(const std::string& name) {
        const TSocketHandle peer = Request(name);
        net.PeerSend(peer, "ok sendfile");
        net.RunUntilIdle();
        net.PeerSend(peer, "status10000");
        net.RunUntilIdle();
        return peer;
    }

    TFileServerTexts texts;
    std::vector<std::string> errors;
    FakeNet net;
    FakeTransferPlatform transfers;
    FakeWindow window;
    std::unique_ptr<TBrenloFileserverForm> form;
};

TEST_F(FileServerForm, ListensOnPort1000FromCreationAndHidesBehindTheTrayIcon) {
    Create(true);
    EXPECT_TRUE(net.ListenerOn(1000).has_value());
    EXPECT_TRUE(form->IsListening());
    EXPECT_EQ(form->ServerPort(), 1000);
    EXPECT_EQ(window.portText, "1000");
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(window.timerMs, kFirstStartHideMs);
    EXPECT_TRUE(window.tray);
    EXPECT_TRUE(form->TrayIconShown());

    form->TrayIconMessage(0x0205);  // right button: swallowed
    EXPECT_FALSE(window.visible);
    form->TrayIconMessage(0x0202);  // left button released
    EXPECT_TRUE(window.visible);
    EXPECT_FALSE(form->FormCloseQuery());
    EXPECT_FALSE(window.visible);

    form->SetTrayIcon(false);
    EXPECT_FALSE(window.tray);
    window.trayWorks = false;
    form->SetTrayIcon(true);
    EXPECT_FALSE(form->TrayIconShown()) << "a failed add is remembered as no icon";
}

TEST_F(FileServerForm, ARestartedTaskbarGetsTheTrayIconAgainOnlyWhenItWasShown) {
    Create(true);
    window.tray = false;  // Explorer restarted: its new taskbar holds no icon of ours
    form->TaskbarCreated();
    EXPECT_TRUE(window.tray);
    EXPECT_TRUE(form->TrayIconShown());

    form->SetTrayIcon(false);
    form->TaskbarCreated();
    EXPECT_FALSE(window.tray) << "sharing is off: no icon comes back";

    form->SetTrayIcon(true);
    window.tray = false;
    window.trayWorks = false;
    form->TaskbarCreated();
    EXPECT_FALSE(form->TrayIconShown()) << "an add that failed is not believed shown";
    window.trayWorks = true;
    form->SetTrayIcon(true);
    EXPECT_TRUE(window.tray) << "so the next song adds it";
}

TEST_F(FileServerForm, TheFileLabelShowsTheCaptionAndLaterTheServedPath) {
    form = std::make_unique<TBrenloFileserverForm>(window, false);
    EXPECT_EQ(window.label, "Datei:");
    EXPECT_FALSE(window.tray);
    form->SetServedFile(kSong);
    EXPECT_EQ(window.label, std::string("Datei: ") + kSong);
    EXPECT_EQ(window.labelHint, kSong);
    EXPECT_EQ(form->ServedFileName(), kSong);
}

TEST_F(FileServerForm, AnAcceptedDownloadGoesThroughItsRowFromHiddenTo100PercentAndIsFreed) {
    Create();
    const TSocketHandle peer = net.PeerConnect(1000);
    net.RunUntilIdle();
    ASSERT_TRUE(window.rows[0].exists);
    EXPECT_FALSE(window.rows[0].visible);
    EXPECT_EQ(window.rows[0].hint, kSong);

    net.PeerSend(peer, "request file:Bob");
    net.RunUntilIdle();
    EXPECT_EQ(net.Sent(peer), "") << "nothing before the answer";
    Answer(0, true);
    ASSERT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(window.questions[0].Caption, "Download?");
    EXPECT_EQ(window.questions[0].OkCaption, "&Ja");
    EXPECT_EQ(window.questions[0].CancelCaption, "&Nein");
    EXPECT_EQ(window.questions[0].Text, "Bob will %username% laden.\n\r\n\rAchtung.");
    EXPECT_TRUE(window.rows[0].visible);
    EXPECT_EQ(window.rows[0].name, "Bob");
    EXPECT_EQ(window.rows[0].hint, "Warte auf Bob");
    EXPECT_EQ(net.Sent(peer), "request sendfile:10000-Nena - 99 Luftballons.mp3");

    net.PeerSend(peer, "ok sendfile");
    net.RunUntilIdle();
    net.PeerSend(peer, "status2500");
    net.RunUntilIdle();
    net.PeerSend(peer, "status10000");
    net.RunUntilIdle();
    EXPECT_EQ(window.rows[0].position, 100);
    EXPECT_TRUE(window.rows[0].marked);
    EXPECT_EQ(window.panels, (std::vector<std::string>{"100%", "", "Gesamt: 10000 Bytes"}));
    EXPECT_EQ(window.rows[0].hint, std::string(kSong) + "       (100% mit: )");

    net.PeerClose(peer);
    net.RunUntilIdle();
    EXPECT_FALSE(window.rows[0].exists);
    EXPECT_EQ(form->Rows().OpenCount(), 0);
    EXPECT_TRUE(errors.empty()) << errors[0];
}

TEST_F(FileServerForm, ADeclinedRequestIsRefusedAndItsRowNeverShows) {
    Create();
    const TSocketHandle peer = Request("Mallory", 1000, false);
    EXPECT_FALSE(net.IsOpen(peer));
    EXPECT_FALSE(window.rows[0].visible);
    EXPECT_FALSE(window.rows[0].exists) << "the refused connection closed and freed its row";
    EXPECT_EQ(form->Rows().OpenCount(), 0);
}

TEST_F(FileServerForm, TheSamePortChangesNothingAndAnotherEndsEveryTransferOfTheOldListener) {
    Create();
    const TSocketHandle a = Download("Anna");
    const TSocketHandle b = Request("Ben");
    net.PeerSend(b, "ok sendfile");
    net.RunUntilIdle();
    ASSERT_EQ(transfers.EnabledTimers(), 2) << "Ben's statistics timer and the idle watch run";
    form->SetServerPort(1000);
    EXPECT_EQ(form->Rows().OpenCount(), 2);

    form->SetServerPort(2000);
    EXPECT_EQ(form->Rows().OpenCount(), 0);
    EXPECT_FALSE(window.rows[0].exists);
    EXPECT_FALSE(window.rows[1].exists);
    EXPECT_FALSE(net.IsOpen(a));
    EXPECT_FALSE(net.IsOpen(b));
    EXPECT_EQ(transfers.LiveTimers(), 0) << "the ended transfers took their timers with them";
    EXPECT_FALSE(net.ListenerOn(1000).has_value());
    EXPECT_TRUE(net.ListenerOn(2000).has_value());
    EXPECT_EQ(window.portText, "2000");
    EXPECT_EQ(form->ServerPort(), 2000);
    net.RunUntilIdle();

    // The freed rows are reused by the next peer on the new port.
    Request("Cleo", 2000);
    EXPECT_EQ(window.rows[0].name, "Cleo");
    EXPECT_TRUE(errors.empty()) << errors[0];
}

TEST_F(FileServerForm, APortThatCannotBeOpenedIsToldOnceAndTriedAgainAtEachChange) {
    Create();
    net.FailNext("bind", kWsaEAddrInUse);
    form->SetServerPort(3000);
    EXPECT_FALSE(form->IsListening());
    ASSERT_EQ(window.told.size(), 1u);
    EXPECT_EQ(window.told[0], ListenerFailureText(3000, kWsaEAddrInUse, ""));
    EXPECT_NE(window.told[0].find("Port 3000"), std::string::npos);
    EXPECT_TRUE(errors.empty()) << "not raised into the announcement";

    net.FailNext("bind", kWsaEAddrInUse);
    form->SetServerPort(3000);
    EXPECT_EQ(window.told.size(), 1u) << "the same failure is not told again";

    form->SetServerPort(3000);
    EXPECT_TRUE(form->IsListening());
    EXPECT_TRUE(net.ListenerOn(3000).has_value());

    net.FailNext("bind", 10013);
    form->SetServerPort(3001);
    ASSERT_EQ(window.told.size(), 2u) << "a new failure after a success is told";
    EXPECT_NE(window.told[1].find("erlaubt den Zugriff"), std::string::npos);
}

TEST_F(FileServerForm, AListenerWhoseNotificationsCannotBeSelectedIsNotListeningAndIsTold) {
    Create();
    constexpr int kWsaENoBufs = 10055;
    net.FailNext("asyncselect", kWsaENoBufs);
    form->SetServerPort(3000);
    EXPECT_FALSE(form->IsListening()) << "no accept would ever be heard of: no link either";
    EXPECT_FALSE(form->ServerSocket1.Active());
    EXPECT_FALSE(net.ListenerOn(3000).has_value());
    EXPECT_EQ(net.OpenSockets(), 0) << "the half-opened socket is closed";
    ASSERT_EQ(window.told.size(), 1u);
    EXPECT_EQ(window.told[0], ListenerFailureText(3000, kWsaENoBufs,
                                                  SocketErrorText(kWsaENoBufs, "WSAAsyncSelect")));

    form->SetServerPort(3000);
    EXPECT_TRUE(form->IsListening()) << "the next song change tries again";
    const TSocketHandle peer = net.PeerConnect(3000);
    net.RunUntilIdle();
    EXPECT_EQ(form->Connections(), 1);
    net.PeerClose(peer);
    net.RunUntilIdle();
}

TEST_F(FileServerForm, ATakenPortOfTheStartIsNotToldAndTheFirstSongTriesAgain) {
    net.FailNext("bind", kWsaEAddrInUse);
    Create();
    EXPECT_FALSE(form->IsListening());
    EXPECT_TRUE(window.told.empty()) << "nothing at the player's start";
    net.FailNext("bind", kWsaEAddrInUse);
    form->SetServerPort(1000);
    ASSERT_EQ(window.told.size(), 1u) << "the configured port 1000 failed at a song";
    EXPECT_NE(window.told[0].find("Port 1000"), std::string::npos);
    form->SetServerPort(1000);
    EXPECT_TRUE(form->IsListening()) << "the next song change tries again";
}

TEST_F(FileServerForm, APortTextThatIsNoPortIsToldOnceAndTheListenerStays) {
    Create();
    form->RejectServerPort("tausend");
    form->RejectServerPort("tausend");
    ASSERT_EQ(window.told.size(), 1u);
    EXPECT_EQ(window.told[0], InvalidPortText("tausend"));
    EXPECT_TRUE(net.ListenerOn(1000).has_value());

    // The hidden port field: a number moves the listener, anything else is told.
    form->Edit2Change("4000");
    EXPECT_TRUE(net.ListenerOn(4000).has_value());
    form->Edit2Change("40x");
    EXPECT_EQ(window.told.size(), 2u);
    EXPECT_TRUE(net.ListenerOn(4000).has_value());
}

TEST_F(FileServerForm, APeerThatLeavesWhileAskedClosesItsQuestionAndFreesItsRowOnce) {
    Create();
    const TSocketHandle peer = Request("Leaver", 1000, std::nullopt);
    ASSERT_EQ(window.open.size(), 1u);
    const TRowTicket asked = window.open[0];
    net.PeerClose(peer);
    net.RunUntilIdle();
    EXPECT_TRUE(window.open.empty()) << "the question closed with its peer";
    EXPECT_FALSE(window.rows[0].exists);
    EXPECT_EQ(form->Rows().OpenCount(), 0);
    form->QuestionAnswered(asked, true);  // a click that raced the close
    EXPECT_FALSE(window.rows[0].visible) << "the late answer shows nothing";

    Request("Next");
    EXPECT_EQ(form->Rows().Count(), 1) << "the row was released once and is reused";
    EXPECT_EQ(window.rows[0].name, "Next");
    form->QuestionAnswered(asked, false);  // the old ticket does not reach the new transfer
    EXPECT_TRUE(window.rows[0].visible);
}

TEST_F(FileServerForm, ASongChangeToAnotherPortWhileAskedMovesTheListenerAtOnce) {
    Create();
    const TSocketHandle peer = Request("Asked", 1000, std::nullopt);
    ASSERT_EQ(window.open.size(), 1u);
    form->SetServerPort(2000);
    EXPECT_TRUE(window.open.empty()) << "the asked transfer was ended with its question";
    EXPECT_FALSE(net.IsOpen(peer));
    EXPECT_EQ(form->Rows().OpenCount(), 0);
    EXPECT_FALSE(window.rows[0].exists);
    EXPECT_FALSE(net.ListenerOn(1000).has_value());
    EXPECT_TRUE(net.ListenerOn(2000).has_value());
    EXPECT_TRUE(form->IsListening());
    EXPECT_EQ(window.portText, "2000");
    EXPECT_TRUE(window.later.empty()) << "nothing waits for a loop to end";
    Request("Next", 2000);
    EXPECT_EQ(window.rows[0].name, "Next");
}

TEST_F(FileServerForm, APeersCancellationIsShownInTheStatusBarNotInADialog) {
    Create();
    const TSocketHandle peer = Request("Quitter");
    net.PeerSend(peer, "fuck off");
    net.RunUntilIdle();
    EXPECT_EQ(window.statusMessage, "Quitter bricht ab.");
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_TRUE(window.told.empty());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(form->Rows().OpenCount(), 0);
}

TEST_F(FileServerForm, ThreePeersGetThreeRowsAndTheMouseMovesTheStatusBarToAnother) {
    Create();
    Download("A");
    const TSocketHandle b = Download("B");
    const TSocketHandle c = Request("C");
    EXPECT_EQ(form->Rows().OpenCount(), 3);
    net.PeerSend(c, "ok sendfile");
    net.RunUntilIdle();
    net.PeerSend(c, "status2500");
    net.RunUntilIdle();
    transfers.Advance(1000);
    EXPECT_EQ(window.rows[2].position, 25);
    EXPECT_EQ(window.panels[0], "100%") << "row 0 is still the selected one";
    form->ProgressbarMouseMove(2);
    EXPECT_EQ(window.panels[0], "25%");
    EXPECT_TRUE(window.rows[2].marked);
    EXPECT_FALSE(window.rows[0].marked);
    net.PeerClose(b);
    net.RunUntilIdle();
    Request("D");
    EXPECT_EQ(window.rows[1].name, "D");
    EXPECT_EQ(form->Rows().Count(), 3);
}

}  // namespace
