// needleman_wunsch, and the conversion of a pairwise result that the batch shares.
#pragma once

#include <Python.h>

#include "binding/arguments.hpp"
#include "pairwise/core.hpp"

namespace vorn {

// The tuple (aligned seq1, aligned seq2, score); on failure the internal error is raised.
PyObject* pairwise_result_to_tuple(const PairwiseResult& result);

// The parameter table, for the text signature.
const Signature& needleman_wunsch_signature();

PyObject* needleman_wunsch(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
