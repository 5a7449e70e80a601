#include "indicators/sharpe_ratio.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct SharpeRatioClass {
  static constexpr const char* qualified_name = "builtins.SharpeRatio";
  using State = SharpeState;
  static constexpr std::array<const char*, 2> parameters{"period", "rf"};
  static State create(Word period, double rf) { return State(period, rf); }
  static PyMethodDef methods[];
};

PyMethodDef SharpeRatioClass::methods[] = {
    period_method<SharpeRatioClass>(),
    next_method<SharpeRatioClass, &SharpeState::update>(),
    reset_method<SharpeRatioClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* sharpe_ratio_type() noexcept {
  return type_object<SharpeRatioClass>();
}

}  // namespace quernel
