// The player watcher's detection rule, fed with host timer messages over a fake host window.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
#include "plugin/STNDwinamp20.h"
#include "plugin/u_genWAControl.h"

namespace {

constexpr unsigned kTimer = 0x0113;
constexpr unsigned kOtherTimer = 43;

struct FakeEntry {
    std::string file;
    std::string title;
};

// The host as the watcher sees it: answers the queries from its current state and records every
// query and every message handed on to its own procedure.
struct FakeHost {
    std::intptr_t position = -1;
    std::intptr_t length = 0;
    std::intptr_t listPos = 0;
    std::intptr_t bitrate = 128;
    std::vector<FakeEntry> playlist;
    bool nullTexts = false;
    std::vector<std::string> queries;
    std::vector<unsigned> forwarded;
    int released = 0;
    std::function<void()> onQuery;

    std::intptr_t Answer(std::uintptr_t data, std::intptr_t query) {
        queries.push_back(std::to_string(query) + "/" + std::to_string(data));
        if (onQuery)
            onQuery();
        switch (query) {
            case winamp::IPC_GETOUTPUTTIME:
                return data == 0 ? position : length;
            case winamp::IPC_GETLISTPOS:
                return listPos;
            case winamp::IPC_GETINFO:
                return data == 1 ? bitrate : 0;
            case winamp::IPC_GETPLAYLISTFILE:
            case winamp::IPC_GETPLAYLISTTITLE: {
                if (nullTexts || data >= playlist.size())
                    return 0;
                const auto& e = playlist[data];
                const std::string& text = query == winamp::IPC_GETPLAYLISTFILE ? e.file : e.title;
                return reinterpret_cast<std::intptr_t>(text.c_str());
            }
        }
        return 0;
    }
};

class FakeHook final : public IHostHook {
  public:
    explicit FakeHook(FakeHost& host) : host_(host) {}
    ~FakeHook() override { ++host_.released; }
    std::intptr_t SendQuery(std::uintptr_t data, std::intptr_t query) override {
        return host_.Answer(data, query);
    }
    std::intptr_t CallPrevious(unsigned message, std::uintptr_t, std::intptr_t) override {
        host_.forwarded.push_back(message);
        return 0x5151;
    }

  private:
    FakeHost& host_;
};

struct Watcher : testing::Test {
    FakeHost host;
    TWinampControl watcher{
        [this](void*, TWinampControl&) { return std::unique_ptr<IHostHook>(new FakeHook(host)); }};
    std::vector<TSongInfo> songs;
    std::vector<std::string> errors;

    void SetUp() override {
        host.playlist = {{"C:\\m\\one.mp3", "Artist - One"}, {"C:\\m\\two.mp3", "Artist - Two"}};
        watcher.OnSongChange = [this](const TSongInfo& s) { songs.push_back(s); };
        watcher.Hook(reinterpret_cast<void*>(0x1234));
        SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
    }
    void TearDown() override { SetErrorDisplay(nullptr); }

    std::intptr_t Timer(std::uintptr_t id, std::intptr_t position, std::intptr_t length) {
        host.position = position;
        host.length = length;
        return watcher.HookedWndProc(kTimer, id, 0);
    }
};

struct TimerStep {
    std::uintptr_t id;
    std::intptr_t position;
    std::intptr_t length;
    int armedAfter;
    int songsAfter;
};

struct Scenario {
    const char* name;
    std::vector<TimerStep> steps;
};

TEST_F(Watcher, FollowsTheArmedStateMachineForEveryTimerSequence) {
    const Scenario scenarios[] = {
        {"a song playing at load is not announced",
         {{kOtherTimer, 500, 200, 0, 0}, {42, 600, 200, 0, 0}, {kOtherTimer, 700, 200, 0, 0}}},
        {"stop on 42 then play on another timer announces once",
         {{42, -1, -1, 1, 0}, {kOtherTimer, 0, 200, 0, 1}, {kOtherTimer, 150, 200, 0, 1}}},
        {"stop seen only on another timer arms nothing",
         {{kOtherTimer, -1, -1, 0, 0}, {kOtherTimer, 10, 200, 0, 0}}},
        {"while armed, timer 42 during playback does not announce",
         {{42, -1, -1, 1, 0}, {42, 100, 200, 1, 0}, {kOtherTimer, 200, 200, 0, 1}}},
        {"unknown length keeps it armed until a song of known length",
         {{42, -1, -1, 1, 0},
          {kOtherTimer, 100, 0, 1, 0},
          {kOtherTimer, 100, -1, 1, 0},
          {kOtherTimer, 200, 180, 0, 1}}},
        {"a position below -1 neither arms nor announces",
         {{42, -2, 100, 0, 0}, {42, -1, 100, 1, 0}, {kOtherTimer, -2, 100, 1, 0}}},
        {"pause with a valid position neither arms nor announces",
         {{42, 5000, 200, 0, 0}, {kOtherTimer, 5000, 200, 0, 0}, {42, 5000, 200, 0, 0}}},
        {"stop and play of the same song announces it again",
         {{42, -1, -1, 1, 0},
          {kOtherTimer, 0, 200, 0, 1},
          {42, -1, -1, 1, 1},
          {kOtherTimer, 0, 200, 0, 2}}},
        {"armed and still stopped stays armed on either timer",
         {{42, -1, -1, 1, 0}, {kOtherTimer, -1, -1, 1, 0}, {42, -1, -1, 1, 0}}},
    };
    for (const auto& scenario : scenarios) {
        songs.clear();
        watcher.Armed = 0;
        int step = 0;
        for (const auto& s : scenario.steps) {
            ++step;
            EXPECT_EQ(Timer(s.id, s.position, s.length), 0x5151) << scenario.name;
            EXPECT_EQ(watcher.Armed, s.armedAfter) << scenario.name << ", step " << step;
            EXPECT_EQ(static_cast<int>(songs.size()), s.songsAfter)
                << scenario.name << ", step " << step;
        }
    }
}

TEST_F(Watcher, AsksBothTimesFirstAndReadsTheEntryCurrentAtTheAnnouncingTimer) {
    Timer(42, -1, -1);
    host.queries.clear();
    host.listPos = 1;  // the player moved on after arming
    host.bitrate = 320;
    Timer(kOtherTimer, 10, 185);
    EXPECT_EQ(host.queries, (std::vector<std::string>{"105/0", "105/1", "125/0", "211/1", "212/1",
                                                      "126/1", "105/1"}));
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].FileName, "C:\\m\\two.mp3");
    EXPECT_EQ(songs[0].Title, "Artist - Two");
    EXPECT_EQ(songs[0].Bitrate, 320);
    EXPECT_EQ(songs[0].Length, 185);
}

TEST_F(Watcher, OnlyTimer42AndArmedTimersAreLookedAtAndEveryMessageReachesTheHost) {
    EXPECT_EQ(watcher.HookedWndProc(0x000F, 0, 0), 0x5151);  // WM_PAINT
    Timer(kOtherTimer, 100, 200);
    EXPECT_TRUE(host.queries.empty()) << "idle: other timers are ignored without any query";
    EXPECT_EQ(host.forwarded, (std::vector<unsigned>{0x000F, kTimer}));

    watcher.OnSongChange = nullptr;
    Timer(42, -1, -1);
    EXPECT_TRUE(host.queries.empty()) << "no handler: nothing is asked";
    EXPECT_EQ(watcher.Armed, 0);
}

TEST_F(Watcher, ANullTextAddressReadsAsEmptyText) {
    host.nullTexts = true;
    Timer(42, -1, -1);
    Timer(kOtherTimer, 0, 60);
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].FileName, "");
    EXPECT_EQ(songs[0].Title, "");
    EXPECT_EQ(songs[0].Length, 60);
}

TEST_F(Watcher, AFailingSongHandlerIsReportedOnceAndTheMessageStillReachesTheHost) {
    watcher.OnSongChange = [](const TSongInfo&) { throw EBrenloError("Port ist keine Zahl"); };
    Timer(42, -1, -1);
    EXPECT_EQ(Timer(kOtherTimer, 0, 60), 0x5151);
    EXPECT_EQ(Timer(kOtherTimer, 150, 60), 0x5151);
    EXPECT_EQ(errors, (std::vector<std::string>{"Port ist keine Zahl"}));
    EXPECT_EQ(host.forwarded.size(), 3u);
    EXPECT_EQ(watcher.Armed, 0);
}

TEST_F(Watcher, ATimerThatArrivesDuringTheAnnouncementDoesNotAnnounceTwice) {
    watcher.OnSongChange = [this](const TSongInfo& s) {
        songs.push_back(s);
        // A message loop inside the announcement delivers the host's next timer.
        watcher.HookedWndProc(kTimer, kOtherTimer, 0);
    };
    Timer(42, -1, -1);
    Timer(kOtherTimer, 0, 60);
    EXPECT_EQ(songs.size(), 1u);
    EXPECT_EQ(host.forwarded.size(), 3u);
}

TEST_F(Watcher, HookingAgainReleasesTheFirstHoldAndDestructionReleasesTheLast) {
    EXPECT_EQ(host.released, 0);
    watcher.Hook(reinterpret_cast<void*>(0x5678));
    EXPECT_EQ(host.released, 1);
    EXPECT_EQ(watcher.HostWindow, reinterpret_cast<void*>(0x5678));
    FakeHost other;
    auto scoped = std::make_unique<TWinampControl>(
        [&](void*, TWinampControl&) { return std::unique_ptr<IHostHook>(new FakeHook(other)); });
    scoped->Hook(nullptr);
    EXPECT_EQ(other.released, 0);
    scoped.reset();
    EXPECT_EQ(other.released, 1);
}

}  // namespace
