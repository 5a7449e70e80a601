// The true-range state: the first bar gives high - low (no absolute value); every later bar
// gives the largest of high - low, |high - previous close| and |low - previous close|, picked
// by fmax in that order. TrueRange is this state alone; AverageTrueRange holds one.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "bar.hpp"

namespace quernel {

class TrueRangeState {
 public:
  // y when x is NaN or below y, x otherwise: a NaN operand is passed over when the other is a
  // number, two NaNs give NaN, and the first operand wins a tie. Which operand wins depends on
  // the data from bar to bar, so the choice is made on the bit patterns without a branch.
  static double fmax(double x, double y) noexcept {
    const std::uint64_t take_y = -static_cast<std::uint64_t>((x != x) | (x < y));
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(y) & take_y) |
                                 (std::bit_cast<std::uint64_t>(x) & ~take_y));
  }

  double update(const BarPrices& bar) noexcept {
    double result;
    if (!has_prev_close_) {
      result = bar.high - bar.low;
    } else {
      const double a = bar.high - bar.low;
      const double b = std::fabs(bar.high - prev_close_);
      const double c = std::fabs(bar.low - prev_close_);
      result = fmax(fmax(a, b), c);
    }
    has_prev_close_ = true;
    prev_close_ = bar.close;
    return result;
  }

  void reset() noexcept {
    has_prev_close_ = false;
    prev_close_ = 0.0;
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  double prev_close_ = 0.0;   // the close of the last bar; meaningful when has_prev_close_
  bool has_prev_close_ = false;
};

}  // namespace quernel
