// Takes pictures for the documentation, as BMP files (scripts/screenshots.sh turns them into PNG):
// each of the configuration dialog's four pages and its preview with a colour gradient; the
// file server's download question; and the file-server window with three downloads running
// (peers on loopback), the second one selected.
//
// Usage: dialog_shots OUTPUT-FOLDER
// Needs a real display (Wine's X11 driver, e.g. under Xvfb); the pictures are read off the screen.
#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>

#include <atomic>
#include <memory>
#include <thread>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/win32/control_lookup.h"
#include "config/profile_reader.h"
#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "config/u_configdialog_win32.h"
#include "config/u_language.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/u_brenlofileserver_ids.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "fileshare/u_brenlofileserverframe.h"
#include "net/net_api_win32.h"

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

// A peer that downloads slowly (4 KiB every `pauseMs`) and reports its progress.
void SlowPeer(int port, std::string name, int pauseMs, std::atomic<bool>* stop) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Reads wake up now and then, so that the peer notices when it is to stop.
    DWORD wake = 200;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wake), sizeof wake);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "request file:" + name;
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[4096];
        int n = -1;
        while (!*stop && n < 0) {  // the offer comes once the question is answered
            n = recv(s, buffer, sizeof buffer, 0);
            if (n < 0 && WSAGetLastError() != WSAETIMEDOUT)
                break;
        }
        if (n > 17 && std::string(buffer, 17) == "request sendfile:") {
            send(s, "ok sendfile", 11, 0);
            long long received = 0;
            while (!*stop) {
                n = recv(s, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT))
                    break;
                if (n < 0)
                    continue;
                received += n;
                const std::string status = "status" + std::to_string(received);
                send(s, status.data(), static_cast<int>(status.size()), 0);
                Sleep(static_cast<DWORD>(pauseMs));
            }
        }
    }
    closesocket(s);
}

// Answers each download question with OK from inside the question's own loop; the first one is
// photographed before.
std::string g_folder;
int g_answered = 0;
bool g_shotOk = true;

VOID CALLBACK AnswerQuestion(HWND, UINT, UINT_PTR, DWORD) {
    static bool busy = false;  // the picture pumps messages, this timer's among them
    if (busy)
        return;
    busy = true;
    struct Done {
        ~Done() { busy = false; }
    } done;
    HWND found = FindWindowA("#32770", FileServerTexts().confirmdownloadcaption.c_str());
    if (!found || !IsWindowVisible(found))
        return;
    if (g_answered == 0)
        g_shotOk = Capture(found, g_folder + "\\fileserver_confirm.bmp") && g_shotOk;
    ++g_answered;
    SendMessageA(GetDlgItem(found, fsid::OKBtn), BM_CLICK, 0, 0);
}

// The download question of the first peer, then the window with three downloads running.
bool FileServerShots(const std::string& folder) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    InstallWinsockNetApi();
    InstallWin32TransferPlatform();
    SetLanguageProfileReader(&WindowsProfileReader());
    LoadLanguage();
    SetFileServerTextSource([] {
        const auto& t = LanguageTexts.filesharing;
        return TFileServerTexts{t.filecaption,          t.confirmdownloadcaption,
                                t.okbuttoncaption,      t.cancelbuttoncaption,
                                t.acceptdownloadmsg,    t.downloaddisclaimer,
                                t.waitfordownloadstart, t.totalcaption,
                                t.atspeedcaption,       t.transfercancelledbyusermsg};
    });

    // A song big enough to be still running when the picture is taken, where a user keeps
    // music (the window shows its path).
    CreateDirectoryA("C:\\Music", nullptr);
    const std::string song = "C:\\Music\\Nena - 99 Luftballons.mp3";
    {
        std::ofstream out(song, std::ios::binary);
        std::string block(1 << 20, '\x55');
        for (int i = 0; i < 4; ++i)
            out << block;
    }
    TBrenloFileserverWindow window(true);
    window.Form().SetServedFile(song);
    const int port = 47011;
    window.Form().SetServerPort(port);
    Pump(200);  // the window hides itself right after its creation
    SendMessageA(window.Handle(), WM_TRAYICON, 0, WM_LBUTTONUP);  // a click on the tray icon
    Pump(300);

    bool ok = true;
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    const char* names[] = {"MusikFan83", "Brenlo", "Nachteule"};
    const int pauses[] = {25, 60, 110};
    g_folder = folder;
    UINT_PTR timer = SetTimer(nullptr, 0, 300, AnswerQuestion);
    for (int i = 0; i < 3; ++i) {
        peers.emplace_back(SlowPeer, port, names[i], pauses[i], &stop);
        const DWORD start = GetTickCount();
        while (g_answered <= i && GetTickCount() - start < 10000)
            Pump(50);
        if (g_answered <= i) {
            std::printf("dialog_shots: no download question\n");
            ok = false;
            break;
        }
        Pump(700);
    }
    ok = ok && g_shotOk;
    KillTimer(nullptr, timer);
    Pump(3500);  // the speeds are sampled after two seconds
    SendMessageA(window.RowBar(1), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    ok = Capture(window.Handle(), folder + "\\fileserver_window.bmp") && ok;
    stop = true;
    for (auto& t : peers)
        t.join();
    Pump(200);
    return ok;
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
    ok = FileServerShots(folder) && ok;
    return ok ? 0 : 1;
}
