// The needleman_wunsch_3d entry point.
#pragma once

#include <Python.h>

namespace vorn {

PyObject* needleman_wunsch_3d(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
