#include "indicators/rate_of_change.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct RateOfChangeClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.RateOfChange";
  using State = RateOfChangeState;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef RateOfChangeClass::methods[] = {
    period_method<RateOfChangeClass>(),
    next_method<RateOfChangeClass, &RateOfChangeState::update>(),
    reset_method<RateOfChangeClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* rate_of_change_type() noexcept {
  return type_object<RateOfChangeClass>();
}

}  // namespace quernel
