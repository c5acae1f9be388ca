// The announcer's thread on Windows: a plain thread that holds a reference to this module.
#include "announce/announcer_win32.h"

#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "common/module_win32.h"
#include "common/unique_handle_win32.h"

namespace {

struct TThreadParameter {
    std::function<void()> body;
    TWorkerModuleRef module;
};

DWORD WINAPI AnnouncerThreadMain(void* parameter) {
    TWorkerModuleRef module;
    {
        std::unique_ptr<TThreadParameter> start(static_cast<TThreadParameter*>(parameter));
        module = std::move(start->module);  // this one held none: nothing is dropped here
        // Nothing may escape a thread of the host's process.
        try {
            start->body();
        } catch (...) {
        }
    }
    // The thread's last instructions, outside any object of ours. While the plug-in lives its
    // reference goes to the owner's keeping, so that an unload never runs on this thread
    // (common/module_win32.h).
    ExitWorkerThread(std::move(module), 0);
}

}  // namespace

bool StartAnnouncerThread(std::function<void()> body) {
    auto start = std::unique_ptr<TThreadParameter>(new (std::nothrow) TThreadParameter);
    if (!start) {
        return false;
    }
    start->body = std::move(body);
    start->module = TWorkerModuleRef::Take();
    if (!start->module) {
        return false;
    }
    UniqueKernelHandle thread(
        CreateThread(nullptr, 0, AnnouncerThreadMain, start.get(), 0, nullptr));
    if (!thread) {
        return false;  // the start's reference is dropped here, on the starting thread
    }
    start.release();  // the thread's now
    return true;
}
