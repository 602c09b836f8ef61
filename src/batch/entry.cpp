// needleman_wunsch_batch: one score table and one set of options for many pairs,
// aligned in input order, all or nothing (an interrupted batch returns nothing). The pairs
// are copied out of Python first, so the alignments run without the interpreter lock; one
// workspace serves every pair.
#include "pairwise/entry.hpp"

#include <new>
#include <optional>
#include <vector>

#include "arguments/alignment_call.hpp"
#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"

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
};
static_assert(alignment_params_match<P>(kParams) && param_is(kParams, P::SeqPairs, "seq_pairs"));
constexpr Signature kSignature = make_signature("needleman_wunsch_batch", kParams, 1);

}  // namespace

const Signature& needleman_wunsch_batch_signature() { return kSignature; }

PyObject* needleman_wunsch_batch(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    if (!prepare_alignment<P>(kSignature, args, kwargs, &c, &table, &options)) return nullptr;

    std::vector<SeqPair> pairs = std::move(c.pairs);
    std::uint64_t cells = 0;
    for (const SeqPair& p : pairs)
        cells = saturating_add(cells, grid_cells({p.first.size(), p.second.size()}));

    std::vector<PairwiseResult> results;
    std::optional<EngineError> failure;
    run_engine(cells, [&](Interruption& interruption) {
        try {  // the result records can fail to grow
            results.reserve(pairs.size());
            PairwiseWorkspace workspace;
            for (SeqPair& p : pairs) {
                // One countdown for the whole batch, so that many small pairs are checked
                // as often as one long one; each pair's preparation counts as well.
                if (interruption.tick(static_cast<std::int64_t>(p.first.size() + p.second.size()) +
                                      1)) {
                    failure = kInterrupted;
                    return 0;
                }
                auto r = needleman_wunsch_core(p.first, p.second, table, options, workspace,
                                               interruption);
                if (!r) {
                    failure = r.error();
                    return 0;
                }
                results.push_back(std::move(*r));
                std::string().swap(p.first);  // the pair's input is no longer needed
                std::string().swap(p.second);
            }
        } catch (const std::bad_alloc&) {
            failure = kOutOfMemory;
        }
        return 0;
    });
    if (failure) {
        // The pair that failed is the first without a result (its strings are still there);
        // none when the result records themselves could not be reserved.
        CallSite site{"needleman_wunsch_batch", {0, 0}, 0};
        const std::size_t k = results.size();
        if (k < pairs.size() && results.capacity() >= pairs.size()) {
            site = CallSite{"needleman_wunsch_batch",
                            {pairs[k].first.size() + 1, pairs[k].second.size() + 1},
                            2,
                            static_cast<long long>(k)};
        }
        raise_engine_error(*failure, site);
        return nullptr;
    }

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
