// The plug-in frame: the record handed to the host, the load sequence, the host's three calls and
// the main object whose handlers the watcher and the configuration dialog call.
#include "plugin/u_brenloplug3.h"

#include <optional>
#include <utility>

#include "common/app_error.h"
#include "config/u_config.h"
#include "config/u_configdialog_pages.h"

winampGeneralPurposePlugin PluginRecord = {
    kGenPluginVersion, kPluginDescription, HostInit, HostConfig, HostQuit, nullptr, nullptr,
};

std::unique_ptr<TBrenloPlug3> Plug;
std::unique_ptr<TWinampControl> WinampControl;
std::unique_ptr<IConfigDialog> MainForm;

namespace {

TPluginState g_state = TPluginState::NotLoaded;
TPluginPlatform g_platform;

template <class Step>
void RunStep(const std::function<Step>& step) {
    if (step)
        step();
}

}  // namespace

TPluginState PluginState() {
    return g_state;
}

TBrenloPlug3::TBrenloPlug3(const TPluginPlatform& platform) : platform_(platform) {
    WinampControl = std::make_unique<TWinampControl>(platform.InstallHostHook);
    WinampControl->OnSongChange = [this](const TSongInfo& song) { SongChanged(song); };
    WinampControl->OnConfig = [this] { ShowConfig(); };
    WinampControl->OnInit = [this] { PluginInit(); };
}

void TBrenloPlug3::SongChanged(const TSongInfo& song) {
    LastSong = song;
    ++SongsChanged;
    // A failure (a port that is no number, a failing file-server call) ends this song's
    // announcement; the watcher reports it without holding up the host.
    static TNoFileServer noFileServer;
    IFileServerLink& fileServer = platform_.FileServer ? *platform_.FileServer : noFileServer;
    std::optional<TAolMessage> message = ComposeAolMessage(LastSong, PluginSettings, fileServer);
    if (!message)
        return;
    LastMessage = *message;
    if (platform_.PostAolMessage)
        platform_.PostAolMessage(LastMessage);
}

void TBrenloPlug3::ShowConfig() {
    if (MainForm)
        MainForm->Show();
}

void TBrenloPlug3::PluginInit() {
    if (WinampControl)
        WinampControl->Hook(PluginRecord.hwndParent);
    RunStep(platform_.LoadSettings);
}

bool TBrenloPlug3::ConfigCloseQuery() {
    if (MainForm)
        MainForm->Hide();
    return false;
}

void LoadPlugin(TPluginPlatform platform) {
    if (g_state != TPluginState::NotLoaded)
        return;
    g_platform = std::move(platform);
    g_state = TPluginState::Loaded;

    // 1. The configuration dialog, hidden.
    GuardCallback([] {
        if (g_platform.CreateConfigDialog)
            MainForm = g_platform.CreateConfigDialog();
    });
    if (!MainForm)
        MainForm = std::make_unique<TDefaultControls>();
    // 2. The main object and with it the watcher; 3. the dialog's close request.
    Plug = std::make_unique<TBrenloPlug3>(g_platform);
    MainForm->OnCloseQuery = [] { return Plug ? Plug->ConfigCloseQuery() : false; };
    // 4. and 5. The language texts onto the dialog.
    GuardCallback([] {
        RunStep(g_platform.LoadLanguage);
        MainForm->ApplyLanguage();
    });
    // 6. First start: ask, store the dialog's defaults, save (which creates the product key).
    GuardCallback([] {
        if (!g_platform.IsFirstStart || !g_platform.IsFirstStart())
            return;
        const std::string question =
            g_platform.FirstStartMessage ? g_platform.FirstStartMessage() : std::string();
        const bool yes = g_platform.AskYesNo && g_platform.AskYesNo(question);
        MainForm->StoreControls();
        RunStep(g_platform.SaveSettings);
        if (yes)
            MainForm->Show();
    });
    // 7. The file-server window.
    GuardCallback([] { RunStep(g_platform.CreateFileServerWindow); });
}

void UnloadPlugin() {
    // The file-server window first (created last): its transfers and listener end with it.
    GuardCallback([] { RunStep(g_platform.DestroyFileServerWindow); });
    // Then the watcher: its release puts the host window's procedure back.
    WinampControl.reset();
    Plug.reset();
    MainForm.reset();
    g_platform = TPluginPlatform{};
    g_state = TPluginState::NotLoaded;
}

int BP_HOSTCALL HostInit() {
    GuardCallback([] {
        // After quit the watcher is gone: a late init call does nothing.
        if (WinampControl && WinampControl->OnInit) {
            WinampControl->OnInit();
            g_state = TPluginState::Running;
        }
    });
    return 0;
}

void BP_HOSTCALL HostConfig() {
    GuardCallback([] {
        if (WinampControl && WinampControl->OnConfig)
            WinampControl->OnConfig();
    });
}

void BP_HOSTCALL HostQuit() {
    GuardCallback([] {
        if (!WinampControl)
            return;
        if (WinampControl->OnQuit)
            WinampControl->OnQuit();
        WinampControl.reset();
        g_state = TPluginState::Stopped;
    });
}

void TDefaultControls::StoreControls() {
    // The dialog's own defaults; the colours are not the dialog's and keep what they hold.
    StoreGeneralPage(TGeneralPage{}, PluginSettings.general);
    StoreAolPage(TAolPage{}, PluginSettings.aol);
    StoreFaderPage(TFaderPage{}, PluginSettings.fader);
}
