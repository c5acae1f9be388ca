// A transfer platform for tests: timers the test fires by moving a fake clock, files held in
// memory (a missing one cannot be opened), fixed separators. Installs itself while it lives.
#pragma once

#include <cstdint>
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

    FakeTransferPlatform() {
        platform_.NewTimer = [this](unsigned interval, std::function<void()> onTimer) {
            return std::unique_ptr<ITransferTimer>(new Timer(this, interval, std::move(onTimer)));
        };
        platform_.TickCount = [this] { return tick; };
        platform_.OpenFile = [this](const std::string& path) -> std::unique_ptr<TStream> {
            ++opens;
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
    void FireDue() {
        for (bool fired = true; fired;) {
            fired = false;
            for (Timer* t : timers_) {
                if (t->enabled_ && static_cast<std::int32_t>(tick - t->due_) >= 0) {
                    t->due_ += t->interval_;
                    std::function<void()> call = t->onTimer_;
                    call();  // may free the timer: start over
                    fired = true;
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
    int opens = 0;
    int openStreams = 0;
    std::string decimal = ".";
    std::string thousands = ",";

  private:
    TTransferPlatform platform_;
    const TTransferPlatform* previous_ = nullptr;
    std::set<Timer*> timers_;
};
