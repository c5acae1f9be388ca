// The chat client driver: builds the final chat line and types it into every open chat room
// window of the AOL client, restoring what the user had typed and where the focus was.
#pragma once

#include <cstdint>
#include <string>

#include "announce/aol_message.h"

// A window of another program, as an opaque value; 0 is "no window".
using ChatWindow = std::uintptr_t;

// What became of a message sent to a window of the chat client.
enum class TDelivery {
    Answered,  // the window handled it
    Gone,      // the window no longer exists: nothing was sent
    NoAnswer,  // the window's thread did not answer in time (the client hangs)
};

// The window operations the driver needs, and nothing else. The Windows implementation calls
// the platform directly (chat_windows_win32.cpp); tests use a fake window tree.
class IChatWindows {
  public:
    virtual ~IChatWindows() = default;

    // FindWindowA: the top-level window of this class, or 0.
    virtual ChatWindow FindTopWindow(const char* className) = 0;
    // FindWindowExA: the next direct child of `parent` after `after` (0: the first) whose class
    // and text match; a null class or text matches any.
    virtual ChatWindow FindChildWindow(ChatWindow parent, ChatWindow after, const char* className,
                                       const char* text) = 0;
    virtual ChatWindow GetFocus() = 0;
    virtual void SetFocus(ChatWindow window) = 0;

    // The messages sent to an input control (SendMessageA).
    virtual TDelivery SendKillFocus(ChatWindow window) = 0;      // WM_KILLFOCUS 0, 0
    virtual TDelivery SendGetTextLength(ChatWindow window) = 0;  // WM_GETTEXTLENGTH
    // WM_GETTEXT: at most `maxChars` characters, up to the first zero byte.
    virtual TDelivery SendGetText(ChatWindow window, int maxChars, std::string& text) = 0;
    virtual TDelivery SendSetText(ChatWindow window, const std::string& text) = 0;  // WM_SETTEXT
    virtual TDelivery SendChar(ChatWindow window, char ch) = 0;                     // WM_CHAR ch, 0
    virtual TDelivery SendSetFocus(ChatWindow window) = 0;  // WM_SETFOCUS 0, 0

    // GetCurrentThreadId, GetWindowThreadProcessId (0 when the window is gone), AttachThreadInput.
    virtual std::uint32_t CurrentThreadId() = 0;
    virtual std::uint32_t WindowThreadId(ChatWindow window) = 0;
    virtual void AttachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) = 0;

    virtual void Sleep(unsigned milliseconds) = 0;
};

// The window operations the driver uses from now on (null: the driver does nothing). The plug-in
// installs the Windows implementation once at load.
void SetChatWindows(IChatWindows* windows);
IChatWindows* GetChatWindows();

// Builds the chat line: font prefix (when FontFormat) + PreText + Text + PostText.
std::string BuildAolLine(const TAolMessage& message);

// Posts the announcement into every open chat room of the chat client. Always returns 1.
int PostAolMessage(const TAolMessage& message);
// The same through the given window operations rather than the installed ones.
int PostAolMessage(const TAolMessage& message, IChatWindows& windows);

// Whether the chat client's main window exists (a quick look that sends no message).
bool ChatClientRunning(IChatWindows& windows);

// Attaches (or detaches) this thread's input processing to (from) the thread of the chat client's
// main window; does nothing when the chat client is not running.
void AttachToChatClient(bool attach);
