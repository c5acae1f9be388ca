// The server side of the socket layer in the mode the plug-in uses (non-blocking): the listening
// socket with its client connections (TServerWinSocket, TServerClientWinSocket) and the
// components an application window holds (TServerSocket). The thread-blocking mode's parts of
// TServerWinSocket are in BrenloScktComp_threads.cpp.
#include <algorithm>
#include <cctype>
#include <thread>

#include "common/app_error.h"
#include "net/BrenloScktComp.h"
#include "net/BrenloScktComp_texts.h"

namespace {

using namespace socket_texts;

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

// ---- TServerClientWinSocket --------------------------------------------------------------------

TServerClientWinSocket::TServerClientWinSocket(TSocketHandle socket, TServerWinSocket* server)
    : TCustomWinSocket(socket), server_(server) {
    if (server) {
        remoteAddress_ = server->AcceptingPeer();
        // From here the handle is ours: closed by this object, also if the rest fails.
        server->acceptingTaken_ = true;
    }
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

std::vector<TServerClientWinSocket*> TServerWinSocket::ClientList() {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    return clients_;
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
            TServerClientWinSocket* client = nullptr;
            acceptingPeer_ = peer;
            acceptingTaken_ = false;
            try {
                client = MakeClientSocket(accepted);
                acceptingPeer_ = TSockAddrIn{};
            } catch (...) {
                acceptingPeer_ = TSockAddrIn{};
                // The object never came to exist. If it never took the handle, close the
                // connection here, or the handle leaks. One that took it has closed it as it
                // went: a second close could hit a handle another thread got meanwhile.
                if (!acceptingTaken_)
                    api.CloseSocket(accepted);
                throw;
            }
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

TServerClientWinSocket* TServerWinSocket::MakeClientSocket(TSocketHandle socket) {
    TServerClientWinSocket* client = nullptr;
    if (OnGetSocket)
        OnGetSocket(this, socket, client);
    if (!client)
        client = new TServerClientWinSocket(socket, this);
    return client;
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
