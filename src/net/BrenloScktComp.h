// Message-driven TCP sockets: the socket object with its event and error hooks, direct and
// stream sending, receiving, deferred freeing and listening (TCustomWinSocket), and the server
// built on it: the listening socket with its client connections and client threads
// (TServerWinSocket, TServerClientWinSocket, TServerClientThread) and the component an
// application window holds (TServerSocket).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/object.h"
#include "common/stream.h"
#include "net/net_api.h"
#include "net/net_thread.h"

class TCustomWinSocket;
class TServerWinSocket;
class TServerClientWinSocket;
class TServerClientThread;
class TServerAcceptThread;

// ---- types -------------------------------------------------------------------------------------

enum TNetEventKind { neLookup, neConnect, neDisconnect, neListen, neAccept, neWrite, neRead };
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TLookupPhase { lpIdle, lpAddress, lpService };
enum TServerType { stNonBlocking, stThreadBlocking };

// Notification set, each bit the value of the Winsock FD_ constant of the same name.
using TNetEventMask = std::uint8_t;
constexpr TNetEventMask kFdRead = 1;
constexpr TNetEventMask kFdWrite = 2;
constexpr TNetEventMask kFdOob = 4;
constexpr TNetEventMask kFdAccept = 8;
constexpr TNetEventMask kFdConnect = 16;
constexpr TNetEventMask kFdClose = 32;

constexpr unsigned kWmUser = 0x0400;
constexpr unsigned MSG_SOCKET_EVENT = kWmUser + 1;   // wParam socket, lParam FD_ bit | error << 16
constexpr unsigned MSG_DEFERRED_FREE = kWmUser + 2;  // the object frees itself
constexpr unsigned MSG_LOOKUP_DONE = kWmUser + 3;    // wParam request, lParam length | error << 16
// Thread-blocking mode: calls queued for the main thread are waiting on the listener.
constexpr unsigned MSG_RUN_QUEUED = kWmUser + 4;
// A stream send stopped at the end of its time slice goes on here (wParam socket).
constexpr unsigned MSG_CONTINUE_STREAM = kWmUser + 5;

constexpr int kLookupBufferSize = 1024;
constexpr int kStreamPieceSize = 4096;
// Longest a stream send keeps the thread's message loop inside one notification. With a fast
// peer the connection never refuses data, so without a slice a whole file would go out inside
// one message and the host's window would freeze until the end. A quarter of a frame (16 ms):
// the thread may lose the processor within a slice on a busy machine, and the notification must
// still end within the frame; the message that continues the stream costs far less than a slice.
constexpr int kStreamSliceMs = 4;
constexpr int kMaxListenQueue = 5;
constexpr int kSoSynchronousNonAlert = 0x20;

using TNetEventHook =
    std::function<void(TObject* Sender, TCustomWinSocket* Socket, TNetEventKind Kind)>;
using TSocketErrorEvent = std::function<void(TObject* Sender, TCustomWinSocket* Socket,
                                             TErrorEvent ErrorEvent, int& ErrorCode)>;
using TSocketNotifyEvent = std::function<void(TObject* Sender, TCustomWinSocket* Socket)>;
using TGetSocketEvent = std::function<void(TObject* Sender, TSocketHandle Socket,
                                           TServerClientWinSocket*& ClientSocket)>;
using TGetThreadEvent = std::function<void(TObject* Sender, TServerClientWinSocket* ClientSocket,
                                           TServerClientThread*& SocketThread)>;
using TThreadNotifyEvent = std::function<void(TObject* Sender, TServerClientThread* Thread)>;

class ESocketError : public EBrenloError {
  public:
    using EBrenloError::EBrenloError;
};

// "Windows-Socket-Fehler: <text> (<code>), auf API '<api>'".
std::string SocketErrorText(int code, const std::string& api);
// 0 for a zero failure value; otherwise the last socket error, which is returned for
// would-block and raised as ESocketError for anything else.
int CheckSocketCall(int failureValue, const std::string& api);
void NetStartup();
void NetCleanup();

// ---- the socket object -------------------------------------------------------------------------

class TCustomWinSocket : public TObject, private INetWindowTarget {
  public:
    explicit TCustomWinSocket(TSocketHandle socket);
    ~TCustomWinSocket() override;

    // Direct send: bytes sent (possibly fewer than count), 0 when not connected, -1 on
    // would-block; other failures close the socket and raise unless the error hook clears them.
    int SendBytes(const void* buffer, int count);
    int SendString(const std::string& text);
    // Hands a stream over to be sent in pieces whenever the connection can take data. Refused
    // (false, `stream` left with the caller) while another stream is pending; otherwise the
    // socket owns the stream from here on.
    bool SendFromStream(std::unique_ptr<TStream>&& stream);
    // count -1: the number of bytes pending.
    int ReceiveBytes(void* buffer, int count);
    std::string ReceiveString();
    void CloseConnection();
    virtual void DropConnection(TSocketHandle socket);
    // Frees the object once the message loop reaches the request (only if the window exists).
    void FreeLater();
    TNotifyWindow NotifyWindow();

    TNetEventMask EventMask() const { return eventMask_; }
    void SetEventMask(TNetEventMask mask);
    void EnterLock() { lock_.lock(); }
    void LeaveLock() { lock_.unlock(); }

    void OpenListener(const std::string& name, const std::string& address,
                      const std::string& service, std::uint16_t port, int queueSize, bool block);

    bool IsConnected() const { return connected_; }
    TSocketHandle SocketHandle() const { return socket_; }
    TLookupPhase LookupPhase() const { return lookupPhase_; }
    bool StreamPending() const { return stream_ != nullptr; }
    const TSockAddrIn& Address() const { return address_; }

    TNetEventHook OnNetEvent;
    TSocketErrorEvent OnNetError;
    void* UserData = nullptr;

  protected:
    virtual void HandleAccept(TSocketHandle socket);
    virtual void HandleConnect(TSocketHandle socket);
    virtual void HandleRead(TSocketHandle socket);
    virtual void HandleWrite(TSocketHandle socket);
    virtual void RaiseEvent(TCustomWinSocket* socket, TNetEventKind kind);
    virtual void RaiseError(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode);
    // Messages of the notification window that the socket classes do not take themselves.
    virtual bool HandleOtherMessage(unsigned message, TNetWParam wParam, TNetLParam lParam);

    TNotifyWindow ExistingNotifyWindow() const { return window_; }
    // Selects the notifications of the event mask; the selection's status (0 when done).
    int ApplyEventMask();
    bool ContinueStreamSend();
    void PrepareAddressAsync(const std::string& service, std::uint16_t port, int queueSize);
    void PrepareAddressBlocking(const std::string& service, std::uint16_t port);
    void StartListening(int queueSize);

  private:
    bool NetMessage(unsigned message, TNetWParam wParam, TNetLParam lParam) noexcept override;
    void SocketEventMessage(TNetWParam wParam, TNetLParam lParam);
    void LookupDoneMessage(TNetWParam wParam, TNetLParam lParam);
    void ReleaseStream();
    void ResetAddress();

    std::atomic<TSocketHandle> socket_;
    std::atomic<bool> connected_;
    std::unique_ptr<TStream> stream_;
    TNotifyWindow window_ = 0;
    TSockAddrIn address_;
    TNetEventMask eventMask_ = kFdRead | kFdWrite | kFdConnect | kFdClose;
    TLookupPhase lookupPhase_ = lpIdle;
    TLookupHandle lookupRequest_ = 0;
    std::recursive_mutex lock_;
    std::unique_ptr<char[]> lookupBuffer_;
    int pendingQueueSize_ = 0;
};

// ---- server side -------------------------------------------------------------------------------

class TServerClientWinSocket : public TCustomWinSocket {
  public:
    TServerClientWinSocket(TSocketHandle socket, TServerWinSocket* server);
    ~TServerClientWinSocket() override;

    TServerWinSocket* Server() const { return server_; }
    // The peer's address and port as the accept reported them (network order); all zero for a
    // connection that was not made by the listener's accept.
    const TSockAddrIn& RemoteAddress() const { return remoteAddress_; }

  private:
    TServerWinSocket* server_;
    TSockAddrIn remoteAddress_;
};

class TServerWinSocket : public TCustomWinSocket {
  public:
    explicit TServerWinSocket(TSocketHandle socket);
    ~TServerWinSocket() override;

    void OpenListener(const std::string& name, const std::string& address,
                      const std::string& service, std::uint16_t port, int queueSize);
    void DropConnection(TSocketHandle socket) override;

    TServerType ServerType() const { return serverType_; }
    void SetServerType(TServerType type);
    int ThreadCacheSize() const { return threadCacheSize_; }
    void SetThreadCacheSize(int size);

    // Snapshots, taken under ListLock.
    std::vector<TServerClientWinSocket*> ClientList();
    std::vector<TServerClientThread*> ThreadList();
    int ClientCount();

    void RegisterClient(TServerClientWinSocket* client);
    void UnregisterClient(TServerClientWinSocket* client);
    void RegisterThread(TServerClientThread* thread);
    void UnregisterThread(TServerClientThread* thread);

    void RelayClientEvent(TObject* sender, TCustomWinSocket* socket, TNetEventKind kind);
    void RelayClientError(TObject* sender, TCustomWinSocket* socket, TErrorEvent origin,
                          int& errorCode);

    // Runs `call` on the thread that owns the listener's window and waits for it; what it
    // raises is raised again here.
    void RunOnMainThread(const std::function<void()>& call);
    // Runs every call queued for the main thread (the main thread only).
    void RunQueuedCalls();

    // The listener's own raise, for threads reporting through the component.
    void RaiseServerEvent(TCustomWinSocket* socket, TNetEventKind kind) {
        RaiseEvent(socket, kind);
    }
    void AcceptOnce() { HandleAccept(SocketHandle()); }
    // The peer of the connection being accepted right now (read by the new connection object).
    const TSockAddrIn& AcceptingPeer() const { return acceptingPeer_; }

    TGetSocketEvent OnGetSocket;
    TGetThreadEvent OnGetThread;
    TThreadNotifyEvent OnThreadStart;
    TThreadNotifyEvent OnThreadEnd;
    TSocketNotifyEvent OnClientConnect;
    TSocketNotifyEvent OnClientDisconnect;
    TSocketNotifyEvent OnClientRead;
    TSocketNotifyEvent OnClientWrite;
    TSocketErrorEvent OnClientError;

  protected:
    void HandleAccept(TSocketHandle socket) override;
    bool HandleOtherMessage(unsigned message, TNetWParam wParam, TNetLParam lParam) override;
    virtual TServerClientThread* CreateServerThread(TServerClientWinSocket* client);

  public:
    virtual void ThreadEnded(TServerClientThread* thread);
    virtual void ThreadStarted(TServerClientThread* thread);

  protected:
    virtual TServerClientWinSocket* MakeClientSocket(TSocketHandle socket);
    virtual TServerClientThread* FindServerThread(TServerClientWinSocket* client);
    virtual void ClientReadNotify(TCustomWinSocket* socket);
    virtual void ClientWriteNotify(TCustomWinSocket* socket);
    virtual void ClientConnectNotify(TCustomWinSocket* socket);
    virtual void ClientDisconnectNotify(TCustomWinSocket* socket);
    virtual void ClientErrorNotify(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode);

  private:
    friend class TServerClientThread;
    friend class TServerClientWinSocket;

    TServerType serverType_ = stNonBlocking;
    int threadCacheSize_ = 10;
    std::vector<TServerClientWinSocket*> clients_;
    std::vector<TServerClientThread*> threads_;
    std::recursive_mutex listLock_;
    TServerAcceptThread* acceptThread_ = nullptr;
    TSockAddrIn acceptingPeer_;
    bool acceptingTaken_ = false;  // the connection object being made owns the accepted handle

    struct TQueuedCall {
        std::function<void()> call;
        std::exception_ptr failure;
        bool done = false;
    };
    std::thread::id mainThread_;
    std::mutex queueLock_;
    std::condition_variable queueDone_;
    std::deque<TQueuedCall*> queue_;
};

class TServerAcceptThread : public TThread {
  public:
    explicit TServerAcceptThread(TServerWinSocket* server);
    TServerWinSocket* ServerSocket() const { return server_; }

  protected:
    void Execute() override;

  private:
    TServerWinSocket* server_;
};

class TServerClientThread : public TThread {
  public:
    TServerClientThread(bool createSuspended, TServerClientWinSocket* client);
    ~TServerClientThread() override;

    // Takes on `client` (none: stays idle) and wakes the thread.
    void Rebind(TServerClientWinSocket* client);

    TServerClientWinSocket* Client() const { return client_; }
    TServerWinSocket* Server() const { return server_; }
    bool KeepCached() const { return keepCached_; }
    void SetKeepCached(bool keep) { keepCached_ = keep; }
    TEvent& WakeEvent() { return wakeEvent_; }

  protected:
    void DoTerminate() override;
    void Execute() override;
    virtual void ServeClient();
    virtual void RelayEvent(TObject* sender, TCustomWinSocket* socket, TNetEventKind kind);
    virtual void RelayError(TObject* sender, TCustomWinSocket* socket, TErrorEvent origin,
                            int& errorCode);
    virtual void ReportException();
    // Runs `call` on the main thread (the server's) and waits for it.
    void Synchronize(const std::function<void()>& call);

  private:
    friend class TServerWinSocket;

    std::atomic<TServerClientWinSocket*> client_{nullptr};
    std::atomic<TServerWinSocket*> server_{nullptr};
    std::exception_ptr exception_;
    TEvent wakeEvent_;
    bool ending_ = false;  // guarded by the server's ListLock
    std::atomic<bool> keepCached_{false};
};

// ---- components --------------------------------------------------------------------------------

class TAbstractSocket : public TObject {
  public:
    bool Active() const { return active_; }
    void SetActive(bool value);
    int Port() const { return port_; }
    void SetPort(int value);
    const std::string& Service() const { return service_; }
    void SetService(const std::string& value);

    // Loading from a window's stored layout: while loading, property writes are only stored;
    // Loaded opens the socket if it was stored active.
    void BeginLoading() { loading_ = true; }
    void Loaded();
    bool Loading() const { return loading_; }

  protected:
    virtual void DispatchEvent(TCustomWinSocket* socket, TNetEventKind kind) = 0;
    virtual void DispatchError(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode) = 0;
    virtual void Activate(bool value) = 0;
    void AttachSocket(TCustomWinSocket* socket);

    bool active_ = false;
    int port_ = 0;
    std::string address_;
    std::string host_;
    std::string service_;
    bool loading_ = false;
};

class TCustomSocket : public TAbstractSocket {
  public:
    TSocketNotifyEvent OnListen;
    TSocketNotifyEvent OnAccept;

  protected:
    void DispatchEvent(TCustomWinSocket* socket, TNetEventKind kind) override;
    void DispatchError(TCustomWinSocket* socket, TErrorEvent origin, int& errorCode) override;

    // Unpublished by the server component.
    TSocketNotifyEvent onLookup_, onConnect_, onDisconnect_, onRead_, onWrite_;
    TSocketErrorEvent onError_;
};

class TCustomServerSocket : public TCustomSocket {
  public:
    ~TCustomServerSocket() override;

    TServerWinSocket* Listener() const { return listener_.get(); }
    TServerType ServerType() const;
    void SetServerType(TServerType type);
    int ThreadCacheSize() const;
    void SetThreadCacheSize(int size);

  protected:
    void Activate(bool value) override;

    std::unique_ptr<TServerWinSocket> listener_;
};

class TServerSocket : public TCustomServerSocket {
  public:
    TServerSocket();

    // Server-level events live in the listener.
    TGetSocketEvent& OnGetSocket() { return listener_->OnGetSocket; }
    TGetThreadEvent& OnGetThread() { return listener_->OnGetThread; }
    TThreadNotifyEvent& OnThreadStart() { return listener_->OnThreadStart; }
    TThreadNotifyEvent& OnThreadEnd() { return listener_->OnThreadEnd; }
    TSocketNotifyEvent& OnClientConnect() { return listener_->OnClientConnect; }
    TSocketNotifyEvent& OnClientDisconnect() { return listener_->OnClientDisconnect; }
    TSocketNotifyEvent& OnClientRead() { return listener_->OnClientRead; }
    TSocketNotifyEvent& OnClientWrite() { return listener_->OnClientWrite; }
    TSocketErrorEvent& OnClientError() { return listener_->OnClientError; }
};
