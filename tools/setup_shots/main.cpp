// Takes the picture of the setup's page where the plug-in's language is chosen, for the README:
// starts the setup with its normal window, makes a folder look like Winamp's so that the setup
// finds it, clicks Next until the language page shows and writes that window as a BMP file
// (scripts/setup_screenshot.sh turns it into PNG). The setup is then ended; nothing is installed.
//
// Usage: setup_shots SETUP-EXE OUTPUT-BMP
// Needs a real display (Wine's X11 driver, e.g. under Xvfb); the picture is read off the screen.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

void Pump(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (static_cast<int>(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindSetupWindow(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s->process && IsWindowVisible(window) && GetDlgItem(window, IDOK) != nullptr) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// The setup's visible main window (a dialog with a Next button, control 1).
HWND SetupWindow(DWORD process) {
    Search search{process, nullptr};
    EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct TextSearch {
    const char* text;
    bool seen;
};

BOOL CALLBACK FindText(HWND child, LPARAM data) {
    auto* s = reinterpret_cast<TextSearch*>(data);
    char caption[512] = {};
    GetWindowTextA(child, caption, sizeof caption);
    if (IsWindowVisible(child) && std::string(caption).find(s->text) != std::string::npos) {
        s->seen = true;
        return FALSE;
    }
    return TRUE;
}

// Waits until a visible control of the window shows `text`.
bool WaitForText(HWND window, const char* text, DWORD timeoutMs) {
    const DWORD end = GetTickCount() + timeoutMs;
    while (static_cast<int>(end - GetTickCount()) > 0) {
        TextSearch search{text, false};
        EnumChildWindows(window, FindText, reinterpret_cast<LPARAM>(&search));
        if (search.seen)
            return true;
        Pump(100);
    }
    return false;
}

void ClickNext(HWND window) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
}

// Writes the window's area of the screen as a 24-bit BMP file.
bool Capture(HWND window, const std::string& path) {
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(800);
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.write(static_cast<const char*>(bits), imageSize);
        ok = ok && out.good();
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("setup_shots: %s %s\n", path.c_str(), ok ? "written" : "FAILED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: setup_shots SETUP-EXE OUTPUT-BMP\n");
        return 2;
    }
    // A Winamp folder for the setup to find: where Winamp's setup records it, with a winamp.exe.
    const std::string winamp = "C:\\Programme\\Winamp";
    CreateDirectoryA("C:\\Programme", nullptr);
    CreateDirectoryA(winamp.c_str(), nullptr);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CopyFileA(self, (winamp + "\\winamp.exe").c_str(), FALSE);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Winamp", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(winamp.c_str()),
                       static_cast<DWORD>(winamp.size() + 1));
        RegCloseKey(key);
    }

    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string command = "\"" + std::string(argv[1]) + "\"";
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "setup_shots: cannot start %s\n", argv[1]);
        return 1;
    }
    bool ok = false;
    HWND window = nullptr;
    for (int i = 0; i < 300 && window == nullptr; ++i) {
        Pump(100);
        window = SetupWindow(pi.dwProcessId);
    }
    // Welcome page, then the Winamp folder (found), then the language page.
    if (window != nullptr && WaitForText(window, "Winamp", 10000)) {
        ClickNext(window);
        if (WaitForText(window, "Winamp folder", 10000) ||
            WaitForText(window, "Winamp-Ordner", 1000)) {
            ClickNext(window);
            if (WaitForText(window, "Deutsch", 10000))
                ok = Capture(window, argv[2]);
        }
    }
    if (!ok)
        std::fprintf(stderr, "setup_shots: the setup's language page did not show\n");
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ok ? 0 : 1;
}
