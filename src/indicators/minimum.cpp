#include "indicators/minimum.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct MinimumClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.Minimum";
  using State = RollingMinimum;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef MinimumClass::methods[] = {
    period_method<MinimumClass>(),
    next_method<MinimumClass, &RollingMinimum::update>(),
    reset_method<MinimumClass>(),
    noargs_method<MinimumClass, &RollingMinimum::scan, Claim::shared>(
        "find_min_index", "find_min_index($self)\n--\n\n"),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* minimum_type() noexcept {
  return type_object<MinimumClass>();
}

}  // namespace quernel
