// The announcer against the fake chat client: latest wins, the token found on the announcer's
// thread, the stop (nothing more sent, the input detached, the pauses woken) and a real thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "announce/announcer.h"
#include "fake_chat_windows.h"
#include "fileshare/EncodeIP.h"

namespace {

using namespace std::chrono_literals;

// Pauses shortened to nothing: the tests follow events, not time.
constexpr int kNoPauses = 1000000;

TAnnouncement Song(const std::string& title) {
    TAnnouncement a;
    a.Message.Text = title;
    return a;
}

class Announcer : public testing::Test {
  protected:
    FakeChatWindows fake;
    ChatWindow main = 0;
    ChatWindow room = 0;
    ChatWindow input = 0;
    // Threads the announcer asked for; run by the test (RunStarted) unless it uses real ones.
    std::vector<std::function<void()>> started;
    bool startWorks = true;

    void SetUp() override {
        main = fake.Add(0, "AOL Frame25");
        const ChatWindow area = fake.Add(main, "MDIClient");
        room = fake.Add(area, "AOL Child", "Lobby");
        fake.Add(room, "RICHCNTLREADONLY");
        input = fake.Add(room, "RICHCNTL", "typed");
        fake.Add(room, "_AOL_STATIC", "AOL_CHAT_FORM");
        fake.Add(room, "_AOL_COMBOBOX");
        for (int i = 4; i < 24; ++i)
            fake.Add(room, "_AOL_ICON");
    }

    TAnnouncerThreadStart RecordingStart() {
        return [this](std::function<void()> body) {
            started.push_back(std::move(body));
            return startWorks;
        };
    }
    void RunStarted() {
        for (std::size_t i = 0; i < started.size(); ++i)
            started[i]();
    }
    const std::vector<std::string>& Transcript() { return fake.At(room).transcript; }
};

TEST_F(Announcer, SongChangesWhileAPostingRunsLeaveOnlyTheNewestToFollowIt) {
    struct Case {
        std::vector<std::string> submitted;
        std::vector<std::string> posted;
    };
    const Case cases[] = {
        {{"1"}, {"1"}},
        {{"1", "2"}, {"1", "2"}},
        {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, {"1", "10"}},
    };
    for (const Case& c : cases) {
        fake.At(room).transcript.clear();
        started.clear();
        {
            TAnnouncer announcer(fake, RecordingStart(), kNoPauses);
            for (const auto& title : c.submitted)
                announcer.Submit(Song(title));
            ASSERT_EQ(started.size(), 1u) << "one thread at a time";
            RunStarted();
            EXPECT_EQ(Transcript(), c.posted) << c.submitted.size() << " songs";
            EXPECT_EQ(fake.At(input).text, "typed") << "the typed text is back";
            // The thread ended: the next song starts a new one.
            announcer.Submit(Song("later"));
            ASSERT_EQ(started.size(), 2u);
            started.back()();
        }
    }
}

TEST_F(Announcer, AThreadThatCannotStartLeavesTheNextSongToStartOne) {
    startWorks = false;
    TAnnouncer announcer(fake, RecordingStart(), kNoPauses);
    announcer.Submit(Song("lost"));
    startWorks = true;
    announcer.Submit(Song("next"));
    ASSERT_EQ(started.size(), 2u);
    started[1]();
    EXPECT_EQ(Transcript(), (std::vector<std::string>{"next"}));
}

TEST_F(Announcer, WithoutTheChatClientOnlyASongWithALookupStartsAThread) {
    TAnnouncer announcer(fake, RecordingStart(), kNoPauses);
    fake.At(main).alive = false;  // the client is not running
    announcer.Submit(Song("no link"));
    EXPECT_TRUE(started.empty()) << "nothing to post and nothing to look up: no thread";
    int lookups = 0;
    TAnnouncement shared = Song("shared");
    shared.Link = true;
    shared.Token = [&lookups] {
        ++lookups;
        return std::string("tok");
    };
    announcer.Submit(std::move(shared));
    ASSERT_EQ(started.size(), 1u) << "a song with sharing on asks for the address all the same";
    RunStarted();
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(Transcript().empty());

    fake.At(main).alive = true;
    announcer.Submit(Song("1"));
    announcer.Submit(Song("2"));  // waits while 1 is posted
    fake.At(main).alive = false;  // the client closes meanwhile ...
    announcer.Submit(Song("3"));
    fake.At(main).alive = true;  // ... and is back by the time 1 is posted
    ASSERT_EQ(started.size(), 2u);
    started.back()();
    EXPECT_EQ(Transcript(), (std::vector<std::string>{"1"}))
        << "neither the song that waited nor the one that came while the client was gone";
}

TEST_F(Announcer, TheTokenIsFoundOnTheAnnouncersThreadAndEndsTheLine) {
    std::vector<std::thread::id> askedOn;
    TAnnouncement song = Song("title");
    song.Link = true;
    song.Token = [&askedOn] {
        askedOn.push_back(std::this_thread::get_id());
        return std::string("tok");
    };
    TAnnouncer announcer(
        fake,
        [&](std::function<void()> body) {
            started.push_back(std::move(body));
            return true;
        },
        kNoPauses);
    announcer.Submit(std::move(song));
    EXPECT_TRUE(askedOn.empty()) << "Submit must not look the address up";
    std::thread worker([this] { RunStarted(); });
    worker.join();
    ASSERT_EQ(askedOn.size(), 1u);
    EXPECT_NE(askedOn[0], std::this_thread::get_id());
    EXPECT_EQ(Transcript(), (std::vector<std::string>{"title" + DownloadLinkText("tok")}));
}

TEST_F(Announcer, StopSendsNothingAfterTheMessageInProgressAndDetachesTheInput) {
    // The stop arrives at each point of the posting in turn: during the lookup, during the n-th
    // sample, while the line is being set.
    struct Case {
        const char* when;
        int stopAtRead;  // 0: not at a read
        bool stopInLookup;
    };
    const Case cases[] = {
        {"lookup", 0, true}, {"first sample", 1, false}, {"last sample", 4, false}};
    for (const Case& c : cases) {
        fake.log.clear();
        fake.At(room).transcript.clear();
        started.clear();
        TAnnouncer announcer(fake, RecordingStart(), kNoPauses);
        TAnnouncement song = Song("song");
        song.Link = true;
        song.Token = [&] {
            if (c.stopInLookup)
                announcer.StopAndWait(0ms);
            return std::string();
        };
        int reads = 0;
        fake.onGetText = [&](ChatWindow, int) {
            if (++reads == c.stopAtRead) {
                EXPECT_FALSE(announcer.StopAndWait(0ms)) << "the thread still runs";
            }
        };
        announcer.Submit(std::move(song));
        announcer.Submit(Song("waiting"));
        fake.log.clear();  // from here on, what the posting did
        RunStarted();
        fake.onGetText = nullptr;

        EXPECT_TRUE(Transcript().empty()) << c.when;
        // After the stop: no message to the input, no focus change, the attachment undone.
        std::vector<std::string> afterStop;
        bool stopped = c.stopInLookup;
        int logged = 0;
        for (const auto& line : fake.log) {
            if (stopped)
                afterStop.push_back(line);
            if (line == std::to_string(input) + " gettext 1999" && ++logged == c.stopAtRead)
                stopped = true;
        }
        EXPECT_EQ(afterStop, c.stopInLookup ? std::vector<std::string>{}
                                            : std::vector<std::string>{"detach 1 7"})
            << c.when;
        EXPECT_TRUE(announcer.StopAndWait(0ms)) << "the thread has ended";
        announcer.Submit(Song("after quit"));
        EXPECT_EQ(started.size(), 1u) << "nothing starts after the stop";
    }
}

TEST(AnnouncerQueue, APauseLastsUntilStopWakesIt) {
    TAnnouncerQueue queue;
    EXPECT_TRUE(queue.Pause(1ms)) << "a pause without stop runs out";
    bool ran = true;
    std::thread sleeper([&] { ran = queue.Pause(std::chrono::hours(1)); });
    queue.Stop();
    sleeper.join();  // a pause the stop did not wake would hang here
    EXPECT_FALSE(ran);
    EXPECT_FALSE(queue.Pause(std::chrono::hours(1))) << "after the stop no pause waits";
}

// A real thread, and the songs arrive while its first posting runs.
TEST_F(Announcer, TenSongsWhileTheFirstIsPostedOnARealThreadPostTheFirstAndTheLast) {
    std::mutex m;
    std::condition_variable cv;
    bool inFirstPosting = false;
    bool othersSubmitted = false;
    fake.onGetText = [&](ChatWindow, int read) {
        if (read != 1)
            return;
        std::unique_lock<std::mutex> lock(m);
        inFirstPosting = true;
        cv.notify_all();
        cv.wait(lock, [&] { return othersSubmitted; });
    };
    std::vector<std::thread> threads;
    {
        TAnnouncer announcer(
            fake,
            [&](std::function<void()> body) {
                threads.emplace_back(std::move(body));
                return true;
            },
            kNoPauses);
        announcer.Submit(Song("1"));
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return inFirstPosting; });
        }
        for (int i = 2; i <= 10; ++i)
            announcer.Submit(Song(std::to_string(i)));
        {
            std::lock_guard<std::mutex> lock(m);
            othersSubmitted = true;
            cv.notify_all();
        }
        // With nothing more waiting the thread ends by itself.
        ASSERT_EQ(threads.size(), 1u);
        threads[0].join();
    }
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(Transcript(), (std::vector<std::string>{"1", "10"}));
}

}  // namespace
