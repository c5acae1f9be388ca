// A fake window tree of the chat client for the driver's tests, with a fake clock: sleeping only
// moves the clock on. Input controls keep their text and send it to the room's transcript on
// Enter, like the real client; every operation is written to a log.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "announce/u_aol.h"

class FakeChatWindows : public IChatWindows {
  public:
    struct Window {
        ChatWindow parent = 0;
        std::string className;
        std::string text;
        std::uint32_t thread = 0;
        bool alive = true;
        bool hung = false;
        std::vector<std::string> transcript;  // of a room: what its inputs sent
        // A user typing: the input's text as a function of the clock, consulted on every read.
        std::function<std::string(unsigned now)> typist;
    };

    static constexpr std::uint32_t kOwnThread = 1;
    static constexpr std::uint32_t kClientThread = 7;

    unsigned now = 0;  // milliseconds slept so far
    std::vector<std::string> log;
    ChatWindow focus = 0;
    std::function<void()> onGetFocus;                // runs when the driver asks for the focus
    std::function<void(ChatWindow, int)> onGetText;  // window, number of the read (1, 2, ...)

    ChatWindow Add(ChatWindow parent, const std::string& className, const std::string& text = "") {
        ChatWindow id = next_++;
        Window w;
        w.parent = parent;
        w.className = className;
        w.text = text;
        w.thread = kClientThread;
        windows_[id] = w;
        order_.push_back(id);
        return id;
    }
    Window& At(ChatWindow id) { return windows_.at(id); }
    void Destroy(ChatWindow id) {
        At(id).alive = false;
        for (auto& [child, w] : windows_)
            if (w.parent == id && w.alive)
                Destroy(child);
    }
    // Lines of the log that mention this window's messages, as "<message> <argument>".
    std::vector<std::string> MessagesTo(ChatWindow id) const {
        std::vector<std::string> out;
        const std::string prefix = std::to_string(id) + " ";
        for (const auto& l : log)
            if (l.rfind(prefix, 0) == 0)
                out.push_back(l.substr(prefix.size()));
        return out;
    }

    ChatWindow FindTopWindow(const char* className) override {
        log.push_back(std::string("find ") + className);
        for (ChatWindow id : order_) {
            const Window& w = windows_[id];
            if (w.alive && w.parent == 0 && w.className == className)
                return id;
        }
        return 0;
    }
    ChatWindow FindChildWindow(ChatWindow parent, ChatWindow after, const char* className,
                               const char* text) override {
        auto p = windows_.find(parent);
        if (p == windows_.end() || !p->second.alive)
            return 0;
        if (after != 0) {
            auto a = windows_.find(after);
            if (a == windows_.end() || !a->second.alive || a->second.parent != parent)
                return 0;
        }
        bool passed = after == 0;
        for (ChatWindow id : order_) {
            const Window& w = windows_[id];
            if (!passed) {
                passed = id == after;
                continue;
            }
            if (!w.alive || w.parent != parent)
                continue;
            if (className != nullptr && w.className != className)
                continue;
            if (text != nullptr && w.text != text)
                continue;
            return id;
        }
        return 0;
    }
    ChatWindow GetFocus() override {
        log.push_back("getfocus");
        if (onGetFocus)
            onGetFocus();
        return focus;
    }
    void SetFocus(ChatWindow window) override {
        log.push_back("setfocus " + std::to_string(window));
        focus = window;
    }

    TDelivery SendKillFocus(ChatWindow window) override { return Send(window, "killfocus", ""); }
    TDelivery SendGetTextLength(ChatWindow window) override {
        return Send(window, "gettextlength", "");
    }
    TDelivery SendGetText(ChatWindow window, int maxChars, std::string& text) override {
        TDelivery d = Send(window, "gettext", std::to_string(maxChars));
        if (d != TDelivery::Answered)
            return d;
        Window& w = At(window);
        if (w.typist)
            w.text = w.typist(now);
        text = w.text.substr(0, static_cast<std::size_t>(maxChars));
        text = text.substr(0, text.find('\0'));
        if (onGetText)
            onGetText(window, ++reads_[window]);
        return d;
    }
    TDelivery SendSetText(ChatWindow window, const std::string& text) override {
        TDelivery d = Send(window, "settext", text);
        if (d == TDelivery::Answered)
            At(window).text = text;
        return d;
    }
    TDelivery SendChar(ChatWindow window, char ch) override {
        TDelivery d = Send(window, "char", std::to_string(static_cast<int>(ch)));
        if (d == TDelivery::Answered && ch == 13) {
            Window& w = At(window);
            At(w.parent).transcript.push_back(w.text);
            w.text.clear();
        }
        return d;
    }
    TDelivery SendSetFocus(ChatWindow window) override { return Send(window, "setfocus", ""); }

    std::uint32_t CurrentThreadId() override { return kOwnThread; }
    std::uint32_t WindowThreadId(ChatWindow window) override {
        auto w = windows_.find(window);
        return w != windows_.end() && w->second.alive ? w->second.thread : 0;
    }
    void AttachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) override {
        log.push_back((attach ? "attach " : "detach ") + std::to_string(from) + " " +
                      std::to_string(to));
    }
    void Sleep(unsigned milliseconds) override {
        log.push_back("sleep " + std::to_string(milliseconds));
        now += milliseconds;
    }

  private:
    TDelivery Send(ChatWindow window, const std::string& message, const std::string& argument) {
        auto w = windows_.find(window);
        if (w == windows_.end() || !w->second.alive) {
            log.push_back("gone " + std::to_string(window) + " " + message);
            return TDelivery::Gone;
        }
        if (w->second.hung) {
            log.push_back("noanswer " + std::to_string(window) + " " + message);
            return TDelivery::NoAnswer;
        }
        log.push_back(std::to_string(window) + " " + message +
                      (argument.empty() ? "" : " " + argument));
        return TDelivery::Answered;
    }

    ChatWindow next_ = 100;
    std::map<ChatWindow, Window> windows_;
    std::vector<ChatWindow> order_;
    std::map<ChatWindow, int> reads_;
};
