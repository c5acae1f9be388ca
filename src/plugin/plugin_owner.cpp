// TPluginOwner: the load sequence and the teardown of everything the plug-in creates.
#include "plugin/plugin_owner.h"

#include <string>
#include <utility>

#include "common/app_error.h"

namespace {

template <class Step>
void RunStep(const std::function<Step>& step) {
    if (step)
        step();
}

}  // namespace

TPluginOwner::TPluginOwner(TPluginPlatform platform) : platform_(std::move(platform)) {
    // 0. The platform's seams, before anything that uses them.
    GuardCallback([this] {
        RunStep(platform_.InstallServices);
        servicesInstalled_ = true;
    });
    // 1. The configuration dialog, hidden.
    GuardCallback([this] {
        if (platform_.CreateConfigDialog)
            mainForm_ = platform_.CreateConfigDialog();
    });
    if (!mainForm_)
        mainForm_ = std::make_unique<TDefaultControls>();
    MainForm = mainForm_.get();
    // 2. The main object and with it the watcher; 3. the dialog's close request. The file
    // server is looked up at each song, so the window created in step 7 is used.
    plug_ = std::make_unique<TBrenloPlug3>(platform_, watcher_, fileServerWindow_, announcer_);
    Plug = plug_.get();
    WinampControl = watcher_.get();
    mainForm_->OnCloseQuery = [] { return ::Plug ? ::Plug->ConfigCloseQuery() : false; };
    // 4. and 5. The language texts onto the dialog.
    GuardCallback([this] {
        RunStep(platform_.LoadLanguage);
        mainForm_->ApplyLanguage();
    });
    // 6. First start: ask, store the dialog's defaults, save (which creates the product key).
    GuardCallback([this] {
        if (!platform_.IsFirstStart || !platform_.IsFirstStart())
            return;
        const std::string question =
            platform_.FirstStartMessage ? platform_.FirstStartMessage() : std::string();
        const bool yes = platform_.AskYesNo && platform_.AskYesNo(question);
        // The question box runs a message loop: look the dialog up again after it.
        if (!MainForm)
            return;
        MainForm->StoreControls();
        RunStep(platform_.SaveSettings);
        if (yes && MainForm)
            MainForm->Show();
    });
    // 7. The file-server window; from now on the file server of every announcement.
    GuardCallback([this] {
        if (platform_.CreateFileServerWindow)
            fileServerWindow_ = platform_.CreateFileServerWindow();
    });
    // 8. The announcer; from now on the announcements are posted on its thread.
    GuardCallback([this] {
        if (platform_.CreateAnnouncer)
            announcer_ = platform_.CreateAnnouncer();
    });
}

TPluginOwner::~TPluginOwner() {
    // 8. The announcer first: it is told to stop at once and waited for with a bound.
    announcer_.reset();
    // 7. The file-server window first: it may still use everything below.
    fileServerWindow_.reset();
    // 2. The watcher (its release gives the host window its procedure back), then Plug.
    WinampControl = nullptr;
    watcher_.reset();
    Plug = nullptr;
    plug_.reset();
    // 1. The dialog.
    MainForm = nullptr;
    mainForm_.reset();
    // 0. The platform's seams, last.
    if (servicesInstalled_)
        GuardCallback([this] { RunStep(platform_.RemoveServices); });
}

void TPluginOwner::Abandon() noexcept {
    // Only what would call unmapped code: the host window's procedure and our windows' hooks.
    GuardCallback([this] {
        WinampControl = nullptr;
        watcher_.reset();
    });
    if (fileServerWindow_)
        fileServerWindow_->Abandon();
    if (mainForm_)
        mainForm_->Abandon();
    // Everything else stays where it is: freeing it means destroying windows, which must not
    // happen under the loader lock. The process keeps the memory (see AbandonPlugin).
}
