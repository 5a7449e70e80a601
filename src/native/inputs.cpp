#include "native/inputs.hpp"

#include <cstring>
#include <new>
#include <string>

namespace quernel {
namespace {

// Whether a buffer's format is a double in this machine's byte order.
bool is_native_double(const char* format) noexcept {
  if (format == nullptr)
    return false;
  if (format[0] == '@' || format[0] == '=')
    ++format;
#if PY_LITTLE_ENDIAN
  else if (format[0] == '<')
    ++format;
#else
  else if (format[0] == '>' || format[0] == '!')
    ++format;
#endif
  return std::strcmp(format, "d") == 0;
}

PyObject* plain_conversion_error(PyObject* error) noexcept {
  PyTypeObject* type = Py_TYPE(error);
  for (PyObject* plain :
       {PyExc_TypeError, PyExc_ValueError, PyExc_OverflowError, PyExc_RuntimeError}) {
    if (type == reinterpret_cast<PyTypeObject*>(plain))
      return plain;
  }
  return nullptr;
}

}  // namespace

void name_position(std::size_t position, const char* series) noexcept {
  PyObject* error = take_error();
  if (error == nullptr)
    return;
  std::string where = "at position " + std::to_string(position);
  if (series != nullptr)
    where += std::string(" of ") + series;
  PyObject* plain = plain_conversion_error(error);
  if (plain == nullptr) {
    // Not ours to rebuild: keep the exception, and add the position as a note if we can.
    PyObject* note = PyObject_CallMethod(error, "add_note", "s", where.c_str());
    if (note == nullptr)
      PyErr_Clear();
    Py_XDECREF(note);
    restore_error(error);
    return;
  }
  PyObject* text = PyObject_Str(error);
  PyObject* message =
      text != nullptr ? PyUnicode_FromFormat("%U (%s)", text, where.c_str()) : nullptr;
  Py_XDECREF(text);
  raise_rewritten(error, plain, message);
}

Doubles::Borrowed Doubles::borrow(PyObject* source) noexcept {
  if (!PyObject_CheckBuffer(source))
    return Borrowed::no;
  if (PyObject_GetBuffer(source, &view_, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) < 0) {
    PyErr_Clear();  // not contiguous, say: iterate it instead
    return Borrowed::no;
  }
  const bool doubles = view_.itemsize == sizeof(double) && is_native_double(view_.format);
  const int dimensions = view_.ndim;
  // The stride is checked here too: some interpreters (PyPy 3.9) hand out a strided view for a
  // contiguous request.
  const bool strided = dimensions == 1 && view_.strides != nullptr &&
                       view_.strides[0] != static_cast<Py_ssize_t>(sizeof(double));
  if (!doubles || dimensions != 1 || strided) {
    PyBuffer_Release(&view_);
    if (doubles && dimensions > 1) {
      PyErr_Format(PyExc_ValueError,
                   "expected a one-dimensional sequence, not a buffer of %d dimensions",
                   dimensions);
      return Borrowed::failed;
    }
    return Borrowed::no;  // other numbers, or strided: converted one by one
  }
  has_view_ = true;
  data_ = static_cast<const double*>(view_.buf);
  size_ = static_cast<std::size_t>(view_.shape[0]);
  return Borrowed::yes;
}

bool Doubles::load(PyObject* source, const char* argument, const char* series) noexcept {
  release();
  owned_.clear();
  data_ = nullptr;
  size_ = 0;
  if (PyUnicode_Check(source)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence of numbers, not '%s'",
                 Py_TYPE(source)->tp_name);
    return false;
  }
  switch (borrow(source)) {
    case Borrowed::yes:
      return true;
    case Borrowed::failed:
      return false;
    case Borrowed::no:
      break;
  }
  try {
    if (PyList_CheckExact(source) || PyTuple_CheckExact(source)) {
      const bool list = PyList_CheckExact(source);
      const auto size = [source, list] {
        return list ? PyList_GET_SIZE(source) : PyTuple_GET_SIZE(source);
      };
      owned_.reserve(static_cast<std::size_t>(size()));
      // A list can change while an element's conversion runs Python code: its size is read
      // again on every step and the element is held while it is converted.
      for (Py_ssize_t i = 0; i < size(); ++i) {
        PyObject* item = list ? PyList_GET_ITEM(source, i) : PyTuple_GET_ITEM(source, i);
        double x;
        if (Py_IS_TYPE(item, &PyFloat_Type)) {
          x = PyFloat_AS_DOUBLE(item);
        } else {
          Py_INCREF(item);
          const bool converted = to_double(item, argument, &x);
          Py_DECREF(item);
          if (!converted) {
            name_position(static_cast<std::size_t>(i), series);
            return false;
          }
        }
        owned_.push_back(x);
      }
    } else {
      PyObject* iterator = PyObject_GetIter(source);
      if (iterator == nullptr)
        return false;
      Py_ssize_t hint = PyObject_LengthHint(source, 0);
      if (hint < 0) {
        PyErr_Clear();
        hint = 0;
      }
      owned_.reserve(static_cast<std::size_t>(hint < (1 << 24) ? hint : (1 << 24)));
      std::size_t position = 0;
      while (PyObject* item = PyIter_Next(iterator)) {
        double x;
        const bool converted = to_double(item, argument, &x);
        Py_DECREF(item);
        if (!converted) {
          Py_DECREF(iterator);
          name_position(position, series);
          return false;
        }
        owned_.push_back(x);
        ++position;
      }
      Py_DECREF(iterator);
      if (PyErr_Occurred())
        return false;
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  } catch (...) {
    PyErr_SetString(PyExc_MemoryError, "the inputs could not be stored");
    return false;
  }
  data_ = owned_.data();
  size_ = owned_.size();
  return true;
}

bool convert_input(PyObject* input, BarPrices* out) noexcept {
  Instance<BarPrices>* bar = claim_bar(input, "input");
  if (bar == nullptr)
    return false;
  *out = bar->state;
  release_bar(bar);
  return true;
}

bool load_bars(PyObject* source, std::vector<BarPrices>& out) noexcept {
  if (PyUnicode_Check(source)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence of Bar, not '%s'", Py_TYPE(source)->tp_name);
    return false;
  }
  PyObject* iterator = PyObject_GetIter(source);
  if (iterator == nullptr)
    return false;
  try {
    Py_ssize_t hint = PyObject_LengthHint(source, 0);
    if (hint < 0) {
      PyErr_Clear();
      hint = 0;
    }
    out.reserve(static_cast<std::size_t>(hint < (1 << 22) ? hint : (1 << 22)));
    std::size_t position = 0;
    while (PyObject* item = PyIter_Next(iterator)) {
      BarPrices prices;
      const bool converted = convert_input(item, &prices);
      Py_DECREF(item);
      if (!converted) {
        Py_DECREF(iterator);
        name_position(position, nullptr);
        return false;
      }
      out.push_back(prices);
      ++position;
    }
  } catch (...) {
    Py_DECREF(iterator);
    PyErr_NoMemory();
    return false;
  }
  Py_DECREF(iterator);
  return !PyErr_Occurred();
}

}  // namespace quernel
