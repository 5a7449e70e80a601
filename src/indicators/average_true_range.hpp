// Average true range: each bar's true range fed straight into an exponential average with
// alpha = 2 / (period + 1). `reset` restarts the average only: the remembered close stays, so
// the first bar after a reset is measured against the last bar before it.
#pragma once

#include <cstddef>

#include "indicators/exponential_moving_average.hpp"
#include "indicators/true_range.hpp"

namespace quernel {

class AverageTrueRangeState {
 public:
  explicit AverageTrueRangeState(std::size_t period) : average_(period) {}

  std::size_t period() const noexcept { return average_.period(); }

  double update(const BarPrices& bar) noexcept { return average_.update(range_.update(bar)); }

  void reset() noexcept { average_.reset(); }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  TrueRangeState range_;
  ExponentialAverage average_;
};

}  // namespace quernel
