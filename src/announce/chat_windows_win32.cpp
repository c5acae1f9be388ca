// The driver's window operations on Windows: thin calls into the platform, with every message to
// the chat client bounded in time, because the client runs in its own process and may hang.
#include "announce/chat_windows_win32.h"

#include <windows.h>

#include <vector>

namespace {

// A chat client that does not answer within this time is taken as hanging. SMTO_ABORTIFHUNG
// gives up at once on a thread the system already knows to hang; SMTO_BLOCK keeps the host's
// thread from running other sent messages (and with them our own code) while it waits.
constexpr UINT kAnswerTimeoutMs = 1000;
constexpr UINT kSendFlags = SMTO_ABORTIFHUNG | SMTO_BLOCK;

HWND ToHwnd(ChatWindow w) {
    return reinterpret_cast<HWND>(w);
}
ChatWindow FromHwnd(HWND h) {
    return reinterpret_cast<ChatWindow>(h);
}

// A handle may have been destroyed (and, rarely, reused) since it was found: a window that is
// gone gets nothing.
TDelivery SendBounded(ChatWindow w, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND h = ToHwnd(w);
    if (h == nullptr || !IsWindow(h))
        return TDelivery::Gone;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(h, message, wParam, lParam, kSendFlags, kAnswerTimeoutMs, &result) == 0)
        return IsWindow(h) ? TDelivery::NoAnswer : TDelivery::Gone;
    return TDelivery::Answered;
}

// Whether the thread behind a window answers at all; SetFocus has no time limit of its own.
bool Answers(HWND h) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(h, WM_NULL, 0, 0, kSendFlags, kAnswerTimeoutMs, &ignored) != 0;
}

class TWin32ChatWindows final : public IChatWindows {
  public:
    ChatWindow FindTopWindow(const char* className) override {
        return FromHwnd(FindWindowA(className, nullptr));
    }
    ChatWindow FindChildWindow(ChatWindow parent, ChatWindow after, const char* className,
                               const char* text) override {
        // A null parent would search the top-level windows instead of failing.
        if (parent == 0 || !IsWindow(ToHwnd(parent)))
            return 0;
        return FromHwnd(FindWindowExA(ToHwnd(parent), ToHwnd(after), className, text));
    }
    ChatWindow GetFocus() override { return FromHwnd(::GetFocus()); }
    void SetFocus(ChatWindow window) override {
        const HWND target = ToHwnd(window);
        const HWND current = ::GetFocus();
        if (target == current)
            return;
        if (target != nullptr && (!IsWindow(target) || !Answers(target)))
            return;
        // SetFocus sends WM_KILLFOCUS to the current focus window and waits for it without limit.
        if (current != nullptr && !Answers(current))
            return;
        ::SetFocus(target);
    }

    TDelivery SendKillFocus(ChatWindow window) override {
        return SendBounded(window, WM_KILLFOCUS, 0, 0);
    }
    TDelivery SendGetTextLength(ChatWindow window) override {
        return SendBounded(window, WM_GETTEXTLENGTH, 0, 0);
    }
    TDelivery SendGetText(ChatWindow window, int maxChars, std::string& text) override {
        // WM_GETTEXT counts the terminating zero in its limit.
        std::vector<char> buffer(static_cast<std::size_t>(maxChars) + 1, '\0');
        const TDelivery d =
            SendBounded(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
        if (d != TDelivery::Answered)
            return d;
        buffer.back() = '\0';
        text.assign(buffer.data());
        return d;
    }
    TDelivery SendSetText(ChatWindow window, const std::string& text) override {
        return SendBounded(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    TDelivery SendChar(ChatWindow window, char ch) override {
        return SendBounded(window, WM_CHAR, static_cast<unsigned char>(ch), 0);
    }
    TDelivery SendSetFocus(ChatWindow window) override {
        return SendBounded(window, WM_SETFOCUS, 0, 0);
    }

    std::uint32_t CurrentThreadId() override { return GetCurrentThreadId(); }
    std::uint32_t WindowThreadId(ChatWindow window) override {
        return GetWindowThreadProcessId(ToHwnd(window), nullptr);
    }
    void AttachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) override {
        ::AttachThreadInput(from, to, attach ? TRUE : FALSE);
    }
    void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

IChatWindows& Win32ChatWindows() {
    static TWin32ChatWindows windows;
    return windows;
}
