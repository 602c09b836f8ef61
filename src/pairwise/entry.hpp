// The Python entry points of the pairwise engine (needleman_wunsch and the batch) and
// what they share: the keyword parameters and the result conversion.
#pragma once

#include <Python.h>

#include "arguments/arguments.hpp"
#include "pairwise/core.hpp"

namespace vorn {

// The keyword-only parameters of needleman_wunsch and needleman_wunsch_batch.
#define VORN_PAIRWISE_KEYWORDS                                                              \
    {"score_matrix", Kind::Dict, true}, {"gap_open", Kind::Float, false, -5.0},            \
        {"gap_extend", Kind::Float, false, -1.0}, {"seq1_left_free", Kind::Flag, false},   \
        {"seq1_right_free", Kind::Flag, false}, {"seq2_left_free", Kind::Flag, false},     \
        {"seq2_right_free", Kind::Flag, false},                                            \
        {"enable_gap_close_penalty", Kind::Flag, false, 1.0},                              \
        {"score_scaler_fn", Kind::Scaler, false }

// The tuple (aligned seq1, aligned seq2, score); on failure the internal error is raised.
PyObject* pairwise_result_to_tuple(const PairwiseResult& result);

PyObject* needleman_wunsch(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* needleman_wunsch_batch(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vorn
