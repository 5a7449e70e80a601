// The frame around every call from Python into the module: argument binding, conversions,
// the per-object claim, results and errors. Each class describes itself once (its name, its
// parameters, its state type and its methods) and the templates below turn that description
// into a type object whose entry points all follow the same rules:
//
//   bind the arguments -> claim the receiver -> convert the arguments -> run the class's own
//   logic -> build the result -> release the claim(s)
//
// Every failure becomes a Python exception; a failure before the class's logic leaves the
// object as it was. Internal failures (InternalFailure from the core, or the interpreter
// failing to create a result) raise InternalPanic, which derives from BaseException.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <source_location>
#include <tuple>
#include <type_traits>
#include <utility>

#include "errors.hpp"

#if defined(__GNUC__)
#define QUERNEL_COLD [[gnu::cold, gnu::noinline]]
#else
#define QUERNEL_COLD
#endif

namespace quernel {

// The platform's machine word: periods, indices and volumes.
using Word = std::size_t;

// A new strong reference to `object`.
inline PyObject* new_reference(PyObject* object) noexcept {
  Py_INCREF(object);
  return object;
}

// ---------------------------------------------------------------------------------------------
// Claim flag

// 0 while the object is free, n while n shared claims are held, all bits set while one
// exclusive claim is held. Only ever changed by atomic read-modify-write operations.
class BorrowFlag {
 public:
  bool try_exclusive() noexcept {
    Word expected = 0;
    return flag_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                         std::memory_order_relaxed);
  }
  void release_exclusive() noexcept { flag_.store(0, std::memory_order_release); }

  bool try_shared() noexcept {
    Word current = flag_.load(std::memory_order_relaxed);
    do {
      if (current == kExclusive)
        return false;
    } while (!flag_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
    return true;
  }
  void release_shared() noexcept { flag_.fetch_sub(1, std::memory_order_release); }

 private:
  static constexpr Word kExclusive = ~Word{0};
  std::atomic<Word> flag_{0};
};

enum class Claim { exclusive, shared };

// The memory layout of every instance: the object header, the claim flag, the class's state.
template <class State>
struct Instance {
  PyObject_HEAD BorrowFlag borrow_flag;
  State state;
};

// ---------------------------------------------------------------------------------------------
// Errors

// Takes the pending exception as a normalized instance (a new reference; null if none),
// clearing it.
PyObject* take_error() noexcept;
// Makes `exception` the pending exception again (the reference is stolen).
void restore_error(PyObject* exception) noexcept;
// Raises type(message) in place of `error` (a taken exception), keeping `error`'s cause.
// Both references are stolen; a null `message` means building it failed, and that failure
// (already pending) is what is raised.
QUERNEL_COLD void raise_rewritten(PyObject* error, PyObject* type, PyObject* message) noexcept;

// Raises RuntimeError "Already borrowed" / "Already mutably borrowed" and returns null.
QUERNEL_COLD PyObject* refuse_claim(Claim wanted) noexcept;

// Raises the TypeError of a receiver or argument of the wrong type:
// "'<type>' object cannot be converted to '<class>'" (prefixed with the argument's name when
// `argument` is not null).
QUERNEL_COLD PyObject* wrong_type(PyObject* object, const char* class_name,
                                  const char* argument = nullptr) noexcept;

// Turns an internal failure into InternalPanic: writes a diagnostic naming the message and
// the place to standard error, then raises. Returns null. Aborts the process if the exception
// itself cannot be made.
QUERNEL_COLD PyObject* raise_internal_failure(const char* message,
                                              const std::source_location& where) noexcept;

// The interpreter failed to create a result object: prints its pending error, then raises
// InternalPanic "Python API call failed".
QUERNEL_COLD PyObject* result_failed(
    std::source_location where = std::source_location::current()) noexcept;

// Runs `body`, translating what the core throws: InvalidArgument to ValueError,
// std::bad_alloc to MemoryError, InternalFailure (or anything else) to InternalPanic.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
  try {
    return body();
  } catch (const InvalidArgument& e) {
    PyErr_SetString(PyExc_ValueError, e.message);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const InternalFailure& e) {
    raise_internal_failure(e.message.c_str(), e.where);
  } catch (...) {
    raise_internal_failure("unexpected C++ exception", std::source_location::current());
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Argument binding

// The parameters of one bound function (a `next` or a constructor).
struct Signature {
  const char* class_name;
  const char* function;  // "next" or "__new__"
  const char* const* names;
  Py_ssize_t count;
};

// Binds vector-call arguments (positional values, then one value per keyword name).
bool bind_vector(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject** out) noexcept;

// Binds a tuple of positional arguments and an optional dictionary of keywords.
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) noexcept;

// ---------------------------------------------------------------------------------------------
// Conversions. Each returns false with the Python error set (a TypeError prefixed with
// "argument '<name>': ", other errors unchanged).

QUERNEL_COLD bool to_double_slow(PyObject* object, const char* name, double* out) noexcept;

inline bool to_double(PyObject* object, const char* name, double* out) noexcept {
  if (Py_IS_TYPE(object, &PyFloat_Type)) [[likely]] {
    *out = PyFloat_AS_DOUBLE(object);
    return true;
  }
  return to_double_slow(object, name, out);
}

bool to_word(PyObject* object, const char* name, Word* out) noexcept;

// ---------------------------------------------------------------------------------------------
// Class descriptions and type objects

// Each class provides a description `Cls`:
//   static constexpr const char* qualified_name;   // "builtins.<Class>"
//   using State = ...;                             // the object's own data
//   static constexpr std::array<const char*, N> parameters;   // the constructor's
//   static State create(Args...);                  // checks and builds the state
//   static PyMethodDef methods[];                  // built from the templates below
// The constructor converts its arguments to the parameter types of `create` (Word for
// periods and volumes, double for prices and rates), in order.

template <class Cls>
using InstanceOf = Instance<typename Cls::State>;

template <class Cls>
constexpr const char* class_name() {
  // "builtins.<Class>" -> "<Class>"
  return Cls::qualified_name + sizeof("builtins.") - 1;
}

// One process-wide cell per class, filled with its type object on first need.
template <class Cls>
struct TypeCell {
  static inline PyTypeObject* type = nullptr;
};

// The class's type object, created from its description on first need. Borrowed; null with
// RuntimeError "An error occurred while initializing class <Class>" (chained) on failure.
template <class Cls>
PyTypeObject* type_object() noexcept;

// The receiver as an instance of the class (claim rule 1); null with TypeError set otherwise.
template <class Cls>
inline InstanceOf<Cls>* receiver(PyObject* self) noexcept {
  PyTypeObject* type = TypeCell<Cls>::type;
  if (Py_TYPE(self) == type || PyType_IsSubtype(Py_TYPE(self), type)) [[likely]] {
    return reinterpret_cast<InstanceOf<Cls>*>(self);
  }
  wrong_type(self, class_name<Cls>());
  return nullptr;
}

// A claim on an object, released explicitly (the frame releases claims in a fixed order).
template <class State>
inline bool claim(Instance<State>* object, Claim kind) noexcept {
  return kind == Claim::exclusive ? object->borrow_flag.try_exclusive()
                                  : object->borrow_flag.try_shared();
}
template <class State>
inline void release(Instance<State>* object, Claim kind) noexcept {
  if (kind == Claim::exclusive) {
    object->borrow_flag.release_exclusive();
  } else {
    object->borrow_flag.release_shared();
  }
}

// ---------------------------------------------------------------------------------------------
// Results

// What the class logic returns, and how the frame turns it into a Python object.
// double -> float; Word -> int; Triple -> tuple of three floats; void -> None. Other result
// types (the strategies' signals) provide their own `to_python` overload and
// `result_failure_is_internal` specialisation next to their definition.
using Triple = std::array<double, 3>;

inline PyObject* to_python(double value) noexcept {
  return PyFloat_FromDouble(value);
}
inline PyObject* to_python(Word value) noexcept {
  return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}
PyObject* to_python(const Triple& values) noexcept;

// Whether a failure to create the result is an internal failure (true for floats, ints and
// tuples) or is reported as the interpreter's own error.
template <class R>
inline constexpr bool result_failure_is_internal = true;

// ---------------------------------------------------------------------------------------------
// Entry points

namespace detail {

template <class F>
struct Callable;
template <class R, class S, class A>
struct Callable<R (S::*)(A) noexcept> {
  using Result = R;
  using Input = std::remove_cvref_t<A>;
};
template <class R, class S, class A>
struct Callable<R (*)(S&, A) noexcept> {
  using Result = R;
  using Input = std::remove_cvref_t<A>;
};

template <class F>
struct Factory;
template <class R, class... A>
struct Factory<R (*)(A...)> {
  using Arguments = std::tuple<A...>;
};

// Converts a bound value to the C++ type of the parameter it feeds.
inline bool convert(PyObject* object, const char* name, double* out) noexcept {
  return to_double(object, name, out);
}
inline bool convert(PyObject* object, const char* name, Word* out) noexcept {
  return to_word(object, name, out);
}

template <class Tuple, std::size_t... I>
bool convert_all(PyObject* const* bound, const char* const* names, Tuple& values,
                 std::index_sequence<I...>) noexcept {
  // Left to right, stopping at the first failure.
  return (convert(bound[I], names[I], &std::get<I>(values)) && ...);
}

}  // namespace detail

// Bar arguments (bar.cpp): a shared claim on a Bar passed as argument `name`, held until
// release_bar, or null with the conversion error set.
struct BarPrices;
Instance<BarPrices>* claim_bar(PyObject* object, const char* name) noexcept;
void release_bar(Instance<BarPrices>* bar) noexcept;

// Strategy results (signal.cpp): a new Signal instance for each result. A failure to create
// it is reported as the interpreter's own error.
enum class SignalCode : std::uint8_t;
PyObject* to_python(SignalCode code) noexcept;
template <>
inline constexpr bool result_failure_is_internal<SignalCode> = false;

// `next(input)`: bound through METH_FASTCALL | METH_KEYWORDS, with a direct path for the
// usual call with one positional argument. `Update` is the state's update, taking a double or
// the prices of a Bar.
template <class Cls, auto Update>
PyObject* next_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
  using Traits = detail::Callable<decltype(Update)>;
  using Result = typename Traits::Result;
  static constexpr const char* kNames[] = {"input"};
  static constexpr Signature kSignature{class_name<Cls>(), "next", kNames, 1};

  PyObject* input;
  if (nargs == 1 && kwnames == nullptr) [[likely]] {
    input = args[0];
  } else if (!bind_vector(kSignature, args, nargs, kwnames, &input)) {
    return nullptr;
  }
  InstanceOf<Cls>* object = receiver<Cls>(self);
  if (object == nullptr) [[unlikely]]
    return nullptr;
  if (!object->borrow_flag.try_exclusive()) [[unlikely]]
    return refuse_claim(Claim::exclusive);

  PyObject* result;
  if constexpr (std::is_same_v<typename Traits::Input, double>) {
    double x;
    if (!to_double(input, "input", &x)) [[unlikely]] {
      object->borrow_flag.release_exclusive();
      return nullptr;
    }
    result = to_python(std::invoke(Update, object->state, x));
    object->borrow_flag.release_exclusive();
  } else {
    using Prices = typename Traits::Input;  // BarPrices, complete where a bar class is defined
    Instance<Prices>* bar = claim_bar(input, "input");
    if (bar == nullptr) [[unlikely]] {
      object->borrow_flag.release_exclusive();
      return nullptr;
    }
    result = to_python(std::invoke(Update, object->state, bar->state));
    object->borrow_flag.release_exclusive();
    release_bar(bar);
  }
  if constexpr (result_failure_is_internal<Result>) {
    if (result == nullptr) [[unlikely]]
      return result_failed();
  }
  return result;
}

// A method without parameters (`period`, `reset`, the index queries, Bar's accessors).
// `Body` is a const or non-const member function of the state, or a function taking it.
template <class Cls, auto Body, Claim kind>
PyObject* noargs_entry(PyObject* self, PyObject* /* unused */) noexcept {
  InstanceOf<Cls>* object = receiver<Cls>(self);
  if (object == nullptr) [[unlikely]]
    return nullptr;
  if (!claim(object, kind)) [[unlikely]]
    return refuse_claim(kind);
  using Result = decltype(std::invoke(Body, object->state));
  if constexpr (std::is_void_v<Result>) {
    std::invoke(Body, object->state);
    release(object, kind);
    Py_RETURN_NONE;
  } else {
    PyObject* result = to_python(std::invoke(Body, object->state));
    release(object, kind);
    if (result == nullptr) [[unlikely]]
      return result_failed();
    return result;
  }
}

// The constructor: bind, convert every argument in parameter order, let the class check and
// build its state, then allocate the instance. If the instance cannot be allocated, the state
// (and any window it owns) is released again.
template <class Cls>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return boundary([&]() -> PyObject* {
    using Arguments = typename detail::Factory<decltype(&Cls::create)>::Arguments;
    constexpr std::size_t kCount = std::tuple_size_v<Arguments>;
    static_assert(kCount == Cls::parameters.size());
    static constexpr Signature kSignature{class_name<Cls>(), "__new__", Cls::parameters.data(),
                                          static_cast<Py_ssize_t>(kCount)};
    PyObject* bound[kCount + 1];
    if (!bind_tuple(kSignature, args, kwargs, bound))
      return nullptr;
    Arguments values{};
    if (!detail::convert_all(bound, Cls::parameters.data(), values,
                             std::make_index_sequence<kCount>{})) {
      return nullptr;
    }
    typename Cls::State state = std::apply(Cls::create, values);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr)
      return nullptr;
    auto* object = reinterpret_cast<InstanceOf<Cls>*>(self);
    new (&object->borrow_flag) BorrowFlag();
    new (&object->state) typename Cls::State(std::move(state));
    return self;
  });
}

template <class Cls>
void dealloc_entry(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto* object = reinterpret_cast<InstanceOf<Cls>*>(self);
  std::destroy_at(&object->state);
  std::destroy_at(&object->borrow_flag);
  type->tp_free(self);
  Py_DECREF(type);
}

// Constructor parameters shared by most classes.
struct PeriodParameter {
  static constexpr std::array<const char*, 1> parameters{"period"};
};

// Method-table entries.
template <class Cls, auto Update>
constexpr PyMethodDef next_method() {
  return {"next",
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&next_entry<Cls, Update>)),
          METH_FASTCALL | METH_KEYWORDS, "next($self, input)\n--\n\n"};
}

template <class Cls, auto Body, Claim kind = Claim::exclusive>
constexpr PyMethodDef noargs_method(const char* name, const char* doc) {
  return {name, &noargs_entry<Cls, Body, kind>, METH_NOARGS, doc};
}

template <class Cls>
constexpr PyMethodDef period_method() {
  return noargs_method<Cls, &Cls::State::period>("period", "period($self)\n--\n\n");
}

template <class Cls>
constexpr PyMethodDef reset_method() {
  return noargs_method<Cls, &Cls::State::reset>("reset", "reset($self)\n--\n\n");
}

inline constexpr PyMethodDef kMethodsEnd = {nullptr, nullptr, 0, nullptr};

// ---------------------------------------------------------------------------------------------
// Type objects

// Creates a type: full name "builtins.<Class>", base object, not subclassable, no instance
// dictionary or weak references. A constructible class's docstring carries its text
// signature, made from the constructor's `parameters`; a class without constructor
// (`constructible` false) has no docstring. Returns a new reference or null with the error
// set.
PyTypeObject* make_type(const char* qualified_name, bool constructible,
                        const char* const* parameters, std::size_t count, Py_ssize_t basicsize,
                        const PyType_Slot* slots) noexcept;

// The type of an ordinary class: the constructor, deallocation and its method table.
template <class Cls>
PyTypeObject* standard_type() noexcept {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_entry<Cls>)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<Cls>)},
      {Py_tp_methods, Cls::methods},
      {0, nullptr},
  };
  return make_type(Cls::qualified_name, true, Cls::parameters.data(), Cls::parameters.size(),
                   static_cast<Py_ssize_t>(sizeof(InstanceOf<Cls>)), slots);
}

// Marks a finished type immutable where the interpreter supports it, so that neither its
// methods nor Signal's members can be replaced from Python.
void freeze_type(PyTypeObject* type) noexcept;

// Wraps the pending error in RuntimeError "An error occurred while initializing class <name>".
QUERNEL_COLD void initialisation_failed(const char* name) noexcept;

template <class Cls>
PyTypeObject* type_object() noexcept {
  PyTypeObject*& cell = TypeCell<Cls>::type;
  if (cell != nullptr) [[likely]]
    return cell;
  PyTypeObject* type;
  if constexpr (requires { Cls::make_type(); }) {
    type = Cls::make_type();  // a class with slots of its own (Signal)
  } else {
    type = standard_type<Cls>();
  }
  if (type == nullptr) {
    initialisation_failed(class_name<Cls>());
    return nullptr;
  }
  freeze_type(type);
  cell = type;  // kept for the life of the process
  return cell;
}

}  // namespace quernel
