// The inputs of a batch: a whole sequence converted to doubles (or read as bars) before any
// state changes, exactly as `next` converts one input.
//
// A C-contiguous one-dimensional buffer of native float64 (a NumPy array, array.array('d'), a
// memoryview) is read where it lies, without a copy. Anything else is iterated and each element
// converted like `next`'s input; an element that cannot be converted raises `next`'s error with
// its position named, and nothing has changed yet.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string>
#include <vector>

#include "bar.hpp"
#include "frame.hpp"

namespace quernel {

// Adds " (at position N)" (and " of <series>" for one of several series) to the pending error
// of the element at `position`. The exception keeps its type where it is one of the
// interpreter's plain conversion errors; any other exception is left as it is, with the
// position added as a note where the interpreter supports notes.
void name_position(std::size_t position, const char* series) noexcept;

// A sequence of doubles, borrowed from a float64 buffer or converted into storage of its own.
class Doubles {
 public:
  Doubles() = default;
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;
  ~Doubles() { release(); }

  // Reads `source`; each element converted as the argument `argument` of a call would be (its
  // name prefixes a TypeError). `series` names the sequence in errors when there are several.
  // False with the error set.
  bool load(PyObject* source, const char* argument, const char* series) noexcept;

  const double* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

  void release() noexcept {
    if (has_view_) {
      PyBuffer_Release(&view_);
      has_view_ = false;
    }
  }

 private:
  enum class Borrowed { yes, no, failed };
  // Reads a C-contiguous one-dimensional float64 buffer where it lies.
  Borrowed borrow(PyObject* source) noexcept;

  Py_buffer view_{};
  bool has_view_ = false;
  std::vector<double> owned_;
  const double* data_ = nullptr;
  std::size_t size_ = 0;
};

// A sequence of Bar objects, their prices copied out under a shared claim on each.
bool load_bars(PyObject* source, std::vector<BarPrices>& out) noexcept;

// The one input of `peek`, converted as `next` converts it.
inline bool convert_input(PyObject* input, double* out) noexcept {
  return to_double(input, "input", out);
}
bool convert_input(PyObject* input, BarPrices* out) noexcept;

}  // namespace quernel
