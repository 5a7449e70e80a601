// Signal: a closed enumeration (BUY, SELL, HOLD) that the strategies return. The three members
// are class attributes made with the type; every strategy result is a new instance that
// equals, but is not, the member of its code. Instances are immutable, compare by code with
// other signals and with integers, cannot be ordered or hashed, and cannot be constructed from
// Python.
#include "signal.hpp"

#include <cstring>

#include "classes.hpp"
#include "frame.hpp"

namespace quernel {
namespace {

struct SignalClass {
  static constexpr const char* qualified_name = "builtins.Signal";
  using State = SignalCode;
  static PyTypeObject* make_type() noexcept;
};

using SignalObject = InstanceOf<SignalClass>;

constexpr const char* kMemberNames[] = {"BUY", "SELL", "HOLD"};
constexpr const char* kTexts[] = {"Signal.BUY", "Signal.SELL", "Signal.HOLD"};

// The strategies make one Signal per call, and callers usually drop it before the next call:
// like the interpreter with its floats, a few released instances are kept for reuse, so a
// result costs no trip through the allocator. (Not on PyPy, whose C-API objects are tied to
// objects of its own, and not in the sanitizer build, which should see every release.)
#if !defined(PYPY_VERSION) && !defined(QUERNEL_CHECKED_BUILD)
#define QUERNEL_KEEP_SIGNALS 1
#else
#define QUERNEL_KEEP_SIGNALS 0
#endif

#if QUERNEL_KEEP_SIGNALS
constexpr int kKeptMax = 16;
PyObject* kept[kKeptMax];
int kept_count = 0;
#endif

PyObject* new_signal(PyTypeObject* type, SignalCode code) noexcept {
  PyObject* self;
#if QUERNEL_KEEP_SIGNALS
  if (kept_count > 0 && type == TypeCell<SignalClass>::type) {
    self = PyObject_Init(kept[--kept_count], type);  // takes a reference to the type
  } else {
    self = type->tp_alloc(type, 0);
  }
#else
  self = type->tp_alloc(type, 0);
#endif
  if (self == nullptr)
    return nullptr;
  auto* object = reinterpret_cast<SignalObject*>(self);
  new (&object->borrow_flag) BorrowFlag();
  object->state = code;
  return self;
}

void dealloc(PyObject* self) noexcept {
#if QUERNEL_KEEP_SIGNALS
  PyTypeObject* type = Py_TYPE(self);
  if (type == TypeCell<SignalClass>::type && kept_count < kKeptMax) {
    kept[kept_count++] = self;
    Py_DECREF(type);
    return;
  }
#endif
  dealloc_entry<SignalClass>(self);
}

// The name of a type as the interpreter reports it, as a new str.
PyObject* type_name(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030B0000 && !defined(PYPY_VERSION)
  return PyType_GetName(type);
#else
  return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__");
#endif
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) noexcept {
  PyObject* name = type_name(type);
  if (name == nullptr) {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "No constructor defined for <unknown>");
    return nullptr;
  }
  PyObject* message = PyUnicode_FromFormat("No constructor defined for %U", name);
  Py_DECREF(name);
  if (message != nullptr) {
    PyErr_SetObject(PyExc_TypeError, message);
    Py_DECREF(message);
  }
  return nullptr;
}

PyObject* repr(PyObject* self) noexcept {
  SignalObject* object = receiver<SignalClass>(self);
  if (object == nullptr)
    return nullptr;
  if (!claim(object, Claim::shared))
    return refuse_claim(Claim::shared);
  const char* text = kTexts[static_cast<std::size_t>(object->state)];
  PyObject* result = PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(strlen(text)));
  release(object, Claim::shared);
  if (result == nullptr)
    return result_failed();
  return result;
}

PyObject* to_int(PyObject* self) noexcept {
  SignalObject* object = receiver<SignalClass>(self);
  if (object == nullptr)
    return nullptr;
  if (!claim(object, Claim::shared))
    return refuse_claim(Claim::shared);
  PyObject* result = PyLong_FromLongLong(static_cast<long long>(object->state));
  release(object, Claim::shared);
  if (result == nullptr)
    return result_failed();
  return result;
}

PyObject* compare_codes(bool equal, int op) noexcept {
  if (op == Py_EQ)
    return PyBool_FromLong(equal);
  if (op == Py_NE)
    return PyBool_FromLong(!equal);
  Py_RETURN_NOTIMPLEMENTED;
}

// Equality with other signals by code and with integers by value; ordering is never handled.
PyObject* richcompare(PyObject* self, PyObject* other, int op) noexcept {
  if (op < Py_LT || op > Py_GE)
    Py_RETURN_NOTIMPLEMENTED;
  SignalObject* object = receiver<SignalClass>(self);
  if (object == nullptr)
    return nullptr;
  if (!claim(object, Claim::shared))
    return refuse_claim(Claim::shared);
  const auto code = static_cast<long long>(object->state);
  PyObject* result;
  PyTypeObject* type = TypeCell<SignalClass>::type;
  if (Py_TYPE(other) == type || PyType_IsSubtype(Py_TYPE(other), type)) {
    auto* operand = reinterpret_cast<SignalObject*>(other);
    if (!claim(operand, Claim::shared)) {
      release(object, Claim::shared);
      return refuse_claim(Claim::shared);
    }
    result = compare_codes(code == static_cast<long long>(operand->state), op);
    release(operand, Claim::shared);
  } else {
    long long value = PyLong_AsLongLong(other);
    if (value == -1 && PyErr_Occurred()) {
      PyErr_Clear();  // not an integer: not handled here
      result = new_reference(Py_NotImplemented);
    } else if (value < PY_SSIZE_T_MIN || value > PY_SSIZE_T_MAX) {
      result = new_reference(Py_NotImplemented);  // beyond a signed machine word
    } else {
      result = compare_codes(code == value, op);
    }
  }
  release(object, Claim::shared);
  return result;
}

PyTypeObject* SignalClass::make_type() noexcept {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&refuse_construction)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(&repr)},
      {Py_nb_int, reinterpret_cast<void*>(&to_int)},
      {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare)},
      {0, nullptr},
  };
  PyTypeObject* type = quernel::make_type(qualified_name, false, nullptr, 0,
                                          static_cast<Py_ssize_t>(sizeof(SignalObject)), slots);
  if (type == nullptr)
    return nullptr;
  for (std::uint8_t code = 0; code < 3; ++code) {
    PyObject* member = new_signal(type, static_cast<SignalCode>(code));
    int stored = member != nullptr ? PyObject_SetAttrString(reinterpret_cast<PyObject*>(type),
                                                            kMemberNames[code], member)
                                   : -1;
    Py_XDECREF(member);
    if (stored < 0) {
      Py_DECREF(type);
      return nullptr;
    }
  }
  return type;
}

}  // namespace

PyTypeObject* signal_type() noexcept {
  return type_object<SignalClass>();
}

PyObject* to_python(SignalCode code) noexcept {
  PyTypeObject* type = type_object<SignalClass>();
  if (type == nullptr) [[unlikely]]
    return nullptr;
  return new_signal(type, code);
}

}  // namespace quernel
