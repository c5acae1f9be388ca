#include "common/module_win32.h"

// The linker places the image's DOS header at __ImageBase: its address is the module handle of
// whichever image (plug-in DLL or test program) this object was linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ThisModule() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}
