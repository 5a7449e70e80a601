// The rolling minimum of the last `period` inputs (see extremum.hpp).
#pragma once

#include "indicators/extremum.hpp"

namespace quernel {

using RollingMinimum = Extremum<Lowest>;

}  // namespace quernel
