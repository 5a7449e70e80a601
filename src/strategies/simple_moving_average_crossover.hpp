// Compares a short and a long simple average of the same inputs at every step: BUY while the
// short one is above, SELL while it is below, HOLD when they are equal (or NaN).
#pragma once

#include <cstddef>

#include "indicators/simple_moving_average.hpp"
#include "signal.hpp"

namespace quernel {

class SimpleCrossover {
 public:
  // Refuses short >= long before anything else; the short average then refuses a zero
  // period. If the long window cannot be made, the short one is freed again.
  static SimpleCrossover create(std::size_t short_period, std::size_t long_period) {
    if (short_period >= long_period) {
      throw InvalidArgument{"Short period must be less than long period."};
    }
    return SimpleCrossover(short_period, long_period);
  }

  SignalCode update(double x) noexcept {
    const double a_s = short_.update(x);
    const double a_l = long_.update(x);
    return signal_for(a_s - a_l);
  }

  void reset() noexcept {
    short_.reset();
    long_.reset();
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  SimpleCrossover(std::size_t short_period, std::size_t long_period)
      : short_(short_period), long_(long_period) {}

  SimpleAverage short_;
  SimpleAverage long_;
};

}  // namespace quernel
