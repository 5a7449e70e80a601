#include "indicators/moving_average_convergence_divergence.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct MovingAverageConvergenceDivergenceClass {
  static constexpr const char* qualified_name = "builtins.MovingAverageConvergenceDivergence";
  using State = ConvergenceDivergence;
  static constexpr std::array<const char*, 3> parameters{"long_period", "short_period",
                                                         "signal_period"};
  static State create(Word long_period, Word short_period, Word signal_period) {
    return State(long_period, short_period, signal_period);
  }
  static PyMethodDef methods[];
};

PyMethodDef MovingAverageConvergenceDivergenceClass::methods[] = {
    next_method<MovingAverageConvergenceDivergenceClass, &ConvergenceDivergence::update>(),
    reset_method<MovingAverageConvergenceDivergenceClass>(),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* moving_average_convergence_divergence_type() noexcept {
  return type_object<MovingAverageConvergenceDivergenceClass>();
}

}  // namespace quernel
