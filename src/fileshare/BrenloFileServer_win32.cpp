// The Windows transfer platform: thread timers, the tick counter, files and number separators.
#include "fileshare/BrenloFileServer_win32.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "common/app_error.h"
#include "common/file_stream_win32.h"
#include "fileshare/BrenloFileServer.h"

namespace {

// A thread timer without a window: WM_TIMER goes to the thread's queue and DispatchMessage calls
// TimerProc. The id Windows picks identifies the timer; the map is used on the timers' thread
// only.
class Win32Timer : public ITransferTimer {
  public:
    Win32Timer(unsigned interval, std::function<void()> onTimer)
        : interval_(interval), onTimer_(std::move(onTimer)) {}
    ~Win32Timer() override { SetEnabled(false); }

    void SetEnabled(bool enabled) override {
        if (enabled == (id_ != 0))
            return;
        if (enabled) {
            id_ = SetTimer(nullptr, 0, interval_, &TimerProc);
            if (id_ != 0)
                Timers()[id_] = this;
        } else {
            KillTimer(nullptr, id_);
            Timers().erase(id_);
            id_ = 0;
        }
    }
    bool Enabled() const override { return id_ != 0; }
    unsigned Interval() const override { return interval_; }

    static std::map<UINT_PTR, Win32Timer*>& Timers() {
        static std::map<UINT_PTR, Win32Timer*> timers;
        return timers;
    }

  private:
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
        const auto found = Timers().find(id);
        if (found == Timers().end())
            return;
        // A copy: the handler may free the timer.
        const std::function<void()> onTimer = found->second->onTimer_;
        GuardCallback([&] { onTimer(); });
    }

    unsigned interval_;
    std::function<void()> onTimer_;
    UINT_PTR id_ = 0;
};

std::string LocaleText(LCTYPE what, const char* fallback) {
    char text[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, what, text, sizeof text) <= 0)
        return fallback;
    return text;
}

const TTransferPlatform& Win32Platform() {
    static const TTransferPlatform platform{
        [](unsigned interval, std::function<void()> onTimer) -> std::unique_ptr<ITransferTimer> {
            return std::make_unique<Win32Timer>(interval, std::move(onTimer));
        },
        [] { return static_cast<std::uint32_t>(GetTickCount()); },
        [](const std::string& path) { return OpenFileStreamForReading(path); },
        [] { return LocaleText(LOCALE_SDECIMAL, "."); },
        [] { return LocaleText(LOCALE_STHOUSAND, ","); },
    };
    return platform;
}

}  // namespace

void InstallWin32TransferPlatform() {
    SetTransferPlatform(&Win32Platform());
}

void AbandonTransferTimers() noexcept {
    for (const auto& [id, timer] : Win32Timer::Timers())
        KillTimer(nullptr, id);
    // The objects are never used again, nor freed.
    Win32Timer::Timers().clear();
}

int RunningTransferTimers() {
    return static_cast<int>(Win32Timer::Timers().size());
}
