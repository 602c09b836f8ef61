// needleman_wunsch: converts the arguments, builds the score table, runs the engine
// once and returns (aligned seq1, aligned seq2, score).
#include "pairwise/entry.hpp"

#include "binding/alignment_call.hpp"
#include "binding/errors.hpp"
#include "binding/gil.hpp"
#include "binding/py_ref.hpp"
#include "binding/results.hpp"
#include "scaler/scaler_type.hpp"

namespace vorn {

namespace {

enum class P {
    Seq1,
    Seq2,
    ScoreMatrix,
    GapOpen,
    GapExtend,
    Seq1LeftFree,
    Seq1RightFree,
    Seq2LeftFree,
    Seq2RightFree,
    EnableGapClosePenalty,
    ScoreScalerFn,
};
constexpr Param kParams[] = {
    {"seq1", Kind::String, true},
    {"seq2", Kind::String, true},
    VORN_PAIRWISE_KEYWORDS,
    kScoreScalerParam,
};
static_assert(alignment_params_match<P>(kParams) && param_is(kParams, P::Seq1, "seq1") &&
              param_is(kParams, P::Seq2, "seq2"));
constexpr Signature kSignature = make_signature("needleman_wunsch", kParams, 2);

}  // namespace

const Signature& needleman_wunsch_signature() { return kSignature; }

PyObject* pairwise_result_to_tuple(const PairwiseResult& result) {
    PyRef first = PyRef::steal(result_str(result.aligned_seq1));
    if (!first) return nullptr;
    PyRef second = PyRef::steal(result_str(result.aligned_seq2));
    if (!second) return nullptr;
    PyRef score = PyRef::steal(result_float(result.score));
    if (!score) return nullptr;
    PyObject* items[3] = {first.release(), second.release(), score.release()};
    return result_tuple(items, 3);
}

PyObject* needleman_wunsch(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    EnginePolicy policy;
    if (!prepare_alignment<P>(kSignature, args, kwargs, &c, &table, &options, &policy))
        return nullptr;
    const std::string_view seq1 = c.text(P::Seq1), seq2 = c.text(P::Seq2);
    const std::uint64_t cells = grid_cells({seq1.size(), seq2.size()});
    auto result = run_engine(cells, c, [&](Interruption& interruption) {
        return needleman_wunsch_core(seq1, seq2, table, options, policy, interruption);
    });
    if (!result) {
        raise_engine_error(result.error(),
                           CallSite{"needleman_wunsch", {seq1.size() + 1, seq2.size() + 1}, 2});
        return nullptr;
    }
    return pairwise_result_to_tuple(*result);
}

}  // namespace vorn
