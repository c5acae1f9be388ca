// The transfer rows of the file-server window's scrolling frame.
#include "fileshare/u_brenlofileserverframe.h"

#include <utility>

namespace {

std::function<TFileServerTexts()> g_textSource;

// Shown when the language file has no text for a peer's cancellation.
constexpr const char* kCancelledFallback = "%username% hat den Download abgebrochen.";

}  // namespace

void SetFileServerTextSource(std::function<TFileServerTexts()> source) {
    g_textSource = std::move(source);
}

TFileServerTexts FileServerTexts() {
    return g_textSource ? g_textSource() : TFileServerTexts{};
}

std::string ReplaceFirst(const std::string& text, const std::string& pattern,
                         const std::string& replacement) {
    if (pattern.empty())
        return text;
    const std::size_t at = text.find(pattern);
    if (at == std::string::npos)
        return text;
    std::string result = text;
    result.replace(at, pattern.size(), replacement);
    return result;
}

TRowTicket TTransferRows::Open(const void* transfer, const std::string& servedFile) {
    std::size_t index = 0;
    while (index < rows_.size() && !rows_[index].Closed)
        ++index;
    const bool appended = index == rows_.size();
    if (appended)
        rows_.emplace_back();
    TTransferRow& row = rows_[index];
    const std::uint32_t serial = row.Serial + 1;
    row = TTransferRow{};
    row.Transfer = transfer;
    row.Serial = serial;
    const int rowIndex = static_cast<int>(index);
    try {
        controls_.CreateRow(rowIndex, servedFile);
    } catch (...) {
        // The controls could not be made (they clean up after themselves): no row is left.
        if (appended) {
            rows_.pop_back();
        } else {
            rows_[index].Transfer = nullptr;
            rows_[index].Closed = true;
        }
        throw;
    }
    return {rowIndex, serial};
}

void TTransferRows::Accept(int row, const std::string& userName) {
    if (!IsOpen(row))
        return;
    rows_[static_cast<std::size_t>(row)].Shown = true;
    controls_.ShowRow(row, userName,
                      ReplaceFirst(FileServerTexts().waitfordownloadstart, "%username%", userName));
}

void TTransferRows::Stat(int row, const std::string& filePath, std::int32_t pos,
                         const std::string& speed, std::int64_t bytes, std::int64_t total) {
    // A report for a row that has closed has no controls left to show it on.
    if (!IsOpen(row))
        return;
    TTransferRow& r = rows_[static_cast<std::size_t>(row)];
    r.RowPercent = pos;
    r.RowTotal = total;
    r.RowSpeed = speed;
    r.RowBytes = bytes;
    if (row == selectedRow_) {
        controls_.SetBarMarked(row, true);
        UpdateGlobalProgress();
    } else {
        controls_.SetBarMarked(row, false);
    }
    controls_.SetBarPosition(row, pos);
    controls_.SetSpeedText(row, speed);
    const std::uint64_t now = controls_.TickCount();
    if (now - lastRefreshTick_ > kRepaintThrottleMs) {
        controls_.RepaintRow(row, true);
        lastRefreshTick_ = now;
    }
    controls_.SetBarHint(row, filePath + "       (" + std::to_string(pos) + "% " +
                                  FileServerTexts().atspeedcaption + ": " + speed + ")");
}

void TTransferRows::Close(int row) {
    if (!IsOpen(row))
        return;
    controls_.FreeRow(row);
    TTransferRow& r = rows_[static_cast<std::size_t>(row)];
    r.Closed = true;
    r.Shown = false;
    if (selectedRow_ == row)
        selectedRow_ = -1;
}

void TTransferRows::MouseMove(int row) {
    if (row == selectedRow_ || !IsOpen(row))
        return;
    if (IsOpen(selectedRow_)) {
        controls_.SetBarMarked(selectedRow_, false);
        controls_.RepaintRow(selectedRow_, false);
    }
    selectedRow_ = row;
    controls_.SetBarMarked(row, true);
    controls_.RepaintRow(row, false);
    UpdateGlobalProgress();
}

void TTransferRows::UpdateGlobalProgress() {
    if (selectedRow_ < 0 || selectedRow_ >= Count())
        return;
    const TTransferRow& r = rows_[static_cast<std::size_t>(selectedRow_)];
    controls_.SetStatusPanels(
        std::to_string(r.RowPercent) + "%", r.RowSpeed,
        FileServerTexts().totalcaption + ": " + std::to_string(r.RowTotal) + " Bytes");
}

void TTransferRows::PeerCancelled(int row, const std::string& userName) {
    if (!IsOpen(row))
        return;
    const std::string text = FileServerTexts().transfercancelledbyusermsg;
    controls_.SetStatusMessage(
        ReplaceFirst(text.empty() ? kCancelledFallback : text, "%username%", userName));
}

bool TTransferRows::Current(const TRowTicket& ticket) const {
    return IsOpen(ticket.Row) &&
           rows_[static_cast<std::size_t>(ticket.Row)].Serial == ticket.Serial;
}

bool TTransferRows::IsOpen(int row) const {
    return row >= 0 && row < Count() && !rows_[static_cast<std::size_t>(row)].Closed;
}

int TTransferRows::OpenCount() const {
    int count = 0;
    for (const TTransferRow& r : rows_)
        count += r.Closed ? 0 : 1;
    return count;
}
