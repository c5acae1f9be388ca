#include "common/module_win32.h"

#include <new>

#include "common/unique_handle_win32.h"

// The linker places the image's DOS header at __ImageBase: its address is the module handle of
// whichever image (plug-in DLL or test program) this object was linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ThisModule() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

namespace {

struct TDeferredRelease {
    HMODULE module;
    HWND beacon;  // a window of the holding thread, of a system class: no code of ours
};

DWORD WINAPI ReleaseWhenBackInLoop(LPVOID parameter) {
    TDeferredRelease release = *static_cast<TDeferredRelease*>(parameter);
    delete static_cast<TDeferredRelease*>(parameter);
    // Answered once the holding thread retrieves messages again, that is once it has left the
    // code that held the module. Bounded: a thread that never pumps again keeps us no longer.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(release.beacon, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    PostMessageA(release.beacon, WM_CLOSE, 0, 0);  // the static control destroys itself
    FreeLibraryAndExitThread(release.module, 0);
}

}  // namespace

TModuleHold::TModuleHold() {
    // A counted reference, as LoadLibrary takes it.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ReleaseWhenBackInLoop), &module_))
        module_ = nullptr;
}

TModuleHold::~TModuleHold() {
    if (!module_)
        return;
    HWND beacon =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    auto* release = beacon ? new (std::nothrow) TDeferredRelease{module_, beacon} : nullptr;
    UniqueKernelHandle thread(
        release ? CreateThread(nullptr, 0, ReleaseWhenBackInLoop, release, 0, nullptr) : nullptr);
    if (thread)
        return;
    // Without a thread the reference stays: the module remains mapped for the process, which
    // is safe, where dropping it here might not be.
    delete release;
    if (beacon)
        DestroyWindow(beacon);
}
