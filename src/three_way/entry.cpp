// needleman_wunsch_3d: converts the thirteen arguments, builds the score table, runs
// the three-way engine and returns (row 1, row 2, row 3, score). A row that a gap
// splits inside a multi-byte character is not valid UTF-8 and is returned as "".
#include "three_way/entry.hpp"

#include "binding/alignment_call.hpp"
#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/gil.hpp"
#include "binding/py_ref.hpp"
#include "binding/results.hpp"
#include "three_way/core.hpp"

namespace vorn {

namespace {

enum class P {
    Seq1,
    Seq2,
    Seq3,
    ScoreMatrix,
    GapOpen,
    GapExtend,
    Seq1LeftFree,
    Seq1RightFree,
    Seq2LeftFree,
    Seq2RightFree,
    Seq3LeftFree,
    Seq3RightFree,
    EnableGapClosePenalty,
};
constexpr Param kParams[] = {
    {"seq1", Kind::String, true},
    {"seq2", Kind::String, true},
    {"seq3", Kind::String, true},
    {"score_matrix", Kind::Dict, true},
    {"gap_open", Kind::Float, false, -5.0, "..."},
    {"gap_extend", Kind::Float, false, -1.0, "..."},
    {"seq1_left_free", Kind::Flag, false},
    {"seq1_right_free", Kind::Flag, false},
    {"seq2_left_free", Kind::Flag, false},
    {"seq2_right_free", Kind::Flag, false},
    {"seq3_left_free", Kind::Flag, false},
    {"seq3_right_free", Kind::Flag, false},
    {"enable_gap_close_penalty", Kind::Flag, false, 1.0},
};
static_assert(alignment_params_match<P>(kParams) && param_is(kParams, P::Seq1, "seq1") &&
              param_is(kParams, P::Seq2, "seq2") && param_is(kParams, P::Seq3, "seq3"));
constexpr Signature kSignature = make_signature("needleman_wunsch_3d", kParams, 3);

// A row as str, or "" when its bytes are not valid UTF-8; null only when the host
// fails for another reason (the internal error is then raised).
PyObject* row_to_str(const std::string& row) {
    PyObject* text = PyUnicode_FromStringAndSize(row.data(), static_cast<Py_ssize_t>(row.size()));
    if (text) return text;
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        raise_api_failure();
        return nullptr;
    }
    PyErr_Clear();
    return result_str(std::string());
}

}  // namespace

const Signature& needleman_wunsch_3d_signature() { return kSignature; }

PyObject* needleman_wunsch_3d(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    EnginePolicy policy;
    if (!prepare_alignment<P>(kSignature, args, kwargs, &c, &table, &options, &policy))
        return nullptr;
    const std::string_view s1 = c.text(P::Seq1), s2 = c.text(P::Seq2), s3 = c.text(P::Seq3);
    const std::uint64_t cells = grid_cells({s1.size(), s2.size(), s3.size()});
    auto result = run_engine(cells, c, [&](Interruption& interruption) {
        return needleman_wunsch_3d_core(s1, s2, s3, table, options, policy, interruption);
    });
    if (!result) {
        raise_engine_error(
            result.error(),
            CallSite{"needleman_wunsch_3d", {s1.size() + 1, s2.size() + 1, s3.size() + 1}, 3});
        return nullptr;
    }
    PyRef rows[3];
    const std::string* texts[3] = {&result->aligned_seq1, &result->aligned_seq2,
                                   &result->aligned_seq3};
    for (int k = 0; k < 3; ++k) {
        rows[k] = PyRef::steal(row_to_str(*texts[k]));
        if (!rows[k]) return nullptr;
    }
    PyRef score = PyRef::steal(result_float(result->score));
    if (!score) return nullptr;
    PyObject* items[4] = {rows[0].release(), rows[1].release(), rows[2].release(), score.release()};
    return result_tuple(items, 4);
}

}  // namespace vorn
