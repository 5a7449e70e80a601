// Bar: an immutable price bar read through five accessor methods. Only shared claims are ever
// taken on a bar, so one bar can be read and fed to any number of indicators at once.
#include "bar.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct BarClass {
  static constexpr const char* qualified_name = "builtins.Bar";
  using State = BarPrices;
  static constexpr std::array<const char*, 5> parameters{"open", "high", "low", "close", "volume"};
  static BarPrices create(double open, double high, double low, double close, Word volume) {
    return {open, high, low, close, volume};
  }

  static double open(const BarPrices& bar) noexcept { return bar.open; }
  static double high(const BarPrices& bar) noexcept { return bar.high; }
  static double low(const BarPrices& bar) noexcept { return bar.low; }
  static double close(const BarPrices& bar) noexcept { return bar.close; }
  static Word volume(const BarPrices& bar) noexcept { return bar.volume; }

  static PyMethodDef methods[];
};

PyMethodDef BarClass::methods[] = {
    noargs_method<BarClass, &BarClass::open, Claim::shared>("open", "open($self)\n--\n\n"),
    noargs_method<BarClass, &BarClass::high, Claim::shared>("high", "high($self)\n--\n\n"),
    noargs_method<BarClass, &BarClass::low, Claim::shared>("low", "low($self)\n--\n\n"),
    noargs_method<BarClass, &BarClass::close, Claim::shared>("close", "close($self)\n--\n\n"),
    noargs_method<BarClass, &BarClass::volume, Claim::shared>("volume", "volume($self)\n--\n\n"),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* bar_type() noexcept {
  return type_object<BarClass>();
}

Instance<BarPrices>* claim_bar(PyObject* object, const char* name) noexcept {
  PyTypeObject* type = type_object<BarClass>();
  if (type == nullptr) [[unlikely]]
    return nullptr;
  if (Py_TYPE(object) != type && !PyType_IsSubtype(Py_TYPE(object), type)) [[unlikely]] {
    wrong_type(object, "Bar", name);
    return nullptr;
  }
  auto* bar = reinterpret_cast<Instance<BarPrices>*>(object);
  if (!bar->borrow_flag.try_shared()) [[unlikely]] {
    refuse_claim(Claim::shared);
    return nullptr;
  }
  return bar;
}

void release_bar(Instance<BarPrices>* bar) noexcept {
  bar->borrow_flag.release_shared();
}

}  // namespace quernel
