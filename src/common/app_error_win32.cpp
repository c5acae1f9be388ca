// Windows display of the application's error handler: a message box on a thread of its own, so
// the host's user-interface thread (and with it the player) goes on while the user reads it.
#include <windows.h>

#include <string>
#include <thread>

#include "common/app_error.h"

void InstallWindowsErrorDisplay() {
    SetErrorDisplay([](const std::string& message) {
        std::thread([message] {
            MessageBoxA(nullptr, message.c_str(), "BrenloPlug3",
                        MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
        }).detach();
    });
}
