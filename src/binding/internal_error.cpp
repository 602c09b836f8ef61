// The module's internal-error exception, raised for faults a call cannot continue from
// (a dict mutated while it is read, a size that overflows, the host failing to build a
// result). It derives from BaseException so that `except Exception` does not hide it.
#include <Python.h>

#include <cstdio>
#include <string>

#include "binding/errors.hpp"

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

}  // namespace vorn
