// The cold half of the frame: binding errors, slow conversions, claim refusals, internal
// failures and type creation. The hot paths are inline in frame.hpp.
#include "frame.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quernel {

// ---------------------------------------------------------------------------------------------
// Interpreter compatibility

PyObject* take_error() noexcept {
#if PY_VERSION_HEX >= 0x030C0000 && !defined(PYPY_VERSION)
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr)
    return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr)
    PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

void restore_error(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000 && !defined(PYPY_VERSION)
  PyErr_SetRaisedException(exception);
#else
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
  Py_INCREF(type);
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

namespace {

// The qualified name of an object's type, as a new str.
PyObject* type_qualname(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030B0000 && !defined(PYPY_VERSION)
  return PyType_GetQualName(type);
#else
  return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__");
#endif
}

void set_type_error(const std::string& message) noexcept {
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

std::string display_name(const Signature& sig) {
  return std::string(sig.class_name) + "." + sig.function + "()";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Errors

PyObject* refuse_claim(Claim wanted) noexcept {
  PyErr_SetString(PyExc_RuntimeError,
                  wanted == Claim::exclusive ? "Already borrowed" : "Already mutably borrowed");
  return nullptr;
}

PyObject* wrong_type(PyObject* object, const char* class_name, const char* argument) noexcept {
  PyObject* name = type_qualname(Py_TYPE(object));
  if (name == nullptr) {
    PyErr_Clear();
    name = PyUnicode_FromString("<failed to extract type name>");
    if (name == nullptr)
      return nullptr;
  }
  PyObject* message =
      argument == nullptr
          ? PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", name, class_name)
          : PyUnicode_FromFormat("argument '%s': '%U' object cannot be converted to '%s'", argument,
                                 name, class_name);
  Py_DECREF(name);
  if (message != nullptr) {
    PyErr_SetObject(PyExc_TypeError, message);
    Py_DECREF(message);
  }
  return nullptr;
}

namespace {

PyObject* internal_panic_type = nullptr;  // created on first need, kept for good
bool reporting_internal_failure = false;

[[noreturn]] void abort_second_failure() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::fflush(stderr);
  std::abort();
}

// The path of a source file from the project's `src/` directory on.
const char* source_path(const char* file) noexcept {
  const char* found = nullptr;
  for (const char* p = std::strstr(file, "src/"); p != nullptr; p = std::strstr(p + 1, "src/")) {
    found = p;
  }
  return found != nullptr ? found : file;
}

}  // namespace

PyObject* raise_internal_failure(const char* message, const std::source_location& where) noexcept {
  if (reporting_internal_failure)
    abort_second_failure();
  reporting_internal_failure = true;
  std::fprintf(stderr, "quernel: internal failure at %s:%u: %s\n", source_path(where.file_name()),
               static_cast<unsigned>(where.line()), message);
  std::fflush(stderr);
  if (internal_panic_type == nullptr) {
    internal_panic_type = PyErr_NewExceptionWithDoc(
        "_quernel.InternalPanic",
        "An internal failure of the quernel module: a condition its own code cannot recover "
        "from.\n\nIt derives from BaseException, so `except Exception` does not catch it and "
        "it normally propagates to the top.",
        PyExc_BaseException, nullptr);
    if (internal_panic_type == nullptr)
      abort_second_failure();
  }
  PyErr_SetString(internal_panic_type, message);
  reporting_internal_failure = false;
  return nullptr;
}

PyObject* result_failed(std::source_location where) noexcept {
  if (PyErr_Occurred())
    PyErr_Print();
  return raise_internal_failure("Python API call failed", where);
}

void initialisation_failed(const char* name) noexcept {
  PyObject* cause = take_error();
  if (cause == nullptr) {
    // The host failed without saying why.
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    cause = take_error();
  }
  std::string message = std::string("An error occurred while initializing class ") + name;
  PyObject* text = PyUnicode_FromString(message.c_str());
  PyObject* error = text ? PyObject_CallOneArg(PyExc_RuntimeError, text) : nullptr;
  Py_XDECREF(text);
  if (error == nullptr) {
    Py_XDECREF(cause);
    return;  // the failure to build the error is what is raised
  }
  if (cause != nullptr)
    PyException_SetCause(error, cause);  // steals `cause`
  restore_error(error);
}

// ---------------------------------------------------------------------------------------------
// Binding

namespace {

Py_ssize_t find_parameter(const Signature& sig, PyObject* keyword) noexcept {
  if (!PyUnicode_Check(keyword))
    return -1;
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(keyword, sig.names[i]) == 0)
      return i;
  }
  return -1;
}

// Binding rule 1: too many positional arguments.
bool check_positional(const Signature& sig, Py_ssize_t nargs) noexcept {
  if (nargs <= sig.count)
    return true;
  set_type_error(display_name(sig) + " takes " + std::to_string(sig.count) +
                 " positional arguments but " + std::to_string(nargs) +
                 (nargs == 1 ? " was" : " were") + " given");
  return false;
}

// Binding rule 2: one keyword argument.
bool bind_keyword(const Signature& sig, PyObject* keyword, PyObject* value,
                  PyObject** out) noexcept {
  Py_ssize_t i = find_parameter(sig, keyword);
  if (i < 0) {
    PyObject* text = PyObject_Str(keyword);
    if (text == nullptr)
      return false;
    std::string display = display_name(sig);
    PyObject* message =
        PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", display.c_str(), text);
    Py_DECREF(text);
    if (message != nullptr) {
      PyErr_SetObject(PyExc_TypeError, message);
      Py_DECREF(message);
    }
    return false;
  }
  if (out[i] != nullptr) {
    set_type_error(display_name(sig) + " got multiple values for argument '" + sig.names[i] + "'");
    return false;
  }
  out[i] = value;
  return true;
}

// Binding rule 3: parameters left unfilled.
bool check_missing(const Signature& sig, PyObject* const* out) noexcept {
  std::vector<const char*> missing;
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    if (out[i] == nullptr)
      missing.push_back(sig.names[i]);
  }
  if (missing.empty())
    return true;
  std::string list;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) {
      if (missing.size() == 2) {
        list += " and ";
      } else {
        list += i + 1 == missing.size() ? ", and " : ", ";
      }
    }
    list += std::string("'") + missing[i] + "'";
  }
  set_type_error(display_name(sig) + " missing " + std::to_string(missing.size()) +
                 " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " + list);
  return false;
}

}  // namespace

bool bind_vector(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject** out) noexcept {
  if (!check_positional(sig, nargs))
    return false;
  for (Py_ssize_t i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  if (kwnames != nullptr) {
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < count; ++k) {
      if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out))
        return false;
    }
  }
  return check_missing(sig, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) noexcept {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (!check_positional(sig, nargs))
    return false;
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    out[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
  }
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject *keyword, *value;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) {
      if (!bind_keyword(sig, keyword, value, out))
        return false;
    }
  }
  return check_missing(sig, out);
}

// ---------------------------------------------------------------------------------------------
// Conversions

void raise_rewritten(PyObject* error, PyObject* type, PyObject* message) noexcept {
  PyObject* replacement = message != nullptr ? PyObject_CallOneArg(type, message) : nullptr;
  Py_XDECREF(message);
  if (replacement == nullptr) {
    Py_DECREF(error);  // the failure to build the replacement is what is raised
    return;
  }
  PyObject* cause = PyException_GetCause(error);
  if (cause != nullptr)
    PyException_SetCause(replacement, cause);  // steals `cause`
  Py_DECREF(error);
  PyErr_SetObject(type, replacement);
  Py_DECREF(replacement);
}

namespace {

// The prefix rule: a TypeError (exactly that type) raised while converting the argument
// `name` is replaced by "argument '<name>': <its text>", keeping its cause. Any other error
// stays as it is.
void prefix_type_error(const char* name) noexcept {
  PyObject* error = take_error();
  if (error == nullptr)
    return;
  if (!Py_IS_TYPE(error, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    restore_error(error);
    return;
  }
  PyObject* text = PyObject_Str(error);
  PyObject* message =
      text != nullptr ? PyUnicode_FromFormat("argument '%s': %U", name, text) : nullptr;
  Py_XDECREF(text);
  raise_rewritten(error, PyExc_TypeError, message);
}

}  // namespace

bool to_double_slow(PyObject* object, const char* name, double* out) noexcept {
  double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  *out = value;
  return true;
}

bool to_word(PyObject* object, const char* name, Word* out) noexcept {
  unsigned long long value;
  if (PyLong_Check(object)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    PyObject* index = PyNumber_Index(object);
    if (index == nullptr) {
      prefix_type_error(name);
      return false;
    }
    value = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  if constexpr (SIZE_MAX < ULLONG_MAX) {
    if (value > SIZE_MAX) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      return false;
    }
  }
  *out = static_cast<Word>(value);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Results

PyObject* to_python(const Triple& values) noexcept {
  PyObject* tuple = PyTuple_New(3);
  if (tuple == nullptr)
    return nullptr;
  for (Py_ssize_t i = 0; i < 3; ++i) {
    PyObject* item = PyFloat_FromDouble(values[static_cast<std::size_t>(i)]);
    if (item == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, i, item);
  }
  return tuple;
}

// ---------------------------------------------------------------------------------------------
// Type objects

PyTypeObject* make_type(const char* qualified_name, bool constructible,
                        const char* const* parameters, std::size_t count, Py_ssize_t basicsize,
                        const PyType_Slot* slots) noexcept {
  std::vector<PyType_Slot> all;
  for (const PyType_Slot* slot = slots; slot->slot != 0; ++slot) all.push_back(*slot);
  std::string doc;
  if (constructible) {
    // "<Class>(<parameters>)\n--\n\n": the interpreter reads the text signature from it.
    doc = std::string(qualified_name + sizeof("builtins.") - 1) + "(";
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0)
        doc += ", ";
      doc += parameters[i];
    }
    doc += ")\n--\n\n";
#if defined(PYPY_VERSION)
    // PyPy keeps pointing at the text instead of copying it: it must live as long as the
    // type, that is, for the life of the process.
    char* kept = new (std::nothrow) char[doc.size() + 1];
    if (kept == nullptr) {
      PyErr_NoMemory();
      return nullptr;
    }
    std::memcpy(kept, doc.c_str(), doc.size() + 1);
    all.push_back({Py_tp_doc, kept});
#else
    // CPython copies the text into the type; ours is freed on return.
    all.push_back({Py_tp_doc, doc.data()});
#endif
  }
  all.push_back({0, nullptr});
  PyType_Spec spec{qualified_name, static_cast<int>(basicsize), 0, Py_TPFLAGS_DEFAULT, all.data()};
  auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
#if PY_VERSION_HEX < 0x030A0000 && !defined(PYPY_VERSION)
  // CPython 3.9 copies the docstring without its signature, and reads the class's text
  // signature from that copy: give the type the whole text (the type frees it with
  // PyObject_Free, should it ever be released).
  if (type != nullptr && constructible) {
    auto* whole = static_cast<char*>(PyObject_Malloc(doc.size() + 1));
    if (whole == nullptr) {
      Py_DECREF(type);
      PyErr_NoMemory();
      return nullptr;
    }
    std::memcpy(whole, doc.c_str(), doc.size() + 1);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = whole;
  }
#endif
  return type;
}

void freeze_type(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030A0000 && !defined(PYPY_VERSION)
  type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  PyType_Modified(type);
#else
  (void)type;
#endif
}

}  // namespace quernel
