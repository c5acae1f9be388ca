// In-memory network for the socket layer's tests.
#include "fake_net.h"

#include <algorithm>
#include <cstring>

#include "net/BrenloScktComp.h"

FakeNet::FakeNet() {
    previous_ = SetNetApi(this);
}

FakeNet::~FakeNet() {
    SetNetApi(previous_);
}

bool FakeNet::Failing(const std::string& op) {
    auto it = failNext_.find(op);
    if (it == failNext_.end())
        return false;
    lastError_ = it->second;
    failNext_.erase(it);
    return true;
}

int FakeNet::Error(int code) {
    lastError_ = code;
    return kSocketError;
}

void FakeNet::PostEvent(TSocketHandle s, unsigned fdBit, int error) {
    auto it = sockets_.find(s);
    if (it == sockets_.end() || !it->second.window || !(it->second.events & fdBit))
        return;
    PostNotify(it->second.window, it->second.message, s,
               static_cast<TNetLParam>(fdBit | (static_cast<unsigned>(error) << 16)));
}

TSocketHandle FakeNet::PeerConnect(std::uint16_t port, std::uint32_t peerAddress) {
    auto listener = ListenerOn(port);
    if (!listener)
        return kInvalidSocket;
    const TSocketHandle handle = nextSocket_++;
    Sock connection;
    connection.connected = true;
    connection.peer = peerAddress;
    unaccepted_[handle] = connection;
    Sock& l = sockets_[*listener];
    l.waiting.push_back(handle);
    if (!l.acceptPosted) {
        l.acceptPosted = true;
        PostEvent(*listener, kFdAccept);
    }
    return handle;
}

void FakeNet::PeerSend(TSocketHandle s, const std::string& data) {
    auto it = sockets_.find(s);
    if (it == sockets_.end()) {
        auto u = unaccepted_.find(s);
        if (u != unaccepted_.end())
            u->second.inbound += data;
        return;
    }
    it->second.inbound += data;
    if (!it->second.readPosted) {
        it->second.readPosted = true;
        PostEvent(s, kFdRead);
    }
}

void FakeNet::PeerClose(TSocketHandle s, int error) {
    auto it = sockets_.find(s);
    if (it == sockets_.end() || it->second.closePosted)
        return;
    it->second.closePosted = true;
    PostEvent(s, kFdClose, error);
}

void FakeNet::MakeWritable(TSocketHandle s) {
    auto it = sockets_.find(s);
    if (it == sockets_.end() || !it->second.writeArmed)
        return;
    it->second.writeArmed = false;
    PostEvent(s, kFdWrite);
}

void FakeNet::CompleteLookup(std::uint16_t port, int error) {
    if (!lookup_)
        return;
    const std::uint16_t net = NetHtons(port);
    std::memcpy(lookup_->buffer, &net, sizeof net);
    PostNotify(lookup_->window, lookup_->message, lookup_->request,
               static_cast<TNetLParam>(16u | (static_cast<unsigned>(error) << 16)));
    lookup_.reset();
}

void FakeNet::PostRaw(TSocketHandle s, unsigned fdBit, int error) {
    PostEvent(s, fdBit, error);
}

int FakeNet::RunUntilIdle() {
    int handled = 0;
    for (int round = 0; round < 100000; ++round) {
        Message m;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            if (queue_.empty())
                break;
            m = queue_.front();
            queue_.pop_front();
        }
        auto it = windows_.find(m.window);
        if (it == windows_.end())
            continue;
        it->second->NetMessage(m.message, m.wParam, m.lParam);
        ++handled;
    }
    return handled;
}

std::string FakeNet::Sent(TSocketHandle s) const {
    auto it = sockets_.find(s);
    if (it != sockets_.end())
        return it->second.sent;
    auto closed = closedSent_.find(s);
    return closed == closedSent_.end() ? std::string() : closed->second;
}

int FakeNet::Backlog(TSocketHandle s) const {
    auto it = sockets_.find(s);
    return it == sockets_.end() ? -1 : it->second.backlog;
}

std::uint16_t FakeNet::BoundPort(TSocketHandle s) const {
    auto it = sockets_.find(s);
    return it == sockets_.end() ? 0 : it->second.port;
}

std::optional<TSocketHandle> FakeNet::ListenerOn(std::uint16_t port) const {
    for (const auto& [handle, sock] : sockets_)
        if (sock.listening && sock.port == port)
            return handle;
    return std::nullopt;
}

int FakeNet::QueuedMessages() {
    std::lock_guard<std::mutex> lock(queueLock_);
    return static_cast<int>(queue_.size());
}

bool FakeNet::NonBlocking(TSocketHandle s) const {
    auto it = sockets_.find(s);
    return it != sockets_.end() && it->second.nonBlocking;
}

int FakeNet::Startup(std::uint16_t) {
    if (Failing("startup"))
        return lastError_;
    ++startups_;
    return 0;
}

int FakeNet::Cleanup() {
    if (Failing("cleanup"))
        return kSocketError;
    ++cleanups_;
    return 0;
}

TSocketHandle FakeNet::Socket() {
    if (Failing("socket"))
        return kInvalidSocket;
    const TSocketHandle handle = nextSocket_++;
    sockets_[handle] = Sock{};
    return handle;
}

int FakeNet::Bind(TSocketHandle s, const TSockAddrIn& address) {
    if (Failing("bind"))
        return kSocketError;
    const std::uint16_t port = NetHtons(address.port);
    for (const auto& [handle, sock] : sockets_)
        if (handle != s && port != 0 && sock.port == port)
            return Error(kWsaEAddrInUse);
    sockets_.at(s).port = port;
    return 0;
}

int FakeNet::Listen(TSocketHandle s, int backlog) {
    if (Failing("listen"))
        return kSocketError;
    sockets_.at(s).listening = true;
    sockets_.at(s).backlog = backlog;
    return 0;
}

TSocketHandle FakeNet::Accept(TSocketHandle s, TSockAddrIn* address) {
    if (Failing("accept"))
        return kInvalidSocket;
    auto it = sockets_.find(s);
    if (it == sockets_.end() || it->second.waiting.empty()) {
        Error(kWsaEWouldBlock);
        return kInvalidSocket;
    }
    Sock& l = it->second;
    const TSocketHandle handle = l.waiting.front();
    l.waiting.pop_front();
    l.acceptPosted = false;
    if (!l.waiting.empty()) {
        l.acceptPosted = true;
        PostEvent(s, kFdAccept);
    }
    // An accepted socket takes over the listener's selection, as with WSAAsyncSelect.
    Sock connection = unaccepted_[handle];
    unaccepted_.erase(handle);
    connection.window = l.window;
    connection.message = l.message;
    connection.events = l.events;
    connection.nonBlocking = l.nonBlocking;
    sockets_[handle] = connection;
    if (address) {
        *address = TSockAddrIn{};
        const std::uint32_t a = connection.peer;  // network order: the first byte first
        address->addr = (a >> 24) | ((a >> 8) & 0xFF00u) | ((a << 8) & 0xFF0000u) | (a << 24);
    }
    return handle;
}

int FakeNet::AsyncSelect(TSocketHandle s, TNotifyWindow window, unsigned message, long events) {
    if (Failing("asyncselect"))
        return kSocketError;
    auto it = sockets_.find(s);
    if (it == sockets_.end())
        return Error(10038);
    Sock& sock = it->second;
    sock.window = window;
    sock.message = message;
    sock.events = window ? events : 0;
    sock.nonBlocking = true;
    // Selecting re-evaluates the state: a connected socket can write, data waits to be read.
    if (sock.connected && (sock.events & kFdWrite))
        PostEvent(s, kFdWrite);
    if (!sock.inbound.empty() && (sock.events & kFdRead)) {
        sock.readPosted = true;
        PostEvent(s, kFdRead);
    }
    if (!sock.waiting.empty() && (sock.events & kFdAccept)) {
        sock.acceptPosted = true;
        PostEvent(s, kFdAccept);
    }
    return 0;
}

int FakeNet::SetNonBlocking(TSocketHandle s, bool on) {
    auto it = sockets_.find(s);
    if (it == sockets_.end())
        return Error(10038);
    it->second.nonBlocking = on;
    return 0;
}

int FakeNet::BytesPending(TSocketHandle s, std::uint32_t* count) {
    auto it = sockets_.find(s);
    *count = it == sockets_.end() ? 0 : static_cast<std::uint32_t>(it->second.inbound.size());
    return 0;
}

int FakeNet::Send(TSocketHandle s, const void* buffer, int count, int) {
    auto it = sockets_.find(s);
    if (it == sockets_.end())
        return Error(10038);
    SendStep step;
    if (!sendPlan.empty()) {
        step = sendPlan.front();
        sendPlan.pop_front();
    } else if (sendPolicy) {
        step = sendPolicy(count);
    }
    if (step.error)
        return Error(step.error);
    if (step.wouldBlock) {
        it->second.writeArmed = true;
        return Error(kWsaEWouldBlock);
    }
    const int taken = step.accept < 0 ? count : std::min(step.accept, count);
    it->second.sent.append(static_cast<const char*>(buffer), static_cast<std::size_t>(taken));
    return taken;
}

int FakeNet::Recv(TSocketHandle s, void* buffer, int count, int) {
    if (Failing("recv"))
        return kSocketError;
    auto it = sockets_.find(s);
    if (it == sockets_.end())
        return Error(10038);
    Sock& sock = it->second;
    sock.readPosted = false;
    if (sock.inbound.empty())
        return count == 0 ? 0 : Error(kWsaEWouldBlock);
    const int n = std::min<int>(count, static_cast<int>(sock.inbound.size()));
    std::memcpy(buffer, sock.inbound.data(), static_cast<std::size_t>(n));
    sock.inbound.erase(0, static_cast<std::size_t>(n));
    if (!sock.inbound.empty()) {
        sock.readPosted = true;
        PostEvent(s, kFdRead);
    }
    return n;
}

int FakeNet::CloseSocket(TSocketHandle s) {
    ++closes_[s];
    if (Failing("closesocket"))
        return kSocketError;
    if (auto it = sockets_.find(s); it != sockets_.end())
        closedSent_[s] = it->second.sent;
    if (!sockets_.erase(s))
        return Error(10038);
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [s](const Message& m) {
                                    return m.message == MSG_SOCKET_EVENT && m.wParam == s;
                                }),
                 queue_.end());
    return 0;
}

TLookupHandle FakeNet::AsyncGetServByName(TNotifyWindow window, unsigned message,
                                          const std::string&, const std::string&, char* buffer,
                                          int length) {
    if (Failing("lookup"))
        return 0;
    lookup_ = Lookup{nextLookup_++, window, message, buffer, length};
    return lookup_->request;
}

int FakeNet::CancelAsyncRequest(TLookupHandle request) {
    if (lookup_ && lookup_->request == request)
        lookup_.reset();
    return 0;
}

std::uint16_t FakeNet::ServicePortOf(const char* buffer) {
    std::uint16_t port = 0;
    std::memcpy(&port, buffer, sizeof port);
    return port;
}

int FakeNet::GetOpenType(int* openType) {
    if (Failing("getopentype"))
        return kSocketError;
    *openType = openType_;
    return 0;
}

int FakeNet::SetOpenType(int openType) {
    openType_ = openType;
    return 0;
}

std::uint16_t FakeNet::ServicePort(const std::string& name) {
    return name == "http" ? NetHtons(80) : 0;
}

TNotifyWindow FakeNet::CreateNotifyWindow(INetWindowTarget* target) {
    const TNotifyWindow window = nextWindow_++;
    windows_[window] = target;
    return window;
}

bool FakeNet::PostNotify(TNotifyWindow window, unsigned message, TNetWParam wParam,
                         TNetLParam lParam) {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (auto failing = failPosts_.find(message);
        failing != failPosts_.end() && failing->second > 0) {
        --failing->second;
        return false;
    }
    queue_.push_back({window, message, wParam, lParam});
    return true;
}

void FakeNet::DestroyNotifyWindow(TNotifyWindow window) {
    windows_.erase(window);
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [window](const Message& m) { return m.window == window; }),
                 queue_.end());
}

bool FakeNet::DispatchPending() {
    return RunUntilIdle() > 0;
}
