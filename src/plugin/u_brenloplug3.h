// The plug-in frame: the record handed to the host, the load sequence, the host's three calls and
// the main object whose handlers the watcher and the configuration dialog call.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "announce/announcer.h"
#include "announce/aol_message.h"
#include "announce/u_composer.h"
#include "common/song_info.h"
#include "config/config_dialog.h"
#include "plugin/STNDGenPlugStructures.h"
#include "plugin/u_genWAControl.h"

inline constexpr const char* kPluginDescription = "BrenloPlug, Bringt Musik ins AOL";

extern winampGeneralPurposePlugin PluginRecord;

int BP_HOSTCALL HostInit();
void BP_HOSTCALL HostConfig();
void BP_HOSTCALL HostQuit();

// What the frame needs of the platform and of the other units. An empty entry is a step that is
// not available in this build; it is skipped.
struct TPluginPlatform {
    // The platform's seams (registry, language file, chat windows, sockets, error display):
    // installed first at load, removed last at teardown.
    std::function<void()> InstallServices;
    std::function<void()> RemoveServices;
    std::function<std::unique_ptr<IConfigDialog>()> CreateConfigDialog;  // hidden
    std::function<void()> LoadLanguage;
    std::function<std::string()> FirstStartMessage;  // the language text "firststartmessage"
    std::function<bool(const std::string& question)> AskYesNo;  // modal information box
    std::function<bool()> IsFirstStart;
    std::function<void()> SaveSettings;
    std::function<void()> LoadSettings;
    // The file-server window with its listener: owned by the plug-in's owner from the end of
    // the load to the start of the teardown, and the file server of every announcement.
    std::function<std::unique_ptr<IFileServerLink>()> CreateFileServerWindow;
    THookInstaller InstallHostHook;
    // A file server for the announcements when no file-server window was created; without
    // either, the link has an empty token and nothing of a server changes (TNoFileServer).
    IFileServerLink* FileServer = nullptr;
    // Types the composed line into the chat rooms, on the player's thread; used when no
    // announcer was created.
    std::function<void(const TAolMessage&)> PostAolMessage;
    // The announcer that posts on a thread of its own (announce/announcer.h): created last at
    // load, stopped and destroyed first at teardown. With it the player's thread only composes.
    std::function<std::unique_ptr<TAnnouncer>()> CreateAnnouncer;
};

// A file server that is not listening: no tray icon, no served file, no port, an empty token.
class TNoFileServer final : public IFileServerLink {
  public:
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return {}; }
};

class TBrenloPlug3 {
  public:
    // Creates the watcher into `watcher` and binds its song-change, config and init events to
    // this object. The file-server window, once `fileServerWindow` holds one, serves the
    // announcements; until then the platform's FileServer does. Once `announcer` holds one, the
    // announcements are handed to it; until then they are posted here.
    TBrenloPlug3(const TPluginPlatform& platform, std::unique_ptr<TWinampControl>& watcher,
                 const std::unique_ptr<IFileServerLink>& fileServerWindow,
                 const std::unique_ptr<TAnnouncer>& announcer);

    void SongChanged(const TSongInfo& song);
    void ShowConfig();
    void PluginInit();
    bool ConfigCloseQuery();  // refuses the close and hides the dialog

    // The last song the watcher delivered, how many it has delivered, and the last line composed
    // (without its link when the announcer finds the token).
    TSongInfo LastSong;
    int SongsChanged = 0;
    TAolMessage LastMessage;

  private:
    const TPluginPlatform& platform_;
    std::unique_ptr<TWinampControl>& watcher_;
    const std::unique_ptr<IFileServerLink>& fileServerWindow_;
    const std::unique_ptr<TAnnouncer>& announcer_;
};

enum class TPluginState { NotLoaded, Loaded, Running, Stopped };

// The long-lived objects, as the handlers reach them. They belong to the plug-in's owner
// (TPluginOwner, plugin/plugin_owner.h); these are plain pointers, null while nothing is loaded,
// so that no destructor of a global touches a window, hook or socket at process exit.
extern TBrenloPlug3* Plug;
extern TWinampControl* WinampControl;
extern IConfigDialog* MainForm;

TPluginState PluginState();

// The load sequence (the export's first call): creates the owner; later calls do nothing until
// the host's quit, after which a call loads afresh (the host loading the library again while
// its image stayed mapped). A step that fails is reported through the application's error handler
// and the steps after it still run.
void LoadPlugin(TPluginPlatform platform);

// Tears down whatever is still loaded, in reverse order of the load; a later LoadPlugin starts
// afresh. The host's quit call does this already; call it from the host's thread, never from
// DllMain.
void UnloadPlugin();

// The library is being unmapped although the host never called quit (DllMain, under the loader
// lock): only what cannot wait is done. The host window gets its procedure back and our windows
// stop calling our code; nothing is destroyed or freed, the objects are left behind.
void AbandonPlugin() noexcept;

// The first-start values of the settings, as the configuration dialog's controls hold them by
// default; StoreControls of a build without the dialog.
class TDefaultControls final : public IConfigDialog {
  public:
    void ApplyLanguage() override {}
    void StoreControls() override;
    void Show() override {}
    void Hide() override {}
};
