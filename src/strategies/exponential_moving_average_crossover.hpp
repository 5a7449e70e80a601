// Compares a short and a long exponential average of the same inputs at every step: BUY while
// the short one is above, SELL while it is below, HOLD when they are equal (or NaN).
#pragma once

#include <cstddef>

#include "indicators/exponential_moving_average.hpp"
#include "signal.hpp"

namespace quernel {

class ExponentialCrossover {
 public:
  // Refuses short >= long before anything else; the short average then refuses a zero
  // period.
  static ExponentialCrossover create(std::size_t short_period, std::size_t long_period) {
    if (short_period >= long_period) {
      throw InvalidArgument{"Short period must be less than long period."};
    }
    return ExponentialCrossover(short_period, long_period);
  }

  SignalCode update(double x) noexcept {
    const double e_s = short_.update(x);
    const double e_l = long_.update(x);
    return signal_for(e_s - e_l);
  }

  void reset() noexcept {
    short_.reset();
    long_.reset();
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  ExponentialCrossover(std::size_t short_period, std::size_t long_period)
      : short_(short_period), long_(long_period) {}

  ExponentialAverage short_;
  ExponentialAverage long_;
};

}  // namespace quernel
