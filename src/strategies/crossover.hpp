// The two crossover strategies: a short and a long average of the same inputs, compared at
// every step: BUY while the short one is above, SELL while it is below, HOLD when they are
// equal (or NaN). `Average` is the simple-average or the exponential-average state.
#pragma once

#include <cstddef>

#include "errors.hpp"
#include "signal.hpp"

namespace quernel {

template <class Average>
class Crossover {
 public:
  // Refuses short >= long before anything else; the short average then refuses a zero
  // period. If the long average cannot be made (its window), the short one is released again.
  static Crossover create(std::size_t short_period, std::size_t long_period) {
    if (short_period >= long_period) {
      throw InvalidArgument{"Short period must be less than long period."};
    }
    return Crossover(short_period, long_period);
  }

  SignalCode update(double x) noexcept {
    const double short_average = short_.update(x);
    const double long_average = long_.update(x);
    return signal_for(short_average - long_average);
  }

  void reset() noexcept {
    short_.reset();
    long_.reset();
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp

  Crossover(std::size_t short_period, std::size_t long_period)
      : short_(short_period), long_(long_period) {}

  Average short_;
  Average long_;
};

}  // namespace quernel
