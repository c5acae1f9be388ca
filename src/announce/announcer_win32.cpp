// The announcer's thread on Windows: a plain thread that holds a reference to this module.
#include "announce/announcer_win32.h"

#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "common/unique_handle_win32.h"

namespace {

struct TThreadParameter {
    std::function<void()> body;
    HMODULE module = nullptr;
};

// The one place where the thread gives its module reference back; it never returns. The
// thread's last instructions run here, outside any object of ours.
[[noreturn]] void ReleaseModuleAndExitThread(HMODULE module) {
    FreeLibraryAndExitThread(module, 0);
}

DWORD WINAPI AnnouncerThreadMain(void* parameter) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<TThreadParameter> start(static_cast<TThreadParameter*>(parameter));
        module = start->module;
        // Nothing may escape a thread of the host's process.
        try {
            start->body();
        } catch (...) {
        }
    }
    ReleaseModuleAndExitThread(module);
}

}  // namespace

bool StartAnnouncerThread(std::function<void()> body) {
    auto start = std::unique_ptr<TThreadParameter>(new (std::nothrow) TThreadParameter);
    if (!start) {
        return false;
    }
    start->body = std::move(body);
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&AnnouncerThreadMain), &start->module)) {
        return false;
    }
    const HMODULE module = start->module;
    UniqueKernelHandle thread(
        CreateThread(nullptr, 0, AnnouncerThreadMain, start.get(), 0, nullptr));
    if (!thread) {
        FreeLibrary(module);
        return false;
    }
    start.release();  // the thread's now
    return true;
}
