#include "indicators/relative_strength_index.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct RelativeStrengthIndexClass : PeriodParameter {
  static constexpr const char* qualified_name = "builtins.RelativeStrengthIndex";
  using State = StrengthIndex;
  static State create(Word period) { return State(period); }
  static PyMethodDef methods[];
};

PyMethodDef RelativeStrengthIndexClass::methods[] = {
    period_method<RelativeStrengthIndexClass>(),
    next_method<RelativeStrengthIndexClass, &StrengthIndex::update>(),
    reset_method<RelativeStrengthIndexClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* relative_strength_index_type() noexcept {
  return type_object<RelativeStrengthIndexClass>();
}

}  // namespace quernel
