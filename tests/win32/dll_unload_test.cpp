// A host that unloads the plug-in without calling quit first: the unload itself puts the host
// window's procedure back, so the host never calls into the freed library.
#include <windows.h>

#include <gtest/gtest.h>

#include "plugin/STNDGenPlugStructures.h"
#include "process_util.h"

namespace {

int g_appMessages = 0;

LRESULT CALLBACK PlainHostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) {
        ++g_appMessages;
        return 7;
    }
    if (msg == WM_USER)
        return -1;  // nothing plays
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(PluginUnload, FreeLibraryWithoutQuitGivesTheHostWindowItsProcedureBack) {
    HKEY product = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &product, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(product);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainHostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BrenloUnloadHost";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(host, nullptr);

    // Twice: a library unloaded without quit leaves things behind in the process (its window
    // classes among them), and the next load of it must still work.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first load" : "load after an unload without quit");
        ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
        HMODULE dll = LoadLibraryA(testutil::PluginDll().c_str());
        ASSERT_NE(dll, nullptr);
        using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
        auto get = reinterpret_cast<GetPlugin>(
            reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
        ASSERT_NE(get, nullptr);
        winampGeneralPurposePlugin* record = get();
        record->hwndParent = host;
        record->hDllInstance = dll;
        EXPECT_EQ(record->init(), 0);
        EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(host, GWLP_WNDPROC)), PlainHostProc)
            << "init hooks the host window";
        SendMessageA(host, WM_TIMER, 42, 0);

        FreeLibrary(dll);
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(host, GWLP_WNDPROC)), PlainHostProc);
        EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7);
        SendMessageA(host, WM_TIMER, 42, 0);
        EXPECT_EQ(g_appMessages, round + 1);
    }
    DestroyWindow(host);
}

}  // namespace
