// The three-valued result of the strategies.
#pragma once

#include <cstdint>

namespace quernel {

enum class SignalCode : std::uint8_t { buy = 0, sell = 1, hold = 2 };

// BUY while `difference` (short average minus long average) is above zero, SELL while it is
// below, HOLD when it is zero of either sign or NaN.
constexpr SignalCode signal_for(double difference) noexcept {
  if (difference > 0.0)
    return SignalCode::buy;
  if (difference < 0.0)
    return SignalCode::sell;
  return SignalCode::hold;
}

}  // namespace quernel
