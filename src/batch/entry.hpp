// needleman_wunsch_batch: many pairs with one score table and one set of options.
#pragma once

#include <Python.h>

#include "binding/arguments.hpp"

namespace vorn {

// The parameter table, for the text signature.
const Signature& needleman_wunsch_batch_signature();

PyObject* needleman_wunsch_batch(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
