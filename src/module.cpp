// The module entry point: creates `_quernel` once per process, registers the classes in a
// fixed order and lists their names in `__all__`.
#include <string>

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct Registration {
  const char* name;
  PyTypeObject* (*type)() noexcept;
};

// The value classes first, then the indicators and then the strategies, each group in
// alphabetical order.
constexpr Registration kClasses[] = {
    {"Bar", bar_type},
    {"Signal", signal_type},
    {"AverageTrueRange", average_true_range_type},
    {"ExponentialMovingAverage", exponential_moving_average_type},
    {"Maximum", maximum_type},
    {"Minimum", minimum_type},
    {"MovingAverageConvergenceDivergence", moving_average_convergence_divergence_type},
    {"RateOfChange", rate_of_change_type},
    {"RelativeStrengthIndex", relative_strength_index_type},
    {"SharpeRatio", sharpe_ratio_type},
    {"SimpleMovingAverage", simple_moving_average_type},
    {"StandardDeviation", standard_deviation_type},
    {"TrueRange", true_range_type},
    {"ExponentialMovingAverageCrossover", exponential_moving_average_crossover_type},
    {"SimpleMovingAverageCrossover", simple_moving_average_crossover_type},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_quernel",
    "Streaming technical-analysis indicators and trading strategies for Python, implemented "
    "natively in C++.",
    0,        // no per-module state
    nullptr,  // no module-level functions
    nullptr,  // single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

// The module made by the first successful initialisation, kept for the life of the process.
PyObject* module_cache = nullptr;
PyObject* all_name = nullptr;  // the interned "__all__"

// The module's `__all__` list (a new reference), created empty on first need.
PyObject* all_list(PyObject* module) noexcept {
  PyObject* all = PyObject_GetAttr(module, all_name);
  if (all != nullptr)
    return all;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError))
    return nullptr;
  PyErr_Clear();
  all = PyList_New(0);
  if (all == nullptr)
    return nullptr;
  if (PyObject_SetAttr(module, all_name, all) < 0) {
    Py_DECREF(all);
    return nullptr;
  }
  return all;
}

// The text of the pending error, clearing it.
std::string take_error_text() {
  PyObject* error = take_error();
  std::string text = "unknown error";
  PyObject* str = error != nullptr ? PyObject_Str(error) : nullptr;
  const char* utf8 = str != nullptr ? PyUnicode_AsUTF8(str) : nullptr;
  if (utf8 != nullptr)
    text = utf8;
  PyErr_Clear();
  Py_XDECREF(str);
  Py_XDECREF(error);
  return text;
}

bool register_class(PyObject* module, const Registration& entry) {
  PyTypeObject* type = entry.type();
  if (type == nullptr)
    return false;
  PyObject* name = PyUnicode_FromStringAndSize(
      entry.name, static_cast<Py_ssize_t>(std::char_traits<char>::length(entry.name)));
  if (name == nullptr)
    return false;
  PyObject* all = all_list(module);
  if (all == nullptr) {
    Py_DECREF(name);
    return false;
  }
  int appended = PyList_Append(all, name);
  Py_DECREF(all);
  if (appended < 0) {
    Py_DECREF(name);
    fail_internally("could not append __name__ to __all__: " + take_error_text());
  }
  int stored = PyObject_SetAttr(module, name, reinterpret_cast<PyObject*>(type));
  Py_DECREF(name);
  return stored == 0;
}

PyObject* initialise() {
  if (module_cache != nullptr)
    return new_reference(module_cache);
  if (all_name == nullptr) {
    PyObject* name = PyUnicode_FromString("__all__");
    if (name == nullptr)
      return nullptr;
    PyUnicode_InternInPlace(&name);
    all_name = name;
  }
  PyObject* module = PyModule_Create2(&definition, 1013);
  if (module == nullptr) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  for (const Registration& entry : kClasses) {
    bool registered;
    try {
      registered = register_class(module, entry);
    } catch (...) {
      Py_DECREF(module);
      throw;
    }
    if (!registered) {
      Py_DECREF(module);
      return nullptr;
    }
  }
  module_cache = new_reference(module);
  return module;
}

}  // namespace
}  // namespace quernel

PyMODINIT_FUNC PyInit__quernel(void) {
  return quernel::boundary([] { return quernel::initialise(); });
}
