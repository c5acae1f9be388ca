// Windows display of the application's error handler: a message box on a thread of its own, so
// the host's user-interface thread (and with it the player) goes on while the user reads it.
#include <windows.h>

#include <memory>
#include <string>

#include "common/app_error.h"

namespace {

DWORD WINAPI ShowErrorBox(LPVOID parameter) {
    std::unique_ptr<std::string> message(static_cast<std::string*>(parameter));
    MessageBoxA(nullptr, message->c_str(), "BrenloPlug3",
                MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
    message.reset();
    // The thread holds a reference on our module: the host may unload the plug-in while the box
    // is open, and this code must stay mapped until the thread has left it.
    HMODULE self = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ShowErrorBox), &self);
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

void InstallWindowsErrorDisplay() {
    SetErrorDisplay([](const std::string& text) {
        HMODULE pinned = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&ShowErrorBox), &pinned))
            return;
        auto message = std::make_unique<std::string>(text);
        HANDLE thread = CreateThread(nullptr, 0, ShowErrorBox, message.get(), 0, nullptr);
        if (thread == nullptr) {
            FreeLibrary(pinned);
            return;
        }
        message.release();  // the thread owns it now
        CloseHandle(thread);
    });
}
