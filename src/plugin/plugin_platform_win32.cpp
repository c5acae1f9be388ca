// The Windows implementations of the plug-in frame's platform, put together in one place: the
// window hook, the first-start question box, the error display, the registry, the language file
// reader, the chat client's windows and the file-server window.
#include "plugin/plugin_platform_win32.h"

#include <windows.h>

#include "announce/chat_windows_win32.h"
#include "announce/u_aol.h"
#include "common/app_error.h"
#include "config/config_dialog.h"
#include "config/profile_reader.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "config/u_language.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "net/net_api_win32.h"
#include "plugin/u_genWAControl_win32.h"

namespace {

constexpr char kMessageBoxCaption[] = "BrenloPlug3";

bool AskYesNo(const std::string& question) {
    // The load runs before the host has shown its window, so the box has no owner; task-modal
    // and topmost keep it in front of the starting player.
    return MessageBoxA(nullptr, question.c_str(), kMessageBoxCaption,
                       MB_YESNO | MB_ICONINFORMATION | MB_TASKMODAL | MB_TOPMOST |
                           MB_SETFOREGROUND) == IDYES;
}

// BrenloFileserverForm: created last by the load, destroyed first by the unload.
std::unique_ptr<TBrenloFileserverWindow> g_fileServerWindow;

// The announcement's calls into the file-server window. The address token stays empty until
// the public address lookup is built; the window tells whether anything listens.
class TWindowFileServerLink final : public IFileServerLink {
  public:
    void SetTrayIcon(bool visible) override {
        if (g_fileServerWindow)
            g_fileServerWindow->Form().SetTrayIcon(visible);
    }
    void SetServedFile(const std::string& fileName) override {
        if (g_fileServerWindow)
            g_fileServerWindow->Form().SetServedFile(fileName);
    }
    void SetServerPort(int port) override {
        if (g_fileServerWindow)
            g_fileServerWindow->Form().SetServerPort(port);
    }
    void RejectServerPort(const std::string& text) override {
        if (g_fileServerWindow)
            g_fileServerWindow->Form().RejectServerPort(text);
    }
    std::string GetEncodedAddress(char) override { return {}; }
};

TWindowFileServerLink g_fileServerLink;

}  // namespace

TBrenloFileserverWindow* FileServerWindow() {
    return g_fileServerWindow.get();
}

TPluginPlatform MakeWin32PluginPlatform() {
    InstallWindowsErrorDisplay();
    SetSettingsRegistry(&WindowsRegistry());
    SetLanguageProfileReader(&WindowsProfileReader());
    SetChatWindows(&Win32ChatWindows());
    TPluginPlatform p;
    p.InstallHostHook = InstallWin32HostHook;
    p.CreateConfigDialog = CreateMainForm;
    p.AskYesNo = AskYesNo;
    p.IsFirstStart = IsFirstStart;
    p.SaveSettings = SaveSettings;
    p.LoadSettings = LoadSettings;
    p.LoadLanguage = LoadLanguage;
    p.FirstStartMessage = [] { return LanguageTexts.other.firststartmessage; };
    p.PostAolMessage = [](const TAolMessage& message) { PostAolMessage(message); };
    p.CreateFileServerWindow = [] {
        InstallWinsockNetApi();
        InstallWin32TransferPlatform();
        g_fileServerWindow = std::make_unique<TBrenloFileserverWindow>(PluginSettings.aol.aolfs);
    };
    p.DestroyFileServerWindow = [] { g_fileServerWindow.reset(); };
    p.FileServer = &g_fileServerLink;
    return p;
}
