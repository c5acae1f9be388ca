// The announcer: the announcements' queue (latest wins), its stop, and the body of its thread.
#include "announce/announcer.h"

#include <utility>

std::optional<TAnnouncement> TAnnouncerQueue::Submit(TAnnouncement announcement) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
        return std::nullopt;
    }
    if (!running_) {
        running_ = true;
        return announcement;
    }
    waiting_ = std::move(announcement);
    return std::nullopt;
}

std::optional<TAnnouncement> TAnnouncerQueue::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<TAnnouncement> next;
    if (!stopping_ && waiting_) {
        next = std::move(waiting_);
    }
    waiting_.reset();
    if (!next) {
        running_ = false;
        changed_.notify_all();
    }
    return next;
}

void TAnnouncerQueue::StartFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    changed_.notify_all();
}

void TAnnouncerQueue::DropWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.reset();
}

void TAnnouncerQueue::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.reset();
    changed_.notify_all();
}

bool TAnnouncerQueue::Stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

bool TAnnouncerQueue::Pause(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, pause / pauseDivisor_, [this] { return stopping_; });
}

bool TAnnouncerQueue::WaitIdle(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return !running_; });
}

// ---- the chat client's windows, stoppable -------------------------------------------------------

ChatWindow TStoppableChatWindows::FindTopWindow(const char* className) {
    return queue_.Stopping() ? 0 : w_.FindTopWindow(className);
}

ChatWindow TStoppableChatWindows::FindChildWindow(ChatWindow parent, ChatWindow after,
                                                  const char* className, const char* text) {
    return queue_.Stopping() ? 0 : w_.FindChildWindow(parent, after, className, text);
}

void TStoppableChatWindows::SetFocus(ChatWindow window) {
    // SetFocus sends messages to the client's windows (bounded, but each one a wait).
    if (!queue_.Stopping()) {
        w_.SetFocus(window);
    }
}

TDelivery TStoppableChatWindows::SendKillFocus(ChatWindow window) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendKillFocus(window);
}

TDelivery TStoppableChatWindows::SendGetTextLength(ChatWindow window) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendGetTextLength(window);
}

TDelivery TStoppableChatWindows::SendGetText(ChatWindow window, int maxChars, std::string& text) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendGetText(window, maxChars, text);
}

TDelivery TStoppableChatWindows::SendSetText(ChatWindow window, const std::string& text) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendSetText(window, text);
}

TDelivery TStoppableChatWindows::SendChar(ChatWindow window, char ch) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendChar(window, ch);
}

TDelivery TStoppableChatWindows::SendSetFocus(ChatWindow window) {
    return queue_.Stopping() ? TDelivery::Gone : w_.SendSetFocus(window);
}

void TStoppableChatWindows::AttachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) {
    if (!attach || !queue_.Stopping()) {
        w_.AttachThreadInput(from, to, attach);
    }
}

void TStoppableChatWindows::Sleep(unsigned milliseconds) {
    queue_.Pause(std::chrono::milliseconds(milliseconds));
}

// ---- the thread --------------------------------------------------------------------------------

void RunAnnouncements(TAnnouncerQueue& queue, IChatWindows& windows, TAnnouncement first) {
    TStoppableChatWindows stoppable(windows, queue);
    std::optional<TAnnouncement> next(std::move(first));
    while (next) {
        try {
            // The lookup cannot be cut short; what it found is not posted after a stop.
            if (!queue.Stopping()) {
                const TAolMessage message = FinishAnnouncement(*next);
                if (!queue.Stopping()) {
                    PostAolMessage(message, stoppable);
                }
            }
        } catch (...) {
            // A song whose token could not be found is not announced, as before; the next one is.
        }
        next.reset();
        next = queue.Take();
    }
}

TAnnouncer::TAnnouncer(IChatWindows& windows, TAnnouncerThreadStart start, int pauseDivisor)
    : queue_(std::make_shared<TAnnouncerQueue>(pauseDivisor)),
      windows_(windows),
      start_(std::move(start)) {}

TAnnouncer::~TAnnouncer() {
    StopAndWait(kStopBound);
}

void TAnnouncer::Submit(TAnnouncement announcement) {
    if (!announcement.Token && !ChatClientRunning(windows_)) {
        queue_->DropWaiting();
        return;
    }
    std::optional<TAnnouncement> first = queue_->Submit(std::move(announcement));
    if (!first) {
        return;
    }
    // The body owns its share of the queue: the thread may outlive this object.
    auto body = [queue = queue_, windows = &windows_,
                 first = std::make_shared<TAnnouncement>(std::move(*first))]() mutable {
        RunAnnouncements(*queue, *windows, std::move(*first));
    };
    bool started = false;
    try {
        started = start_ && start_(std::move(body));
    } catch (...) {
        started = false;
    }
    if (!started) {
        queue_->StartFailed();
    }
}

bool TAnnouncer::StopAndWait(std::chrono::milliseconds bound) {
    queue_->Stop();
    return queue_->WaitIdle(bound);
}
