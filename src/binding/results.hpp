// The Python objects a call returns. Each returns null with the internal error raised when the
// host fails to create it (for a str, when the bytes are not valid UTF-8).
#pragma once

#include <Python.h>

#include <string>

namespace vorn {

PyObject* result_str(const std::string& utf8);
PyObject* result_float(double value);
// A tuple taking over the references of `items`.
PyObject* result_tuple(PyObject** items, int n);

}  // namespace vorn
