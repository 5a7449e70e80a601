#include "indicators/average_true_range.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct AverageTrueRangeClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.AverageTrueRange";
  using State = AverageTrueRangeState;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef AverageTrueRangeClass::methods[] = {
    period_method<AverageTrueRangeClass>(),
    next_method<AverageTrueRangeClass, &AverageTrueRangeState::update>(),
    reset_method<AverageTrueRangeClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* average_true_range_type() noexcept {
  return type_object<AverageTrueRangeClass>();
}

}  // namespace quernel
