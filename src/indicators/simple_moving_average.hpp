// The simple-average state: the mean of the last `period` inputs. The inputs are kept in a
// ring, and the running sum moves by the difference between the value that enters and the
// value that leaves, (x - old) + sum; it is never recomputed from the ring. Until the ring is
// full the mean is over the inputs seen so far. SimpleMovingAverage is this state alone;
// SimpleMovingAverageCrossover holds two and SharpeRatio one.
#pragma once

#include <cstddef>

#include "window.hpp"

namespace quernel {

class SimpleAverage {
 public:
  explicit SimpleAverage(std::size_t period) : window_(checked_period(period), 0.0) {}

  std::size_t period() const noexcept { return window_.size(); }

  double update(double x) noexcept {
    const std::size_t i = write_index_;
    write_index_ = window_.next_slot(i);
    const double old = window_[i];
    window_[i] = x;
    const double difference = x - old;
    if (filled_ < window_.size())
      ++filled_;
    sum_ = difference + sum_;
    return sum_ / static_cast<double>(filled_);
  }

  void reset() noexcept {
    write_index_ = 0;
    filled_ = 0;
    sum_ = 0.0;
    window_.fill(0.0);
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  Window window_;
  double sum_ = 0.0;
  std::size_t write_index_ = 0;
  std::size_t filled_ = 0;  // inputs since the last reset, up to `period`
};

}  // namespace quernel
