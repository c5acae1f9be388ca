// The plug-in frame: the record handed to the host, the load sequence, the host's three calls and
// the main object whose handlers the watcher and the configuration dialog call.
#include "plugin/u_brenloplug3.h"

#include <optional>
#include <utility>
#include <vector>

#include "common/app_error.h"
#include "config/u_config.h"
#include "config/u_configdialog_pages.h"
#include "plugin/plugin_owner.h"

winampGeneralPurposePlugin PluginRecord = {
    kGenPluginVersion, kPluginDescription, HostInit, HostConfig, HostQuit, nullptr, nullptr,
};

TBrenloPlug3* Plug = nullptr;
TWinampControl* WinampControl = nullptr;
IConfigDialog* MainForm = nullptr;

namespace {

TPluginState g_state = TPluginState::NotLoaded;
// A plain pointer: the teardown runs at quit or UnloadPlugin, never as a static destructor.
TPluginOwner* g_owner = nullptr;
// Owners left behind by an unload without quit, kept reachable rather than freed.
std::vector<TPluginOwner*>* g_abandoned = nullptr;

template <class Step>
void RunStep(const std::function<Step>& step) {
    if (step)
        step();
}

}  // namespace

TPluginState PluginState() {
    return g_state;
}

TBrenloPlug3::TBrenloPlug3(const TPluginPlatform& platform,
                           std::unique_ptr<TWinampControl>& watcher,
                           const std::unique_ptr<IFileServerLink>& fileServerWindow,
                           const std::unique_ptr<TAnnouncer>& announcer)
    : platform_(platform),
      watcher_(watcher),
      fileServerWindow_(fileServerWindow),
      announcer_(announcer) {
    watcher_ = std::make_unique<TWinampControl>(platform.InstallHostHook);
    watcher_->OnSongChange = [this](const TSongInfo& song) { SongChanged(song); };
    watcher_->OnConfig = [this] { ShowConfig(); };
    watcher_->OnInit = [this] { PluginInit(); };
}

void TBrenloPlug3::SongChanged(const TSongInfo& song) {
    LastSong = song;
    ++SongsChanged;
    // A failure (a port that is no number, a failing file-server call) ends this song's
    // announcement; the watcher reports it without holding up the host.
    static TNoFileServer noFileServer;
    IFileServerLink& fileServer = fileServerWindow_      ? *fileServerWindow_
                                  : platform_.FileServer ? *platform_.FileServer
                                                         : noFileServer;
    if (announcer_) {
        // Only the quick part here: the settings are read and the file server is set now, so a
        // change in the dialog takes effect from the next song; the lookup and the posting are
        // the announcer's.
        std::optional<TAnnouncement> announcement =
            ComposeAnnouncement(LastSong, PluginSettings, fileServer);
        if (!announcement)
            return;
        LastMessage = announcement->Message;
        announcer_->Submit(std::move(*announcement));
        return;
    }
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
    // A window that cannot be hooked is reported; the settings are loaded all the same.
    GuardCallback([this] {
        if (watcher_)
            watcher_->Hook(PluginRecord.hwndParent);
    });
    RunStep(platform_.LoadSettings);
}

bool TBrenloPlug3::ConfigCloseQuery() {
    if (MainForm)
        MainForm->Hide();
    return false;
}

// ---- load and teardown -------------------------------------------------------------------------

void LoadPlugin(TPluginPlatform platform) {
    // After a quit the plug-in is torn down; the image may still be mapped (a helper thread of
    // ours, or another LoadLibrary, kept it) when the host loads it again: that load starts
    // afresh.
    if (g_state == TPluginState::Loaded || g_state == TPluginState::Running)
        return;
    g_state = TPluginState::Loaded;
    g_owner = new TPluginOwner(std::move(platform));
}

void UnloadPlugin() {
    TPluginOwner* owner = g_owner;
    g_owner = nullptr;
    delete owner;
    g_state = TPluginState::NotLoaded;
}

void AbandonPlugin() noexcept {
    TPluginOwner* owner = g_owner;
    g_owner = nullptr;
    if (owner) {
        // Nothing is reported from here: an error box would start a thread in a module that is
        // being unmapped.
        SetErrorDisplay(nullptr);
        owner->Abandon();
        GuardCallback([owner] {
            // GuardCallback catches a failed allocation; the owner then stays unfreed all the
            // same, only unreachable.
            if (!g_abandoned)
                // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new): caught by GuardCallback
                g_abandoned = new std::vector<TPluginOwner*>;
            g_abandoned->push_back(owner);
        });
    }
    Plug = nullptr;
    WinampControl = nullptr;
    MainForm = nullptr;
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
        // The whole teardown, here on the host's thread (see plugin_owner.h for why at quit).
        TPluginOwner* owner = g_owner;
        g_owner = nullptr;
        delete owner;
        g_state = TPluginState::Stopped;
    });
}

void TDefaultControls::StoreControls() {
    // The dialog's own defaults; the colours are not the dialog's and keep what they hold.
    StoreGeneralPage(TGeneralPage{}, PluginSettings.general);
    StoreAolPage(TAolPage{}, PluginSettings.aol);
    StoreFaderPage(TFaderPage{}, PluginSettings.fader);
}
