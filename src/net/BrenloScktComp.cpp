// Message-driven TCP sockets: the socket object (TCustomWinSocket) with its notifications, direct
// and stream sending, receiving, closing and listening. The server and its components are in
// BrenloScktComp_server.cpp, the thread-blocking mode (not used by the plug-in) in
// BrenloScktComp_threads.cpp.
#include "net/BrenloScktComp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "common/app_error.h"
#include "net/BrenloScktComp_texts.h"

namespace {

using namespace socket_texts;

// Sockets whose deferred free could not be posted (the thread's message queue was full): the
// post is tried again whenever a notification is handled, so that the object is not leaked.
std::mutex g_freeRetryLock;
std::vector<TCustomWinSocket*> g_freeRetries;
std::atomic<bool> g_freeOwed{false};  // g_freeRetries is not empty (read without the lock)

std::vector<TCustomWinSocket*> TakeFreeRetries() {
    std::vector<TCustomWinSocket*> owed;
    if (!g_freeOwed.load(std::memory_order_relaxed))
        return owed;
    std::lock_guard<std::mutex> lock(g_freeRetryLock);
    owed.swap(g_freeRetries);
    g_freeOwed = false;
    return owed;
}

void OweFree(TCustomWinSocket* socket) {
    std::lock_guard<std::mutex> lock(g_freeRetryLock);
    if (std::find(g_freeRetries.begin(), g_freeRetries.end(), socket) == g_freeRetries.end())
        g_freeRetries.push_back(socket);
    g_freeOwed = true;
}

void ForgetFree(TCustomWinSocket* socket) {
    std::lock_guard<std::mutex> lock(g_freeRetryLock);
    g_freeRetries.erase(std::remove(g_freeRetries.begin(), g_freeRetries.end(), socket),
                        g_freeRetries.end());
    g_freeOwed = !g_freeRetries.empty();
}

std::string Format(const char* pattern, int code) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, code);
    return text;
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
    if (g_freeOwed)
        ForgetFree(this);
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
    auto sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStreamSliceMs);
    for (;;) {
        if (eventMask_ != 0 && window_ && std::chrono::steady_clock::now() >= sliceEnd) {
            // Let the message loop run; the stream goes on when the loop reaches this message.
            if (api.PostNotify(window_, MSG_CONTINUE_STREAM, socket_, 0))
                break;
            // The thread's queue takes no more messages: rather than leave the stream stalled
            // for good, it goes on here for another slice, which ends with another try.
            sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStreamSliceMs);
        }
        TStream* stream = stream_.get();
        if (!stream)
            break;
        const std::int64_t start = stream->Position();
        int n = 0;
        bool readFailed = false;
        try {
            n = stream->Read(piece, kStreamPieceSize);
        } catch (const std::exception&) {
            readFailed = true;
        }
        if (!readFailed && n <= 0 && stream->Position() >= stream->Size()) {
            ReleaseStream();
            break;
        }
        if (readFailed || n <= 0) {
            // The source failed before its end: the peer must not take what it has for the
            // whole file. The connection is closed, as for a failed send.
            DropConnection(socket_);
            ReleaseStream();
            if (eventMask_ != 0)
                throw EAbort();
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
    if (window_ && !NetApi().PostNotify(window_, MSG_DEFERRED_FREE, 0, 0))
        OweFree(this);
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

int TCustomWinSocket::ApplyEventMask() {
    INetApi& api = NetApi();
    if (eventMask_ != 0)
        return api.AsyncSelect(socket_, NotifyWindow(), MSG_SOCKET_EVENT, eventMask_);
    api.AsyncSelect(socket_, 0, 0, 0);
    api.SetNonBlocking(socket_, false);
    return 0;
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
    // A message was taken from the queue: there is room again for the frees still owed.
    for (TCustomWinSocket* owed : TakeFreeRetries())
        GuardCallback([owed] { owed->FreeLater(); });
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
    // Without its notifications a listener never hears of a connection: that is no listener.
    if (ApplyEventMask() != 0)
        throw ESocketError(SocketErrorText(api.LastError(), "WSAAsyncSelect"));
    queueSize = std::min(queueSize, kMaxListenQueue);
    RaiseEvent(this, neListen);
    CheckSocketCall(api.Listen(socket_, queueSize), "listen");
    lookupPhase_ = lpIdle;
    connected_ = true;
}
