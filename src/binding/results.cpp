// The Python objects a call returns. When the host fails to create one, the internal
// error is raised with the host's error printed first.
#include "binding/results.hpp"

#include <Python.h>

#include <string>

#include "binding/errors.hpp"

namespace vorn {

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

}  // namespace vorn
