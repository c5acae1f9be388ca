// The announcer: posts the announcements on a thread of its own, so that the player's thread
// never waits for the address lookup, the chat client or the pauses between the messages.
//
// The player's thread composes the announcement (the quick part: song queries, settings, the file
// server's calls) and hands it over with Submit, which never waits. A thread of ours runs while
// there is something to post and ends when nothing waits; it finds the link's token, builds the
// line and posts it into the rooms exactly as the chat driver does, attaching its own input to
// the chat client's thread.
//
// No chat client, nothing to post: while its main window is missing, a song change that needs no
// address lookup starts no thread and drops whatever waited. One with a lookup (sharing on) is
// handed over as usual: every such song change asks for the address, and finds the client gone.
//
// Latest wins. An announcement that arrives while none runs starts at once. One that arrives
// while a posting runs waits in a single slot and replaces whatever waited there before: the
// posting in progress goes on to its end (every room gets the whole line and its typed text back)
// and then the newest song is posted. Ten song changes within a second therefore post the first
// and the last. A posting is not cut short for a newer song: the rooms would see a line in some
// rooms and not in others, and a room left between clearing and restoring its input would lose
// what the user had typed.
//
// Stop (at quit): the waiting announcement is dropped, the pauses wake at once, nothing more is
// sent to the chat client after the message in progress (one time-out at most when the client
// hangs), and the thread ends after putting the focus back and detaching its input. The owner
// waits for that with a bound (WaitIdle); a thread that outlives it keeps only the shared state
// (TAnnouncerQueue, held by both sides) and its own copies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "announce/u_aol.h"
#include "announce/u_composer.h"

// What the player's thread and the announcer's thread share. Every member may be called from
// either thread.
class TAnnouncerQueue {
  public:
    // The pauses last their time divided by `pauseDivisor` (tests shorten them).
    explicit TAnnouncerQueue(int pauseDivisor = 1) : pauseDivisor_(pauseDivisor) {}

    // Hands over an announcement. Returns it back when no thread runs: the caller must then
    // start one with it (and counts it as running until Take says otherwise). Otherwise it waits
    // in the slot, replacing the one that waited there; dropped when stopping.
    std::optional<TAnnouncement> Submit(TAnnouncement announcement);
    // The announcement that waits, taking it out of the slot; nothing when none waits or when
    // stopping, and then the thread counts as ended.
    std::optional<TAnnouncement> Take();
    // A thread that was to run the announcement returned by Submit could not be started.
    void StartFailed();
    // The announcement that waits is dropped.
    void DropWaiting();

    // From now on nothing more is posted; the pauses in progress wake at once.
    void Stop();
    bool Stopping() const;
    // Waits `pause`, or less when stopped; false when stopped.
    bool Pause(std::chrono::milliseconds pause);
    // Waits until no thread runs, at most `bound`; true when none runs.
    bool WaitIdle(std::chrono::milliseconds bound);

  private:
    const int pauseDivisor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<TAnnouncement> waiting_;
    bool running_ = false;
    bool stopping_ = false;
};

// The chat client's windows as the announcer's thread uses them: once stopping, nothing more is
// sent, no further window is found and the pauses end at once (the queue's Pause). Everything
// else goes to the platform's window operations.
class TStoppableChatWindows final : public IChatWindows {
  public:
    TStoppableChatWindows(IChatWindows& windows, TAnnouncerQueue& queue)
        : w_(windows), queue_(queue) {}

    ChatWindow FindTopWindow(const char* className) override;
    ChatWindow FindChildWindow(ChatWindow parent, ChatWindow after, const char* className,
                               const char* text) override;
    ChatWindow GetFocus() override { return w_.GetFocus(); }
    void SetFocus(ChatWindow window) override;
    TDelivery SendKillFocus(ChatWindow window) override;
    TDelivery SendGetTextLength(ChatWindow window) override;
    TDelivery SendGetText(ChatWindow window, int maxChars, std::string& text) override;
    TDelivery SendSetText(ChatWindow window, const std::string& text) override;
    TDelivery SendChar(ChatWindow window, char ch) override;
    TDelivery SendSetFocus(ChatWindow window) override;
    std::uint32_t CurrentThreadId() override { return w_.CurrentThreadId(); }
    std::uint32_t WindowThreadId(ChatWindow window) override { return w_.WindowThreadId(window); }
    // Detaching is always let through: the input must not stay joined to the client's.
    void AttachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) override;
    void Sleep(unsigned milliseconds) override;

  private:
    IChatWindows& w_;
    TAnnouncerQueue& queue_;
};

// The body of the announcer's thread: posts `first`, then every announcement that waits, until
// none waits or the queue stops. Finds the token (the lookup waits here), builds the line and
// posts it through `windows`. A failing announcement is dropped; nothing escapes.
void RunAnnouncements(TAnnouncerQueue& queue, IChatWindows& windows, TAnnouncement first);

// Starts the announcer's thread with the given body; false when it cannot. The body must own
// everything it uses (the thread may outlive the owner of the announcer).
using TAnnouncerThreadStart = std::function<bool(std::function<void()> body)>;

// The announcer as the plug-in's owner keeps it.
class TAnnouncer {
  public:
    // `windows` must outlive every thread (the platform's operations are static); the threads
    // are started through `start`; see TAnnouncerQueue for `pauseDivisor`.
    TAnnouncer(IChatWindows& windows, TAnnouncerThreadStart start, int pauseDivisor = 1);
    // Stops and waits up to the bound for the thread to end; a thread that outlives it is left
    // to end on its own.
    ~TAnnouncer();
    TAnnouncer(const TAnnouncer&) = delete;
    TAnnouncer& operator=(const TAnnouncer&) = delete;

    // Never waits. Without the chat client an announcement without lookup is dropped (see above).
    void Submit(TAnnouncement announcement);
    // Stop, then wait for the thread at most `bound`; true when it ended in time.
    bool StopAndWait(std::chrono::milliseconds bound);

    // The longest the owner waits at quit: one message to a hung chat client (1 s) and the end
    // of the address lookup (2 s) fit in it.
    static constexpr std::chrono::milliseconds kStopBound{2500};

  private:
    std::shared_ptr<TAnnouncerQueue> queue_;
    IChatWindows& windows_;
    TAnnouncerThreadStart start_;
};
