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

// The file as the socket layer reads it, noting how far it has read: a piece is read again
// after a send that would block, so the furthest point grows only as pieces go out (at most one
// piece ahead of them). The count is shared, as the stream may outlive the transfer.
class TCountingStream final : public TStream {
  public:
    TCountingStream(std::unique_ptr<TStream> inner, std::shared_ptr<std::int64_t> reached)
        : inner_(std::move(inner)), reached_(std::move(reached)) {
        *reached_ = 0;
    }
    std::int64_t Size() override { return inner_->Size(); }
    std::int64_t Position() override { return inner_->Position(); }
    void SetPosition(std::int64_t position) override { inner_->SetPosition(position); }
    int Read(void* buffer, int count) override {
        const int got = inner_->Read(buffer, count);
        *reached_ = std::max(*reached_, inner_->Position());
        return got;
    }

  private:
    std::unique_ptr<TStream> inner_;
    std::shared_ptr<std::int64_t> reached_;
};

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

bool ParseStatusCount(const std::string& message, std::int32_t* count) {
    // Drop everything up to and including the first "status", as long as one is left: what
    // remains follows the last report of the read.
    std::string rest = message;
    for (std::size_t at = 0; (at = rest.find(kStatus)) != std::string::npos;)
        rest.erase(0, at + sizeof kStatus - 1);
    if (rest.empty())
        return false;
    std::size_t i = 0;
    bool negative = false;
    if (rest[0] == '-' || rest[0] == '+') {
        negative = rest[0] == '-';
        i = 1;
    }
    if (i == rest.size())
        return false;
    std::int64_t value = 0;
    for (; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9')
            return false;
        value = value * 10 + (rest[i] - '0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        return false;
    *count = static_cast<std::int32_t>(value);
    return true;
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
        Socket->CloseConnection();  // ends us through the disconnect notification
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
    if (!ended_ && !connectionGone_ && Socket->IsConnected())
        Socket->CloseConnection();
}

void TBrenloFileServer::ClientRead() {
    Busy busy(this);
    const std::string message = ReceiveMessage(*Socket);
    if (ended_ || message.empty())
        return;  // the read failed (and closed the connection), or there was nothing to read
    ++messagesRead_;

    if (confirmed_) {
        if (message == kOkSendFile) {
            StartSending();
        } else if (message == kCancel) {
            TOnClientDisconnect cancelled = OnClientDisconnect;
            if (cancelled)
                cancelled(this);
            if (!ended_)
                Socket->CloseConnection();
        } else if (message.find(kStatus) != std::string::npos) {
            StatusReport(message);
        }
        return;
    }

    // Anything while the question is open breaks the order of the exchange, and a second
    // request must never raise a second question.
    if (!asking_ && message.compare(0, sizeof kRequestFile - 1, kRequestFile) == 0) {
        userName_ = message.substr(sizeof kRequestFile - 1);
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
        return;
    }
    Refuse();
}

void TBrenloFileServer::ClientDisconnect() {
    if (ended_)
        return;
    ended_ = true;
    if (Timer1)
        Timer1->SetEnabled(false);
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
    std::int64_t size = 0;
    try {
        size = TransferPlatform().OpenFile(filePath_)->Size();
    } catch (const std::exception&) {
        // Nothing to serve (deleted, locked, none chosen): tell the peer, so that neither side
        // waits; a peer's message never raises a box on the user's screen.
        Refuse();
        return;
    }
    if (size > 0) {
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
        Socket->CloseConnection();
    }
}

void TBrenloFileServer::StartSending() {
    if (Socket->StreamPending())
        return;  // the stream of the first "ok sendfile" is still going out: nothing to restart
    std::unique_ptr<TStream> file;
    try {
        file = TransferPlatform().OpenFile(filePath_);
    } catch (const std::exception&) {
        Refuse();
        return;
    }
    fileSize_ = file->Size();
    position_ = 0;
    lastPosition_ = 0;
    sending_ = true;
    sampleTick_ = TransferPlatform().TickCount();
    Socket->SendFromStream(std::make_unique<TCountingStream>(std::move(file), bytesRead_));
    if (ended_)
        return;  // the first pieces failed and the connection closed
    sampleTick_ = TransferPlatform().TickCount();
    Timer1->SetEnabled(true);
}

void TBrenloFileServer::StatusReport(const std::string& message) {
    if (!sending_)
        return;  // no stream yet: nothing the count could be measured against
    std::int32_t count = 0;
    if (!ParseStatusCount(message, &count))
        return;  // not a count: the report is dropped without a word to the user
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
        Socket->CloseConnection();
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
