// The socket layer's platform seam: the Winsock 1.1 operations it uses and the hidden
// notification windows through which Winsock reports network events. The Windows build calls
// Winsock and user32 directly (net_api_win32.cpp); native tests install an in-memory network.
#pragma once

#include <cstdint>
#include <string>

using TSocketHandle = std::uintptr_t;  // Winsock SOCKET
using TNotifyWindow = std::uintptr_t;  // HWND of a notification window, 0 for none
using TLookupHandle = std::uintptr_t;  // asynchronous lookup request, 0 for none
using TNetWParam = std::uintptr_t;
using TNetLParam = std::intptr_t;

constexpr TSocketHandle kInvalidSocket = ~TSocketHandle{0};
constexpr int kSocketError = -1;
constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaEConnReset = 10054;
constexpr int kWsaEAddrInUse = 10048;

// IPv4 socket address, port and address in network byte order (the layout of sockaddr_in).
struct TSockAddrIn {
    std::uint16_t family = 2;  // AF_INET
    std::uint16_t port = 0;
    std::uint32_t addr = 0;  // INADDR_ANY
    std::uint8_t zero[8] = {};
};
static_assert(sizeof(TSockAddrIn) == 16);

constexpr std::uint16_t NetHtons(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

// What receives the messages of a notification window. The window procedure hands every
// message to it; a message it does not take goes on to the default window procedure.
class INetWindowTarget {
  public:
    virtual bool NetMessage(unsigned message, TNetWParam wParam, TNetLParam lParam) noexcept = 0;

  protected:
    ~INetWindowTarget() = default;
};

class INetApi {
  public:
    virtual ~INetApi() = default;

    // Winsock. Status results are 0 on success and kSocketError on failure (LastError tells
    // why); handle results are kInvalidSocket (or 0 for lookups) on failure.
    virtual int Startup(std::uint16_t version) = 0;
    virtual int Cleanup() = 0;
    virtual TSocketHandle Socket() = 0;  // IPv4 TCP stream socket
    virtual int Bind(TSocketHandle s, const TSockAddrIn& address) = 0;
    virtual int Listen(TSocketHandle s, int backlog) = 0;
    virtual TSocketHandle Accept(TSocketHandle s, TSockAddrIn* address) = 0;
    virtual int AsyncSelect(TSocketHandle s, TNotifyWindow window, unsigned message,
                            long events) = 0;
    virtual int SetNonBlocking(TSocketHandle s, bool on) = 0;             // FIONBIO
    virtual int BytesPending(TSocketHandle s, std::uint32_t* count) = 0;  // FIONREAD
    virtual int Send(TSocketHandle s, const void* buffer, int count, int flags) = 0;
    virtual int Recv(TSocketHandle s, void* buffer, int count, int flags) = 0;
    virtual int CloseSocket(TSocketHandle s) = 0;
    virtual TLookupHandle AsyncGetServByName(TNotifyWindow window, unsigned message,
                                             const std::string& name, const std::string& proto,
                                             char* buffer, int length) = 0;
    virtual int CancelAsyncRequest(TLookupHandle request) = 0;
    // The port (network order) of the service record a completed lookup left in `buffer`.
    virtual std::uint16_t ServicePortOf(const char* buffer) = 0;
    virtual int LastError() = 0;
    // The platform's message text for a socket error code.
    virtual std::string ErrorText(int code) = 0;

    // Thread-blocking mode.
    virtual int GetOpenType(int* openType) = 0;  // SO_OPENTYPE of the calling thread
    virtual int SetOpenType(int openType) = 0;
    // Waits up to `microseconds` for the socket to become readable (or writable); 1 ready,
    // 0 not ready, kSocketError on failure.
    virtual int Select(TSocketHandle s, bool forWrite, long microseconds) = 0;
    // Port of a TCP service in network order, 0 when unknown (getservbyname).
    virtual std::uint16_t ServicePort(const std::string& name) = 0;
    // Ends any mouse capture of the calling thread's desktop (WM_CANCELMODE to the window that
    // holds it) before an exception from a client thread is shown.
    virtual void CancelMouseCapture() = 0;

    // Notification windows: hidden windows of the calling thread whose messages go to `target`.
    virtual TNotifyWindow CreateNotifyWindow(INetWindowTarget* target) = 0;
    virtual bool PostNotify(TNotifyWindow window, unsigned message, TNetWParam wParam,
                            TNetLParam lParam) = 0;
    // Destroys the window; messages still queued for it are discarded.
    virtual void DestroyNotifyWindow(TNotifyWindow window) = 0;
    // Handles every message queued for the calling thread's windows at this moment; returns
    // whether any was handled.
    virtual bool DispatchPending() = 0;
};

// The seam in use. The Windows build installs Winsock once at start (InstallWinsockNetApi in
// net_api_win32.h); tests install their own. Raises EBrenloError when none is installed.
INetApi& NetApi();
// Installs `api` (nullptr: none); returns the previous one.
INetApi* SetNetApi(INetApi* api);
