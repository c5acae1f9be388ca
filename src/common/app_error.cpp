// The application's error handler.
#include "common/app_error.h"

#include <mutex>
#include <utility>

#include "common/errors.h"

namespace {

std::mutex g_displayLock;
TErrorDisplay g_display;

std::string MessageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const EAbort&) {
        return {};
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unbekannter Fehler";
    }
}

}  // namespace

void SetErrorDisplay(TErrorDisplay display) {
    std::lock_guard<std::mutex> lock(g_displayLock);
    g_display = std::move(display);
}

void HandleApplicationException(const std::exception_ptr& failure) noexcept {
    if (!failure)
        return;
    try {
        std::string message = MessageOf(failure);
        if (message.empty())
            return;  // silent abort
        TErrorDisplay display;
        {
            std::lock_guard<std::mutex> lock(g_displayLock);
            display = g_display;
        }
        if (display)
            display(message);
    } catch (...) {
        // Reporting must never fail the caller: the host's message loop is above us.
    }
}
