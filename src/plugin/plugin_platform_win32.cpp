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
#include "fileshare/BrenloFileServer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "fileshare/u_brenlofileserverframe.h"
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

// The file server's texts, as the language file gave them.
TFileServerTexts FileServerTextsOfLanguage() {
    const auto& t = LanguageTexts.filesharing;
    return {t.filecaption,          t.confirmdownloadcaption,
            t.okbuttoncaption,      t.cancelbuttoncaption,
            t.acceptdownloadmsg,    t.downloaddisclaimer,
            t.waitfordownloadstart, t.totalcaption,
            t.atspeedcaption,       t.transfercancelledbyusermsg};
}

void InstallServices() {
    InstallWindowsErrorDisplay();
    SetSettingsRegistry(&WindowsRegistry());
    SetLanguageProfileReader(&WindowsProfileReader());
    SetChatWindows(&Win32ChatWindows());
    InstallWinsockNetApi();
    InstallWin32TransferPlatform();
    SetFileServerTextSource(FileServerTextsOfLanguage);
}

void RemoveServices() {
    SetFileServerTextSource(nullptr);
    SetTransferPlatform(nullptr);
    RemoveWinsockNetApi();
    SetChatWindows(nullptr);
    SetLanguageProfileReader(nullptr);
    SetSettingsRegistry(nullptr);
    // Last: a failure of the steps above is still shown. A box already open keeps the module
    // mapped until it is closed.
    SetErrorDisplay(nullptr);
}

// BrenloFileserverForm as the announcement's file server: the tray icon, the served file and the
// port go to the window. The address token stays empty until the public address lookup is
// built; the window tells whether anything listens (Form().IsListening(), ServerPort()).
class TFileServerWindowLink final : public IFileServerLink {
  public:
    TFileServerWindowLink() : window_(PluginSettings.aol.aolfs) {}

    void SetTrayIcon(bool visible) override { window_.Form().SetTrayIcon(visible); }
    void SetServedFile(const std::string& fileName) override {
        window_.Form().SetServedFile(fileName);
    }
    void SetServerPort(int port) override { window_.Form().SetServerPort(port); }
    void RejectServerPort(const std::string& text) override {
        window_.Form().RejectServerPort(text);
    }
    std::string GetEncodedAddress(char) override { return {}; }
    void Abandon() noexcept override { window_.Abandon(); }

  private:
    TBrenloFileserverWindow window_;
};

}  // namespace

TPluginPlatform MakeWin32PluginPlatform() {
    TPluginPlatform p;
    p.InstallServices = InstallServices;
    p.RemoveServices = RemoveServices;
    p.InstallHostHook = InstallWin32HostHook;
    p.CreateConfigDialog = CreateMainForm;
    p.AskYesNo = AskYesNo;
    p.IsFirstStart = IsFirstStart;
    p.SaveSettings = SaveSettings;
    p.LoadSettings = LoadSettings;
    p.LoadLanguage = LoadLanguage;
    p.FirstStartMessage = [] { return LanguageTexts.other.firststartmessage; };
    p.PostAolMessage = [](const TAolMessage& message) { PostAolMessage(message); };
    p.CreateFileServerWindow = []() -> std::unique_ptr<IFileServerLink> {
        return std::make_unique<TFileServerWindowLink>();
    };
    return p;
}
