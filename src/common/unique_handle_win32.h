// Move-only owners of Windows handles: one template and a one-line alias per kind of handle.
// Each closes its handle with the function that belongs to it when it goes out of scope, so an
// early return or an exception never leaks one.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <utility>

template <class T>
constexpr T NullHandle() {
    return T{};
}

template <class T, auto Close, auto Invalid = &NullHandle<T>>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return handle_; }
    explicit operator bool() const { return handle_ != Invalid(); }
    // Gives the handle up without closing it.
    T release() {
        T handle = handle_;
        handle_ = Invalid();
        return handle;
    }
    // Closes the handle held (if any) and takes on `handle`.
    void reset(T handle = Invalid()) {
        T old = handle_;
        handle_ = handle;
        if (old != Invalid())
            Close(old);
    }

  private:
    T handle_ = Invalid();
};

namespace unique_handle_detail {
inline void CloseWindow(HWND h) {
    DestroyWindow(h);
}
inline void CloseHook(HHOOK h) {
    UnhookWindowsHookEx(h);
}
inline void CloseGdiObject(HGDIOBJ h) {
    DeleteObject(h);
}
inline void CloseBrush(HBRUSH h) {
    CloseGdiObject(h);
}
inline void CloseFont(HFONT h) {
    CloseGdiObject(h);
}
inline void CloseIcon(HICON h) {
    DestroyIcon(h);
}
inline void CloseModule(HMODULE h) {
    FreeLibrary(h);
}
inline void CloseKernelHandle(HANDLE h) {
    CloseHandle(h);
}
inline void CloseKey(HKEY h) {
    RegCloseKey(h);
}
inline void CloseSocket(SOCKET s) {
    closesocket(s);
}
inline HANDLE InvalidFile() {
    return INVALID_HANDLE_VALUE;
}
constexpr SOCKET InvalidSocket() {
    return INVALID_SOCKET;
}
}  // namespace unique_handle_detail

using UniqueWindow = UniqueHandle<HWND, &unique_handle_detail::CloseWindow>;
using UniqueHook = UniqueHandle<HHOOK, &unique_handle_detail::CloseHook>;
using UniqueBrush = UniqueHandle<HBRUSH, &unique_handle_detail::CloseBrush>;
using UniqueFont = UniqueHandle<HFONT, &unique_handle_detail::CloseFont>;
using UniqueIcon = UniqueHandle<HICON, &unique_handle_detail::CloseIcon>;
using UniqueModule = UniqueHandle<HMODULE, &unique_handle_detail::CloseModule>;
// Events, threads and other kernel objects whose failure value is null.
using UniqueKernelHandle = UniqueHandle<HANDLE, &unique_handle_detail::CloseKernelHandle>;
using UniqueEvent = UniqueKernelHandle;
// Files: CreateFile fails with INVALID_HANDLE_VALUE, not null.
using UniqueFile = UniqueHandle<HANDLE, &unique_handle_detail::CloseKernelHandle,
                                &unique_handle_detail::InvalidFile>;
using UniqueKey = UniqueHandle<HKEY, &unique_handle_detail::CloseKey>;
using UniqueSocket =
    UniqueHandle<SOCKET, &unique_handle_detail::CloseSocket, &unique_handle_detail::InvalidSocket>;
