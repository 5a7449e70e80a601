// Rate of change: (x - old) / old, the relative change of each input against the input
// `period` calls earlier. Until that many earlier inputs exist the reference is the first
// input since construction or reset (the very first input is compared with itself). `seen`
// counts inputs up to period + 1 and then stays there. The division is not guarded: a zero
// reference gives an infinity or NaN.
#pragma once

#include <cstddef>

#include "window.hpp"

namespace quernel {

class RateOfChangeState {
 public:
  explicit RateOfChangeState(std::size_t period) : window_(checked_period(period), 0.0) {}

  std::size_t period() const noexcept { return window_.size(); }

  double update(double x) noexcept {
    double old;
    if (seen_ > window_.size()) {
      old = window_[write_index_];  // the input of `period` calls earlier
    } else {
      old = seen_ == 0 ? x : window_[0];  // the first input since the last reset
      ++seen_;
    }
    const std::size_t i = write_index_;
    write_index_ = window_.next_slot(i);
    const double result = (x - old) / old;
    window_[i] = x;
    return result;
  }

  void reset() noexcept {
    write_index_ = 0;
    seen_ = 0;
    window_.fill(0.0);
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  Window window_;
  std::size_t write_index_ = 0;
  std::size_t seen_ = 0;  // never beyond period + 1, which fits: period <= Window::kMaxSize
};

}  // namespace quernel
