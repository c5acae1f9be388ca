// The transfer protocol of one peer connection (see BrenloFileServer.h).
//
// Lifetime: the object ends when its connection closes. Handlers of this object can run nested
// (the confirmation question and message boxes of the owner run message loops in which this
// connection's notifications keep coming), so the end is deferred until the outermost handler
// of this object returns: nothing on the stack ever touches a freed transfer.
#include "fileshare/BrenloFileServer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

#include "common/app_error.h"
#include "common/errors.h"

namespace {

const TTransferPlatform* g_platform = nullptr;

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file as the socket layer reads it, noting how far it has read and how far it has sent: a
// piece is read again after a send that would block, so the furthest point read grows only as
// pieces go out (at most one piece ahead of them). The layer settles each piece (sent, or the
// position set back to what was sent) before it reads the next one, and releases the stream
// right after its last piece went out, so everything before the position at a read, and at
// the release, has been sent. The counts are shared, as the stream may outlive the transfer.
class TCountingStream final : public TStream {
  public:
    TCountingStream(std::unique_ptr<TStream> inner, std::shared_ptr<std::int64_t> reached,
                    std::shared_ptr<std::int64_t> sent)
        : inner_(std::move(inner)), reached_(std::move(reached)), sent_(std::move(sent)) {
        *reached_ = 0;
        *sent_ = 0;
    }
    ~TCountingStream() override { *sent_ = std::max(*sent_, inner_->Position()); }
    std::int64_t Size() override { return inner_->Size(); }
    std::int64_t Position() override { return inner_->Position(); }
    void SetPosition(std::int64_t position) override { inner_->SetPosition(position); }
    int Read(void* buffer, int count) override {
        *sent_ = std::max(*sent_, inner_->Position());
        const int got = inner_->Read(buffer, count);
        *reached_ = std::max(*reached_, inner_->Position());
        return got;
    }

  private:
    std::unique_ptr<TStream> inner_;
    std::shared_ptr<std::int64_t> reached_;
    std::shared_ptr<std::int64_t> sent_;
};

bool StartsWith(const std::string& text, std::size_t at, const char* literal) {
    return text.compare(at, std::char_traits<char>::length(literal), literal) == 0;
}

// The messages a confirmed peer sends, by their beginnings.
const char* const kConfirmedMessages[] = {kOkSendFile, kCancel, kStatus};

// Whether a message begins at `at`, or the text ends there or in the middle of a message's
// beginning: a message that ends at `at` is then not followed by anything else.
bool MessageBoundary(const std::string& text, std::size_t at) {
    const std::size_t rest = text.size() - at;
    for (const char* literal : kConfirmedMessages) {
        const std::size_t length = std::char_traits<char>::length(literal);
        if (text.compare(at, std::min(rest, length), literal, std::min(rest, length)) == 0)
            return true;
    }
    return false;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Everything pending on the connection, but no more than kMaxMessageBytes.
std::string ReceiveMessage(TCustomWinSocket& socket) {
    // One receive takes it all: asking first how much has arrived would cost a system call more
    // per status report, and a peer reports many times a second while it downloads.
    std::string text(static_cast<std::size_t>(kMaxMessageBytes), '\0');
    const int got = socket.ReceiveBytes(text.data(), kMaxMessageBytes);
    if (got <= 0)
        return {};
    text.resize(static_cast<std::size_t>(got));
    return text;
}

}  // namespace

const TTransferPlatform& TransferPlatform() {
    if (!g_platform)
        throw EBrenloError("no transfer platform installed");
    return *g_platform;
}

const TTransferPlatform* SetTransferPlatform(const TTransferPlatform* platform) {
    const TTransferPlatform* previous = g_platform;
    g_platform = platform;
    return previous;
}

// ---- text helpers ------------------------------------------------------------------------------

std::string FormatGeneral(double value, const std::string& decimalSeparator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15G", value);
    std::string result;
    for (const char* p = text; *p; ++p) {
        if (*p == '.')
            result += decimalSeparator;
        else
            result += *p;
    }
    return result;
}

std::string FormatThousands2(double value, const std::string& decimalSeparator,
                             const std::string& thousandSeparator) {
    char text[400];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string digits = text;
    std::string sign;
    if (!digits.empty() && digits[0] == '-') {
        sign = "-";
        digits.erase(0, 1);
    }
    const std::size_t point = digits.find('.');
    const std::string whole = digits.substr(0, point);
    const std::string fraction = point == std::string::npos ? "00" : digits.substr(point + 1);
    std::string grouped;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            grouped += thousandSeparator;
        grouped += whole[i];
    }
    if (sign == "-" && grouped.find_first_not_of("0" + thousandSeparator) == std::string::npos &&
        fraction == "00")
        sign.clear();  // no "-0.00"
    return sign + grouped + decimalSeparator + fraction;
}

std::int64_t PercentOf(std::int64_t position, std::int64_t fileSize) {
    if (fileSize == 0)
        return 100;  // all of nothing has arrived
    // nearbyint rounds in the current mode: to the nearest, ties to the even neighbour.
    return static_cast<std::int64_t>(
        std::nearbyint(static_cast<double>(position * 100) / static_cast<double>(fileSize)));
}

// ---- lifetime helpers --------------------------------------------------------------------------

// Shared by the two hooks this object puts on the connection. When the connection object is
// freed with our hooks still on it (the listener closes and frees its connections without
// telling anybody), the last hook goes and with it this link: the transfer learns that its
// connection is gone and ends without touching it.
struct TBrenloFileServer::HookLink {
    TBrenloFileServer* owner = nullptr;
    ~HookLink() {
        if (owner)
            owner->ConnectionFreed();
    }
};

class TBrenloFileServer::Busy {
  public:
    explicit Busy(TBrenloFileServer* server) : server_(server) { ++server_->busy_; }
    ~Busy() {
        if (--server_->busy_ == 0 && server_->ended_)
            server_->Finish();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    TBrenloFileServer* server_;
};

// ---- the transfer ------------------------------------------------------------------------------

TBrenloFileServer::TBrenloFileServer(TCustomWinSocket* connection, const std::string& filePath)
    : Socket(connection), filePath_(filePath) {
    Timer1 = TransferPlatform().NewTimer(kStatTimerIntervalMs, [this] { Timer1Timer(); });
    auto link = std::make_shared<HookLink>();
    link->owner = this;
    link_ = link;
    Socket->OnNetEvent = [link](TObject* sender, TCustomWinSocket* socket, TNetEventKind kind) {
        if (link->owner)
            link->owner->SocketEvent(sender, socket, kind);
    };
    Socket->OnNetError = [link](TObject* sender, TCustomWinSocket* socket, TErrorEvent origin,
                                int& code) {
        if (link->owner)
            link->owner->ErrorEvent(sender, socket, origin, code);
        else
            code = 0;
    };
}

TBrenloFileServer::~TBrenloFileServer() {
    if (auto link = link_.lock()) {
        // The connection still exists: leave no hook on it that leads here.
        link->owner = nullptr;
        Socket->OnNetEvent = nullptr;
        Socket->OnNetError = nullptr;
    }
}

void TBrenloFileServer::EndTransfer() {
    Busy busy(this);
    if (ended_)
        return;
    if (!connectionGone_ && Socket->IsConnected())
        CloseOurselves();  // ends us through the disconnect notification
    if (!ended_)
        ClientDisconnect();
}

void TBrenloFileServer::Answer(bool yes) {
    Busy busy(this);
    if (ended_ || !asking_ || confirmed_)
        return;
    asking_ = false;
    if (yes) {
        confirmed_ = true;
        OfferFile();
    } else {
        Refuse();
    }
}

void TBrenloFileServer::SocketEvent(TObject*, TCustomWinSocket*, TNetEventKind kind) {
    Busy busy(this);
    switch (kind) {
        case neRead:
            if (!ended_)
                ClientRead();
            break;
        case neDisconnect:
            if (!ended_ && !connectionGone_ && !closingOurselves_)
                ReadWhatIsLeft();
            ClientDisconnect();
            break;
        default:
            break;
    }
}

void TBrenloFileServer::ErrorEvent(TObject*, TCustomWinSocket*, TErrorEvent, int& errorCode) {
    Busy busy(this);
    // A transfer that fails simply ends: nothing is shown to the user. A close notification
    // that carries an error (the peer reset the connection) would otherwise be dropped by the
    // socket layer, leaving the connection open and the timer running for good.
    errorCode = 0;
    if (!ended_ && !connectionGone_ && !closingOurselves_ && Socket->IsConnected())
        CloseOurselves();
}

void TBrenloFileServer::ClientRead() {
    Busy busy(this);
    const std::string message = ReceiveMessage(*Socket);
    if (ended_ || message.empty())
        return;  // the read failed (and closed the connection), or there was nothing to read
    ++messagesRead_;
    Take(message);
}

void TBrenloFileServer::Take(const std::string& data) {
    if (confirmed_) {
        frame_ += data;
        TakeMessages(false);
    } else if (!requested_) {
        TakeRequestBytes(data);
    } else if (asking_) {
        // Anything while the question is open breaks the order of the exchange, and a second
        // request must never raise a second question.
        Refuse();
    }
}

void TBrenloFileServer::TakeRequestBytes(const std::string& data) {
    frame_ += data;
    constexpr std::size_t kPrefix = sizeof kRequestFile - 1;
    const std::size_t compared = std::min(frame_.size(), kPrefix);
    if (frame_.compare(0, compared, kRequestFile, compared) != 0) {
        frame_.clear();
        Refuse();
        return;
    }
    if (frame_.size() < kPrefix)
        return;  // the rest of the prefix is on its way
    if (frame_.size() == kPrefix) {
        // The name may follow in a moment; if nothing comes, the name is empty.
        if (!nameWait_)
            nameWait_ = TransferPlatform().NewTimer(kRequestNameWaitMs, [this] { NameWaitOver(); });
        nameWait_->SetEnabled(false);
        nameWait_->SetEnabled(true);
        return;
    }
    const std::string name = frame_.substr(kPrefix);
    frame_.clear();
    RequestComplete(name);
}

void TBrenloFileServer::NameWaitOver() {
    Busy busy(this);
    if (nameWait_)
        nameWait_->SetEnabled(false);
    if (ended_ || requested_ || frame_ != kRequestFile)
        return;
    frame_.clear();
    // As in a socket notification: a send that fails here ends the connection with a silent
    // abort, which must not leave the timer's call.
    GuardCallback([this] { RequestComplete({}); });
}

void TBrenloFileServer::RequestComplete(const std::string& name) {
    if (nameWait_)
        nameWait_->SetEnabled(false);
    userName_ = name;
    requested_ = true;
    if (TOnRequest handOver = OnRequest) {
        asking_ = true;  // until Answer
        handOver(this, userName_);
        return;
    }
    TOnConfirmUser ask = OnConfirmUser;
    if (!ask)
        return;
    asking_ = true;
    bool yes = false;
    try {
        yes = ask(this, userName_);
    } catch (...) {
        asking_ = false;
        throw;
    }
    asking_ = false;
    if (ended_)
        return;  // the connection closed while the question was open: the answer is moot
    if (yes) {
        confirmed_ = true;
        OfferFile();
    } else {
        Refuse();
    }
}

void TBrenloFileServer::TakeMessages(bool closing) {
    std::size_t at = 0;
    while (at < frame_.size() && !ended_) {
        if (StartsWith(frame_, at, kStatus)) {
            const std::size_t digits = at + sizeof kStatus - 1;
            std::size_t end = digits;
            while (end < frame_.size() && IsDigit(frame_[end]))
                ++end;
            const std::size_t count = end - digits;
            // A count already taken when it was the end of an earlier read is not taken again.
            const bool taken = at == 0 && count == heldDigits_;
            if (end == frame_.size() && count <= kMaxCountDigits) {
                // The count may grow with the next read: it is kept, and taken as far as it has
                // come (a cut count is smaller than the real one, and harmless).
                if (count > 0 && !taken)
                    StatusReport(frame_.substr(digits, count));
                frame_.erase(0, at);
                heldDigits_ = count;
                return;
            }
            if (count > 0 && count <= kMaxCountDigits && !taken && MessageBoundary(frame_, end))
                StatusReport(frame_.substr(digits, count));
            at = end;
            heldDigits_ = 0;
            continue;
        }
        heldDigits_ = 0;
        const bool ok = StartsWith(frame_, at, kOkSendFile);
        if (ok || StartsWith(frame_, at, kCancel)) {
            const std::size_t end = at + (ok ? sizeof kOkSendFile : sizeof kCancel) - 1;
            if (MessageBoundary(frame_, end)) {
                at = end;
                if (closing) {
                    // The peer is gone: nothing to start or to cancel.
                } else if (ok) {
                    StartSending();
                } else {
                    TOnClientDisconnect cancelled = OnClientDisconnect;
                    if (cancelled)
                        cancelled(this);
                    if (!ended_)
                        CloseOurselves();
                }
                continue;
            }
            at = end;  // followed by something else: not the message
            continue;
        }
        if (MessageBoundary(frame_, at)) {
            frame_.erase(0, at);  // the beginning of a message; the rest is on its way
            return;
        }
        ++at;  // not part of any message
    }
    if (!ended_) {
        frame_.clear();
        heldDigits_ = 0;
    }
}

void TBrenloFileServer::ReadWhatIsLeft() {
    // The peer has closed; what it sent last may still wait to be read (its last report
    // above all). Only its progress counts now.
    if (!confirmed_ || !sending_)
        return;
    closingOurselves_ = true;  // a failing read ends the connection, nothing else
    constexpr int kMostReads = 64;
    for (int read = 0; read < kMostReads && !ended_; ++read) {
        const std::string rest = ReceiveMessage(*Socket);
        if (rest.empty())
            break;
        ++messagesRead_;
        frame_ += rest;
        TakeMessages(true);
    }
}

void TBrenloFileServer::CloseOurselves() {
    closingOurselves_ = true;
    Socket->CloseConnection();
}

void TBrenloFileServer::ClientDisconnect() {
    if (ended_)
        return;
    ended_ = true;
    if (Timer1)
        Timer1->SetEnabled(false);
    if (nameWait_)
        nameWait_->SetEnabled(false);
    if (busy_ == 0)
        Finish();
}

void TBrenloFileServer::Timer1Timer() {
    Busy busy(this);
    if (ended_)
        return;
    const TTransferPlatform& platform = TransferPlatform();
    const std::uint32_t now = platform.TickCount();
    const auto elapsed =
        static_cast<std::int32_t>(now - static_cast<std::uint32_t>(sampleTick_ & 0xFFFFFFFFu));
    timeText_ = FormatGeneral(elapsed / 1000.0, platform.DecimalSeparator());
    // The age of the sample in the tick counter's own 32-bit arithmetic, so that the counter's
    // wrap after 49.7 days does not stop the speed from being sampled again.
    const std::uint32_t age = platform.TickCount() - static_cast<std::uint32_t>(sampleTick_);
    if (age > kSpeedSampleMs) {
        double speed = 0;
        if (elapsed > 0)
            speed = static_cast<double>(position_ - lastPosition_) / (elapsed / 1000.0) / 1024 * 8;
        speedText_ =
            FormatThousands2(speed, platform.DecimalSeparator(), platform.ThousandSeparator()) +
            " Kbit/s";
        lastPosition_ = position_;
        sampleTick_ = platform.TickCount();
    }
    FireStat();
}

void TBrenloFileServer::OfferFile() {
    // The file is kept open from here to the end of its stream, writers denied: the size that is
    // offered is the size that is sent, and the bytes are the ones of this moment.
    std::unique_ptr<TStream> file;
    std::int64_t size = 0;
    try {
        file = TransferPlatform().OpenFile(filePath_);
        size = file->Size();
    } catch (const std::exception&) {
        // Nothing to serve (deleted, locked, none chosen): tell the peer, so that neither side
        // waits; a peer's message never raises a box on the user's screen.
        Refuse();
        return;
    }
    if (size > 0) {
        file_ = std::move(file);
        offeredSize_ = size;
        // The offer must arrive whole: what the connection does not take at once goes out with
        // the next write notifications.
        const std::string offer = kOfferFile + std::to_string(size) + "-" + BaseName(filePath_);
        const int sent = Socket->SendString(offer);
        const auto done = static_cast<std::size_t>(sent > 0 ? sent : 0);
        if (!ended_ && done < offer.size())
            Socket->SendFromStream(std::make_unique<TMemoryStream>(offer.substr(done)));
    } else {
        // An empty file is never offered. Without an offer the peer would wait for good, and
        // the connection with it: end the exchange here.
        CloseOurselves();
    }
}

void TBrenloFileServer::StartSending() {
    if (Socket->StreamPending())
        return;  // the stream of the first "ok sendfile" is still going out: nothing to restart
    std::unique_ptr<TStream> file = std::move(file_);
    if (!file) {
        // Another pass once a stream has gone out: the file is opened again, and it must still
        // be of the offered size (the peer counts on it); else the peer is refused.
        try {
            file = TransferPlatform().OpenFile(filePath_);
        } catch (const std::exception&) {
            Refuse();
            return;
        }
        if (file->Size() != offeredSize_) {
            Refuse();
            return;
        }
    }
    file->SetPosition(0);
    fileSize_ = offeredSize_;
    position_ = 0;
    lastPosition_ = 0;
    // Nothing of an earlier pass shows in this one.
    percent_ = 0;
    reportedBytes_ = 0;
    reportedTotal_ = 0;
    sending_ = true;
    sampleTick_ = TransferPlatform().TickCount();
    Socket->SendFromStream(
        std::make_unique<TCountingStream>(std::move(file), bytesRead_, bytesSent_));
    if (ended_)
        return;  // the first pieces failed and the connection closed
    sampleTick_ = TransferPlatform().TickCount();
    Timer1->SetEnabled(true);
}

void TBrenloFileServer::StatusReport(const std::string& digits) {
    if (!sending_)
        return;  // no stream yet: nothing the count could be measured against
    if (digits.size() > kMaxCountDigits)
        return;
    std::uint64_t value = 0;
    for (const char digit : digits)
        value = value * 10 + static_cast<unsigned>(digit - '0');  // 19 digits fit
    if (value > static_cast<std::uint64_t>(fileSize_))
        return;  // more than was offered: not believed at all
    // The peer cannot have received more than has gone out.
    const std::int64_t count = std::min(static_cast<std::int64_t>(value), *bytesSent_);
    if (count > position_)
        position_ = count;
    percent_ = PercentOf(position_, fileSize_);
    reportedBytes_ = position_;
    reportedTotal_ = fileSize_;
    if (position_ >= fileSize_) {
        Timer1->SetEnabled(false);
        FireStat();
    }
}

void TBrenloFileServer::Refuse() {
    Socket->SendString(kConnectionRefused);
    if (!ended_)
        CloseOurselves();
}

void TBrenloFileServer::FireStat() {
    TOnStat stat = OnStat;
    if (stat)
        stat(this, Percent(), timeText_, speedText_, reportedBytes_, reportedTotal_);
}

void TBrenloFileServer::Finish() noexcept {
    ++busy_;  // whatever OnClose does, this runs once
    TOnClose closed = OnClose;
    if (closed)
        GuardCallback([&] { closed(this); });
    Timer1.reset();
    nameWait_.reset();
    // Our hooks replaced the listener's, and with them the listener's own release of a closed
    // connection: release it here, or every connection ever made would keep its object and its
    // notification window until the listener closes.
    if (!connectionGone_ && Socket)
        Socket->FreeLater();
    delete this;
}

void TBrenloFileServer::ConnectionFreed() noexcept {
    connectionGone_ = true;
    Socket = nullptr;
    ClientDisconnect();
}
