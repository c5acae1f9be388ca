// The player watcher's window hook on Windows: subclassing of the host's main window.
//
// Release policy. When the watcher lets go and our procedure is still the window's current one,
// the previous procedure is put back. When somebody else has subclassed the window after us, the
// procedure above ours still calls ours: taking ours out of the chain would cut off everything
// below it, and freeing it would leave the host calling freed memory. In that case our procedure
// stays in the chain as a plain forwarder to the previous procedure, and its small record lives
// until the window is destroyed (WM_NCDESTROY), where it frees itself; the module is pinned so
// that the forwarder's code outlives an unload of the plug-in.
#include "plugin/u_genWAControl_win32.h"

#include <windows.h>

#include <string>

#include "common/app_error.h"
#include "common/errors.h"
#include "common/system_calls_win32.h"

namespace {

// The window property that leads our procedure from the window to its record.
constexpr char kHookProperty[] = "BrenloPlug3.WinampControl";

LRESULT CALLBACK WatcherWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct HookRecord {
    HWND window;
    WNDPROC oldProc;
    TWinampControl* watcher;  // null once released: the procedure only forwards
    bool windowGone = false;
};

// The forwarder is code of this module: keep the module loaded for the rest of the process, or a
// later unload would leave the chain above us calling freed code. Should pinning fail, a plain
// reference that is never given back does the same; only when both fail is it reported (once:
// this runs in a destructor, so the report goes straight to the error handler).
void KeepModuleForForwarder() noexcept {
    HMODULE self = nullptr;
    const auto address = reinterpret_cast<LPCSTR>(&WatcherWndProc);
    if (SystemCalls().GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN, address, &self))
        return;
    if (SystemCalls().GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, address, &self))
        return;
    static bool reported = false;
    if (reported)
        return;
    reported = true;
    const DWORD error = GetLastError();
    GuardCallback([error] {
        throw EBrenloError(
            "BrenloPlug3 kann sich nicht im Speicher halten (GetModuleHandleExA, Fehler " +
            std::to_string(error) + "); Winamp bitte vor dem Entfernen des Plug-ins beenden.");
    });
}

class Win32HostHook final : public IHostHook {
  public:
    explicit Win32HostHook(HookRecord* record) : record_(record) {}

    ~Win32HostHook() override {
        if (record_->windowGone) {
            delete record_;
            return;
        }
        auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(record_->window, GWLP_WNDPROC));
        if (current == WatcherWndProc) {
            SetWindowLongPtrA(record_->window, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(record_->oldProc));
            RemovePropA(record_->window, kHookProperty);
            delete record_;
        } else {
            record_->watcher = nullptr;  // see the release policy at the top
            KeepModuleForForwarder();
        }
    }

    std::intptr_t SendQuery(std::uintptr_t data, std::intptr_t query) override {
        return SendMessageA(record_->window, WM_USER, static_cast<WPARAM>(data),
                            static_cast<LPARAM>(query));
    }

    std::intptr_t CallPrevious(unsigned message, std::uintptr_t wParam,
                               std::intptr_t lParam) override {
        return CallWindowProcA(record_->oldProc, record_->window, message,
                               static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    }

  private:
    HookRecord* record_;
};

LRESULT CALLBACK WatcherWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* record = static_cast<HookRecord*>(GetPropA(window, kHookProperty));
    if (!record)
        return DefWindowProcA(window, message, wParam, lParam);
    // Saved before watching: the song handler may end with the watcher and its hook released.
    const WNDPROC oldProc = record->oldProc;
    if (record->watcher)
        record->watcher->WatchMessage(message, wParam);
    const LRESULT result = CallWindowProcA(oldProc, window, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        // The window is gone: take ourselves out and drop the record, or leave it to the watcher
        // that still owns it. Looked up again, as the host's handling may have released it.
        record = static_cast<HookRecord*>(GetPropA(window, kHookProperty));
        if (!record)
            return result;
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) == WatcherWndProc)
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc));
        RemovePropA(window, kHookProperty);
        if (record->watcher)
            record->windowGone = true;
        else
            delete record;
    }
    return result;
}

std::string HookFailure(const char* api, DWORD error) {
    return "Das Winamp-Fenster kann nicht beobachtet werden (" + std::string(api) + ", Fehler " +
           std::to_string(error) + "); Songs werden nicht angesagt.";
}

}  // namespace

std::unique_ptr<IHostHook> InstallWin32HostHook(void* window, TWinampControl& watcher) {
    HWND hwnd = static_cast<HWND>(window);
    if (!hwnd || !IsWindow(hwnd))
        return nullptr;
    if (auto* forwarding = static_cast<HookRecord*>(GetPropA(hwnd, kHookProperty))) {
        // A released hook of ours still sits in the chain as a forwarder: take it up again.
        if (forwarding->watcher)
            return nullptr;
        forwarding->watcher = &watcher;
        return std::make_unique<Win32HostHook>(forwarding);
    }
    auto record = std::make_unique<HookRecord>(HookRecord{hwnd, nullptr, &watcher});
    // The property must be in place before the procedure: the first message may arrive at once,
    // and our procedure finds the host's own only through it. Without it the window is left
    // alone, so the host's procedure keeps receiving everything.
    if (!SystemCalls().SetPropA(hwnd, kHookProperty, record.get()))
        throw EBrenloError(HookFailure("SetPropA", GetLastError()));
    SetLastError(0);
    LONG_PTR old =
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatcherWndProc));
    if (old == 0 && GetLastError() != 0) {
        const DWORD error = GetLastError();
        RemovePropA(hwnd, kHookProperty);
        throw EBrenloError(HookFailure("SetWindowLongPtrA", error));
    }
    record->oldProc = reinterpret_cast<WNDPROC>(old);
    return std::make_unique<Win32HostHook>(record.release());
}
