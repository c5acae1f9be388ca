// The application's error handler: where every failure that escapes a window-message handler,
// a socket notification or a host call ends up. A silent abort (EAbort) is dropped; any other
// failure is shown to the user without blocking the host's thread.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Shows one error text to the user. The Windows build installs a display that does not block the
// calling thread; tests install a recorder.
using TErrorDisplay = std::function<void(const std::string& message)>;
void SetErrorDisplay(TErrorDisplay display);

// Reports the given failure (call from inside a catch block with std::current_exception()).
void HandleApplicationException(const std::exception_ptr& failure) noexcept;

// Runs `body` and hands anything that escapes it to HandleApplicationException. For every place
// where Windows calls into our code, so that nothing unwinds through the host.
template <class Body>
void GuardCallback(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

#ifdef _WIN32
// Installs the Windows display (a non-blocking message box); called once at library load.
void InstallWindowsErrorDisplay();
#endif
