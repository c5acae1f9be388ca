// The Windows implementations of the plug-in frame's platform, put together in one place: the
// window hook, the first-start question box, the error display, the registry, the language file
// reader, the chat client's windows and the file-server window.
#include "plugin/plugin_platform_win32.h"

#include <windows.h>

#include "announce/announcer_win32.h"
#include "announce/chat_windows_win32.h"
#include "announce/u_aol.h"
#include "common/app_error.h"
#include "common/clock.h"
#include "common/module_win32.h"
#include "config/config_dialog.h"
#include "config/profile_reader.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "config/u_language.h"
#include "fileshare/BrenloFileServer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/http_client_win32.h"
#include "fileshare/public_address.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "fileshare/u_brenlofileserverframe.h"
#include "net/net_api_win32.h"
#include "plugin/addressed_file_server.h"
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

// Our helper threads' final module references, kept from the first step of the load to the last
// of the teardown, so that no unload runs on one of those threads (common/module_win32.h).
// Created and destroyed with the services, on the host's thread.
TWorkerReleaseCustody* g_custody = nullptr;

void InstallServices() {
    if (!g_custody)
        g_custody = new TWorkerReleaseCustody;
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
    delete g_custody;
    g_custody = nullptr;
}

// BrenloFileserverForm as the announcement's file server: the tray icon, the served file and the
// port go to the window.
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

    TBrenloFileserverForm& Form() { return window_.Form(); }

  private:
    TBrenloFileserverWindow window_;
};

// Whether the window's listener listens, and on which port, as the address lookup asks it.
class TFormListener final : public IListenerState {
  public:
    explicit TFormListener(TBrenloFileserverForm& form) : form_(form) {}
    bool Listening() const override { return form_.IsListening(); }
    int ListenerPort() const override { return form_.ServerPort(); }

  private:
    TBrenloFileserverForm& form_;
};

// The file server as the owner keeps it: the window, and the public address lookup (WinHTTP)
// behind the link's token, which asks the window's listener first.
class TSharedFileServer final : public IFileServerLink {
  public:
    TSharedFileServer() { link_.Attach(&window_, &listener_); }

    void SetTrayIcon(bool visible) override { link_.SetTrayIcon(visible); }
    void SetServedFile(const std::string& fileName) override { link_.SetServedFile(fileName); }
    void SetServerPort(int port) override { link_.SetServerPort(port); }
    void RejectServerPort(const std::string& text) override { link_.RejectServerPort(text); }
    std::string GetEncodedAddress(char kind) override { return link_.GetEncodedAddress(kind); }
    std::function<std::string()> EncodedAddressCall(char kind) override {
        return link_.EncodedAddressCall(kind);
    }
    void Abandon() noexcept override { window_.Abandon(); }

  private:
    TFileServerWindowLink window_;
    TFormListener listener_{window_.Form()};
    TAddressLookup lookup_{WindowsHttpClient(), SteadyClock()};
    TAddressedFileServer link_{lookup_, PluginSettings};
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
    // The window operations are a static object: they outlive a thread left running at quit.
    p.CreateAnnouncer = [] {
        return std::make_unique<TAnnouncer>(Win32ChatWindows(), StartAnnouncerThread);
    };
    p.CreateFileServerWindow = []() -> std::unique_ptr<IFileServerLink> {
        return std::make_unique<TSharedFileServer>();
    };
    return p;
}
