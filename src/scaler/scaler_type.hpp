// RustScoreScaler: an immutable object holding (decay_exponent, temperature).
#pragma once

#include <Python.h>

#include "binding/arguments.hpp"

namespace vorn {

// The class, created on first use and kept for the life of the process (borrowed).
PyTypeObject* scaler_type();

// The conversion of kind Scaler: the two numbers of an instance (an object of another type
// than the class is refused; None never gets here), into `out->scaler`.
bool convert_score_scaler(PyObject* o, Converted* out);

// The score_scaler_fn parameter of the pairwise callables.
inline constexpr Param kScoreScalerParam{"score_scaler_fn", Kind::Scaler,         false, 0.0,
                                         nullptr,           &convert_score_scaler};
// The factory's parameter table, for its text signature.
const Signature& make_rust_score_scaler_signature();
// make_rust_score_scaler(decay_exponent=1.0, temperature=1.0)
PyObject* make_rust_score_scaler(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
