#include "indicators/standard_deviation.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct StandardDeviationClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.StandardDeviation";
  using State = DeviationState;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef StandardDeviationClass::methods[] = {
    period_method<StandardDeviationClass>(),
    next_method<StandardDeviationClass, &DeviationState::update>(),
    reset_method<StandardDeviationClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* standard_deviation_type() noexcept {
  return type_object<StandardDeviationClass>();
}

}  // namespace quernel
