// Deterministic in-memory network behind the socket layer's seam. Notifications are queued as
// Winsock queues them for WSAAsyncSelect: write once on establishment and then only after a
// would-block once the test frees space, one close per connection, read re-posted after each
// receive while data remains, accept re-posted while connections wait; everything queued for a
// closed socket or a destroyed window is dropped. A test decides per send how many bytes are
// taken, when it would block and which call fails with which code.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "net/net_api.h"

class FakeNet : public INetApi {
  public:
    // What one send does: take `accept` bytes (-1: all), would-block, or fail with `error`.
    struct SendStep {
        int accept = -1;
        bool wouldBlock = false;
        int error = 0;
    };
    static SendStep Take(int n) { return {n, false, 0}; }
    static SendStep Block() { return {0, true, 0}; }
    static SendStep Fail(int code) { return {0, false, code}; }

    FakeNet();
    ~FakeNet() override;

    // ---- what the test does ----
    // The next call of `op` ("socket", "bind", "listen", "accept", "recv", "closesocket",
    // "getopentype", "startup", "cleanup", "lookup", "asyncselect") fails with `code`.
    void FailNext(const std::string& op, int code) { failNext_[op] = code; }
    // The next `count` posts of `message` fail, as when the thread's message queue is full.
    void FailPosts(unsigned message, int count) { failPosts_[message] = count; }
    // Sends take these steps first, then ask the policy (if any), then take everything.
    std::deque<SendStep> sendPlan;
    std::function<SendStep(int count)> sendPolicy;

    // A peer connects to the listening socket on `port` (host order) from the IPv4 address
    // `peerAddress` (host order, 127.0.0.1 by default); returns the handle the connection will
    // have once accepted.
    TSocketHandle PeerConnect(std::uint16_t port, std::uint32_t peerAddress = 0x7F000001);
    void PeerSend(TSocketHandle s, const std::string& data);
    void PeerClose(TSocketHandle s, int error = 0);
    // Space became free after a would-block: the write notification follows.
    void MakeWritable(TSocketHandle s);
    // Completes the outstanding service lookup (port in host order) or fails it.
    void CompleteLookup(std::uint16_t port, int error = 0);
    // A notification as Winsock would post it, for cases the rules above never produce.
    void PostRaw(TSocketHandle s, unsigned fdBit, int error);
    // Handles queued messages until none is left (bounded); returns how many were handled.
    int RunUntilIdle();

    // ---- what the test inspects ----
    // What was sent on `s`, also after it was closed.
    std::string Sent(TSocketHandle s) const;
    bool IsOpen(TSocketHandle s) const { return sockets_.count(s) != 0; }
    // How often closesocket was called for `s` (a handle is closed once; a second close could
    // hit a handle the system has given out again).
    int Closes(TSocketHandle s) const {
        const auto it = closes_.find(s);
        return it == closes_.end() ? 0 : it->second;
    }
    int OpenSockets() const { return static_cast<int>(sockets_.size()); }
    int Windows() const { return static_cast<int>(windows_.size()); }
    int StartupBalance() const { return startups_ - cleanups_; }
    int Backlog(TSocketHandle s) const;
    std::uint16_t BoundPort(TSocketHandle s) const;  // host order
    std::optional<TSocketHandle> ListenerOn(std::uint16_t port) const;
    bool LookupOutstanding() const { return lookup_.has_value(); }
    int QueuedMessages();
    bool NonBlocking(TSocketHandle s) const;

    // ---- INetApi ----
    int Startup(std::uint16_t version) override;
    int Cleanup() override;
    TSocketHandle Socket() override;
    int Bind(TSocketHandle s, const TSockAddrIn& address) override;
    int Listen(TSocketHandle s, int backlog) override;
    TSocketHandle Accept(TSocketHandle s, TSockAddrIn* address) override;
    int AsyncSelect(TSocketHandle s, TNotifyWindow window, unsigned message, long events) override;
    int SetNonBlocking(TSocketHandle s, bool on) override;
    int BytesPending(TSocketHandle s, std::uint32_t* count) override;
    int Send(TSocketHandle s, const void* buffer, int count, int flags) override;
    int Recv(TSocketHandle s, void* buffer, int count, int flags) override;
    int CloseSocket(TSocketHandle s) override;
    TLookupHandle AsyncGetServByName(TNotifyWindow window, unsigned message,
                                     const std::string& name, const std::string& proto,
                                     char* buffer, int length) override;
    int CancelAsyncRequest(TLookupHandle request) override;
    std::uint16_t ServicePortOf(const char* buffer) override;
    int LastError() override { return lastError_; }
    std::string ErrorText(int code) override { return "Testfehler " + std::to_string(code); }
    int GetOpenType(int* openType) override;
    int SetOpenType(int openType) override;
    int Select(TSocketHandle, bool, long) override { return 0; }
    std::uint16_t ServicePort(const std::string& name) override;
    void CancelMouseCapture() override {}
    TNotifyWindow CreateNotifyWindow(INetWindowTarget* target) override;
    bool PostNotify(TNotifyWindow window, unsigned message, TNetWParam wParam,
                    TNetLParam lParam) override;
    void DestroyNotifyWindow(TNotifyWindow window) override;
    bool DispatchPending() override;

  private:
    struct Sock {
        bool listening = false;
        bool connected = false;
        bool nonBlocking = false;
        int backlog = 0;
        std::uint16_t port = 0;  // host order, 0 when unbound
        std::uint32_t peer = 0;  // the remote address of a connection, host order
        TNotifyWindow window = 0;
        unsigned message = 0;
        long events = 0;
        std::string inbound;
        std::string sent;
        bool readPosted = false;
        bool writeArmed = false;
        bool closePosted = false;
        bool acceptPosted = false;
        std::deque<TSocketHandle> waiting;  // connections not yet accepted
    };
    struct Message {
        TNotifyWindow window;
        unsigned message;
        TNetWParam wParam;
        TNetLParam lParam;
    };
    struct Lookup {
        TLookupHandle request;
        TNotifyWindow window;
        unsigned message;
        char* buffer;
        int length;
    };

    bool Failing(const std::string& op);
    int Error(int code);
    void PostEvent(TSocketHandle s, unsigned fdBit, int error = 0);

    std::map<TSocketHandle, Sock> sockets_;
    std::map<TSocketHandle, Sock> unaccepted_;
    std::map<TSocketHandle, std::string> closedSent_;
    std::map<TSocketHandle, int> closes_;
    std::map<TNotifyWindow, INetWindowTarget*> windows_;
    std::mutex queueLock_;
    std::deque<Message> queue_;
    std::map<std::string, int> failNext_;
    std::map<unsigned, int> failPosts_;
    std::optional<Lookup> lookup_;
    TSocketHandle nextSocket_ = 100;
    TNotifyWindow nextWindow_ = 1;
    TLookupHandle nextLookup_ = 1;
    int lastError_ = 0;
    int startups_ = 0;
    int cleanups_ = 0;
    int openType_ = 0;
    INetApi* previous_ = nullptr;
};
