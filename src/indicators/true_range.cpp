#include "indicators/true_range.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct TrueRangeClass {
  static constexpr const char* qualified_name = "builtins.TrueRange";
  using State = TrueRangeState;
  static constexpr std::array<const char*, 0> parameters{};
  static State create() { return State(); }
  static PyMethodDef methods[];
};

PyMethodDef TrueRangeClass::methods[] = {
    next_method<TrueRangeClass, &TrueRangeState::update>(),
    reset_method<TrueRangeClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* true_range_type() noexcept {
  return type_object<TrueRangeClass>();
}

}  // namespace quernel
