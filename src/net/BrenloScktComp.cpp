// Message-driven TCP sockets and the server built on them.
#include "net/BrenloScktComp.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "common/app_error.h"

namespace {

// The system's own texts, shown verbatim (single-byte ANSI).
const char kWindowsSocketError[] = "Windows-Socket-Fehler: %s (%d), auf API '%s'";
const char kAsyncSocketError[] = "Asynchroner Socket-Fehler %d";
const char kCannotListenOnOpen[] =
    "Offener Socket kann nicht \xfc"
    "berwacht werden";
const char kCannotCreateSocket[] = "Es kann kein neuer Socket erzeugt werden";
const char kCannotChangeWhileActive[] =
    "Wert kann nicht ge\xe4ndert werden, w\xe4hrend der Socket aktiv ist";
const char kNoNotifyWindow[] = "Das Benachrichtigungsfenster kann nicht erzeugt werden";

std::string Format(const char* pattern, int code) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, code);
    return text;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string SocketErrorText(int code, const std::string& api) {
    const std::string message = NetApi().ErrorText(code);
    std::string text(std::size(kWindowsSocketError) + message.size() + api.size() + 16, '\0');
    const int n = std::snprintf(text.data(), text.size(), kWindowsSocketError, message.c_str(),
                                code, api.c_str());
    text.resize(static_cast<std::size_t>(std::max(n, 0)));
    return text;
}

int CheckSocketCall(int failureValue, const std::string& api) {
    if (failureValue == 0)
        return 0;
    const int code = NetApi().LastError();
    if (code == kWsaEWouldBlock)
        return code;
    throw ESocketError(SocketErrorText(code, api));
}

void NetStartup() {
    const int code = NetApi().Startup(0x0101);
    if (code != 0)
        throw ESocketError(SocketErrorText(code, "WSAStartup"));
}

void NetCleanup() {
    if (NetApi().Cleanup() != 0)
        throw ESocketError(SocketErrorText(NetApi().LastError(), "WSACleanup"));
}

// ---- TCustomWinSocket --------------------------------------------------------------------------

TCustomWinSocket::TCustomWinSocket(TSocketHandle socket)
    : socket_(socket), connected_(socket != kInvalidSocket) {
    NetStartup();
}

TCustomWinSocket::~TCustomWinSocket() {
    OnNetEvent = nullptr;
    // A socket still preparing (not yet listening) has an open handle too; close it as well.
    if (socket_ != kInvalidSocket)
        GuardCallback([this] { TCustomWinSocket::DropConnection(socket_); });
    // Queued notifications, lookup completions and deferred frees go with the window.
    if (window_)
        NetApi().DestroyNotifyWindow(window_);
    window_ = 0;
    // A stream handed over before any connection existed is released here.
    stream_.reset();
    GuardCallback([] { NetCleanup(); });
}

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!connected_)
        return 0;
    const int sent = NetApi().Send(socket_, buffer, count, 0);
    if (sent == kSocketError) {
        int code = NetApi().LastError();
        if (code == kWsaEWouldBlock)
            return -1;
        RaiseError(this, eeSend, code);
        DropConnection(socket_);
        if (code != 0)
            throw ESocketError(SocketErrorText(code, "send"));
    }
    return sent;
}

int TCustomWinSocket::SendString(const std::string& text) {
    return SendBytes(text.data(), static_cast<int>(text.size()));
}

bool TCustomWinSocket::SendFromStream(std::unique_ptr<TStream>&& stream) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (stream_)
        return false;
    stream_ = std::move(stream);
    return ContinueStreamSend();
}

bool TCustomWinSocket::ContinueStreamSend() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!stream_)
        return false;
    if (socket_ == kInvalidSocket || !connected_)
        return false;
    INetApi& api = NetApi();
    char piece[kStreamPieceSize];
    const auto sliceEnd =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStreamSliceMs);
    for (;;) {
        if (eventMask_ != 0 && window_ && std::chrono::steady_clock::now() >= sliceEnd) {
            // Let the message loop run; the stream goes on when the loop reaches this message.
            api.PostNotify(window_, MSG_CONTINUE_STREAM, socket_, 0);
            break;
        }
        TStream* stream = stream_.get();
        if (!stream)
            break;
        const std::int64_t start = stream->Position();
        const int n = stream->Read(piece, kStreamPieceSize);
        if (n <= 0) {
            ReleaseStream();
            break;
        }
        const int sent = api.Send(socket_, piece, n, 0);
        if (sent == kSocketError) {
            int code = api.LastError();
            if (code == kWsaEWouldBlock) {
                // Rewind to the unsent piece; the next write notification sends it again.
                stream->SetPosition(start);
                break;
            }
            RaiseError(this, eeSend, code);
            DropConnection(socket_);
            ReleaseStream();
            if (eventMask_ != 0)
                throw EAbort();
            break;
        }
        if (sent < n) {
            stream->SetPosition(start + sent);
            continue;
        }
        if (stream->Position() == stream->Size()) {
            ReleaseStream();
            break;
        }
    }
    return true;
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (count == -1 && connected_) {
        std::uint32_t pending = 0;
        NetApi().BytesPending(socket_, &pending);
        return static_cast<int>(pending);
    }
    if (!connected_)
        return 0;
    const int got = NetApi().Recv(socket_, buffer, count, 0);
    if (got == kSocketError) {
        int code = NetApi().LastError();
        if (code == kWsaEWouldBlock)
            return -1;
        RaiseError(this, eeReceive, code);
        DropConnection(socket_);
        if (code != 0)
            throw ESocketError(SocketErrorText(code, "recv"));
    }
    return got;
}

std::string TCustomWinSocket::ReceiveString() {
    const int pending = ReceiveBytes(nullptr, -1);
    std::string text(static_cast<std::size_t>(std::max(pending, 0)), '\0');
    const int got = ReceiveBytes(text.data(), std::max(pending, 0));
    if (got <= 0)
        return {};
    text.resize(static_cast<std::size_t>(got));
    return text;
}

void TCustomWinSocket::CloseConnection() {
    DropConnection(socket_);
}

void TCustomWinSocket::DropConnection(TSocketHandle socket) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (lookupRequest_ != 0) {
        const TLookupHandle request = lookupRequest_;
        lookupRequest_ = 0;
        CheckSocketCall(NetApi().CancelAsyncRequest(request), "WSACancelASyncRequest");
    }
    if (socket == kInvalidSocket || socket != socket_)
        return;
    RaiseEvent(this, neDisconnect);
    if (socket_ != socket)
        return;  // the hook closed it already
    const int status = NetApi().CloseSocket(socket);
    const int code = status != 0 ? NetApi().LastError() : 0;
    // The handle is gone either way; forget it before reporting.
    socket_ = kInvalidSocket;
    ResetAddress();
    connected_ = false;
    lookupPhase_ = lpIdle;
    ReleaseStream();
    if (code != 0 && code != kWsaEWouldBlock)
        throw ESocketError(SocketErrorText(code, "closesocket"));
}

void TCustomWinSocket::FreeLater() {
    if (window_)
        NetApi().PostNotify(window_, MSG_DEFERRED_FREE, 0, 0);
}

TNotifyWindow TCustomWinSocket::NotifyWindow() {
    if (!window_) {
        window_ = NetApi().CreateNotifyWindow(this);
        if (!window_)
            throw ESocketError(kNoNotifyWindow);
    }
    return window_;
}

void TCustomWinSocket::SetEventMask(TNetEventMask mask) {
    if (mask == eventMask_)
        return;
    eventMask_ = mask;
    if (socket_ != kInvalidSocket)
        ApplyEventMask();
}

void TCustomWinSocket::ApplyEventMask() {
    INetApi& api = NetApi();
    if (eventMask_ != 0) {
        api.AsyncSelect(socket_, NotifyWindow(), MSG_SOCKET_EVENT, eventMask_);
    } else {
        api.AsyncSelect(socket_, 0, 0, 0);
        api.SetNonBlocking(socket_, false);
    }
}

void TCustomWinSocket::HandleAccept(TSocketHandle) {}
void TCustomWinSocket::HandleConnect(TSocketHandle) {}

void TCustomWinSocket::HandleRead(TSocketHandle socket) {
    if (socket_ != kInvalidSocket && socket_ == socket)
        RaiseEvent(this, neRead);
}

void TCustomWinSocket::HandleWrite(TSocketHandle socket) {
    if (socket_ != kInvalidSocket && socket_ == socket) {
        if (!ContinueStreamSend())
            RaiseEvent(this, neWrite);
    }
}

void TCustomWinSocket::RaiseEvent(TCustomWinSocket* socket, TNetEventKind kind) {
    // A copy: the hook may replace itself while it runs.
    TNetEventHook hook = OnNetEvent;
    if (hook)
        hook(this, socket, kind);
}

void TCustomWinSocket::RaiseError(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode) {
    TSocketErrorEvent hook = OnNetError;
    if (hook)
        hook(this, socket, origin, errorCode);
}

bool TCustomWinSocket::HandleOtherMessage(unsigned, TNetWParam, TNetLParam) {
    return false;
}

bool TCustomWinSocket::NetMessage(unsigned message, TNetWParam wParam, TNetLParam lParam) noexcept {
    bool taken = true;
    GuardCallback([&] {
        switch (message) {
            case MSG_SOCKET_EVENT:
                SocketEventMessage(wParam, lParam);
                break;
            case MSG_DEFERRED_FREE:
                delete this;
                break;
            case MSG_LOOKUP_DONE:
                LookupDoneMessage(wParam, lParam);
                break;
            case MSG_CONTINUE_STREAM:
                if (socket_ != kInvalidSocket && socket_ == static_cast<TSocketHandle>(wParam))
                    ContinueStreamSend();  // never neWrite: this is no write notification
                break;
            default:
                taken = HandleOtherMessage(message, wParam, lParam);
                break;
        }
    });
    return taken;
}

void TCustomWinSocket::SocketEventMessage(TNetWParam wParam, TNetLParam lParam) {
    const auto socket = static_cast<TSocketHandle>(wParam);
    const unsigned event = static_cast<unsigned>(lParam) & 0xFFFF;
    int error = static_cast<int>((static_cast<unsigned>(lParam) >> 16) & 0xFFFF);
    if (error != 0) {
        TErrorEvent origin = eeGeneral;
        switch (event) {
            case kFdRead:
                origin = eeReceive;
                break;
            case kFdWrite:
                origin = eeSend;
                break;
            case kFdAccept:
                origin = eeAccept;
                break;
            case kFdConnect:
                origin = eeConnect;
                break;
            case kFdClose:
                origin = eeDisconnect;
                break;
            default:
                break;
        }
        RaiseError(this, origin, error);
        if (error != 0)
            throw ESocketError(Format(kAsyncSocketError, error));
        // A peer that resets while a stream waits for write space would leave the connection
        // open for good (no further write notification comes): try the next piece, whose
        // failure closes the connection the usual way.
        if (event == kFdClose && stream_)
            HandleWrite(socket);
        return;
    }
    switch (event) {
        case kFdRead:
            HandleRead(socket);
            break;
        case kFdWrite:
            HandleWrite(socket);
            break;
        case kFdAccept:
            HandleAccept(socket);
            break;
        case kFdConnect:
            HandleConnect(socket);
            break;
        case kFdClose:
            DropConnection(socket);
            break;
        default:
            break;
    }
}

void TCustomWinSocket::LookupDoneMessage(TNetWParam wParam, TNetLParam lParam) {
    if (lookupRequest_ == 0 || static_cast<TLookupHandle>(wParam) != lookupRequest_)
        return;
    lookupRequest_ = 0;
    int error = static_cast<int>((static_cast<unsigned>(lParam) >> 16) & 0xFFFF);
    if (error != 0) {
        RaiseError(this, eeLookup, error);
        DropConnection(socket_);
        if (error != 0)
            throw ESocketError(SocketErrorText(error, "ASync Lookup"));
        return;
    }
    if (lookupPhase_ == lpService) {
        address_.port = NetApi().ServicePortOf(lookupBuffer_.get());
        PrepareAddressAsync({}, 0, pendingQueueSize_);
    }
}

void TCustomWinSocket::ReleaseStream() {
    stream_.reset();
}

void TCustomWinSocket::ResetAddress() {
    address_ = TSockAddrIn{};
}

void TCustomWinSocket::OpenListener(const std::string&, const std::string&,
                                    const std::string& service, std::uint16_t port, int queueSize,
                                    bool block) {
    if (connected_)
        throw ESocketError(kCannotListenOnOpen);
    // A socket still preparing an earlier opening is closed first rather than leaked.
    if (socket_ != kInvalidSocket)
        DropConnection(socket_);
    const TSocketHandle socket = NetApi().Socket();
    if (socket == kInvalidSocket)
        throw ESocketError(kCannotCreateSocket);
    socket_ = socket;
    try {
        RaiseEvent(this, neLookup);
        if (block) {
            PrepareAddressBlocking(service, port);
            StartListening(queueSize);
        } else {
            PrepareAddressAsync(service, port, queueSize);
        }
    } catch (...) {
        DropConnection(socket_);
        throw;
    }
}

void TCustomWinSocket::PrepareAddressAsync(const std::string& service, std::uint16_t port,
                                           int queueSize) {
    try {
        do {
            switch (lookupPhase_) {
                case lpIdle:
                    address_.addr = 0;  // every local interface
                    lookupPhase_ = lpAddress;
                    break;
                case lpAddress:
                    if (service.empty()) {
                        address_.port = NetHtons(port);
                        lookupPhase_ = lpService;
                    } else {
                        pendingQueueSize_ = queueSize;
                        if (!lookupBuffer_) {
                            lookupBuffer_ = std::make_unique<char[]>(kLookupBufferSize);
                            std::fill_n(lookupBuffer_.get(), kLookupBufferSize, '\0');
                        }
                        lookupRequest_ = NetApi().AsyncGetServByName(
                            NotifyWindow(), MSG_LOOKUP_DONE, service, "tcp", lookupBuffer_.get(),
                            kLookupBufferSize);
                        if (lookupRequest_ == 0)
                            CheckSocketCall(1, "WSAASyncGetServByName");
                        lookupPhase_ = lpService;
                        return;
                    }
                    break;
                case lpService:
                    lookupPhase_ = lpIdle;
                    StartListening(queueSize);
                    break;
            }
        } while (lookupPhase_ != lpIdle && lookupRequest_ == 0);
    } catch (...) {
        DropConnection(socket_);
        throw;
    }
}

void TCustomWinSocket::PrepareAddressBlocking(const std::string& service, std::uint16_t port) {
    address_.addr = 0;
    address_.port = service.empty() ? NetHtons(port) : NetApi().ServicePort(service);
}

void TCustomWinSocket::StartListening(int queueSize) {
    INetApi& api = NetApi();
    CheckSocketCall(api.Bind(socket_, address_), "bind");
    ApplyEventMask();
    queueSize = std::min(queueSize, kMaxListenQueue);
    RaiseEvent(this, neListen);
    CheckSocketCall(api.Listen(socket_, queueSize), "listen");
    lookupPhase_ = lpIdle;
    connected_ = true;
}

// ---- TServerClientWinSocket --------------------------------------------------------------------

TServerClientWinSocket::TServerClientWinSocket(TSocketHandle socket, TServerWinSocket* server)
    : TCustomWinSocket(socket), server_(server) {
    if (server)
        remoteAddress_ = server->AcceptingPeer();
    const bool nonBlocking = !server || server->EventMask() != 0;
    if (server) {
        server->RegisterClient(this);
        if (nonBlocking) {
            OnNetEvent = [server](TObject* sender, TCustomWinSocket* s, TNetEventKind kind) {
                server->RelayClientEvent(sender, s, kind);
            };
            OnNetError = [server](TObject* sender, TCustomWinSocket* s, TErrorEvent origin,
                                  int& code) { server->RelayClientError(sender, s, origin, code); };
        }
    }
    try {
        if (nonBlocking)
            ApplyEventMask();
        if (IsConnected())
            RaiseEvent(this, neConnect);
    } catch (...) {
        // The object never comes to exist: it must not stay in the server's list.
        if (server)
            server->UnregisterClient(this);
        throw;
    }
}

TServerClientWinSocket::~TServerClientWinSocket() {
    if (server_)
        server_->UnregisterClient(this);
}

// ---- TServerWinSocket --------------------------------------------------------------------------

TServerWinSocket::TServerWinSocket(TSocketHandle socket)
    : TCustomWinSocket(socket), mainThread_(std::this_thread::get_id()) {
    SetEventMask(kFdAccept);
}

TServerWinSocket::~TServerWinSocket() {
    OnNetEvent = nullptr;
    // Also when not listening: connections and threads are the listener's to free.
    GuardCallback([this] { DropConnection(SocketHandle()); });
}

void TServerWinSocket::OpenListener(const std::string& name, const std::string& address,
                                    const std::string& service, std::uint16_t port, int queueSize) {
    const bool block = serverType_ == stThreadBlocking;
    if (block)
        NotifyWindow();  // client threads queue their calls for this thread through it
    TCustomWinSocket::OpenListener(name, address, service, port, queueSize, block);
    if (IsConnected() && block)
        acceptThread_ = new TServerAcceptThread(this);
}

void TServerWinSocket::DropConnection(TSocketHandle socket) {
    EnterLock();
    struct TLeave {
        TServerWinSocket* self;
        ~TLeave() { self->LeaveLock(); }
    } leave{this};
    const bool onMainThread = std::this_thread::get_id() == mainThread_;
    const int savedCacheSize = threadCacheSize_;
    SetThreadCacheSize(0);
    try {
        for (;;) {
            TServerClientThread* thread = nullptr;
            {
                std::lock_guard<std::recursive_mutex> list(listLock_);
                if (threads_.empty())
                    break;
                thread = threads_.back();
                thread->FreeOnTerminate = false;
                thread->Terminate();
                thread->wakeEvent_.Set();
                TServerClientWinSocket* client = thread->client_;
                if (client && client->IsConnected())
                    client->CloseConnection();
            }
            // Not under ListLock: an ending thread takes it to unregister itself.
            thread->WaitFor([this, onMainThread] {
                if (onMainThread)
                    RunQueuedCalls();
            });
            UnregisterThread(thread);  // a thread that never ran did not do it itself
            delete thread;
        }
        for (;;) {
            TServerClientWinSocket* client = nullptr;
            {
                std::lock_guard<std::recursive_mutex> list(listLock_);
                if (clients_.empty())
                    break;
                client = clients_.back();
            }
            delete client;
        }
        if (acceptThread_)
            acceptThread_->Terminate();
        TCustomWinSocket::DropConnection(socket);
        if (acceptThread_) {
            acceptThread_->WaitFor();
            delete acceptThread_;
            acceptThread_ = nullptr;
        }
    } catch (...) {
        SetThreadCacheSize(savedCacheSize);
        throw;
    }
    SetThreadCacheSize(savedCacheSize);
}

void TServerWinSocket::SetServerType(TServerType type) {
    if (type == serverType_)
        return;
    if (IsConnected())
        throw ESocketError(kCannotChangeWhileActive);
    serverType_ = type;
    SetEventMask(type == stThreadBlocking ? 0 : kFdAccept);
}

void TServerWinSocket::SetThreadCacheSize(int size) {
    if (size == threadCacheSize_)
        return;
    const int start = std::min(threadCacheSize_, size);
    threadCacheSize_ = size;
    std::lock_guard<std::recursive_mutex> list(listLock_);
    for (std::size_t i = 0; i < threads_.size(); ++i)
        threads_[i]->keepCached_ = static_cast<int>(i) < start;
}

std::vector<TServerClientWinSocket*> TServerWinSocket::ClientList() {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    return clients_;
}

std::vector<TServerClientThread*> TServerWinSocket::ThreadList() {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    return threads_;
}

int TServerWinSocket::ClientCount() {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    return static_cast<int>(clients_.size());
}

void TServerWinSocket::RegisterClient(TServerClientWinSocket* client) {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
        clients_.push_back(client);
}

void TServerWinSocket::UnregisterClient(TServerClientWinSocket* client) {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void TServerWinSocket::RegisterThread(TServerClientThread* thread) {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    if (std::find(threads_.begin(), threads_.end(), thread) == threads_.end())
        threads_.push_back(thread);
    if (threadCacheSize_ >= static_cast<int>(threads_.size()))
        thread->keepCached_ = true;
}

void TServerWinSocket::UnregisterThread(TServerClientThread* thread) {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    threads_.erase(std::remove(threads_.begin(), threads_.end(), thread), threads_.end());
}

void TServerWinSocket::HandleAccept(TSocketHandle socket) {
    INetApi& api = NetApi();
    int openType = 0;
    // Winsock announces the next pending connection only after an accept call, so a failed
    // query must not skip the accept: the listener would never hear of a connection again.
    // Without the open type the accepted socket is made blocking through its event mask alone.
    const bool haveOpenType = api.GetOpenType(&openType) == 0;
    try {
        if (haveOpenType && serverType_ == stThreadBlocking)
            api.SetOpenType(kSoSynchronousNonAlert);  // accepted sockets are then blocking
        TSockAddrIn peer;
        const TSocketHandle accepted = api.Accept(socket, &peer);
        if (accepted != kInvalidSocket) {
            acceptingPeer_ = peer;
            TServerClientWinSocket* client = MakeClientSocket(accepted);
            acceptingPeer_ = TSockAddrIn{};
            RaiseEvent(client, neAccept);
            if (serverType_ == stThreadBlocking) {
                client->SetEventMask(0);
                FindServerThread(client);
            }
        }
    } catch (...) {
        if (haveOpenType)
            api.SetOpenType(openType);
        throw;
    }
    if (haveOpenType)
        api.SetOpenType(openType);
}

bool TServerWinSocket::HandleOtherMessage(unsigned message, TNetWParam, TNetLParam) {
    if (message != MSG_RUN_QUEUED)
        return false;
    RunQueuedCalls();
    return true;
}

TServerClientThread* TServerWinSocket::CreateServerThread(TServerClientWinSocket* client) {
    return new TServerClientThread(false, client);
}

void TServerWinSocket::ThreadEnded(TServerClientThread* thread) {
    if (OnThreadEnd)
        OnThreadEnd(this, thread);
}

void TServerWinSocket::ThreadStarted(TServerClientThread* thread) {
    if (OnThreadStart)
        OnThreadStart(this, thread);
}

TServerClientWinSocket* TServerWinSocket::MakeClientSocket(TSocketHandle socket) {
    TServerClientWinSocket* client = nullptr;
    if (OnGetSocket)
        OnGetSocket(this, socket, client);
    if (!client)
        client = new TServerClientWinSocket(socket, this);
    return client;
}

TServerClientThread* TServerWinSocket::FindServerThread(TServerClientWinSocket* client) {
    {
        std::lock_guard<std::recursive_mutex> list(listLock_);
        for (TServerClientThread* thread : threads_) {
            if (!thread->client_ && !thread->ending_) {
                thread->Rebind(client);
                return thread;
            }
        }
    }
    TServerClientThread* thread = nullptr;
    if (OnGetThread)
        OnGetThread(this, client, thread);
    if (!thread)
        thread = CreateServerThread(client);
    return thread;
}

void TServerWinSocket::ClientReadNotify(TCustomWinSocket* socket) {
    if (OnClientRead)
        OnClientRead(this, socket);
}

void TServerWinSocket::ClientWriteNotify(TCustomWinSocket* socket) {
    if (OnClientWrite)
        OnClientWrite(this, socket);
}

void TServerWinSocket::ClientConnectNotify(TCustomWinSocket* socket) {
    if (OnClientConnect)
        OnClientConnect(this, socket);
}

void TServerWinSocket::ClientDisconnectNotify(TCustomWinSocket* socket) {
    if (OnClientDisconnect)
        OnClientDisconnect(this, socket);
    if (serverType_ == stNonBlocking)
        socket->FreeLater();
}

void TServerWinSocket::ClientErrorNotify(TCustomWinSocket* socket, TErrorEvent origin,
                                         int& errorCode) {
    if (OnClientError)
        OnClientError(this, socket, origin, errorCode);
}

void TServerWinSocket::RelayClientEvent(TObject*, TCustomWinSocket* socket, TNetEventKind kind) {
    switch (kind) {
        case neConnect:
            ClientConnectNotify(socket);
            break;
        case neDisconnect:
            ClientDisconnectNotify(socket);
            break;
        case neRead:
            ClientReadNotify(socket);
            break;
        case neWrite:
            ClientWriteNotify(socket);
            break;
        default:
            break;
    }
}

void TServerWinSocket::RelayClientError(TObject*, TCustomWinSocket* socket, TErrorEvent origin,
                                        int& errorCode) {
    ClientErrorNotify(socket, origin, errorCode);
}

void TServerWinSocket::RunOnMainThread(const std::function<void()>& call) {
    if (std::this_thread::get_id() == mainThread_) {
        call();
        return;
    }
    const TNotifyWindow window = ExistingNotifyWindow();
    if (!window)
        throw ESocketError(kNoNotifyWindow);
    TQueuedCall queued{call, nullptr, false};
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queue_.push_back(&queued);
    }
    NetApi().PostNotify(window, MSG_RUN_QUEUED, 0, 0);
    {
        std::unique_lock<std::mutex> lock(queueLock_);
        queueDone_.wait(lock, [&] { return queued.done; });
    }
    if (queued.failure)
        std::rethrow_exception(queued.failure);
}

void TServerWinSocket::RunQueuedCalls() {
    for (;;) {
        TQueuedCall* queued = nullptr;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            if (queue_.empty())
                return;
            queued = queue_.front();
            queue_.pop_front();
        }
        try {
            queued->call();
        } catch (...) {
            queued->failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            queued->done = true;
        }
        queueDone_.notify_all();
    }
}

// ---- threads -----------------------------------------------------------------------------------

TServerAcceptThread::TServerAcceptThread(TServerWinSocket* server)
    : TThread(true), server_(server) {
    Resume();
}

void TServerAcceptThread::Execute() {
    while (!Terminated())
        server_->AcceptOnce();
}

TServerClientThread::TServerClientThread(bool createSuspended, TServerClientWinSocket* client)
    : TThread(true) {
    FreeOnTerminate = true;
    Rebind(client);
    if (!createSuspended)
        Resume();
}

TServerClientThread::~TServerClientThread() = default;

void TServerClientThread::Rebind(TServerClientWinSocket* client) {
    client_ = client;
    if (!client)
        return;
    server_ = client->Server();
    if (server_)
        server_.load()->RegisterThread(this);
    client->OnNetEvent = [this](TObject* sender, TCustomWinSocket* socket, TNetEventKind kind) {
        RelayEvent(sender, socket, kind);
    };
    client->OnNetError = [this](TObject* sender, TCustomWinSocket* socket, TErrorEvent origin,
                                int& code) { RelayError(sender, socket, origin, code); };
    wakeEvent_.Set();
}

void TServerClientThread::Execute() {
    TServerWinSocket* server = server_;
    if (server)
        server->ThreadStarted(this);
    for (;;) {
        bool failed = false;
        try {
            wakeEvent_.Wait();
            wakeEvent_.Reset();
            if (!Terminated())
                ServeClient();
        } catch (...) {
            exception_ = std::current_exception();
            ReportException();
            keepCached_ = false;
            failed = true;
        }
        // The client stays set while it is freed, so that nobody rebinds this thread meanwhile.
        delete client_.load();
        bool leave = failed || Terminated() || !keepCached_;
        server = server_;
        if (server) {
            std::lock_guard<std::recursive_mutex> list(server->listLock_);
            client_ = nullptr;
            leave = leave || Terminated() || !keepCached_;
            ending_ = leave;
        } else {
            client_ = nullptr;
        }
        if (leave)
            break;
    }
    if (server_)
        server_.load()->ThreadEnded(this);
}

void TServerClientThread::DoTerminate() {
    if (server_)
        server_.load()->UnregisterThread(this);
}

void TServerClientThread::ServeClient() {
    INetApi& api = NetApi();
    TServerClientWinSocket* client = client_;
    TServerWinSocket* server = server_;
    while (!Terminated() && client && client->IsConnected()) {
        const TSocketHandle socket = client->SocketHandle();
        if (api.Select(socket, false, 500) > 0 && !Terminated()) {
            if (client->ReceiveBytes(nullptr, -1) == 0)
                break;  // the peer has closed
            Synchronize([&] { server->RaiseServerEvent(client, neRead); });
        }
        if (api.Select(socket, true, 500) > 0 && !Terminated())
            Synchronize([&] { server->RaiseServerEvent(client, neWrite); });
    }
}

void TServerClientThread::RelayEvent(TObject* sender, TCustomWinSocket*, TNetEventKind kind) {
    if (server_)
        server_.load()->RelayClientEvent(sender, client_, kind);
}

void TServerClientThread::RelayError(TObject* sender, TCustomWinSocket*, TErrorEvent origin,
                                     int& errorCode) {
    if (server_)
        server_.load()->RelayClientError(sender, client_, origin, errorCode);
}

void TServerClientThread::ReportException() {
    std::exception_ptr failure = exception_;
    bool silent = false;
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const EAbort&) {
        silent = true;
    } catch (...) {
    }
    if (failure && !silent) {
        GuardCallback([&] {
            Synchronize([&] {
                NetApi().CancelMouseCapture();
                HandleApplicationException(failure);
            });
        });
    }
    exception_ = nullptr;
}

void TServerClientThread::Synchronize(const std::function<void()>& call) {
    TServerWinSocket* server = server_;
    if (server)
        server->RunOnMainThread(call);
    else
        call();
}

// ---- components --------------------------------------------------------------------------------

void TAbstractSocket::SetActive(bool value) {
    if (value == active_)
        return;
    if (loading_) {
        active_ = value;
        return;
    }
    Activate(value);
}

void TAbstractSocket::SetPort(int value) {
    if (value == port_)
        return;
    if (!loading_ && active_)
        throw ESocketError(kCannotChangeWhileActive);
    port_ = value;
}

void TAbstractSocket::SetService(const std::string& value) {
    if (SameTextIgnoringCase(value, service_))
        return;
    if (!loading_ && active_)
        throw ESocketError(kCannotChangeWhileActive);
    service_ = value;
}

void TAbstractSocket::Loaded() {
    loading_ = false;
    Activate(active_);
}

void TAbstractSocket::AttachSocket(TCustomWinSocket* socket) {
    socket->OnNetEvent = [this](TObject*, TCustomWinSocket* s, TNetEventKind kind) {
        DispatchEvent(s, kind);
    };
    socket->OnNetError = [this](TObject*, TCustomWinSocket* s, TErrorEvent origin, int& code) {
        DispatchError(s, origin, code);
    };
}

void TCustomSocket::DispatchEvent(TCustomWinSocket* socket, TNetEventKind kind) {
    TSocketNotifyEvent handler;
    switch (kind) {
        case neLookup:
            handler = onLookup_;
            break;
        case neConnect:
            active_ = true;
            handler = onConnect_;
            break;
        case neDisconnect:
            active_ = false;
            handler = onDisconnect_;
            break;
        case neListen:
            active_ = true;
            handler = OnListen;
            break;
        case neAccept:
            handler = OnAccept;
            break;
        case neRead:
            handler = onRead_;
            break;
        case neWrite:
            handler = onWrite_;
            break;
    }
    if (handler)
        handler(this, socket);
}

void TCustomSocket::DispatchError(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode) {
    if (onError_)
        onError_(this, socket, origin, errorCode);
}

TCustomServerSocket::~TCustomServerSocket() {
    listener_.reset();
}

TServerType TCustomServerSocket::ServerType() const {
    return listener_->ServerType();
}

void TCustomServerSocket::SetServerType(TServerType type) {
    listener_->SetServerType(type);
}

int TCustomServerSocket::ThreadCacheSize() const {
    return listener_->ThreadCacheSize();
}

void TCustomServerSocket::SetThreadCacheSize(int size) {
    listener_->SetThreadCacheSize(size);
}

void TCustomServerSocket::Activate(bool value) {
    if (value == listener_->IsConnected())
        return;
    if (listener_->IsConnected())
        listener_->DropConnection(listener_->SocketHandle());
    else
        listener_->OpenListener({}, {}, service_, static_cast<std::uint16_t>(port_ & 0xFFFF),
                                kMaxListenQueue);
}

TServerSocket::TServerSocket() {
    listener_ = std::make_unique<TServerWinSocket>(kInvalidSocket);
    AttachSocket(listener_.get());
    SetThreadCacheSize(10);
}
