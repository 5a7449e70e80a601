// The prices and volume of one bar, as the bar indicators read them.
#pragma once

#include <cstddef>

namespace quernel {

struct BarPrices {
  double open;
  double high;
  double low;
  double close;
  std::size_t volume;
};

}  // namespace quernel
