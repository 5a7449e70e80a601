// The exponential-average state: seeded with the first input, then
// current = current * (1 - alpha) + x * alpha with alpha = 2 / (period + 1), each operation
// rounded on its own. ExponentialMovingAverage is this state alone; AverageTrueRange holds
// one, MovingAverageConvergenceDivergence three and ExponentialMovingAverageCrossover two.
#pragma once

#include <cstddef>
#include <limits>

#include "errors.hpp"

namespace quernel {

class ExponentialAverage {
 public:
  explicit ExponentialAverage(std::size_t period)
      : alpha_(smoothing_factor(checked_period(period))), period_(period) {}

  // 2.0 / (period + 1), where period + 1 is the exact integer successor converted to double
  // once (so 2**64 for the largest 64-bit word, rather than a wrapped 0 or a double rounded
  // twice), divided in one rounded division.
  static double smoothing_factor(std::size_t period) noexcept {
    constexpr std::size_t kTopBit = std::size_t{1}
                                    << (std::numeric_limits<std::size_t>::digits - 1);
    const double successor = period == std::numeric_limits<std::size_t>::max()
                                 ? 2.0 * static_cast<double>(kTopBit)
                                 : static_cast<double>(period + 1);
    return 2.0 / successor;
  }

  std::size_t period() const noexcept { return period_; }
  double current() const noexcept { return current_; }

  double update(double x) noexcept {
    if (is_first_) {
      current_ = x;
      is_first_ = false;
    } else {
      const double d = 1.0 - alpha_;
      const double p = current_ * d;
      const double q = x * alpha_;
      current_ = p + q;
    }
    return current_;
  }

  void reset() noexcept {
    current_ = 0.0;
    is_first_ = true;
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  double alpha_;
  double current_ = 0.0;
  std::size_t period_;
  bool is_first_ = true;  // no input since construction or the last reset
};

}  // namespace quernel
