// The thread-blocking mode of the server socket: an accept thread, one thread per client
// connection (cached for reuse) and calls that client threads run on the listener's thread. The
// plug-in never switches a server to this mode; it is kept complete for other users of the unit.
#include <algorithm>
#include <thread>

#include "common/app_error.h"
#include "net/BrenloScktComp.h"
#include "net/BrenloScktComp_texts.h"

using namespace socket_texts;

// ---- TServerWinSocket: threads and queued calls -----------------------------------------------

void TServerWinSocket::SetThreadCacheSize(int size) {
    if (size == threadCacheSize_)
        return;
    const int start = std::min(threadCacheSize_, size);
    threadCacheSize_ = size;
    std::lock_guard<std::recursive_mutex> list(listLock_);
    for (std::size_t i = 0; i < threads_.size(); ++i)
        threads_[i]->keepCached_ = static_cast<int>(i) < start;
}

std::vector<TServerClientThread*> TServerWinSocket::ThreadList() {
    std::lock_guard<std::recursive_mutex> list(listLock_);
    return threads_;
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
