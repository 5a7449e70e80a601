// The type object of every class, in the order the module registers them. Each is made on
// first need and then kept for the life of the process; each function returns it as a borrowed
// reference, or null with RuntimeError "An error occurred while initializing class <Class>"
// (chained to its cause) when it cannot be made.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quernel {

PyTypeObject* bar_type() noexcept;
PyTypeObject* signal_type() noexcept;
PyTypeObject* average_true_range_type() noexcept;
PyTypeObject* exponential_moving_average_type() noexcept;
PyTypeObject* maximum_type() noexcept;
PyTypeObject* minimum_type() noexcept;
PyTypeObject* moving_average_convergence_divergence_type() noexcept;
PyTypeObject* rate_of_change_type() noexcept;
PyTypeObject* relative_strength_index_type() noexcept;
PyTypeObject* sharpe_ratio_type() noexcept;
PyTypeObject* simple_moving_average_type() noexcept;
PyTypeObject* standard_deviation_type() noexcept;
PyTypeObject* true_range_type() noexcept;
PyTypeObject* exponential_moving_average_crossover_type() noexcept;
PyTypeObject* simple_moving_average_crossover_type() noexcept;

}  // namespace quernel
