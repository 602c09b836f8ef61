// The Python entry points of the pairwise engine (needleman_wunsch and the batch) and
// what they share: the keyword parameters and the result conversion.
#pragma once

#include <Python.h>

#include "arguments/arguments.hpp"
#include "pairwise/core.hpp"

namespace vorn {

// The tuple (aligned seq1, aligned seq2, score); on failure the internal error is raised.
PyObject* pairwise_result_to_tuple(const PairwiseResult& result);

// The parameter tables, for the text signatures.
const Signature& needleman_wunsch_signature();
const Signature& needleman_wunsch_batch_signature();

PyObject* needleman_wunsch(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* needleman_wunsch_batch(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
