// The Windows implementations of the plug-in frame's platform, put together in one place: the
// window hook, the first-start question box, the error display, the registry, the language file
// reader and the chat client's windows.
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
#include "fileshare/http_client_win32.h"
#include "fileshare/public_address.h"
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

void InstallServices() {
    InstallWindowsErrorDisplay();
    SetSettingsRegistry(&WindowsRegistry());
    SetLanguageProfileReader(&WindowsProfileReader());
    SetChatWindows(&Win32ChatWindows());
    InstallWinsockNetApi();
}

void RemoveServices() {
    RemoveWinsockNetApi();
    SetChatWindows(nullptr);
    SetLanguageProfileReader(nullptr);
    SetSettingsRegistry(nullptr);
    // Last: a failure of the steps above is still shown. A box already open keeps the module
    // mapped until it is closed.
    SetErrorDisplay(nullptr);
}

}  // namespace

TAddressedFileServer& Win32FileServerLink() {
    static TAddressLookup lookup(WindowsHttpClient(), SteadyClock());
    static TAddressedFileServer link(lookup, PluginSettings);
    return link;
}

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
    // The file-server window attaches itself and its listener when it is created.
    p.FileServer = &Win32FileServerLink();
    p.PostAolMessage = [](const TAolMessage& message) { PostAolMessage(message); };
    return p;
}
