// TBrenloFileserverForm: the file server window's logic.
#include "fileshare/u_brenlofileserver.h"

#include <exception>
#include <vector>

#include "common/app_error.h"

namespace {

constexpr int kWsaEAcces = 10013;
constexpr int kWsaEAddrNotAvail = 10049;
constexpr unsigned kMouseLeftButtonUp = 0x0202;  // WM_LBUTTONUP

// Phases of a connection as the idle watch sees them.
enum : int {
    kPhaseRequest,  // connected, no request yet (or refused and closing)
    kPhaseAsking,   // waiting for a question place or for the user's answer: never timed
    kPhaseStart,    // confirmed, "ok sendfile" not yet come
    kPhaseStream,   // sending, or sent and waiting for the peer to close
};

int PhaseOf(const TBrenloFileServer& transfer) {
    if (transfer.Asking())
        return kPhaseAsking;
    if (!transfer.Confirmed())
        return kPhaseRequest;
    return transfer.Sending() ? kPhaseStream : kPhaseStart;
}

std::uint32_t IdleLimitOf(int phase) {
    switch (phase) {
        case kPhaseRequest:
            return kRequestTimeoutMs;
        case kPhaseStart:
            return kStartTimeoutMs;
        case kPhaseStream:
            return kStallTimeoutMs;
        default:
            return 0;  // no limit
    }
}

// The peer's IPv4 address as accepted (0 when unknown).
std::uint32_t PeerAddressOf(TCustomWinSocket* socket) {
    const auto* client = dynamic_cast<const TServerClientWinSocket*>(socket);
    return client ? client->RemoteAddress().addr : 0;
}

// Bytes that show nothing in the ANSI code page (Windows-1252): the control characters and
// the five unassigned places.
bool Invisible(unsigned char ch) {
    return ch < 0x20 || ch == 0x7F || ch == 0x81 || ch == 0x8D || ch == 0x8F || ch == 0x90 ||
           ch == 0x9D;
}

// The trace hook of the window's steps; it has no output.
void TraceLine(const std::string&) {}

// The error code a socket failure text carries in its last "(...)".
int SocketErrorCodeOf(const std::string& text) {
    const std::size_t close = text.rfind(')');
    const std::size_t open = close == std::string::npos ? close : text.rfind('(', close);
    if (open == std::string::npos || close <= open + 1)
        return 0;
    int code = 0;
    for (std::size_t i = open + 1; i < close; ++i) {
        if (text[i] < '0' || text[i] > '9' || code > 100000000)
            return 0;
        code = code * 10 + (text[i] - '0');
    }
    return code;
}

}  // namespace

std::string ShownUserName(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    std::size_t chars = 0;
    for (const char c : name) {
        if (chars == kMaxShownNameChars) {
            shown += "...";
            break;
        }
        const auto ch = static_cast<unsigned char>(c);
        if (Invisible(ch)) {
            shown += "\\x";
            shown += kHex[ch >> 4];
            shown += kHex[ch & 0x0F];
        } else {
            shown += c;
        }
        ++chars;
    }
    return shown;
}

std::string ListenerFailureText(int port, int socketError, const std::string& detail) {
    std::string why;
    switch (socketError) {
        case kWsaEAddrInUse:
            why = "Der Port wird schon von einem anderen Programm benutzt.";
            break;
        case kWsaEAcces:
            why = "Windows erlaubt den Zugriff auf diesen Port nicht.";
            break;
        case kWsaEAddrNotAvail:
            why =
                "Diese Adresse ist auf diesem Computer nicht verf\xFC"
                "gbar.";
            break;
        default:
            why = detail;
            break;
    }
    return "Der Dateiserver kann auf Port " + std::to_string(port) +
           " keine Verbindungen annehmen. " + why +
           "\r\n\r\nSongs werden weiter angesagt, aber ohne Download-Adresse. Bitte einen anderen "
           "Port einstellen; beim n\xE4"
           "chsten Songwechsel wird es erneut versucht.";
}

std::string InvalidPortText(const std::string& text) {
    return "Der eingestellte Port des Dateiservers \"" + text +
           "\" ist keine Zahl von 1 bis 65535.\r\n\r\nSongs werden weiter angesagt; der "
           "Dateiserver "
           "bleibt auf seinem bisherigen Port. Bitte in der Konfiguration einen g\xFC"
           "ltigen Port "
           "einstellen.";
}

TBrenloFileserverForm::TBrenloFileserverForm(IFileServerWindow& window, bool aolfs)
    : window_(window), rows_(window) {
    // As stored in the window's description: active, port 1000, non-blocking.
    ServerSocket1.BeginLoading();
    ServerSocket1.SetPort(kInitialServerPort);
    ServerSocket1.SetServerType(stNonBlocking);
    ServerSocket1.SetActive(true);
    ServerSocket1.OnClientConnect() = [this](TObject* sender, TCustomWinSocket* socket) {
        ServerSocket1ClientConnect(sender, socket);
    };
    OpenListener();
    FormCreate(aolfs);
}

TBrenloFileserverForm::~TBrenloFileserverForm() {
    *alive_ = false;
    idleTimer_.reset();
    GuardCallback([this] { FormDestroy(); });
    GuardCallback([this] { EndTransfers(true); });
    watched_.clear();
    waiting_.clear();
    asked_.clear();
    GuardCallback([this] { ServerSocket1.SetActive(false); });
}

void TBrenloFileserverForm::OpenListener() {
    // The description is stored active: finishing the load opens the listener. Port 1000 is
    // only the port of the start, not one the user chose: when another program holds it,
    // nothing is said at the player's start (sharing may not even be on); the first announced
    // song with sharing on opens the configured port, and tells if that fails.
    try {
        ServerSocket1.Loaded();
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception&) {
    }
}

void TBrenloFileserverForm::Abandon() noexcept {
    *alive_ = false;
    GuardCallback([this] {
        TServerWinSocket* listener = ServerSocket1.Listener();
        if (!listener)
            return;
        std::vector<TSocketHandle> handles;
        for (TServerClientWinSocket* client : listener->ClientList())
            handles.push_back(client->SocketHandle());
        handles.push_back(listener->SocketHandle());
        INetApi& api = NetApi();
        for (TSocketHandle handle : handles) {
            if (handle == kInvalidSocket)
                continue;
            api.AsyncSelect(handle, 0, 0, 0);
            api.CloseSocket(handle);
        }
    });
}

void TBrenloFileserverForm::FormCreate(bool aolfs) {
    window_.SetFileLabel(FileServerTexts().filecaption + ":", {});
    window_.HideWindow();
    window_.SetPortText(std::to_string(ServerSocket1.Port()));
    SetTrayIcon(aolfs);
    window_.StartFirstStartTimer(kFirstStartHideMs);
}

void TBrenloFileserverForm::firststarttimer() {
    MinimizeToTNA();
}

void TBrenloFileserverForm::MinimizeToTNA() {
    window_.HideWindow();
}

bool TBrenloFileserverForm::FormCloseQuery() {
    window_.HideWindow();
    return false;
}

void TBrenloFileserverForm::FormDestroy() {
    if (trayIconShown_) {
        window_.RemoveTrayIcon();
        trayIconShown_ = false;
    }
}

void TBrenloFileserverForm::TrayIconMessage(unsigned mouseMessage) {
    if (mouseMessage == kMouseLeftButtonUp) {
        window_.HideWindow();
        window_.RestoreWindow();
    }
}

void TBrenloFileserverForm::SetTrayIcon(bool on) {
    if (on && !trayIconShown_) {
        trayIconShown_ = window_.AddTrayIcon();
    } else if (!on && trayIconShown_) {
        window_.RemoveTrayIcon();
        trayIconShown_ = false;
    }
}

void TBrenloFileserverForm::TaskbarCreated() {
    if (trayIconShown_)
        trayIconShown_ = window_.AddTrayIcon();
}

void TBrenloFileserverForm::SetServedFile(const std::string& path) {
    servedFileName_ = path;
    TraceLine("Dateiname: \"" + path + "\"");
    window_.SetFileLabel(FileServerTexts().filecaption + ": " + path, path);
}

void TBrenloFileserverForm::SetServerPort(int port) {
    // A port that failed to open is tried again on every call.
    if (port == ServerSocket1.Port() && IsListening())
        return;
    MoveListener(port);
    window_.SetPortText(std::to_string(ServerSocket1.Port()));
}

void TBrenloFileserverForm::RejectServerPort(const std::string& text) {
    ReportOnce("invalid:" + text, InvalidPortText(text));
}

void TBrenloFileserverForm::Edit2Change(const std::string& text) {
    int port = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9' || port > 65535)
            return RejectServerPort(text);
        port = port * 10 + (ch - '0');
    }
    if (text.empty() || port < 1 || port > 65535)
        return RejectServerPort(text);
    if (port != ServerSocket1.Port() || !IsListening())
        MoveListener(port);
}

bool TBrenloFileserverForm::IsListening() const {
    const TServerWinSocket* listener = ServerSocket1.Listener();
    return ServerSocket1.Active() && listener && listener->IsConnected();
}

void TBrenloFileserverForm::EndTransfers(bool forgetHandlers) {
    // Closing the listener frees its connections without telling the transfers; each is ended
    // first, so that its row is freed and its timer stops. A transfer is looked at only while
    // its row is open (then it exists); once ended it is never touched again. No question is
    // asked meanwhile: the places that come free would only be taken by transfers about to end.
    const bool wasEnding = endingTransfers_;
    endingTransfers_ = true;
    for (int row = 0; row < rows_.Count(); ++row) {
        if (!rows_.IsOpen(row))
            continue;
        auto* transfer = const_cast<TBrenloFileServer*>(
            static_cast<const TBrenloFileServer*>(rows_.Row(row).Transfer));
        CloseQuestionOf(transfer);
        if (forgetHandlers) {
            // The form is going: a transfer that ends later must not call back into it.
            transfer->OnClose = nullptr;
            transfer->OnStat = nullptr;
            transfer->OnConfirmUser = nullptr;
            transfer->OnRequest = nullptr;
            transfer->OnClientDisconnect = nullptr;
        }
        transfer->EndTransfer();
        // A transfer that is still inside one of its handlers closes its row later; the row
        // goes now, and its late close finds nothing to free.
        if (rows_.IsOpen(row) && rows_.Row(row).Transfer == transfer)
            rows_.Close(row);
    }
    endingTransfers_ = wasEnding;
}

void TBrenloFileserverForm::MoveListener(int port) {
    // No handler of a connection is below us (a question is a window of its own, never a loop
    // inside a notification), so the listener and its connections can go at once.
    EndTransfers(false);
    ReopenListener(port);
}

void TBrenloFileserverForm::ReopenListener(int port) {
    ServerSocket1.SetActive(false);
    ServerSocket1.SetPort(port);
    try {
        ServerSocket1.SetActive(true);
        lastReport_.clear();
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        ReportOnce(std::to_string(port) + ":" + e.what(),
                   ListenerFailureText(port, SocketErrorCodeOf(e.what()), e.what()));
    }
}

void TBrenloFileserverForm::ReportOnce(const std::string& key, const std::string& text) {
    if (key == lastReport_)
        return;
    lastReport_ = key;
    window_.TellUser(text);
}

void TBrenloFileserverForm::ServerSocket1ClientConnect(TObject*, TCustomWinSocket* socket) {
    // The caps come first: a connection over one costs nothing more than its close.
    const std::uint32_t address = PeerAddressOf(socket);
    int fromAddress = 0;
    for (const auto& [transfer, watched] : watched_)
        fromAddress += watched.Address == address ? 1 : 0;
    if (Connections() >= kMaxConnections || fromAddress >= kMaxConnectionsPerAddress) {
        ++refused_;
        socket->CloseConnection();
        return;
    }

    auto* transfer = new TBrenloFileServer(socket, servedFileName_);
    try {
        TWatched& watched = watched_[transfer];
        watched.Address = address;
        watched.Phase = kPhaseRequest;
        watched.Since = TransferPlatform().TickCount();
        if (!idleTimer_) {
            idleTimer_ = TransferPlatform().NewTimer(kIdleCheckMs, [this] { IdleCheck(); });
            idleTimer_->SetEnabled(true);
        }
        const TRowTicket ticket = rows_.Open(transfer, servedFileName_);
        transfer->RowIndex = ticket.Row;
    } catch (...) {
        // Out of windows or memory: this peer is turned away as if a cap had been reached, and
        // nothing of it is left for the idle watch or the teardown. Ending the transfer closes
        // the connection (the only close of its socket) and releases the connection object.
        Forget(transfer);
        transfer->EndTransfer();
        return;
    }
    transfer->OnClose = [this](TBrenloFileServer* s) { SocketClose(s); };
    transfer->OnStat = [this](TBrenloFileServer* s, std::int32_t pos, const std::string& time,
                              const std::string& speed, std::int64_t bytes, std::int64_t total) {
        UpdateStat(s, pos, time, speed, bytes, total);
    };
    transfer->OnRequest = [this](TBrenloFileServer* s, const std::string& name) {
        RequestArrived(s, name);
    };
    transfer->OnClientDisconnect = [this](TBrenloFileServer* s) { ClientCancelled(s); };
}

int TBrenloFileserverForm::RowOf(const TBrenloFileServer* sender) const {
    if (!sender)
        return -1;
    const std::int64_t row = sender->RowIndex;
    if (row < 0 || row >= rows_.Count())
        return -1;
    const int r = static_cast<int>(row);
    return rows_.IsOpen(r) && rows_.Row(r).Transfer == sender ? r : -1;
}

void TBrenloFileserverForm::RequestArrived(TBrenloFileServer* sender, const std::string&) {
    if (watched_.count(sender) == 0 || RowOf(sender) < 0) {
        sender->Answer(false);
        return;
    }
    waiting_.push_back(sender);
    AskWaiting();
}

void TBrenloFileserverForm::AskWaiting() {
    // Opening a question runs no message loop: nothing below can change the queue meanwhile,
    // except a question that cannot be shown, which refuses its peer at once.
    const std::shared_ptr<bool> alive = alive_;
    while (*alive && !endingTransfers_ && OpenQuestions() < kMaxOpenQuestions &&
           !waiting_.empty()) {
        TBrenloFileServer* next = waiting_.front();
        waiting_.pop_front();
        const int row = RowOf(next);
        if (row >= 0)
            Ask(next, row);
    }
}

void TBrenloFileserverForm::Ask(TBrenloFileServer* transfer, int row) {
    const TRowTicket ticket{row, rows_.Row(row).Serial};
    const TFileServerTexts texts = FileServerTexts();
    TConfirmQuestion question;
    question.Caption = texts.confirmdownloadcaption;
    question.OkCaption = texts.okbuttoncaption;
    question.CancelCaption = texts.cancelbuttoncaption;
    const std::string shownName = ShownUserName(transfer->UserName());
    question.Text = ReplaceFirst(texts.acceptdownloadmsg, "%username%", shownName) + "\n\r\n\r" +
                    texts.downloaddisclaimer;
    asked_[transfer] = TAsked{ticket, shownName};
    try {
        window_.OpenQuestion(question, ticket);
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception&) {
        // Nobody can say yes to a question that is not on the screen.
        asked_.erase(transfer);
        if (rows_.Current(ticket))
            transfer->Answer(false);
    }
}

void TBrenloFileserverForm::QuestionAnswered(TRowTicket ticket, bool yes) {
    auto it = asked_.begin();
    while (it != asked_.end() &&
           (it->second.Ticket.Row != ticket.Row || it->second.Ticket.Serial != ticket.Serial))
        ++it;
    if (it == asked_.end())
        return;
    TBrenloFileServer* transfer = it->first;
    const std::string shownName = it->second.ShownName;
    asked_.erase(it);
    const std::shared_ptr<bool> alive = alive_;
    // While its row carries it, the transfer exists; a peer that has left closed both.
    if (rows_.Current(ticket)) {
        const bool peerThere = transfer->Socket != nullptr && transfer->Socket->IsConnected();
        if (yes && peerThere)
            rows_.Accept(ticket.Row, shownName);
        transfer->Answer(yes && peerThere);
    }
    if (*alive)
        AskWaiting();
}

void TBrenloFileserverForm::CloseQuestionOf(const TBrenloFileServer* transfer) {
    const auto it = asked_.find(const_cast<TBrenloFileServer*>(transfer));
    if (it == asked_.end())
        return;
    const TRowTicket ticket = it->second.Ticket;
    asked_.erase(it);
    window_.CloseQuestion(ticket);
}

void TBrenloFileserverForm::IdleCheck() {
    const std::uint32_t now = TransferPlatform().TickCount();
    std::vector<TBrenloFileServer*> expired;
    for (auto& [transfer, watched] : watched_) {
        const int phase = PhaseOf(*transfer);
        const std::uint64_t messages = transfer->MessagesRead();
        const std::int64_t sent = transfer->BytesRead();
        const bool active =
            phase == kPhaseStream && (messages != watched.Messages || sent != watched.Sent);
        if (phase != watched.Phase || active) {
            watched.Phase = phase;
            watched.Since = now;
            watched.Messages = messages;
            watched.Sent = sent;
            continue;
        }
        const std::uint32_t limit = IdleLimitOf(phase);
        if (limit != 0 && now - watched.Since >= limit)
            expired.push_back(transfer);
    }
    const std::shared_ptr<bool> alive = alive_;
    for (TBrenloFileServer* transfer : expired) {
        // Ending one can run code that ends others: only those still open are touched.
        if (!*alive)
            return;
        if (watched_.count(transfer) != 0)
            transfer->EndTransfer();
    }
}

void TBrenloFileserverForm::Forget(TBrenloFileServer* sender) {
    watched_.erase(sender);
    CloseQuestionOf(sender);
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (*it == sender)
            it = waiting_.erase(it);
        else
            ++it;
    }
    if (watched_.empty())
        idleTimer_.reset();  // nothing to watch: no timer at all (also when called from it)
}

void TBrenloFileserverForm::UpdateStat(TBrenloFileServer* sender, std::int32_t pos,
                                       const std::string&, const std::string& speed,
                                       std::int64_t bytes, std::int64_t total) {
    const int row = RowOf(sender);
    if (row >= 0)
        rows_.Stat(row, sender->FilePath(), pos, speed, bytes, total);
}

void TBrenloFileserverForm::SocketClose(TBrenloFileServer* sender) {
    const bool wasAsked = asked_.count(sender) != 0;
    Forget(sender);
    const int row = RowOf(sender);
    if (row >= 0)
        rows_.Close(row);
    // Its question place is free for the next in line.
    if (wasAsked)
        AskWaiting();
}

void TBrenloFileserverForm::ClientCancelled(TBrenloFileServer* sender) {
    const int row = RowOf(sender);
    if (row >= 0)
        rows_.PeerCancelled(row, ShownUserName(sender->UserName()));
}

void TBrenloFileserverForm::ProgressbarMouseMove(int barTag) {
    rows_.MouseMove(barTag);
}

void TBrenloFileserverForm::updateglobalprogress() {
    rows_.UpdateGlobalProgress();
}
