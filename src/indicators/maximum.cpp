#include "indicators/maximum.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct MaximumClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.Maximum";
  using State = RollingMaximum;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef MaximumClass::methods[] = {
    period_method<MaximumClass>(),
    next_method<MaximumClass, &RollingMaximum::update>(),
    reset_method<MaximumClass>(),
    noargs_method<MaximumClass, &RollingMaximum::scan, Claim::shared>(
        "find_max_index", "find_max_index($self)\n--\n\n"),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* maximum_type() noexcept {
  return type_object<MaximumClass>();
}

}  // namespace quernel
