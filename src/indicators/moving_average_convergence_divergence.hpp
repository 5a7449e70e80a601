// MACD: three exponential averages updated in the order long, short, signal. The MACD line is
// short minus long, the signal line the average of the MACD line, the histogram their
// difference. The constructor takes the long period first.
#pragma once

#include <array>
#include <cstddef>

#include "indicators/exponential_moving_average.hpp"

namespace quernel {

class ConvergenceDivergence {
 public:
  // Each average refuses a zero period, in the order long, short, signal.
  ConvergenceDivergence(std::size_t long_period, std::size_t short_period,
                        std::size_t signal_period)
      : long_(long_period), short_(short_period), signal_(signal_period) {}

  // (MACD line, signal line, histogram)
  std::array<double, 3> update(double x) noexcept {
    long_.update(x);
    short_.update(x);
    const double macd = short_.current() - long_.current();
    signal_.update(macd);
    const double histogram = macd - signal_.current();
    return {macd, signal_.current(), histogram};
  }

  void reset() noexcept {
    long_.reset();
    short_.reset();
    signal_.reset();
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  ExponentialAverage long_;
  ExponentialAverage short_;
  ExponentialAverage signal_;
};

}  // namespace quernel
