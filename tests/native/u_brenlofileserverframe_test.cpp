// The transfer rows of the file-server window: reuse of closed rows, the selected row and the
// status bar, the bars' hints and the repaint throttle shared by all rows.
#include "fileshare/u_brenlofileserverframe.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Holds what the window's controls would show.
struct FakeRowControls final : ITransferRowControls {
    struct Row {
        bool exists = false;
        bool visible = false;
        bool marked = false;
        int position = 0;
        std::string hint, name, speed;
    };
    std::map<int, Row> rows;
    std::vector<std::string> panels{"", "", ""};
    std::string message;  // whole-bar message, empty while the panels show
    std::vector<int> repaints;
    std::uint64_t now = 10000;
    int creates = 0, frees = 0;

    Row& At(int row) {
        EXPECT_TRUE(rows[row].exists) << "row " << row << " has no controls";
        return rows[row];
    }
    void CreateRow(int row, const std::string& barHint) override {
        EXPECT_FALSE(rows[row].exists) << "row " << row << " created twice";
        rows[row] = Row{};
        rows[row].exists = true;
        rows[row].hint = barHint;
        ++creates;
    }
    void FreeRow(int row) override {
        At(row);
        rows[row].exists = false;
        ++frees;
    }
    void ShowRow(int row, const std::string& userName, const std::string& barHint) override {
        At(row).visible = true;
        At(row).name = userName;
        At(row).hint = barHint;
    }
    void SetBarMarked(int row, bool marked) override { At(row).marked = marked; }
    void SetBarPosition(int row, int percent) override { At(row).position = percent; }
    void SetBarHint(int row, const std::string& hint) override { At(row).hint = hint; }
    void SetSpeedText(int row, const std::string& text) override { At(row).speed = text; }
    void RepaintRow(int row, bool) override {
        At(row);
        repaints.push_back(row);
    }
    void SetStatusPanels(const std::string& percent, const std::string& speed,
                         const std::string& total) override {
        panels = {percent, speed, total};
        message.clear();
    }
    void SetStatusMessage(const std::string& text) override { message = text; }
    std::uint64_t TickCount() override { return now; }
};

class TransferRows : public testing::Test {
  protected:
    void SetUp() override {
        texts.waitfordownloadstart = "Warte auf %username% (%username%)";
        texts.atspeedcaption = "bei";
        texts.totalcaption = "Gesamt";
        texts.transfercancelledbyusermsg = "%username% hat abgebrochen.";
        SetFileServerTextSource([this] { return texts; });
    }
    void TearDown() override { SetFileServerTextSource(nullptr); }

    // Opens a row for a new transfer and has the user accept it.
    int Connect(const std::string& name, const std::string& served = "C:\\song.mp3") {
        const int row = rows.Open(&transfers[next++], served).Row;
        rows.Accept(row, name);
        return row;
    }

    TFileServerTexts texts;
    FakeRowControls controls;
    TTransferRows rows{controls};
    int transfers[16] = {};
    int next = 0;
};

TEST(ReplaceFirstText, ReplacesOnlyTheFirstOccurrence) {
    EXPECT_EQ(ReplaceFirst("a %u% b %u%", "%u%", "X"), "a X b %u%");
    EXPECT_EQ(ReplaceFirst("no pattern", "%u%", "X"), "no pattern");
    EXPECT_EQ(ReplaceFirst("%u%", "%u%", ""), "");
    EXPECT_EQ(ReplaceFirst("abc", "", "X"), "abc");
}

TEST_F(TransferRows, NewRowsAreAppendedHiddenWithTheServedFileAsHint) {
    const TRowTicket first = rows.Open(&transfers[0], "C:\\a.mp3");
    const TRowTicket second = rows.Open(&transfers[1], "C:\\b.mp3");
    EXPECT_EQ(first.Row, 0);
    EXPECT_EQ(second.Row, 1);
    EXPECT_FALSE(controls.rows[0].visible);
    EXPECT_EQ(controls.rows[0].hint, "C:\\a.mp3");
    EXPECT_EQ(controls.rows[1].hint, "C:\\b.mp3");
    EXPECT_EQ(rows.Row(1).Transfer, &transfers[1]);
}

TEST_F(TransferRows, AcceptShowsTheRowWithNameAndWaitingHintReplacingTheFirstName) {
    const int row = Connect("Bob");
    EXPECT_TRUE(controls.rows[row].visible);
    EXPECT_EQ(controls.rows[row].name, "Bob");
    EXPECT_EQ(controls.rows[row].hint, "Warte auf Bob (%username%)");
    EXPECT_TRUE(rows.Row(row).Shown);
}

TEST_F(TransferRows, ADeclinedRowNeverBecomesVisibleAndIsReleasedOnce) {
    const int row = rows.Open(&transfers[0], "C:\\a.mp3").Row;
    rows.Close(row);
    rows.Close(row);
    EXPECT_FALSE(controls.rows[row].visible);
    EXPECT_EQ(controls.frees, 1);
    EXPECT_EQ(rows.OpenCount(), 0);
}

TEST_F(TransferRows, AClosedRowIsReusedByTheNextPeerAtTheTopAndOthersStay) {
    Connect("A");
    Connect("B");
    Connect("C");
    rows.Close(0);
    rows.Close(2);
    const TRowTicket reused = rows.Open(&transfers[9], "C:\\x.mp3");
    EXPECT_EQ(reused.Row, 0);
    EXPECT_EQ(rows.Row(0).Transfer, &transfers[9]);
    EXPECT_EQ(rows.Open(&transfers[10], "C:\\x.mp3").Row, 2);
    EXPECT_EQ(rows.Open(&transfers[11], "C:\\x.mp3").Row, 3);
    EXPECT_EQ(rows.Count(), 4);
    EXPECT_EQ(controls.rows[1].name, "B");
}

TEST_F(TransferRows, ATicketTurnsStaleWhenItsRowClosesEvenIfTheRowIsReused) {
    const TRowTicket ticket = rows.Open(&transfers[0], "C:\\a.mp3");
    EXPECT_TRUE(rows.Current(ticket));
    rows.Close(ticket.Row);
    EXPECT_FALSE(rows.Current(ticket));
    const TRowTicket again = rows.Open(&transfers[0], "C:\\a.mp3");
    EXPECT_EQ(again.Row, ticket.Row);
    EXPECT_FALSE(rows.Current(ticket));
    EXPECT_TRUE(rows.Current(again));
}

TEST_F(TransferRows, RowZeroCountsAsSelectedBeforeAnyMouseMove) {
    Connect("A");
    Connect("B");
    rows.Stat(1, "C:\\s.mp3", 30, "5,00 Kbit/s", 300, 1000);
    EXPECT_FALSE(controls.rows[1].marked);
    EXPECT_EQ(controls.panels, (std::vector<std::string>{"", "", ""}));
    rows.Stat(0, "C:\\s.mp3", 42, "12,50 Kbit/s", 420, 1000);
    EXPECT_TRUE(controls.rows[0].marked);
    EXPECT_EQ(controls.panels,
              (std::vector<std::string>{"42%", "12,50 Kbit/s", "Gesamt: 1000 Bytes"}));
}

TEST_F(TransferRows, TheTotalShowsZeroUntilTheFirstStatusReport) {
    Connect("A");
    rows.Stat(0, "C:\\s.mp3", 0, "", 0, 0);
    EXPECT_EQ(controls.panels, (std::vector<std::string>{"0%", "", "Gesamt: 0 Bytes"}));
}

TEST_F(TransferRows, AStatusReportSetsBarSpeedAndHint) {
    Connect("A");
    rows.Stat(0, "C:\\Musik\\s.mp3", 57, "80,00 Kbit/s", 570, 1000);
    EXPECT_EQ(controls.rows[0].position, 57);
    EXPECT_EQ(controls.rows[0].speed, "80,00 Kbit/s");
    EXPECT_EQ(controls.rows[0].hint, "C:\\Musik\\s.mp3       (57% bei: 80,00 Kbit/s)");
    EXPECT_EQ(rows.Row(0).RowBytes, 570);
    EXPECT_EQ(rows.Row(0).RowTotal, 1000);
}

TEST_F(TransferRows, MovingTheMouseToAnotherBarMovesTheMarkAndRewritesTheStatusBar) {
    Connect("A");
    Connect("B");
    rows.Stat(0, "f", 10, "1 Kbit/s", 10, 100);
    rows.Stat(1, "f", 70, "7 Kbit/s", 70, 100);
    controls.repaints.clear();

    rows.MouseMove(1);
    EXPECT_EQ(rows.SelectedRow(), 1);
    EXPECT_FALSE(controls.rows[0].marked);
    EXPECT_TRUE(controls.rows[1].marked);
    EXPECT_EQ(controls.repaints, (std::vector<int>{0, 1}));
    EXPECT_EQ(controls.panels, (std::vector<std::string>{"70%", "7 Kbit/s", "Gesamt: 100 Bytes"}));

    // Moving within the same bar does nothing.
    controls.repaints.clear();
    controls.panels = {"x", "y", "z"};
    rows.MouseMove(1);
    EXPECT_TRUE(controls.repaints.empty());
    EXPECT_EQ(controls.panels, (std::vector<std::string>{"x", "y", "z"}));
}

TEST_F(TransferRows, ClosingTheSelectedRowLeavesNoSelectionAndTheStatusBarKeepsItsTexts) {
    Connect("A");
    rows.Stat(0, "f", 100, "9 Kbit/s", 100, 100);
    rows.Close(0);
    EXPECT_EQ(rows.SelectedRow(), -1);
    EXPECT_EQ(controls.panels, (std::vector<std::string>{"100%", "9 Kbit/s", "Gesamt: 100 Bytes"}));
    // The next peer reuses the row, which is not selected until the mouse picks it.
    Connect("B");
    rows.Stat(0, "f", 5, "1 Kbit/s", 5, 100);
    EXPECT_FALSE(controls.rows[0].marked);
    EXPECT_EQ(controls.panels[0], "100%");
    rows.MouseMove(0);
    EXPECT_EQ(controls.panels[0], "5%");
}

TEST_F(TransferRows, ReportsAndMovesForClosedOrUnknownRowsTouchNoControls) {
    Connect("A");
    rows.Close(0);
    rows.Stat(0, "f", 50, "s", 1, 2);
    rows.Stat(7, "f", 50, "s", 1, 2);
    rows.Stat(-1, "f", 50, "s", 1, 2);
    rows.Accept(0, "late");
    rows.MouseMove(0);
    rows.MouseMove(5);
    rows.PeerCancelled(0, "A");
    EXPECT_EQ(rows.SelectedRow(), -1);
    EXPECT_FALSE(controls.rows[0].exists);
    EXPECT_TRUE(controls.message.empty());
}

TEST_F(TransferRows, OneRepaintThrottleIsSharedByAllRows) {
    Connect("A");
    Connect("B");
    const struct {
        int row;
        std::uint64_t at;
        bool repainted;
    } steps[] = {
        {0, 10000, true},   // first report
        {1, 10200, false},  // another row within 500 ms
        {0, 10500, false},  // exactly 500 ms is not more than 500
        {1, 10501, true},  {0, 10600, false}, {0, 11002, true},
    };
    for (const auto& step : steps) {
        controls.now = step.at;
        controls.repaints.clear();
        rows.Stat(step.row, "f", 1, "s", 1, 100);
        EXPECT_EQ(!controls.repaints.empty(), step.repainted)
            << "row " << step.row << " at " << step.at;
    }
}

TEST_F(TransferRows, APeersCancellationIsShownInTheStatusBarWithItsName) {
    Connect("Bob");
    rows.PeerCancelled(0, "Bob");
    EXPECT_EQ(controls.message, "Bob hat abgebrochen.");
    texts.transfercancelledbyusermsg.clear();
    rows.PeerCancelled(0, "Eve");
    EXPECT_EQ(controls.message, "Eve hat den Download abgebrochen.");
}

}  // namespace
