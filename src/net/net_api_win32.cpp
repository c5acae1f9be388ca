// Winsock 1.1 and hidden message-only windows behind the socket layer's seam.
#include <windows.h>
#include <winsock2.h>

#include <cstdint>
#include <set>
#include <string>

#include "common/errors.h"
#include "common/module_win32.h"
#include "net/net_api.h"
#include "net/net_api_win32.h"

namespace {

// getsockopt option of the calling thread (mswsock.h), not in winsock2.h.
constexpr int kSoOpenType = 0x7008;
const char kWindowClass[] = "TBrenloSocketWindow";
const char kNoNotifyWindowClass[] =
    "Die Fensterklasse der Socket-Benachrichtigungen kann nicht registriert werden";

// The notification windows that exist, of whichever thread created them. Allocated once and
// never freed: an unload without quit reads it under the loader lock.
SRWLOCK g_windowsLock = SRWLOCK_INIT;
std::set<HWND>* g_windows = nullptr;

void Track(HWND window, bool live) {
    AcquireSRWLockExclusive(&g_windowsLock);
    try {
        if (!g_windows && live)
            g_windows = new std::set<HWND>;
        if (g_windows) {
            if (live)
                g_windows->insert(window);
            else
                g_windows->erase(window);
        }
    } catch (...) {
        // Untracked, the window only misses the unload's switch to the default procedure.
    }
    ReleaseSRWLockExclusive(&g_windowsLock);
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY)
        Track(window, false);
    try {
        auto* target =
            reinterpret_cast<INetWindowTarget*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (target && message >= WM_USER && target->NetMessage(message, wParam, lParam))
            return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    } catch (...) {
        return 0;  // nothing unwinds into the message loop
    }
}

// The notification windows' class, registered by this module while the seam is installed. It
// must be unregistered before the module goes: a library loaded again in the same process
// could not register it otherwise, and the class would point at code no longer mapped.
bool g_classRegistered = false;
// The name in use: normally kWindowClass. A library that was unloaded without the host's quit
// call could not unregister its class (that would mean destroying windows under the loader
// lock), so a later load of this library in the same process may find it still registered,
// pointing at the old mapping's code; the stale class is removed or, while windows of it
// remain, this load registers a name of its own.
std::string g_className = kWindowClass;

bool RegisterWindowClass() {
    if (g_classRegistered)
        return true;
    WNDCLASSA wc{};
    wc.lpfnWndProc = NotifyWindowProc;
    wc.hInstance = ThisModule();
    g_className = kWindowClass;
    wc.lpszClassName = g_className.c_str();
    if (RegisterClassA(&wc) != 0)
        return g_classRegistered = true;
    if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    if (UnregisterClassA(kWindowClass, ThisModule()) && RegisterClassA(&wc) != 0)
        return g_classRegistered = true;
    g_className = std::string(kWindowClass) + "." + std::to_string(GetTickCount()) + "." +
                  std::to_string(reinterpret_cast<std::uintptr_t>(&wc));
    wc.lpszClassName = g_className.c_str();
    return g_classRegistered = RegisterClassA(&wc) != 0;
}

class TWinsockNetApi : public INetApi {
  public:
    int Startup(std::uint16_t version) override {
        WSADATA data;
        return WSAStartup(version, &data);
    }
    int Cleanup() override { return WSACleanup(); }
    TSocketHandle Socket() override { return socket(AF_INET, SOCK_STREAM, 0); }
    int Bind(TSocketHandle s, const TSockAddrIn& address) override {
        return bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    int Listen(TSocketHandle s, int backlog) override { return listen(s, backlog); }
    TSocketHandle Accept(TSocketHandle s, TSockAddrIn* address) override {
        int length = sizeof(TSockAddrIn);
        return accept(s, reinterpret_cast<sockaddr*>(address), &length);
    }
    int AsyncSelect(TSocketHandle s, TNotifyWindow window, unsigned message, long events) override {
        return WSAAsyncSelect(s, reinterpret_cast<HWND>(window), message, events);
    }
    int SetNonBlocking(TSocketHandle s, bool on) override {
        u_long value = on ? 1 : 0;
        return ioctlsocket(s, FIONBIO, &value);
    }
    int BytesPending(TSocketHandle s, std::uint32_t* count) override {
        u_long value = 0;
        const int status = ioctlsocket(s, FIONREAD, &value);
        *count = static_cast<std::uint32_t>(value);
        return status;
    }
    int Send(TSocketHandle s, const void* buffer, int count, int flags) override {
        return send(s, static_cast<const char*>(buffer), count, flags);
    }
    int Recv(TSocketHandle s, void* buffer, int count, int flags) override {
        return recv(s, static_cast<char*>(buffer), count, flags);
    }
    int CloseSocket(TSocketHandle s) override { return closesocket(s); }
    TLookupHandle AsyncGetServByName(TNotifyWindow window, unsigned message,
                                     const std::string& name, const std::string& proto,
                                     char* buffer, int length) override {
        return reinterpret_cast<TLookupHandle>(WSAAsyncGetServByName(
            reinterpret_cast<HWND>(window), message, name.c_str(), proto.c_str(), buffer, length));
    }
    int CancelAsyncRequest(TLookupHandle request) override {
        return WSACancelAsyncRequest(reinterpret_cast<HANDLE>(request));
    }
    std::uint16_t ServicePortOf(const char* buffer) override {
        return static_cast<std::uint16_t>(reinterpret_cast<const servent*>(buffer)->s_port);
    }
    int LastError() override { return WSAGetLastError(); }
    std::string ErrorText(int code) override {
        char text[512] = {};
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
        // System texts end in a line break and often a full stop; the pattern adds its own.
        while (n > 0 && (static_cast<unsigned char>(text[n - 1]) <= ' ' || text[n - 1] == '.'))
            --n;
        return std::string(text, n);
    }

    int GetOpenType(int* openType) override {
        int length = sizeof *openType;
        return getsockopt(INVALID_SOCKET, SOL_SOCKET, kSoOpenType,
                          reinterpret_cast<char*>(openType), &length);
    }
    int SetOpenType(int openType) override {
        return setsockopt(INVALID_SOCKET, SOL_SOCKET, kSoOpenType,
                          reinterpret_cast<const char*>(&openType), sizeof openType);
    }
    int Select(TSocketHandle s, bool forWrite, long microseconds) override {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{0, microseconds};
        return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &wait);
    }
    std::uint16_t ServicePort(const std::string& name) override {
        const servent* entry = getservbyname(name.c_str(), "tcp");
        return entry ? static_cast<std::uint16_t>(entry->s_port) : 0;
    }
    void CancelMouseCapture() override {
        if (HWND capture = GetCapture())
            SendMessageA(capture, WM_CANCELMODE, 0, 0);
    }

    TNotifyWindow CreateNotifyWindow(INetWindowTarget* target) override {
        if (!RegisterWindowClass())
            return 0;
        // Message-only: never shown, never enumerated, receives posted messages only.
        HWND window = CreateWindowExA(0, g_className.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, ThisModule(), nullptr);
        if (window) {
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
            Track(window, true);
        }
        return reinterpret_cast<TNotifyWindow>(window);
    }
    bool PostNotify(TNotifyWindow window, unsigned message, TNetWParam wParam,
                    TNetLParam lParam) override {
        return PostMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam) != 0;
    }
    void DestroyNotifyWindow(TNotifyWindow window) override {
        HWND hwnd = reinterpret_cast<HWND>(window);
        // Detach first: whatever is still queued must not reach the freed object.
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId())
            DestroyWindow(hwnd);
        else
            PostMessageA(hwnd, WM_CLOSE, 0, 0);  // only the owning thread may destroy it
    }
    bool DispatchPending() override {
        bool any = false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            any = true;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return any;
    }
};

}  // namespace

INetApi* WinsockNetApi() {
    static TWinsockNetApi api;
    return &api;
}

void InstallWinsockNetApi() {
    SetNetApi(WinsockNetApi());
    if (!RegisterWindowClass())
        throw EBrenloError(std::string(kNoNotifyWindowClass) + " (" +
                           std::to_string(GetLastError()) + ")");
}

void AbandonNotifyWindows() noexcept {
    AcquireSRWLockExclusive(&g_windowsLock);
    if (g_windows) {
        for (HWND window : *g_windows) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        }
        g_windows->clear();
    }
    ReleaseSRWLockExclusive(&g_windowsLock);
}

void RemoveWinsockNetApi() {
    if (SetNetApi(nullptr) != WinsockNetApi())
        return;  // somebody else's seam was installed: put nothing of ours back
    if (g_classRegistered && UnregisterClassA(g_className.c_str(), ThisModule()))
        g_classRegistered = false;
}
