// A monotonic clock in milliseconds, behind a seam so that time budgets can be tested.
#pragma once

#include <chrono>

class IClock {
  public:
    virtual ~IClock() = default;
    virtual std::chrono::milliseconds Now() = 0;
};

// The system's steady clock.
IClock& SteadyClock();
