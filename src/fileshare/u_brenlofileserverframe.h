// The transfer rows of the file-server window's scrolling frame: which row a new peer gets, which
// row is selected, what each row's bar, labels and hints and the status bar show, and when a row
// is forced to repaint. The window owns the controls (u_brenlofileserver_win32); this code only
// tells it what to put on them, so that all of it runs and is tested without Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Rows are this many pixels apart in the frame.
inline constexpr int kRowPitch = 13;
// A row is forced to repaint at most once in this many milliseconds, across all rows.
inline constexpr std::uint64_t kRepaintThrottleMs = 500;

// The texts of the language file's section "language_filesharing" that the window and its
// question show.
struct TFileServerTexts {
    std::string filecaption, confirmdownloadcaption, okbuttoncaption, cancelbuttoncaption,
        acceptdownloadmsg, downloaddisclaimer, waitfordownloadstart, totalcaption, atspeedcaption,
        transfercancelledbyusermsg;
};
// Where the texts come from, asked each time they are shown. The plug-in points it at the
// language file's texts; without a source every text is empty.
void SetFileServerTextSource(std::function<TFileServerTexts()> source);
TFileServerTexts FileServerTexts();

// Replaces only the first occurrence of `pattern`; a text without it comes back unchanged.
std::string ReplaceFirst(const std::string& text, const std::string& pattern,
                         const std::string& replacement);

// The row controls and the status bar, as the window provides them.
class ITransferRowControls {
  public:
    virtual ~ITransferRowControls() = default;
    // Creates the row's progress bar (range 0-100, position 0, hint `barHint`), its name label
    // and its speed label, all hidden, at top = row x kRowPitch.
    virtual void CreateRow(int row, const std::string& barHint) = 0;
    // Frees the row's three controls.
    virtual void FreeRow(int row) = 0;
    // Makes the bar (with the new hint) and both labels visible; the name label shows `userName`.
    virtual void ShowRow(int row, const std::string& userName, const std::string& barHint) = 0;
    // Red background for the selected row's bar, the button face for every other.
    virtual void SetBarMarked(int row, bool marked) = 0;
    virtual void SetBarPosition(int row, int percent) = 0;
    virtual void SetBarHint(int row, const std::string& hint) = 0;
    virtual void SetSpeedText(int row, const std::string& text) = 0;
    // Repaints the bar (and, with `withSpeed`, the speed label) now.
    virtual void RepaintRow(int row, bool withSpeed) = 0;
    // The three panels of the status bar (percent, speed, total).
    virtual void SetStatusPanels(const std::string& percent, const std::string& speed,
                                 const std::string& total) = 0;
    // One message across the whole status bar, until the panels are set again.
    virtual void SetStatusMessage(const std::string& text) = 0;
    // Milliseconds since some fixed start; does not wrap.
    virtual std::uint64_t TickCount() = 0;
};

// One transfer row (TBrenloFileServerVisual without its controls, which the window holds).
struct TTransferRow {
    const void* Transfer = nullptr;  // the row's transfer object; kept when the row closes
    std::int32_t RowPercent = 0;
    std::int64_t RowTotal = 0;
    std::int64_t RowBytes = 0;
    std::string RowSpeed;
    bool Closed = false;  // free for reuse
    bool Shown = false;   // the user accepted the download
    // Counts the transfers the row has carried, so that a handler that ran a nested message
    // loop can tell whether the row still belongs to its transfer.
    std::uint32_t Serial = 0;
};

// A row as a handler saw it before a nested message loop.
struct TRowTicket {
    int Row = -1;
    std::uint32_t Serial = 0;
};

class TTransferRows {
  public:
    explicit TTransferRows(ITransferRowControls& controls) : controls_(controls) {}
    TTransferRows(const TTransferRows&) = delete;
    TTransferRows& operator=(const TTransferRows&) = delete;

    // A peer was accepted: the first closed row is reused, otherwise a new one is appended. The
    // row's controls are created hidden, the bar's hint being the served file. When the controls
    // cannot be created, what they raise comes through and no row is left open.
    TRowTicket Open(const void* transfer, const std::string& servedFile);
    // The local user accepted the download of `userName`: the row becomes visible.
    void Accept(int row, const std::string& userName);
    // A statistics report of the row's transfer (UpdateStat).
    void Stat(int row, const std::string& filePath, std::int32_t pos, const std::string& speed,
              std::int64_t bytes, std::int64_t total);
    // The row's transfer ended: its controls are freed and the row is free for reuse. A second
    // close of the same row does nothing.
    void Close(int row);
    // The mouse moved over the row's bar: it becomes the selected row (ProgressbarMouseMove).
    void MouseMove(int row);
    // The selected row's figures into the status bar; nothing when no row is selected.
    void UpdateGlobalProgress();
    // The peer of the row cancelled its download: the status bar says so.
    void PeerCancelled(int row, const std::string& userName);

    // Whether the ticket's row is still open and still carries the same transfer.
    bool Current(const TRowTicket& ticket) const;
    bool IsOpen(int row) const;
    int SelectedRow() const { return selectedRow_; }
    int Count() const { return static_cast<int>(rows_.size()); }
    int OpenCount() const;
    const TTransferRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

  private:
    ITransferRowControls& controls_;
    std::vector<TTransferRow> rows_;
    // Row 0 counts as selected before the mouse has moved over any bar.
    int selectedRow_ = 0;
    std::uint64_t lastRefreshTick_ = 0;
};
