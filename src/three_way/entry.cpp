// needleman_wunsch_3d: converts the thirteen arguments, builds the score table, runs
// the three-way engine and returns (row 1, row 2, row 3, score). A row that a gap
// splits inside a multi-byte character is not valid UTF-8 and is returned as "".
#include "three_way/entry.hpp"

#include "arguments/arguments.hpp"
#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"
#include "score_table/build_score_table.hpp"
#include "three_way/core.hpp"

namespace vorn {

namespace {

constexpr Param kParams[] = {
    {"seq1", Kind::String, true},
    {"seq2", Kind::String, true},
    {"seq3", Kind::String, true},
    {"score_matrix", Kind::Dict, true},
    {"gap_open", Kind::Float, false, -5.0},
    {"gap_extend", Kind::Float, false, -1.0},
    {"seq1_left_free", Kind::Flag, false},
    {"seq1_right_free", Kind::Flag, false},
    {"seq2_left_free", Kind::Flag, false},
    {"seq2_right_free", Kind::Flag, false},
    {"seq3_left_free", Kind::Flag, false},
    {"seq3_right_free", Kind::Flag, false},
    {"enable_gap_close_penalty", Kind::Flag, false, 1.0},
};
constexpr Signature kSignature{"needleman_wunsch_3d", kParams, 3, 13};

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

PyObject* needleman_wunsch_3d(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    ScoreTable table;
    AlignmentOptions options;
    if (!prepare_alignment(kSignature, args, kwargs, 6, &c, &table, &options)) return nullptr;
    const std::string_view s1 = c.strings[0], s2 = c.strings[1], s3 = c.strings[2];
    std::uint64_t cells = 0;
    if (__builtin_mul_overflow(s1.size() + 1, s2.size() + 1, &cells) ||
        __builtin_mul_overflow(cells, s3.size() + 1, &cells)) {
        cells = ~std::uint64_t{0};
    }
    auto result = run_engine(cells, [&](Interruption& interruption) {
        return needleman_wunsch_3d_core(s1, s2, s3, table, options, interruption);
    });
    if (!result) {
        raise_engine_error(result.error());
        return nullptr;
    }
    PyRef rows[3];
    const std::string* texts[3] = {&result->aligned_seq1, &result->aligned_seq2, &result->aligned_seq3};
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
