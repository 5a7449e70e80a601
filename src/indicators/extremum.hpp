// The rolling extreme shared by Minimum and Maximum. The ring starts filled with the value
// that never wins (+inf for the minimum, -inf for the maximum) and `best_index` names the slot
// of the current extreme. A new input that strictly beats it takes over in constant time; only
// when the input overwrites the extreme's own slot without beating it is the ring scanned
// again. Ties keep the older slot; NaN never wins. `reset` refills the ring but keeps both
// indices, so the ring position carries over.
#pragma once

#include <cstddef>
#include <limits>

#include "window.hpp"

namespace quernel {

struct Lowest {
  static constexpr double kFill = std::numeric_limits<double>::infinity();
  static bool beats(double x, double y) noexcept { return x < y; }
};

struct Highest {
  static constexpr double kFill = -std::numeric_limits<double>::infinity();
  static bool beats(double x, double y) noexcept { return x > y; }
};

template <class Order>
class Extremum {
 public:
  explicit Extremum(std::size_t period) : window_(checked_period(period), Order::kFill) {}

  std::size_t period() const noexcept { return window_.size(); }

  double update(double x) noexcept {
    const std::size_t g = write_index_;
    window_[g] = x;
    if (Order::beats(x, window_[best_index_])) {
      best_index_ = g;
    } else if (best_index_ == g) {
      best_index_ = scan();
    }
    write_index_ = window_.next_slot(g);
    return window_[best_index_];
  }

  // The lowest slot holding the strict extreme of the ring; slot 0 when no slot beats the
  // fill value.
  std::size_t scan() const noexcept {
    double best = Order::kFill;
    std::size_t found = 0;
    for (std::size_t i = 0; i < window_.size(); ++i) {
      if (Order::beats(window_[i], best)) {
        best = window_[i];
        found = i;
      }
    }
    return found;
  }

  void reset() noexcept { window_.fill(Order::kFill); }

 private:
  friend struct StateAccess;  // snapshots: every field, see native/state_access.hpp
  Window window_;
  std::size_t best_index_ = 0;
  std::size_t write_index_ = 0;
};

}  // namespace quernel
