#include "strategies/exponential_moving_average_crossover.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct ExponentialMovingAverageCrossoverClass {
  static constexpr const char* qualified_name = "builtins.ExponentialMovingAverageCrossover";
  using State = ExponentialCrossover;
  static constexpr std::array<const char*, 2> parameters{"short_period", "long_period"};
  static State create(Word short_period, Word long_period) {
    return State::create(short_period, long_period);
  }
  static PyMethodDef methods[];
};

PyMethodDef ExponentialMovingAverageCrossoverClass::methods[] = {
    next_method<ExponentialMovingAverageCrossoverClass, &ExponentialCrossover::update>(),
    reset_method<ExponentialMovingAverageCrossoverClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* exponential_moving_average_crossover_type() noexcept {
  return type_object<ExponentialMovingAverageCrossoverClass>();
}

}  // namespace quernel
