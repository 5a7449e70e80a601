#include "indicators/simple_moving_average.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct SimpleMovingAverageClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.SimpleMovingAverage";
  using State = SimpleAverage;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef SimpleMovingAverageClass::methods[] = {
    period_method<SimpleMovingAverageClass>(),
    next_method<SimpleMovingAverageClass, &SimpleAverage::update>(),
    reset_method<SimpleMovingAverageClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* simple_moving_average_type() noexcept {
  return type_object<SimpleMovingAverageClass>();
}

}  // namespace quernel
