// The plug-in frame: the record handed to the host, the load sequence, the host's three calls and
// the main object whose handlers the watcher and the configuration dialog call.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "announce/aol_message.h"
#include "announce/u_composer.h"
#include "config/config_dialog.h"
#include "plugin/STNDGenPlugStructures.h"
#include "plugin/song_info.h"
#include "plugin/u_genWAControl.h"

inline constexpr const char* kPluginDescription = "BrenloPlug, Bringt Musik ins AOL";

extern winampGeneralPurposePlugin PluginRecord;

int BP_HOSTCALL HostInit();
void BP_HOSTCALL HostConfig();
void BP_HOSTCALL HostQuit();

// What the frame needs of the platform and of the other units. An empty entry is a step that is
// not available in this build; it is skipped.
struct TPluginPlatform {
    std::function<std::unique_ptr<IConfigDialog>()> CreateConfigDialog;  // hidden
    std::function<void()> LoadLanguage;
    std::function<std::string()> FirstStartMessage;  // the language text "firststartmessage"
    std::function<bool(const std::string& question)> AskYesNo;  // modal information box
    std::function<bool()> IsFirstStart;
    std::function<void()> SaveSettings;
    std::function<void()> LoadSettings;
    std::function<void()> CreateFileServerWindow;
    // Destroys the file-server window (first of all at unload: it was created last).
    std::function<void()> DestroyFileServerWindow;
    THookInstaller InstallHostHook;
    // The file server's side of an announcement; without one, the link has an empty token and
    // nothing of a server changes (TNoFileServer).
    IFileServerLink* FileServer = nullptr;
    // Types the composed line into the chat rooms.
    std::function<void(const TAolMessage&)> PostAolMessage;
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
    // Creates WinampControl and binds its song-change, config and init events to this object.
    explicit TBrenloPlug3(const TPluginPlatform& platform);

    void SongChanged(const TSongInfo& song);
    void ShowConfig();
    void PluginInit();
    bool ConfigCloseQuery();  // refuses the close and hides the dialog

    // The last song the watcher delivered, how many it has delivered, and the last line composed.
    TSongInfo LastSong;
    int SongsChanged = 0;
    TAolMessage LastMessage;

  private:
    const TPluginPlatform& platform_;
};

enum class TPluginState { NotLoaded, Loaded, Running, Stopped };

// The long-lived objects. WinampControl goes with the host's quit call; the others live until
// UnloadPlugin.
extern std::unique_ptr<TBrenloPlug3> Plug;
extern std::unique_ptr<TWinampControl> WinampControl;
extern std::unique_ptr<IConfigDialog> MainForm;

TPluginState PluginState();

// The load sequence; runs once, later calls do nothing. A step that fails is reported through
// the application's error handler and the steps after it still run.
void LoadPlugin(TPluginPlatform platform);

// Destroys what the load created (the library is being unloaded); a later LoadPlugin starts
// afresh.
void UnloadPlugin();

// The first-start values of the settings, as the configuration dialog's controls hold them by
// default; StoreControls of a build without the dialog.
class TDefaultControls final : public IConfigDialog {
  public:
    void ApplyLanguage() override {}
    void StoreControls() override;
    void Show() override {}
    void Hide() override {}
};
