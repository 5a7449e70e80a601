// The fixed ring of doubles that the windowed indicators keep: allocated once, never resized,
// freed with its owner.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "errors.hpp"

namespace quernel {

class Window {
 public:
  // The largest window whose size in bytes fits a signed machine word (rounded down to whole
  // doubles): 2**28 - 1 slots on a 32-bit platform, 2**60 - 1 on a 64-bit one.
  static constexpr std::size_t kMaxSize = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);

  // A window of `size` slots, each holding `fill`. A size beyond kMaxSize is an internal
  // failure ("capacity overflow"); memory that cannot be obtained throws std::bad_alloc.
  Window(std::size_t size, double fill) : size_(size) {
    if (size > kMaxSize)
      fail_internally("capacity overflow");
    if (fill == 0.0 && !std::signbit(fill)) {
      data_ = static_cast<double*>(std::calloc(size, sizeof(double)));
      if (data_ == nullptr)
        throw std::bad_alloc();
    } else {
      data_ = static_cast<double*>(std::malloc(size * sizeof(double)));
      if (data_ == nullptr)
        throw std::bad_alloc();
      std::fill(data_, data_ + size, fill);
    }
  }

  Window(Window&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  Window& operator=(Window&&) = delete;
  ~Window() { std::free(data_); }

  std::size_t size() const noexcept { return size_; }
  double& operator[](std::size_t i) noexcept { return data_[i]; }
  double operator[](std::size_t i) const noexcept { return data_[i]; }
  const double* begin() const noexcept { return data_; }
  const double* end() const noexcept { return data_ + size_; }

  void fill(double value) noexcept { std::fill(data_, data_ + size_, value); }

  // The slot after `i`, wrapping to 0 at the end of the ring.
  std::size_t next_slot(std::size_t i) const noexcept { return i + 1 < size_ ? i + 1 : 0; }

 private:
  double* data_ = nullptr;
  std::size_t size_;
};

}  // namespace quernel
