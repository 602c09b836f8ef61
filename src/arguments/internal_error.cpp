// The module's internal-error exception, raised for faults a call cannot continue from
// (a dict mutated while it is read, a size that overflows, the host failing to build a
// result). It derives from BaseException so that `except Exception` does not hide it.
#include <Python.h>

#include <cstdio>
#include <string>

#include "arguments/arguments.hpp"

namespace vorn {

namespace {

PyObject* internal_error_type() {
    static PyObject* type = nullptr;  // created once, kept for the life of the process
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "vorn_rust_native.InternalError",
            "An internal fault of vorn_rust_native from which the call could not continue.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

}  // namespace

void raise_internal(const char* message) {
    std::fprintf(stderr, "vorn_rust_native: internal error: %s\n", message);
    std::fflush(stderr);
    PyObject* type = internal_error_type();
    if (!type) return;  // its creation's exception is pending
    PyErr_SetString(type, message);
}

void raise_api_failure() {
    ensure_error_set();
    PyErr_Print();
    raise_internal("Python API call failed");
}

PyObject* result_str(const std::string& utf8) {
    PyObject* text = PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
    if (!text) raise_api_failure();
    return text;
}

PyObject* result_float(double value) {
    PyObject* number = PyFloat_FromDouble(value);
    if (!number) raise_api_failure();
    return number;
}

PyObject* result_tuple(PyObject** items, int n) {
    PyObject* tuple = PyTuple_New(n);
    if (!tuple) {
        for (int k = 0; k < n; ++k) Py_XDECREF(items[k]);
        raise_api_failure();
        return nullptr;
    }
    for (int k = 0; k < n; ++k) PyTuple_SetItem(tuple, k, items[k]);  // steals
    return tuple;
}

void raise_engine_error(const EngineError& e) {
    switch (e.kind) {
        case ErrorKind::Value:
            PyErr_SetString(PyExc_ValueError, e.message);
            return;
        case ErrorKind::Internal:
            raise_internal(e.message);
            return;
        case ErrorKind::Memory:
            PyErr_NoMemory();
            return;
        case ErrorKind::Interrupted:  // a signal handler's exception is already set
            if (!PyErr_Occurred()) raise_internal("stopped without an exception");
            return;
    }
}

}  // namespace vorn
