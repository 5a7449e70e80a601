// Sharpe ratio of the last `period` per-period returns: (mean - rf) / deviation, from a
// simple-average state and a standard-deviation state fed the same inputs. The first call
// after construction or reset yields 0.0; the deviation is not guarded against zero.
#pragma once

#include <cstddef>
#include <limits>

#include "indicators/simple_moving_average.hpp"
#include "indicators/standard_deviation.hpp"

namespace quernel {

class SharpeState {
 public:
  SharpeState(std::size_t period, double rf) : mean_(period), deviation_(period), rf_(rf) {}

  std::size_t period() const noexcept { return mean_.period(); }

  double update(double x) noexcept {
    const double m = mean_.update(x);
    const double s = deviation_.update(x);
    // Saturating: only "more than one" matters, and a wrapped count would make a call far into
    // the stream look like the first after a reset.
    if (observations_ != std::numeric_limits<std::size_t>::max())
      ++observations_;
    if (observations_ > 1)
      return (m - rf_) / s;
    return 0.0;
  }

  void reset() noexcept {
    mean_.reset();
    deviation_.reset();
    observations_ = 0;
  }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  SimpleAverage mean_;
  DeviationState deviation_;
  double rf_;
  std::size_t observations_ = 0;  // inputs since the last reset, held at the largest word
};

}  // namespace quernel
