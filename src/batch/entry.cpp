// needleman_wunsch_batch: one score table and one set of options for many pairs,
// aligned in input order, all or nothing. The pairs are copied out of Python first, so
// the alignments run without the interpreter lock; one workspace serves every pair.
#include <new>
#include <optional>
#include <vector>

#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"
#include "arguments/traceback_pin.hpp"
#include "pairwise/entry.hpp"
#include "score_table/build_score_table.hpp"

namespace vorn {

namespace {

constexpr Param kParams[] = {
    {"seq_pairs", Kind::SeqPairs, true},
    VORN_PAIRWISE_KEYWORDS,
};
constexpr Signature kSignature{"needleman_wunsch_batch", kParams, 1, 10};

}  // namespace

PyObject* needleman_wunsch_batch(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    if (!prepare_alignment(kSignature, args, kwargs, 4, &c, &table, &options)) return nullptr;
    read_traceback_pin(&options);

    std::vector<SeqPair> pairs = std::move(c.pairs);
    std::uint64_t cells = 0;
    for (const SeqPair& p : pairs) cells += (p.first.size() + 1) * static_cast<std::uint64_t>(p.second.size() + 1);

    std::vector<PairwiseResult> results;
    std::optional<EngineError> failure;
    run_engine(cells, [&] {
        try {  // the result records can fail to grow
            results.reserve(pairs.size());
            PairwiseWorkspace workspace;
            for (SeqPair& p : pairs) {
                auto r = needleman_wunsch_core(p.first, p.second, table, options, workspace);
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
        raise_engine_error(*failure);
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
