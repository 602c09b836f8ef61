// needleman_wunsch_batch: one score table and one set of options for many pairs, all or
// nothing (an interrupted batch returns nothing). The pairs are copied out of Python first,
// so that align_batch runs them without the interpreter lock, on as many threads as the
// thread switch allows; the results come back in input order.
#include "batch/entry.hpp"

#include <optional>
#include <vector>

#include "batch/batch_core.hpp"
#include "binding/alignment_call.hpp"
#include "binding/errors.hpp"
#include "binding/gil.hpp"
#include "binding/py_ref.hpp"
#include "binding/results.hpp"
#include "binding/switches.hpp"
#include "common/checked_size.hpp"
#include "pairwise/entry.hpp"
#include "scaler/scaler_type.hpp"

namespace vorn {

namespace {

enum class P {
    SeqPairs,
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
    {"seq_pairs", Kind::SeqPairs, true},
    VORN_PAIRWISE_KEYWORDS,
    kScoreScalerParam,
};
static_assert(alignment_params_match<P>(kParams) && param_is(kParams, P::SeqPairs, "seq_pairs"));
constexpr Signature kSignature = make_signature("needleman_wunsch_batch", kParams, 1);

}  // namespace

const Signature& needleman_wunsch_batch_signature() { return kSignature; }

PyObject* needleman_wunsch_batch(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    EnginePolicy policy;
    if (!prepare_alignment<P>(kSignature, args, kwargs, &c, &table, &options, &policy))
        return nullptr;
    if (!read_thread_count(&policy)) return nullptr;

    std::vector<SeqPair> pairs = std::move(c.pairs);
    std::uint64_t cells = 0;
    for (const SeqPair& p : pairs)
        cells = saturating_add(cells, grid_cells({p.first.size(), p.second.size()}));

    BatchOutcome outcome = run_engine(cells, c, [&](Interruption& interruption) {
        return align_batch(pairs, table, options, policy, interruption);
    });
    if (const std::optional<BatchFailure>& failure = outcome.failure) {
        CallSite site{"needleman_wunsch_batch", {0, 0}, 0};
        if (failure->pair != kNoPair) {
            site = CallSite{"needleman_wunsch_batch",
                            {failure->len1 + 1, failure->len2 + 1},
                            2,
                            static_cast<long long>(failure->pair)};
        }
        raise_engine_error(failure->error, site);
        return nullptr;
    }

    std::vector<PairwiseResult>& results = outcome.results;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(results.size())));
    if (!list) {
        raise_api_failure();
        return nullptr;
    }
    for (std::size_t k = 0; k < results.size(); ++k) {
        PyObject* tuple = pairwise_result_to_tuple(results[k]);
        if (!tuple) return nullptr;  // the internal error is raised; the list is released
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), tuple);  // steals
        results[k] = PairwiseResult{};
    }
    return list.release();
}

}  // namespace vorn
