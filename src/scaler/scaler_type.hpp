// RustScoreScaler: an immutable object holding (decay_exponent, temperature).
#pragma once

#include <Python.h>

#include "arguments/arguments.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// The class, created on first use and kept for the life of the process (borrowed).
PyTypeObject* scaler_type();
// The two numbers of an instance (the caller has checked the type).
ScalerParams scaler_params(PyObject* scaler);
// The factory's parameter table, for its text signature.
const Signature& make_rust_score_scaler_signature();
// make_rust_score_scaler(decay_exponent=1.0, temperature=1.0)
PyObject* make_rust_score_scaler(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
