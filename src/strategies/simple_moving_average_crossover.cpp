#include "strategies/simple_moving_average_crossover.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct SimpleMovingAverageCrossoverClass {
  static constexpr const char* qualified_name = "builtins.SimpleMovingAverageCrossover";
  using State = SimpleCrossover;
  static constexpr std::array<const char*, 2> parameters{"short_period", "long_period"};
  static State create(Word short_period, Word long_period) {
    return State::create(short_period, long_period);
  }
  static PyMethodDef methods[];
};

PyMethodDef SimpleMovingAverageCrossoverClass::methods[] = {
    next_method<SimpleMovingAverageCrossoverClass, &SimpleCrossover::update>(),
    reset_method<SimpleMovingAverageCrossoverClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* simple_moving_average_crossover_type() noexcept {
  return type_object<SimpleMovingAverageCrossoverClass>();
}

}  // namespace quernel
