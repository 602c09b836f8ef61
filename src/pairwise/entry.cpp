// needleman_wunsch: converts the arguments, builds the score table, runs the engine
// once and returns (aligned seq1, aligned seq2, score).
#include "pairwise/entry.hpp"

#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"
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
    PyRef first = PyRef::steal(PyUnicode_FromStringAndSize(
        result.aligned_seq1.data(), static_cast<Py_ssize_t>(result.aligned_seq1.size())));
    if (!first) return raise_api_failure(), nullptr;
    PyRef second = PyRef::steal(PyUnicode_FromStringAndSize(
        result.aligned_seq2.data(), static_cast<Py_ssize_t>(result.aligned_seq2.size())));
    if (!second) return raise_api_failure(), nullptr;
    PyRef score = PyRef::steal(PyFloat_FromDouble(result.score));
    if (!score) return raise_api_failure(), nullptr;
    PyRef tuple = PyRef::steal(PyTuple_New(3));
    if (!tuple) return raise_api_failure(), nullptr;
    PyTuple_SetItem(tuple.get(), 0, first.release());  // steals
    PyTuple_SetItem(tuple.get(), 1, second.release());
    PyTuple_SetItem(tuple.get(), 2, score.release());
    return tuple.release();
}

PyObject* needleman_wunsch(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    if (!parse_arguments(kSignature, args, kwargs, &c)) return nullptr;
    ScoreTable table;
    if (!build_score_table(c.dict, &table)) return nullptr;
    const AlignmentOptions options = alignment_options(c, 4);
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
