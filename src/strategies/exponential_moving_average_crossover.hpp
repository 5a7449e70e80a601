// Signals from a short and a long exponential moving average of the same inputs (see
// crossover.hpp).
#pragma once

#include "indicators/exponential_moving_average.hpp"
#include "strategies/crossover.hpp"

namespace quernel {

using ExponentialCrossover = Crossover<ExponentialAverage>;

}  // namespace quernel
