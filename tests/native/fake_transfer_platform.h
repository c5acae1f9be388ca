// A transfer platform for tests: timers the test fires by moving a fake clock, files held in
// memory (a missing one cannot be opened), fixed separators. Installs itself while it lives.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/errors.h"
#include "common/stream.h"
#include "fileshare/BrenloFileServer.h"

class FakeTransferPlatform {
  public:
    class Timer : public ITransferTimer {
      public:
        Timer(FakeTransferPlatform* owner, unsigned interval, std::function<void()> onTimer)
            : owner_(owner), interval_(interval), onTimer_(std::move(onTimer)) {
            owner_->timers_.insert(this);
        }
        ~Timer() override { owner_->timers_.erase(this); }
        void SetEnabled(bool enabled) override {
            if (enabled && !enabled_)
                due_ = owner_->tick + interval_;
            enabled_ = enabled;
        }
        bool Enabled() const override { return enabled_; }
        unsigned Interval() const override { return interval_; }

      private:
        friend class FakeTransferPlatform;
        FakeTransferPlatform* owner_;
        unsigned interval_;
        std::function<void()> onTimer_;
        bool enabled_ = false;
        std::uint32_t due_ = 0;
    };

    // Counts the streams that are open at any moment.
    class Stream : public TMemoryStream {
      public:
        Stream(std::string data, int* open) : TMemoryStream(std::move(data)), open_(open) {
            ++*open_;
        }
        ~Stream() override { --*open_; }

      private:
        int* open_;
    };

    // A file too big to hold: `size` bytes of 'z', made as they are read. The test may move its
    // position on, as if the bytes between had been sent.
    class BigStream : public TStream {
      public:
        BigStream(std::int64_t size, BigStream** latest) : size_(size), latest_(latest) {
            *latest_ = this;
        }
        ~BigStream() override {
            if (*latest_ == this)
                *latest_ = nullptr;
        }
        std::int64_t Size() override { return size_; }
        std::int64_t Position() override { return position_; }
        void SetPosition(std::int64_t position) override { position_ = position; }
        int Read(void* buffer, int count) override {
            const auto n = static_cast<int>(std::min<std::int64_t>(count, size_ - position_));
            std::memset(buffer, 'z', static_cast<std::size_t>(n));
            position_ += n;
            return n;
        }

      private:
        std::int64_t size_;
        std::int64_t position_ = 0;
        BigStream** latest_;
    };

    FakeTransferPlatform() {
        platform_.NewTimer = [this](unsigned interval, std::function<void()> onTimer) {
            return std::unique_ptr<ITransferTimer>(new Timer(this, interval, std::move(onTimer)));
        };
        platform_.TickCount = [this] { return tick; };
        platform_.OpenFile = [this](const std::string& path) -> std::unique_ptr<TStream> {
            ++opens;
            if (const auto big = bigFiles.find(path); big != bigFiles.end())
                return std::make_unique<BigStream>(big->second, &bigStream);
            auto found = files.find(path);
            if (found == files.end())
                throw EBrenloError("Die Datei " + path +
                                   " kann nicht ge\xF6"
                                   "ffnet werden");
            return std::make_unique<Stream>(found->second, &openStreams);
        };
        platform_.DecimalSeparator = [this] { return decimal; };
        platform_.ThousandSeparator = [this] { return thousands; };
        previous_ = SetTransferPlatform(&platform_);
    }
    ~FakeTransferPlatform() { SetTransferPlatform(previous_); }

    // Moves the clock on in steps of at most `step` ms, firing every timer that comes due.
    void Advance(std::uint32_t ms, std::uint32_t step = 1000) {
        while (ms > 0) {
            const std::uint32_t now = ms < step ? ms : step;
            tick += now;
            ms -= now;
            FireDue();
        }
    }
    // Fires each timer that is due once: like WM_TIMER, missed periods do not pile up.
    void FireDue() {
        std::set<Timer*> fired;
        for (bool again = true; again;) {
            again = false;
            for (Timer* t : timers_) {
                if (t->enabled_ && !fired.count(t) &&
                    static_cast<std::int32_t>(tick - t->due_) >= 0) {
                    fired.insert(t);
                    t->due_ = tick + t->interval_;
                    std::function<void()> call = t->onTimer_;
                    call();  // may free timers: start over
                    again = true;
                    break;
                }
            }
        }
    }
    int LiveTimers() const { return static_cast<int>(timers_.size()); }
    int EnabledTimers() const {
        int n = 0;
        for (Timer* t : timers_)
            n += t->enabled_ ? 1 : 0;
        return n;
    }

    std::uint32_t tick = 5000;
    std::map<std::string, std::string> files;
    std::map<std::string, std::int64_t> bigFiles;  // path -> size
    BigStream* bigStream = nullptr;                // the latest one open
    int opens = 0;
    int openStreams = 0;
    std::string decimal = ".";
    std::string thousands = ",";

  private:
    TTransferPlatform platform_;
    const TTransferPlatform* previous_ = nullptr;
    std::set<Timer*> timers_;
};
