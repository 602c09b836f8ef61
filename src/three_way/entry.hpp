// The needleman_wunsch_3d entry point.
#pragma once

#include <Python.h>

#include "binding/arguments.hpp"

namespace vorn {

// The parameter table, for the text signature.
const Signature& needleman_wunsch_3d_signature();

PyObject* needleman_wunsch_3d(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
