// needleman_wunsch_batch: one score table and one set of options for many pairs,
// aligned in input order, all or nothing (an interrupted batch returns nothing). The pairs
// are copied out of Python first, so the alignments run without the interpreter lock; one
// workspace serves every pair.
#include "pairwise/entry.hpp"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "arguments/alignment_call.hpp"
#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"
#include "pairwise/group.hpp"

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

    // Every pair's outcome by input index; the batch fails with the first failure in input
    // order. Short pairs go side by side in groups (sorted by length, so that a group's
    // pairs are alike), the rest one by one.
    std::vector<Expected<PairwiseResult>> outcomes;
    std::optional<EngineError> failure;
    std::size_t failed = 0;
    bool out_of_memory = false;
    run_engine(cells, [&](Interruption& interruption) {
        try {
            outcomes.assign(pairs.size(), Expected<PairwiseResult>(PairwiseResult{}));
            std::vector<std::size_t> single, grouped;
            const std::size_t group = pairs_per_group();
            for (std::size_t k = 0; k < pairs.size(); ++k) {
                const bool short_pair = pairs[k].first.size() <= kGroupedLength &&
                                        pairs[k].second.size() <= kGroupedLength;
                (options.group_pairs && can_group(options) && short_pair ? grouped : single)
                    .push_back(k);
            }
            std::stable_sort(grouped.begin(), grouped.end(), [&](std::size_t x, std::size_t y) {
                return pairs[x].first.size() + pairs[x].second.size() <
                       pairs[y].first.size() + pairs[y].second.size();
            });
            GroupWorkspace group_workspace;
            std::string_view seq1[32], seq2[32];
            std::vector<Expected<PairwiseResult>> part(group,
                                                       Expected<PairwiseResult>(PairwiseResult{}));
            for (std::size_t start = 0; start < grouped.size(); start += group) {
                const std::size_t count = std::min(group, grouped.size() - start);
                for (std::size_t t = 0; t < count; ++t) {
                    seq1[t] = pairs[grouped[start + t]].first;
                    seq2[t] = pairs[grouped[start + t]].second;
                }
                if (count < 4 || !align_group(seq1, seq2, count, table, options, group_workspace,
                                              interruption, part.data())) {
                    single.insert(single.end(),
                                  grouped.begin() + static_cast<std::ptrdiff_t>(start),
                                  grouped.begin() + static_cast<std::ptrdiff_t>(start + count));
                    continue;
                }
                for (std::size_t t = 0; t < count; ++t)
                    outcomes[grouped[start + t]] = std::move(part[t]);
                if (interruption.stopped()) break;
            }
            std::sort(single.begin(), single.end());
            PairwiseWorkspace workspace;
            for (std::size_t k : single) {
                if (interruption.stopped()) break;
                const SeqPair& p = pairs[k];
                // One countdown for the whole batch, so that many small pairs are checked
                // as often as one long one; each pair's preparation counts as well.
                if (interruption.tick(static_cast<std::int64_t>(p.first.size() + p.second.size()) +
                                      1)) {
                    break;
                }
                outcomes[k] = needleman_wunsch_core(p.first, p.second, table, options, workspace,
                                                    interruption);
                if (!outcomes[k]) break;
            }
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        }
        if (interruption.stopped()) failure = kInterrupted;
        return 0;
    });
    if (!failure && !out_of_memory) {
        for (std::size_t k = 0; k < outcomes.size(); ++k) {
            if (!outcomes[k]) {
                failure = outcomes[k].error();
                failed = k;
                break;
            }
        }
    }
    if (out_of_memory) failure = kOutOfMemory;
    if (failure) {
        // The failing pair's grid, except for an interruption or when the outcomes
        // themselves could not be had.
        CallSite site{"needleman_wunsch_batch", {0, 0}, 0};
        if (!out_of_memory && failure->kind != ErrorKind::Interrupted) {
            site = CallSite{"needleman_wunsch_batch",
                            {pairs[failed].first.size() + 1, pairs[failed].second.size() + 1},
                            2,
                            static_cast<long long>(failed)};
        }
        raise_engine_error(*failure, site);
        return nullptr;
    }
    std::vector<PairwiseResult> results;
    results.reserve(outcomes.size());
    for (auto& o : outcomes) results.push_back(std::move(*o));

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
