// TPluginOwner: the one owner of everything the plug-in creates. The export builds it (the load
// sequence, in the constructor) and the host's quit call destroys it (the teardown, in the
// destructor), both on the host's user-interface thread; DllMain only abandons it (AbandonPlugin)
// when the host unloads the library without calling quit.
//
// Load order (the constructor)                  Teardown (the destructor, reverse order)
//   0. platform services (InstallServices)         8. announcer (see below)
//                                                  7. file-server window
//   1. configuration dialog MainForm, hidden       2. watcher WinampControl (host window back)
//   2. main object Plug and the watcher            2. main object Plug
//   3. the dialog's close request                  1. configuration dialog
//   4./5. language texts onto the dialog           0. platform services (RemoveServices)
//   6. first start: question, defaults, save
//   7. file-server window (CreateFileServerWindow)
//   8. announcer (CreateAnnouncer)                 8. announcer: stopped, bounded wait
//
// Why the teardown runs at quit and not at unload: after quit the host calls nothing of ours
// again, its message loop still runs, and no loader lock is held, so windows, hooks, sockets and
// libraries can be let go the ordinary way. The host sees no difference: nothing is saved at
// either point.
//
// The announcer's thread is ours too: the teardown stops it and waits for it at most
// TAnnouncer::kStopBound, here at quit, never under the loader lock. A thread that outlives the
// bound holds a reference to this module (so the image stays mapped until it ends) and uses only
// what it owns, never the objects torn down here. An unload without quit never runs on the
// announcer's thread: while one runs, its module reference keeps the library loaded, and when it
// ends the reference stays with the services' custody until the teardown (common/module_win32.h).
//
// Windows that come later (the file-server window with its listener, its tray icon, its timers
// and transfers) are created in step 7 by the platform's CreateFileServerWindow, which returns
// the window as an owned object; the owner keeps it in fileServerWindow_ and destroys it first,
// before anything it may use. Its destructor must leave no timer, tray icon, socket window or
// transfer behind. A window that calls our code and must not survive an unload without quit
// also needs a step in Abandon.
#pragma once

#include <memory>

#include "plugin/u_brenloplug3.h"

class TPluginOwner {
  public:
    // Runs the load sequence. A step that fails is reported and the steps after it still run.
    explicit TPluginOwner(TPluginPlatform platform);
    // The teardown, in reverse order of the load.
    ~TPluginOwner();
    TPluginOwner(const TPluginOwner&) = delete;
    TPluginOwner& operator=(const TPluginOwner&) = delete;

    // Unmapping without a teardown: see AbandonPlugin.
    void Abandon() noexcept;

  private:
    TPluginPlatform platform_;
    bool servicesInstalled_ = false;
    std::unique_ptr<IConfigDialog> mainForm_;
    std::unique_ptr<TBrenloPlug3> plug_;
    std::unique_ptr<TWinampControl> watcher_;
    std::unique_ptr<IFileServerLink> fileServerWindow_;
    std::unique_ptr<TAnnouncer> announcer_;
};
