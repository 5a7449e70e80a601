#include "indicators/exponential_moving_average.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct ExponentialMovingAverageClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.ExponentialMovingAverage";
  using State = ExponentialAverage;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef ExponentialMovingAverageClass::methods[] = {
    period_method<ExponentialMovingAverageClass>(),
    next_method<ExponentialMovingAverageClass, &ExponentialAverage::update>(),
    reset_method<ExponentialMovingAverageClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* exponential_moving_average_type() noexcept {
  return type_object<ExponentialMovingAverageClass>();
}

}  // namespace quernel
