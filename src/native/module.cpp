// quernel._native: batch feeding, peeking and snapshots for the objects of `_quernel`.
//
// `_quernel` stays exactly as it is; this module works on its objects from outside. At import
// it fetches the type objects from `_quernel` and recognises an object by its exact type. It is
// compiled from the same headers with the same options, so an object is the same
// Instance<State> here as there: the same claim flag, taken exactly as `next` takes it, and the
// same state, updated by the very same code.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bar.hpp"
#include "frame.hpp"
#include "native/inputs.hpp"
#include "native/snapshot.hpp"
#include "native/state_access.hpp"
#include "signal.hpp"

namespace quernel {
namespace {

// Batches at least this long run with the interpreter's lock given up; the claim keeps every
// other call off the object meanwhile.
constexpr std::size_t kReleaseLockFrom = 1 << 14;

PyTypeObject* bar_type = nullptr;
PyTypeObject* signal_type = nullptr;

// The name of an object's type as Python shows it.
std::string type_name(PyObject* object) noexcept {
  std::string name = "?";
  PyObject* text =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__");
  const char* utf8 = text != nullptr ? PyUnicode_AsUTF8(text) : nullptr;
  if (utf8 != nullptr)
    name = utf8;
  else
    PyErr_Clear();
  Py_XDECREF(text);
  return name;
}

// ---------------------------------------------------------------------------------------------
// Results

// How a state's results are laid out in a batch's output.
template <class R>
struct Output;
template <>
struct Output<double> {
  using Item = double;
  static constexpr const char* format = "d";
  static constexpr std::size_t columns = 1;
  static void store(Item* out, std::size_t i, double value) noexcept { out[i] = value; }
};
template <>
struct Output<Triple> {
  using Item = double;
  static constexpr const char* format = "d";
  static constexpr std::size_t columns = 3;
  static void store(Item* out, std::size_t i, const Triple& value) noexcept {
    out[3 * i] = value[0];
    out[3 * i + 1] = value[1];
    out[3 * i + 2] = value[2];
  }
};
template <>
struct Output<SignalCode> {
  using Item = unsigned char;
  static constexpr const char* format = "B";
  static constexpr std::size_t columns = 1;
  static void store(Item* out, std::size_t i, SignalCode value) noexcept {
    out[i] = static_cast<unsigned char>(value);
  }
};

// A new buffer for `rows` results: a memoryview of the given format and shape over a bytearray
// of its own, which NumPy and pandas take without a copy. `data` is where the results go.
PyObject* new_output(std::size_t rows, std::size_t columns, std::size_t item_size,
                     const char* format, void** data) noexcept {
  if (rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / columns / item_size)
    return PyErr_NoMemory();
  // A view of no rows cannot be cast to its shape: it is cut from a view of one row instead.
  const std::size_t allocated = rows > 0 ? rows : 1;
  const auto size = static_cast<Py_ssize_t>(allocated * columns * item_size);
  PyObject* storage = PyByteArray_FromStringAndSize(nullptr, size);
  if (storage == nullptr)
    return nullptr;
  *data = PyByteArray_AsString(storage);
  PyObject* view = PyMemoryView_FromObject(storage);
  Py_DECREF(storage);  // the view keeps it
  if (view == nullptr)
    return nullptr;
  PyObject* shaped = columns == 1 ? PyObject_CallMethod(view, "cast", "s", format)
                                  : PyObject_CallMethod(view, "cast", "s(nn)", format,
                                                        static_cast<Py_ssize_t>(allocated),
                                                        static_cast<Py_ssize_t>(columns));
  Py_DECREF(view);
  if (shaped == nullptr || rows > 0)
    return shaped;
  PyObject* zero = PyLong_FromLong(0);
  PyObject* cut = zero != nullptr ? PySlice_New(zero, zero, nullptr) : nullptr;
  PyObject* empty = cut != nullptr ? PyObject_GetItem(shaped, cut) : nullptr;
  Py_XDECREF(cut);
  Py_XDECREF(zero);
  Py_DECREF(shaped);
  return empty;
}

// ---------------------------------------------------------------------------------------------
// The classes

struct ClassEntry {
  const char* name;
  unsigned char tag;  // place in _quernel's registration order, also the snapshot's class byte
  Py_ssize_t instance_size;
  PyObject* (*feed)(PyObject* self, PyObject* const* series, Py_ssize_t count);
  PyObject* (*peek)(PyObject* self, PyObject* input);
  PyObject* (*snapshot)(PyObject* self, unsigned char tag);
  PyObject* (*restore)(PyTypeObject* type, SnapshotReader& in);
  PyTypeObject* type;  // filled at import
};

template <class State>
struct Operations {
  using Object = Instance<State>;
  using Traits = detail::Callable<decltype(&State::update)>;
  using Input = typename Traits::Input;
  using Result = typename Traits::Result;
  using Out = Output<Result>;
  static constexpr bool takes_bars = std::is_same_v<Input, BarPrices>;

  static Object* object(PyObject* self) noexcept { return reinterpret_cast<Object*>(self); }

  // Runs `count` updates, input i from `input(i)`, result i to `out`.
  template <class Inputs>
  //
  // The loop works on a copy of the state on the stack, moved back afterwards: nothing else
  // can point into a local, so the compiler keeps its running fields in registers instead of
  // writing them out and reading them back around every store of a result or a window slot.
  // The arithmetic is the state's own, in the same order.
  static void run(State& state, std::size_t count, Inputs input, typename Out::Item* out) noexcept {
    State local(std::move(state));
    for (std::size_t i = 0; i < count; ++i) Out::store(out, i, local.update(input(i)));
    std::destroy_at(&state);
    new (&state) State(std::move(local));
  }

  template <class Inputs>
  static void run_released(State& state, std::size_t count, Inputs input,
                           typename Out::Item* out) noexcept {
    if (count >= kReleaseLockFrom) {
      Py_BEGIN_ALLOW_THREADS run(state, count, input, out);
      Py_END_ALLOW_THREADS
    } else {
      run(state, count, input, out);
    }
  }

  // feed(obj, values) / feed(obj, bars) / feed(obj, high, low, close). Claims the object, reads
  // and converts every input, makes the output, and only then updates the state.
  static PyObject* feed(PyObject* self, PyObject* const* series, Py_ssize_t count) noexcept {
    Object* target = object(self);
    if constexpr (takes_bars) {
      if (count != 1 && count != 3) {
        PyErr_Format(PyExc_TypeError,
                     "feed() takes a sequence of Bar or three sequences (high, low, close) for "
                     "%s, not %zd sequences",
                     type_name(self).c_str(), count);
        return nullptr;
      }
    } else if (count != 1) {
      PyErr_Format(PyExc_TypeError, "feed() takes one sequence of inputs for %s, not %zd",
                   type_name(self).c_str(), count);
      return nullptr;
    }
    if (!target->borrow_flag.try_exclusive())
      return refuse_claim(Claim::exclusive);
    PyObject* result = feed_claimed(target, series, count);
    target->borrow_flag.release_exclusive();
    return result;
  }

  static PyObject* feed_claimed(Object* target, PyObject* const* series,
                                Py_ssize_t count) noexcept {
    void* data = nullptr;
    if constexpr (takes_bars) {
      if (count == 1) {
        std::vector<BarPrices> bars;
        if (!load_bars(series[0], bars))
          return nullptr;
        PyObject* output = make_output(bars.size(), &data);
        if (output != nullptr) {
          const BarPrices* in = bars.data();
          run_released(
              target->state, bars.size(), [in](std::size_t i) -> const BarPrices& { return in[i]; },
              static_cast<typename Out::Item*>(data));
        }
        return output;
      }
      Doubles high, low, close;
      if (!high.load(series[0], "high", "high") || !low.load(series[1], "low", "low") ||
          !close.load(series[2], "close", "close")) {
        return nullptr;
      }
      if (high.size() != low.size() || high.size() != close.size()) {
        PyErr_Format(PyExc_ValueError,
                     "high, low and close must be equally long, not %zu, %zu and %zu", high.size(),
                     low.size(), close.size());
        return nullptr;
      }
      PyObject* output = make_output(high.size(), &data);
      if (output != nullptr) {
        const double* h = high.data();
        const double* l = low.data();
        const double* c = close.data();
        run_released(
            target->state, high.size(),
            [h, l, c](std::size_t i) {
              return BarPrices{0.0, h[i], l[i], c[i], 0};
            },
            static_cast<typename Out::Item*>(data));
      }
      return output;
    } else {
      Doubles values;
      if (!values.load(series[0], "input", nullptr))
        return nullptr;
      PyObject* output = make_output(values.size(), &data);
      if (output != nullptr) {
        const double* in = values.data();
        run_released(
            target->state, values.size(), [in](std::size_t i) { return in[i]; },
            static_cast<typename Out::Item*>(data));
      }
      return output;
    }
  }

  static PyObject* make_output(std::size_t rows, void** data) noexcept {
    return new_output(rows, Out::columns, sizeof(typename Out::Item), Out::format, data);
  }

  // peek(obj, x): what obj.next(x) would return, from a copy of the state.
  static PyObject* peek(PyObject* self, PyObject* input) noexcept {
    Object* target = object(self);
    if (!target->borrow_flag.try_shared())
      return refuse_claim(Claim::shared);
    Input x;
    if (!convert_input(input, &x)) {
      target->borrow_flag.release_shared();
      return nullptr;
    }
    try {
      State copy = clone(target->state);
      target->borrow_flag.release_shared();
      return to_python(copy.update(x));
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (...) {
      PyErr_SetString(PyExc_SystemError, "the state could not be copied");
    }
    target->borrow_flag.release_shared();
    return nullptr;
  }

  static State clone(State& state) {
    SnapshotWriter out;
    write_state(state, out);
    const std::string bytes = out.take();
    SnapshotReader in(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return read_state<State>(in);
  }

  static PyObject* snapshot(PyObject* self, unsigned char tag) noexcept {
    Object* target = object(self);
    if (!target->borrow_flag.try_shared())
      return refuse_claim(Claim::shared);
    try {
      SnapshotWriter out(tag);
      write_state(target->state, out);
      target->borrow_flag.release_shared();
      const std::string bytes = out.finish();
      return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    } catch (...) {
      target->borrow_flag.release_shared();
      return PyErr_NoMemory();
    }
  }

  // A new object of `type` holding the state read from `in`, allocated as the constructor
  // allocates it.
  static PyObject* restore(PyTypeObject* type, SnapshotReader& in) {
    State state = read_state<State>(in);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr)
      return nullptr;
    Object* created = object(self);
    new (&created->borrow_flag) BorrowFlag();
    new (&created->state) State(std::move(state));
    return self;
  }
};

template <class State>
constexpr ClassEntry entry(const char* name, unsigned char tag) {
  using Ops = Operations<State>;
  return {name,          tag,        static_cast<Py_ssize_t>(sizeof(Instance<State>)),
          &Ops::feed,    &Ops::peek, &Ops::snapshot,
          &Ops::restore, nullptr};
}

// Every class with a state, under its tag: its place in `_quernel`'s registration order.
ClassEntry classes[] = {
    entry<AverageTrueRangeState>("AverageTrueRange", 3),
    entry<ExponentialAverage>("ExponentialMovingAverage", 4),
    entry<Extremum<Highest>>("Maximum", 5),
    entry<Extremum<Lowest>>("Minimum", 6),
    entry<ConvergenceDivergence>("MovingAverageConvergenceDivergence", 7),
    entry<RateOfChangeState>("RateOfChange", 8),
    entry<StrengthIndex>("RelativeStrengthIndex", 9),
    entry<SharpeState>("SharpeRatio", 10),
    entry<SimpleAverage>("SimpleMovingAverage", 11),
    entry<DeviationState>("StandardDeviation", 12),
    entry<TrueRangeState>("TrueRange", 13),
    entry<ExponentialCrossover>("ExponentialMovingAverageCrossover", 14),
    entry<SimpleCrossover>("SimpleMovingAverageCrossover", 15),
};

// The entry of an object's class, or null with TypeError naming what the function takes.
const ClassEntry* class_of(PyObject* object, const char* function) noexcept {
  PyTypeObject* type = Py_TYPE(object);
  for (const ClassEntry& c : classes) {
    if (c.type == type)
      return &c;
  }
  PyErr_Format(PyExc_TypeError, "%s() takes an indicator or a strategy of quernel, not '%s'",
               function, type_name(object).c_str());
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Module functions

PyObject* feed(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs < 2) {
    PyErr_Format(PyExc_TypeError, "feed() takes an object and its inputs (%zd arguments given)",
                 nargs);
    return nullptr;
  }
  const ClassEntry* c = class_of(args[0], "feed");
  return c != nullptr ? c->feed(args[0], args + 1, nargs - 1) : nullptr;
}

PyObject* peek(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "peek() takes 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  const ClassEntry* c = class_of(args[0], "peek");
  return c != nullptr ? c->peek(args[0], args[1]) : nullptr;
}

PyObject* snapshot(PyObject*, PyObject* object) noexcept {
  const ClassEntry* c = class_of(object, "snapshot");
  return c != nullptr ? c->snapshot(object, c->tag) : nullptr;
}

PyObject* invalid_snapshot(const std::string& why) noexcept {
  PyErr_Format(PyExc_ValueError, "invalid quernel snapshot: %s", why.c_str());
  return nullptr;
}

PyObject* restore(PyObject*, PyObject* data) noexcept {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0)
    return nullptr;
  PyObject* result = nullptr;
  try {
    unsigned char tag = 0;
    SnapshotReader in = SnapshotReader::open(static_cast<const unsigned char*>(view.buf),
                                             static_cast<std::size_t>(view.len), &tag);
    const ClassEntry* found = nullptr;
    for (const ClassEntry& c : classes) {
      if (c.tag == tag)
        found = &c;
    }
    if (found == nullptr) {
      invalid_snapshot("class number " + std::to_string(tag) + " is not a class with a state");
    } else {
      result = found->restore(found->type, in);
    }
  } catch (const SnapshotError& e) {
    invalid_snapshot(e.message);
  } catch (const InvalidArgument& e) {
    invalid_snapshot(e.message);
  } catch (const InternalFailure& e) {
    invalid_snapshot(e.message);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    invalid_snapshot("it could not be read");
  }
  PyBuffer_Release(&view);
  return result;
}

PyMethodDef functions[] = {
    {"feed", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed)), METH_FASTCALL,
     "feed($module, obj, /, *inputs)\n--\n\n"
     "Feed a whole sequence to an indicator or strategy and return every result.\n\n"
     "The same as calling obj.next(x) for each x in order, bit for bit, and obj is left where\n"
     "those calls leave it. `inputs` is one sequence of numbers (a float64 buffer is read\n"
     "without a copy), or for TrueRange and AverageTrueRange a sequence of Bar or the three\n"
     "sequences high, low and close. Returns a memoryview: float64 of shape (n,), (n, 3) for\n"
     "MovingAverageConvergenceDivergence, or uint8 signal codes for the strategies."},
    {"peek", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&peek)), METH_FASTCALL,
     "peek($module, obj, input, /)\n--\n\n"
     "Return what obj.next(input) would return, leaving obj unchanged."},
    {"snapshot", &snapshot, METH_O,
     "snapshot($module, obj, /)\n--\n\n"
     "The complete state of an indicator or strategy as bytes (see restore)."},
    {"restore", &restore, METH_O,
     "restore($module, data, /)\n--\n\n"
     "A new object from snapshot bytes; it continues exactly where the original was.\n\n"
     "Raises ValueError for bytes that are not a valid snapshot."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quernel._native",
    "Batch feeding, peeking and snapshots for the objects of _quernel.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The type `name` of `_quernel` (a new reference), checked to be laid out as `size` says.
PyTypeObject* fetch_type(PyObject* module, const char* name, Py_ssize_t size) noexcept {
  PyObject* type = PyObject_GetAttrString(module, name);
  if (type == nullptr)
    return nullptr;
  if (!PyType_Check(type) || reinterpret_cast<PyTypeObject*>(type)->tp_basicsize != size) {
    PyErr_Format(PyExc_ImportError,
                 "quernel._native does not match the _quernel it found: its %s is laid out "
                 "differently (rebuild both from the same sources)",
                 name);
    Py_DECREF(type);
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* initialise() noexcept {
  PyObject* core = PyImport_ImportModule("_quernel");
  if (core == nullptr)
    return nullptr;
  bool ok = true;
  if (bar_type == nullptr) {
    bar_type = fetch_type(core, "Bar", sizeof(Instance<BarPrices>));
    ok = bar_type != nullptr;
  }
  if (ok && signal_type == nullptr) {
    signal_type = fetch_type(core, "Signal", sizeof(Instance<SignalCode>));
    ok = signal_type != nullptr;
  }
  for (ClassEntry& c : classes) {
    if (!ok || c.type != nullptr)
      continue;
    c.type = fetch_type(core, c.name, c.instance_size);  // kept for the life of the process
    ok = c.type != nullptr;
  }
  Py_DECREF(core);
  if (!ok)
    return nullptr;
  return PyModule_Create(&definition);
}

}  // namespace

// The frame's Bar argument and Signal result, for the types of `_quernel` fetched above.

Instance<BarPrices>* claim_bar(PyObject* object, const char* name) noexcept {
  if (Py_TYPE(object) != bar_type && !PyType_IsSubtype(Py_TYPE(object), bar_type)) {
    wrong_type(object, "Bar", name);
    return nullptr;
  }
  auto* bar = reinterpret_cast<Instance<BarPrices>*>(object);
  if (!bar->borrow_flag.try_shared()) {
    refuse_claim(Claim::shared);
    return nullptr;
  }
  return bar;
}

void release_bar(Instance<BarPrices>* bar) noexcept {
  bar->borrow_flag.release_shared();
}

PyObject* to_python(SignalCode code) noexcept {
  PyObject* self = signal_type->tp_alloc(signal_type, 0);
  if (self == nullptr)
    return nullptr;
  auto* signal = reinterpret_cast<Instance<SignalCode>*>(self);
  new (&signal->borrow_flag) BorrowFlag();
  signal->state = code;
  return self;
}

}  // namespace quernel

PyMODINIT_FUNC PyInit__native(void) {
  return quernel::initialise();
}
