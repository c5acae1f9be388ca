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

// ---- Helper threads ------------------------------------------------------------------------

namespace {

// Guards the two below; a static SRW lock needs no set-up, so it works from any thread at any
// moment, also while no custody exists.
SRWLOCK g_custodyLock = SRWLOCK_INIT;
bool g_custodyOpen = false;
long g_kept = 0;  // references of ended helper threads, each one counted on the module

}  // namespace

TWorkerModuleRef TWorkerModuleRef::Take() {
    TWorkerModuleRef ref;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ExitWorkerThread), &ref.module_))
        ref.module_ = nullptr;
    return ref;
}

TWorkerModuleRef::~TWorkerModuleRef() {
    if (module_)
        FreeLibrary(module_);
}

TWorkerModuleRef::TWorkerModuleRef(TWorkerModuleRef&& other) noexcept : module_(other.module_) {
    other.module_ = nullptr;
}

TWorkerModuleRef& TWorkerModuleRef::operator=(TWorkerModuleRef&& other) noexcept {
    if (this != &other) {
        if (module_)
            FreeLibrary(module_);
        module_ = other.module_;
        other.module_ = nullptr;
    }
    return *this;
}

void ExitWorkerThread(TWorkerModuleRef ref, DWORD exitCode) {
    HMODULE module = ref.module_;
    ref.module_ = nullptr;  // the parameter's destructor never runs: this thread ends here
    if (module) {
        AcquireSRWLockExclusive(&g_custodyLock);
        const bool kept = g_custodyOpen;
        if (kept)
            ++g_kept;
        ReleaseSRWLockExclusive(&g_custodyLock);
        // Still our reference until here, so this code is mapped while it runs.
        if (!kept)
            FreeLibraryAndExitThread(module, exitCode);
    }
    ExitThread(exitCode);
}

TWorkerReleaseCustody::TWorkerReleaseCustody() {
    AcquireSRWLockExclusive(&g_custodyLock);
    g_custodyOpen = true;
    ReleaseSRWLockExclusive(&g_custodyLock);
}

TWorkerReleaseCustody::~TWorkerReleaseCustody() {
    AcquireSRWLockExclusive(&g_custodyLock);
    g_custodyOpen = false;
    long kept = g_kept;
    g_kept = 0;
    ReleaseSRWLockExclusive(&g_custodyLock);
    // The host's own reference is still held while its quit runs: none of these is the last.
    HMODULE module = ThisModule();
    for (; kept > 0; --kept)
        FreeLibrary(module);
}

long TWorkerReleaseCustody::Kept() {
    AcquireSRWLockExclusive(&g_custodyLock);
    const long kept = g_kept;
    ReleaseSRWLockExclusive(&g_custodyLock);
    return kept;
}
