// Relative strength index: the last `period` price changes sit in a ring; every call sums the
// gains and the losses over the whole ring in slot order, averages both over the number of
// changes seen (at most `period`) and maps gains / losses onto 0..100 as
// 100 - 100 / (rs + 1). The first change is measured against 0.0.
#pragma once

#include <cstddef>

#include "window.hpp"

namespace quernel {

class StrengthIndex {
 public:
  explicit StrengthIndex(std::size_t period) : window_(checked_period(period), 0.0) {}

  std::size_t period() const noexcept { return window_.size(); }

  double update(double x) noexcept {
    const double change = x - prev_input_;
    prev_input_ = x;
    window_[write_index_] = change;
    write_index_ = window_.next_slot(write_index_);
    if (filled_ < window_.size())
      ++filled_;
    // A slot that is not a gain (v <= 0 or NaN) counts as a loss. Both sums take a step on
    // every slot, the other sum's step being 0.0, and neither step changes a bit: `gains`
    // starts at +0.0 and only ever adds positive values, so it is never -0.0 or NaN and
    // gains + 0.0 == gains; and y - 0.0 == y for every double y. The result is that of the
    // plain if/else, without a branch.
    double gains = 0.0;
    double losses = 0.0;
    for (const double v : window_) {
      const bool gain = v > 0.0;
      gains = gains + (gain ? v : 0.0);
      losses = losses - (gain ? 0.0 : v);
    }
    const double n = static_cast<double>(filled_);
    const double avg_gain = gains / n;
    const double avg_loss = losses / n;
    const double rs = avg_gain / avg_loss;
    return 100.0 - 100.0 / (rs + 1.0);
  }

  void reset() noexcept {
    write_index_ = 0;
    filled_ = 0;
    prev_input_ = 0.0;
    window_.fill(0.0);
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  Window window_;
  double prev_input_ = 0.0;
  std::size_t write_index_ = 0;
  std::size_t filled_ = 0;  // changes since the last reset, up to `period`
};

}  // namespace quernel
