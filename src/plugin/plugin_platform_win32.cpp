// The Windows implementations of the plug-in frame's platform, put together in one place: the
// window hook, the first-start question box, the error display and the steps of the other units.
#include "plugin/plugin_platform_win32.h"

#include <windows.h>

#include "common/app_error.h"
#include "config/profile_reader.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "config/u_language.h"
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

}  // namespace

TPluginPlatform MakeWin32PluginPlatform() {
    InstallWindowsErrorDisplay();
    SetSettingsRegistry(&WindowsRegistry());
    SetLanguageProfileReader(&WindowsProfileReader());
    TPluginPlatform p;
    p.InstallHostHook = InstallWin32HostHook;
    p.AskYesNo = AskYesNo;
    p.IsFirstStart = IsFirstStart;
    p.SaveSettings = SaveSettings;
    p.LoadSettings = LoadSettings;
    p.LoadLanguage = LoadLanguage;
    p.FirstStartMessage = [] { return LanguageTexts.other.firststartmessage; };
    return p;
}
