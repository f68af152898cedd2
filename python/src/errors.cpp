// The library's error kinds as Python exceptions, with their messages; an
// error that carries a nested cause gets it as __cause__.
#include <stdexcept>

#include "module.hpp"
#include "tremora/errors.hpp"

namespace tremora::python {
namespace {

// The Python exception type of a library error.
PyObject* python_type(const std::exception& e) {
  if (dynamic_cast<const KeyError*>(&e)) return PyExc_KeyError;
  if (dynamic_cast<const TypeError*>(&e)) return PyExc_TypeError;
  if (dynamic_cast<const FileNotFoundError*>(&e)) return PyExc_FileNotFoundError;
  if (dynamic_cast<const IOError*>(&e)) return PyExc_OSError;
  if (dynamic_cast<const ImportError*>(&e)) return PyExc_ImportError;
  if (dynamic_cast<const std::invalid_argument*>(&e) || dynamic_cast<const std::domain_error*>(&e) ||
      dynamic_cast<const std::out_of_range*>(&e) || dynamic_cast<const ConfigError*>(&e))
    return PyExc_ValueError;
  if (dynamic_cast<const py::builtin_exception*>(&e)) return nullptr;
  return PyExc_RuntimeError;
}

// The exception object of `e` (KeyError keeps the message as its text, not
// as a quoted key).
py::object exception_object(const std::exception& e, PyObject* type) {
  py::object error = py::reinterpret_steal<py::object>(PyObject_CallFunction(type, "s", e.what()));
  if (!error) throw py::error_already_set();
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& cause) {
    if (PyObject* cause_type = python_type(cause)) {
      py::object c = exception_object(cause, cause_type);
      PyException_SetCause(error.ptr(), c.release().ptr());
    }
  } catch (...) {
  }
  return error;
}

}  // namespace

void register_errors(py::module_&) {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const py::error_already_set&) {
      throw;
    } catch (const py::builtin_exception&) {
      throw;
    } catch (const std::exception& e) {
      PyObject* type = python_type(e);
      if (!type) throw;
      py::object error = exception_object(e, type);
      PyErr_SetObject(type, error.ptr());
    }
  });
}

}  // namespace tremora::python
