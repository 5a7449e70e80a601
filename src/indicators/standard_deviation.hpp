// The standard-deviation state: the population standard deviation of the last `period`
// inputs, from a running sum and a running sum of squares that move by what enters and what
// leaves the ring (never recomputed). The variance is mean of squares minus square of the
// mean; when rounding makes it negative the result is NaN, not clamped. StandardDeviation is
// this state alone; SharpeRatio holds one.
#pragma once

#include <cmath>
#include <cstddef>

#include "window.hpp"

namespace quernel {

class DeviationState {
 public:
  explicit DeviationState(std::size_t period) : window_(checked_period(period), 0.0) {}

  std::size_t period() const noexcept { return window_.size(); }

  double update(double x) noexcept {
    const std::size_t i = write_index_;
    const double old = window_[i];
    write_index_ = window_.next_slot(i);
    if (filled_ < window_.size())
      ++filled_;
    window_[i] = x;
    sum_ = (x - old) + sum_;
    sum_sq_ = (x * x - old * old) + sum_sq_;
    const double n = static_cast<double>(filled_);
    const double mean = sum_ / n;
    const double mean_sq = sum_sq_ / n;
    const double variance = mean_sq - mean * mean;
    return std::sqrt(variance);
  }

  void reset() noexcept {
    write_index_ = 0;
    filled_ = 0;
    sum_ = 0.0;
    sum_sq_ = 0.0;
    window_.fill(0.0);
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  Window window_;
  std::size_t write_index_ = 0;
  std::size_t filled_ = 0;  // inputs since the last reset, up to `period`
  double sum_ = 0.0;
  double sum_sq_ = 0.0;
};

}  // namespace quernel
