// The start of every alignment call, shared by the pairwise, batch and three-way entries:
// their common keyword parameters, matching and converting the arguments, building the
// score table, gathering the engine's options and applying the test switches.
#pragma once

#include <Python.h>

#include <cstddef>

#include "binding/arguments.hpp"
#include "binding/switches.hpp"
#include "score_table/build_score_table.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// The keyword-only parameters of needleman_wunsch and needleman_wunsch_batch after their
// strings, but the scaler (kScoreScalerParam, last).
// clang-format off
#define VORN_PAIRWISE_KEYWORDS                          \
    {"score_matrix", Kind::Dict, true},                 \
    {"gap_open", Kind::Float, false, -5.0, "..."},      \
    {"gap_extend", Kind::Float, false, -1.0, "..."},    \
    {"seq1_left_free", Kind::Flag, false},              \
    {"seq1_right_free", Kind::Flag, false},             \
    {"seq2_left_free", Kind::Flag, false},              \
    {"seq2_right_free", Kind::Flag, false},             \
    {"enable_gap_close_penalty", Kind::Flag, false, 1.0}
// clang-format on

template <class P>
concept HasThirdString = requires {
    P::Seq3LeftFree;
};
template <class P>
concept HasScaler = requires {
    P::ScoreScalerFn;
};

// Whether an alignment callable's parameter enum `P` names the positions of its table
// `params`: every keyword it reads at its place, and nothing after the last one.
template <class P, std::size_t N>
constexpr bool alignment_params_match(const Param (&params)[N]) {
    bool ok = param_is(params, P::ScoreMatrix, "score_matrix") &&
              param_is(params, P::GapOpen, "gap_open") &&
              param_is(params, P::GapExtend, "gap_extend") &&
              param_is(params, P::Seq1LeftFree, "seq1_left_free") &&
              param_is(params, P::Seq1RightFree, "seq1_right_free") &&
              param_is(params, P::Seq2LeftFree, "seq2_left_free") &&
              param_is(params, P::Seq2RightFree, "seq2_right_free") &&
              param_is(params, P::EnableGapClosePenalty, "enable_gap_close_penalty");
    if constexpr (HasThirdString<P>) {
        ok = ok && param_is(params, P::Seq3LeftFree, "seq3_left_free") &&
             param_is(params, P::Seq3RightFree, "seq3_right_free") &&
             static_cast<std::size_t>(P::EnableGapClosePenalty) + 1 == N;
    }
    if constexpr (HasScaler<P>) {
        ok = ok && param_is(params, P::ScoreScalerFn, "score_scaler_fn") &&
             static_cast<std::size_t>(P::ScoreScalerFn) + 1 == N;
    }
    return ok;
}

// The engine's options from the converted keyword arguments.
template <class P>
AlignmentOptions alignment_options(const Converted& c) {
    AlignmentOptions o;
    o.gap_open = c.real(P::GapOpen);
    o.gap_extend = c.real(P::GapExtend);
    o.seq1_left_free = c.flag(P::Seq1LeftFree);
    o.seq1_right_free = c.flag(P::Seq1RightFree);
    o.seq2_left_free = c.flag(P::Seq2LeftFree);
    o.seq2_right_free = c.flag(P::Seq2RightFree);
    if constexpr (HasThirdString<P>) {
        o.seq3_left_free = c.flag(P::Seq3LeftFree);
        o.seq3_right_free = c.flag(P::Seq3RightFree);
    }
    o.enable_gap_close_penalty = c.flag(P::EnableGapClosePenalty);
    o.scaler = c.scaler;
    return o;
}

// Match and convert the arguments, build the table, gather the options, read the test
// switches into the call's policy; false with the exception set at the first failure, in
// that order.
template <class P>
bool prepare_alignment(const Signature& sig, PyObject* args, PyObject* kwargs, Converted* converted,
                       ScoreTable* table, AlignmentOptions* options, EnginePolicy* policy) {
    if (!parse_arguments(sig, args, kwargs, converted)) return false;
    if (!build_score_table(converted->dict, table)) return false;
    *options = alignment_options<P>(*converted);
    return read_policy(policy);
}

}  // namespace vorn
