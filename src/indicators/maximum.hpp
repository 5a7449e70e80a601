// The rolling maximum of the last `period` inputs (see extremum.hpp).
#pragma once

#include "indicators/extremum.hpp"

namespace quernel {

using RollingMaximum = Extremum<Highest>;

}  // namespace quernel
