// Signals from a short and a long simple moving average of the same inputs (see crossover.hpp).
#pragma once

#include "indicators/simple_moving_average.hpp"
#include "strategies/crossover.hpp"

namespace quernel {

using SimpleCrossover = Crossover<SimpleAverage>;

}  // namespace quernel
