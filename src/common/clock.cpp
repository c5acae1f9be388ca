// A monotonic clock in milliseconds.
#include "common/clock.h"

namespace {

class TSteadyClock final : public IClock {
  public:
    std::chrono::milliseconds Now() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

}  // namespace

IClock& SteadyClock() {
    static TSteadyClock clock;
    return clock;
}
