// Takes pictures of the configuration dialog for the documentation: each of its four pages and
// the preview with a colour gradient, as BMP files (scripts/screenshots.sh turns them into PNG).
//
// Usage: dialog_shots OUTPUT-FOLDER
// Needs a real display (Wine's X11 driver, e.g. under Xvfb); the pictures are read off the screen.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/win32/control_lookup.h"
#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "config/u_configdialog_win32.h"

namespace {

void Pump(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    while (static_cast<int>(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

HWND Control(HWND dialog, int id) {
    return testutil::FindControl(dialog, id);
}

void ClickTab(HWND dialog, int index) {
    HWND tabs = Control(dialog, cfgid::PageControl1);
    RECT r{};
    SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tabs, WM_LBUTTONUP, 0, at);
}

// Writes the window's area of the screen as a 24-bit BMP file.
bool Capture(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(400);
    RECT r{};
    GetWindowRect(window, &r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
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
        DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        DWORD imageSize = stride * static_cast<DWORD>(height);
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
    std::printf("dialog_shots: %s %s\n", path.c_str(), ok ? "written" : "FAILED");
    return ok;
}

void ShowcaseSettings() {
    TPluginSettings& s = PluginSettings;
    s.general = {true, true,  ".:BP::[ ", " ]:: v3 :.", true, false, true, "Comic Sans MS",
                 true, false, false,      false};
    s.aol = {true, true, false, true, "1000"};
    const COLORREF rainbow[] = {
        RGB(220, 0, 0),   RGB(240, 140, 0), RGB(230, 210, 0), RGB(0, 170, 0),   RGB(0, 150, 220),
        RGB(40, 40, 200), RGB(140, 0, 180), RGB(220, 0, 140), RGB(120, 60, 20), RGB(90, 90, 90)};
    for (int n = 1; n <= 10; ++n)
        s.fader.color(n) = static_cast<std::int32_t>(rainbow[n - 1]);
    s.fader.fadecolors = 7;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_shots OUTPUT-FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    ShowcaseSettings();
    TMainFormServices services;
    services.saveSettings = [] {};  // pictures only: leave the registry alone
    TMainForm form(std::move(services));
    HWND dialog = form.Handle();
    form.Show();
    Pump(500);

    bool ok = true;
    const char* pages[] = {"page_general", "page_aol", "page_fader", "page_filesharing"};
    for (int i = 0; i < 4; ++i) {
        ClickTab(dialog, i);
        ok = Capture(dialog, folder + "\\" + pages[i] + ".bmp") && ok;
    }
    ClickTab(dialog, 0);
    SendMessageA(Control(dialog, cfgid::btn_applyconfig), BM_CLICK, 0, 0);
    ok = Capture(dialog, folder + "\\preview.bmp") && ok;
    form.Hide();
    return ok ? 0 : 1;
}
