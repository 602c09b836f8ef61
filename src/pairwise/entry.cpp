// needleman_wunsch: converts the arguments, builds the score table, runs the engine
// once and returns (aligned seq1, aligned seq2, score).
#include "pairwise/entry.hpp"

#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"
#include "arguments/traceback_pin.hpp"
#include "score_table/build_score_table.hpp"

namespace vorn {

namespace {

constexpr Param kParams[] = {
    {"seq1", Kind::String, true},
    {"seq2", Kind::String, true},
    VORN_PAIRWISE_KEYWORDS,
};
constexpr Signature kSignature{"needleman_wunsch", kParams, 2, 11};

}  // namespace

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
    if (!prepare_alignment(kSignature, args, kwargs, 4, &c, &table, &options)) return nullptr;
    read_traceback_pin(&options);
    const std::string_view seq1 = c.strings[0], seq2 = c.strings[1];
    const std::uint64_t cells = (seq1.size() + 1) * static_cast<std::uint64_t>(seq2.size() + 1);
    auto result = run_engine(cells, [&] { return needleman_wunsch_core(seq1, seq2, table, options); });
    if (!result) {
        raise_engine_error(result.error());
        return nullptr;
    }
    return pairwise_result_to_tuple(*result);
}

}  // namespace vorn
