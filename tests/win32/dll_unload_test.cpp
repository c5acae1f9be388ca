// A host that unloads the plug-in without calling quit first: the unload itself puts the host
// window's procedure back, so the host never calls into the freed library, and closes the file
// server's listener, so that the port is free again at once.
#include <windows.h>
#include <winsock2.h>

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

HWND CreateHost() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainHostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BrenloUnloadHost";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                           nullptr, nullptr, wc.hInstance, nullptr);
}

// The product's key exists: not a first start, so no question comes up at init.
bool MarkNotAFirstStart() {
    HKEY product = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &product, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(product);
    return true;
}

// Loads the plug-in the way the host does and calls its init with `host` as the player's window;
// nullptr when the library or its export cannot be had.
HMODULE LoadAndInit(HWND host) {
    HMODULE dll = LoadLibraryA(testutil::PluginDll().c_str());
    if (dll == nullptr)
        return nullptr;
    using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
    if (get == nullptr) {
        FreeLibrary(dll);
        return nullptr;
    }
    winampGeneralPurposePlugin* record = get();
    record->hwndParent = host;
    record->hDllInstance = dll;
    EXPECT_EQ(record->init(), 0);
    return dll;
}

TEST(PluginUnload, FreeLibraryWithoutQuitGivesTheHostWindowItsProcedureBack) {
    ASSERT_TRUE(MarkNotAFirstStart());

    HWND host = CreateHost();
    ASSERT_NE(host, nullptr);

    // Twice: a library unloaded without quit leaves things behind in the process (its window
    // classes among them), and the next load of it must still work.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first load" : "load after an unload without quit");
        ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
        HMODULE dll = LoadAndInit(host);
        ASSERT_NE(dll, nullptr);
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

// Whether a listener of this program could take `port` on every address now.
bool PortFree(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(s, 1) == 0;
    closesocket(s);
    return free;
}

TEST(PluginUnload, PortThousandIsFreeRightAfterAnUnloadWithoutQuit) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    if (!PortFree(1000)) {
        WSACleanup();
        GTEST_SKIP() << "port 1000 is held by another program on this machine";
    }
    ASSERT_TRUE(MarkNotAFirstStart());
    HWND host = CreateHost();
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
    HMODULE dll = LoadAndInit(host);
    ASSERT_NE(dll, nullptr);
    EXPECT_FALSE(PortFree(1000)) << "the file server listens on port 1000 from the start";

    FreeLibrary(dll);
    EXPECT_TRUE(PortFree(1000)) << "the unload left the listener open";
    DestroyWindow(host);
    WSACleanup();
}

}  // namespace
