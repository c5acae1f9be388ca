// The plug-in frame: the load sequence in its order, the host's three calls and the states
// Loaded, Running and Stopped, over fakes of the dialog, the settings store and the host window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
#include "config/u_config.h"
#include "fake_chat_windows.h"
#include "plugin/STNDwinamp20.h"
#include "plugin/u_brenloplug3.h"

namespace {

using Log = std::vector<std::string>;

class FakeDialog final : public IConfigDialog {
  public:
    explicit FakeDialog(Log& log) : log_(log) {}
    ~FakeDialog() override { log_.push_back("dialog destroyed"); }
    void ApplyLanguage() override { log_.push_back("ApplyLanguage"); }
    void StoreControls() override { log_.push_back("StoreControls"); }
    void Show() override { log_.push_back("Show"); }
    void Hide() override { log_.push_back("Hide"); }
    void Abandon() noexcept override { log_.push_back("Abandon"); }

  private:
    Log& log_;
};

class FakeHook final : public IHostHook {
  public:
    FakeHook(Log& log, void* window) : log_(log) {
        log_.push_back("Hook " + std::to_string(reinterpret_cast<std::uintptr_t>(window)));
    }
    ~FakeHook() override { log_.push_back("hook released"); }
    std::intptr_t SendQuery(std::uintptr_t data, std::intptr_t query) override {
        if (query == winamp::IPC_GETOUTPUTTIME)
            return data == 0 ? position : 100;
        return 0;
    }
    std::intptr_t CallPrevious(unsigned, std::uintptr_t, std::intptr_t) override { return 0; }
    std::intptr_t position = -1;

  private:
    Log& log_;
};

class FakeFileServerWindow final : public IFileServerLink {
  public:
    explicit FakeFileServerWindow(Log& log) : log_(log) {}
    ~FakeFileServerWindow() override { log_.push_back("file-server window destroyed"); }
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return "TOKEN"; }

  private:
    Log& log_;
};

struct Frame : testing::Test {
    Log log;
    bool firstStart = true;
    bool answerYes = false;
    bool saveFails = false;
    bool withDialog = true;
    bool withFileServerWindow = false;
    std::vector<std::string> errors;
    FakeHook* hook = nullptr;
    std::vector<TAolMessage> posted;

    TPluginPlatform Platform() {
        TPluginPlatform p;
        p.CreateConfigDialog = [this]() -> std::unique_ptr<IConfigDialog> {
            log.push_back("CreateConfigDialog");
            if (!withDialog)
                return nullptr;
            return std::make_unique<FakeDialog>(log);
        };
        p.InstallServices = [this] { log.push_back("InstallServices"); };
        p.RemoveServices = [this] { log.push_back("RemoveServices"); };
        p.LoadLanguage = [this] { log.push_back("LoadLanguage"); };
        p.FirstStartMessage = [] { return std::string("Jetzt konfigurieren?"); };
        p.AskYesNo = [this](const std::string& q) {
            log.push_back("Ask " + q);
            return answerYes;
        };
        p.IsFirstStart = [this] {
            log.push_back("IsFirstStart");
            return firstStart;
        };
        p.SaveSettings = [this] {
            log.push_back("SaveSettings");
            if (saveFails)
                throw EBrenloError("Fehler beim Setzen der Daten f\xFCr 'enablechat'");
        };
        p.LoadSettings = [this] { log.push_back("LoadSettings"); };
        p.CreateFileServerWindow = [this]() -> std::unique_ptr<IFileServerLink> {
            log.push_back("CreateFileServerWindow");
            if (!withFileServerWindow)
                return nullptr;
            return std::make_unique<FakeFileServerWindow>(log);
        };
        p.PostAolMessage = [this](const TAolMessage& m) { posted.push_back(m); };
        p.InstallHostHook = [this](void* window, TWinampControl&) {
            auto h = std::make_unique<FakeHook>(log, window);
            hook = h.get();
            return std::unique_ptr<IHostHook>(std::move(h));
        };
        return p;
    }

    void SetUp() override {
        SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
        PluginSettings = TPluginSettings{};
    }
    void TearDown() override {
        UnloadPlugin();
        PluginRecord.hwndParent = nullptr;
        SetErrorDisplay(nullptr);
        PluginSettings = TPluginSettings{};
    }
};

TEST_F(Frame, LoadRunsItsStepsInOrderForEveryFirstStartAnswer) {
    struct Case {
        const char* name;
        bool firstStart;
        bool yes;
        Log expected;
    };
    const Case cases[] = {
        {"first start answered No",
         true,
         false,
         {"InstallServices", "CreateConfigDialog", "LoadLanguage", "ApplyLanguage", "IsFirstStart",
          "Ask Jetzt konfigurieren?", "StoreControls", "SaveSettings", "CreateFileServerWindow"}},
        {"first start answered Yes shows the dialog before the file-server window",
         true,
         true,
         {"InstallServices", "CreateConfigDialog", "LoadLanguage", "ApplyLanguage", "IsFirstStart",
          "Ask Jetzt konfigurieren?", "StoreControls", "SaveSettings", "Show",
          "CreateFileServerWindow"}},
        {"a later start asks nothing and saves nothing",
         false,
         true,
         {"InstallServices", "CreateConfigDialog", "LoadLanguage", "ApplyLanguage", "IsFirstStart",
          "CreateFileServerWindow"}},
    };
    for (const auto& c : cases) {
        log.clear();
        firstStart = c.firstStart;
        answerYes = c.yes;
        LoadPlugin(Platform());
        EXPECT_EQ(log, c.expected) << c.name;
        EXPECT_EQ(PluginState(), TPluginState::Loaded) << c.name;
        EXPECT_NE(WinampControl, nullptr) << c.name;
        EXPECT_EQ(PluginRecord.hwndParent, nullptr) << c.name;
        UnloadPlugin();
    }
}

TEST_F(Frame, LoadRunsOnceHoweverOftenItIsAsked) {
    LoadPlugin(Platform());
    log.clear();
    LoadPlugin(Platform());
    EXPECT_TRUE(log.empty());
}

TEST_F(Frame, AFailingFirstStartSaveIsReportedAndTheLoadGoesOn) {
    saveFails = true;
    LoadPlugin(Platform());
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Fehler beim Setzen der Daten f\xFCr 'enablechat'"}));
    EXPECT_EQ(log.back(), "CreateFileServerWindow");
    EXPECT_NE(Plug, nullptr);
}

TEST_F(Frame, WithoutADialogTheFirstStartStoresTheDialogDefaults) {
    withDialog = false;
    PluginSettings.fader.color(3) = 0x00FF00;
    LoadPlugin(Platform());
    const auto& s = PluginSettings;
    EXPECT_TRUE(s.general.enablechat);
    EXPECT_FALSE(s.general.enablefade);
    EXPECT_EQ(s.general.presongtitle, ".:BP::[ ");
    EXPECT_EQ(s.general.postsongtitle, " ]:: v3 :.");
    EXPECT_TRUE(s.general.preposttitlefade);
    EXPECT_FALSE(s.general.enablefontformat || s.general.extsonginfo || s.general.bold ||
                 s.general.italic || s.general.underline || s.general.strikeout);
    EXPECT_EQ(s.general.fontface, "Comic Sans MS");
    EXPECT_TRUE(s.aol.enableaol);
    EXPECT_TRUE(s.aol.aoladvertising);
    EXPECT_FALSE(s.aol.aolwavyscroll || s.aol.aolfs);
    EXPECT_EQ(s.aol.fsport, "1000");
    EXPECT_EQ(s.fader.fadecolors, 1);
    EXPECT_EQ(s.fader.color(3), 0x00FF00) << "the colours are not the dialog's";
    EXPECT_EQ(log.back(), "CreateFileServerWindow");
    EXPECT_NE(std::find(log.begin(), log.end(), "SaveSettings"), log.end());
}

TEST_F(Frame, InitHooksTheHostWindowThenLoadsTheSettingsAndSongsReachSongChanged) {
    firstStart = false;
    LoadPlugin(Platform());
    PluginRecord.hwndParent = reinterpret_cast<void*>(0x77);
    log.clear();
    EXPECT_EQ(PluginRecord.init(), 0);
    EXPECT_EQ(log, (Log{"Hook 119", "LoadSettings"}));
    EXPECT_EQ(PluginState(), TPluginState::Running);

    ASSERT_NE(hook, nullptr);
    WinampControl->HookedWndProc(0x0113, 42, 0);
    hook->position = 0;
    WinampControl->HookedWndProc(0x0113, 43, 0);
    EXPECT_EQ(Plug->SongsChanged, 1);
    EXPECT_EQ(Plug->LastSong.Length, 100);
}

TEST_F(Frame, ConfigShowsTheOneDialogAndClosingOnlyHidesIt) {
    firstStart = false;
    LoadPlugin(Platform());
    PluginRecord.init();
    log.clear();
    PluginRecord.config();
    PluginRecord.config();
    ASSERT_TRUE(MainForm->OnCloseQuery);
    EXPECT_FALSE(MainForm->OnCloseQuery()) << "the close is refused";
    EXPECT_EQ(log, (Log{"Show", "Show", "Hide"}));
}

TEST_F(Frame, QuitTearsEverythingDownInReverseOrderAndLateCallsAreHarmless) {
    firstStart = false;
    withFileServerWindow = true;
    LoadPlugin(Platform());
    PluginRecord.init();
    log.clear();
    PluginRecord.quit();
    EXPECT_EQ(log, (Log{"file-server window destroyed", "hook released", "dialog destroyed",
                        "RemoveServices"}));
    EXPECT_EQ(WinampControl, nullptr);
    EXPECT_EQ(Plug, nullptr);
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(PluginState(), TPluginState::Stopped);
    log.clear();
    EXPECT_EQ(PluginRecord.init(), 0);
    PluginRecord.config();
    PluginRecord.quit();
    UnloadPlugin();
    EXPECT_TRUE(log.empty()) << "nothing is hooked, shown, saved or destroyed after quit";
    EXPECT_EQ(PluginState(), TPluginState::NotLoaded);
}

TEST_F(Frame, ALoadAfterQuitWhileTheImageStayedMappedStartsAfresh) {
    // The host quits and frees the library, but a reference of ours kept the image mapped; the
    // host's next load of it finds the state of the old one.
    firstStart = false;
    withFileServerWindow = true;
    LoadPlugin(Platform());
    PluginRecord.init();
    PluginRecord.quit();
    ASSERT_EQ(PluginState(), TPluginState::Stopped);
    log.clear();
    LoadPlugin(Platform());
    EXPECT_EQ(log, (Log{"InstallServices", "CreateConfigDialog", "LoadLanguage", "ApplyLanguage",
                        "IsFirstStart", "CreateFileServerWindow"}));
    EXPECT_EQ(PluginState(), TPluginState::Loaded);
    PluginRecord.hwndParent = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(PluginRecord.init(), 0);
    EXPECT_EQ(PluginState(), TPluginState::Running);
    EXPECT_NE(Plug, nullptr);
    EXPECT_EQ(log.back(), "LoadSettings");
}

TEST_F(Frame, TheFileServerWindowServesTheAnnouncements) {
    firstStart = false;
    withFileServerWindow = true;
    LoadPlugin(Platform());
    TDefaultControls().StoreControls();
    PluginSettings.aol.aolfs = true;
    Plug->SongChanged(TSongInfo{"C:\\m\\a.mp3", "Artist - Song", 128, 185});
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_NE(posted[0].Text.find("TOKEN"), std::string::npos) << posted[0].Text;
}

TEST_F(Frame, UnloadWithoutQuitGivesTheHostWindowBackAndDestroysNothing) {
    firstStart = false;
    LoadPlugin(Platform());
    PluginRecord.hwndParent = reinterpret_cast<void*>(0x77);
    PluginRecord.init();
    log.clear();
    AbandonPlugin();
    EXPECT_EQ(log, (Log{"hook released", "Abandon"}));
    HandleApplicationException(std::make_exception_ptr(EBrenloError("zu spaet")));
    EXPECT_TRUE(errors.empty()) << "nothing may be shown while the library is unmapped";
    EXPECT_EQ(WinampControl, nullptr);
    EXPECT_EQ(PluginState(), TPluginState::NotLoaded);
}

TEST_F(Frame, SongChangedComposesThePostsTheLineOrReportsWhyNot) {
    firstStart = false;
    LoadPlugin(Platform());
    TDefaultControls().StoreControls();
    TSongInfo song{"C:\\m\\a.mp3", "Artist - Song", 128, 185};

    Plug->SongChanged(song);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].Text, ".:BP::[ Artist - Song ]:: v3 :.");
    EXPECT_TRUE(posted[0].Advertising);

    // Sharing on without a file server: the link goes out with an empty token.
    PluginSettings.aol.aolfs = true;
    Plug->SongChanged(song);
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_NE(posted[1].Text.find("www.brenloplug:\""), std::string::npos) << posted[1].Text;

    // A port that is no number: the file server is told and the song is still announced.
    PluginSettings.aol.fsport = "tausend";
    Plug->SongChanged(song);
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_NE(posted[2].Text.find("www.brenloplug:\""), std::string::npos) << posted[2].Text;
    PluginSettings.general.enablechat = false;
    Plug->SongChanged(song);
    EXPECT_EQ(posted.size(), 3u);
    EXPECT_EQ(Plug->SongsChanged, 4);
    EXPECT_EQ(Plug->LastSong.Title, "Artist - Song");
}

TEST_F(Frame, WithAnAnnouncerSongChangedOnlyComposesAndTheSettingsOfThatSongHold) {
    FakeChatWindows chat;
    const ChatWindow area = chat.Add(chat.Add(0, "AOL Frame25"), "MDIClient");
    const ChatWindow room = chat.Add(area, "AOL Child");
    for (const char* cls : {"RICHCNTLREADONLY", "RICHCNTL", "_AOL_COMBOBOX"})
        chat.Add(room, cls);
    chat.Add(room, "_AOL_STATIC", "AOL_CHAT_FORM");
    for (int children = 4; children < 24; ++children)
        chat.Add(room, "_AOL_ICON");
    std::vector<std::function<void()>> started;
    TPluginPlatform platform = Platform();
    platform.CreateAnnouncer = [&] {
        log.push_back("CreateAnnouncer");
        return std::make_unique<TAnnouncer>(
            chat,
            [&](std::function<void()> body) {
                started.push_back(std::move(body));
                return true;
            },
            1000000);
    };
    firstStart = false;
    LoadPlugin(std::move(platform));
    EXPECT_EQ(log.back(), "CreateAnnouncer") << "created last";
    TDefaultControls().StoreControls();
    PluginSettings.general.presongtitle = "alt: ";
    PluginSettings.general.postsongtitle = "";
    PluginSettings.aol.aoladvertising = false;

    Plug->SongChanged(TSongInfo{"C:\\m\\a.mp3", "Song", 128, 185});
    EXPECT_TRUE(posted.empty()) << "nothing is posted on the player's thread";
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(chat.log, (std::vector<std::string>{"find AOL Frame25"}))
        << "on the player's thread only the look for the client's window, no message to it";

    // Changed in the dialog while the announcement runs: for the next song.
    PluginSettings.general.presongtitle = "neu: ";
    started[0]();
    EXPECT_EQ(chat.At(room).transcript, (std::vector<std::string>{"alt: Song"}));
    PluginRecord.quit();
    EXPECT_EQ(started.size(), 1u);
}

TEST_F(Frame, HostCallsBeforeTheLoadDoNothing) {
    EXPECT_EQ(PluginRecord.init(), 0);
    PluginRecord.config();
    PluginRecord.quit();
    EXPECT_EQ(PluginState(), TPluginState::NotLoaded);
}

}  // namespace
