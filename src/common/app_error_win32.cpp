// Windows display of the application's error handler: a message box on a thread of its own, so
// the host's user-interface thread (and with it the player) goes on while the user reads it.
//
// One box at a time: a failure that repeats with every song (a port that is no number) must not
// stack up boxes. A text that is shown or waiting already is dropped; other texts wait and are
// shown one after the other by the same thread.
#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "common/app_error.h"
#include "common/module_win32.h"
#include "common/unique_handle_win32.h"

namespace {

struct TBoxQueue {
    std::mutex lock;
    std::string showing;  // empty while no box is open
    bool threadRunning = false;
    std::deque<std::string> waiting;
};

// Created once and never freed: the box thread may still use it while the plug-in is torn
// down, and no static destructor of ours runs at process exit.
TBoxQueue* g_boxes = nullptr;

DWORD WINAPI ShowErrorBoxes(LPVOID start) {
    // The thread holds a reference on our module: the host may unload the plug-in while the box
    // is open, and this code must stay mapped until the thread has left it.
    TWorkerModuleRef module;
    {
        std::unique_ptr<TWorkerModuleRef> given(static_cast<TWorkerModuleRef*>(start));
        module = std::move(*given);  // this one held none: nothing is dropped here
    }
    for (;;) {
        std::string text;
        {
            std::lock_guard<std::mutex> hold(g_boxes->lock);
            g_boxes->showing.clear();
            if (g_boxes->waiting.empty()) {
                g_boxes->threadRunning = false;
                break;
            }
            text = std::move(g_boxes->waiting.front());
            g_boxes->waiting.pop_front();
            g_boxes->showing = text;
        }
        MessageBoxA(nullptr, text.c_str(), "BrenloPlug3",
                    MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
    }
    ExitWorkerThread(std::move(module), 0);
}

void ShowError(const std::string& text) {
    std::lock_guard<std::mutex> hold(g_boxes->lock);
    if (text == g_boxes->showing)
        return;
    for (const std::string& waiting : g_boxes->waiting)
        if (waiting == text)
            return;
    g_boxes->waiting.push_back(text);
    if (g_boxes->threadRunning)
        return;  // the open box's thread shows it next
    auto module = std::make_unique<TWorkerModuleRef>(TWorkerModuleRef::Take());
    if (!*module) {
        g_boxes->waiting.clear();
        return;
    }
    UniqueKernelHandle thread(CreateThread(nullptr, 0, ShowErrorBoxes, module.get(), 0, nullptr));
    if (!thread) {
        g_boxes->waiting.clear();  // the reference is dropped here, on this thread
        return;
    }
    module.release();  // the thread's now
    g_boxes->threadRunning = true;
}

}  // namespace

void InstallWindowsErrorDisplay() {
    if (!g_boxes)
        g_boxes = new TBoxQueue;
    SetErrorDisplay(ShowError);
}
