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
    if (PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        PyErr_Clear();
        text = PyUnicode_FromStringAndSize("", 0);
        if (text) return text;
    }
    raise_api_failure();
    return nullptr;
}

}  // namespace

PyObject* needleman_wunsch_3d(PyObject*, PyObject* args, PyObject* kwargs) {
    Converted c;
    if (!parse_arguments(kSignature, args, kwargs, &c)) return nullptr;
    ScoreTable table;
    if (!build_score_table(c.dict, &table)) return nullptr;
    const AlignmentOptions options = alignment_options(c, 6);
    const std::string_view s1 = c.strings[0], s2 = c.strings[1], s3 = c.strings[2];
    std::uint64_t cells = 0;
    if (__builtin_mul_overflow(s1.size() + 1, s2.size() + 1, &cells) ||
        __builtin_mul_overflow(cells, s3.size() + 1, &cells)) {
        cells = ~std::uint64_t{0};
    }
    auto result = run_engine(cells, [&] { return needleman_wunsch_3d_core(s1, s2, s3, table, options); });
    if (!result) {
        raise_engine_error(result.error());
        return nullptr;
    }
    PyRef rows[3] = {PyRef::steal(row_to_str(result->aligned_seq1)), PyRef(), PyRef()};
    if (!rows[0]) return nullptr;
    rows[1] = PyRef::steal(row_to_str(result->aligned_seq2));
    if (!rows[1]) return nullptr;
    rows[2] = PyRef::steal(row_to_str(result->aligned_seq3));
    if (!rows[2]) return nullptr;
    PyRef score = PyRef::steal(PyFloat_FromDouble(result->score));
    if (!score) return raise_api_failure(), nullptr;
    PyRef tuple = PyRef::steal(PyTuple_New(4));
    if (!tuple) return raise_api_failure(), nullptr;
    for (int k = 0; k < 3; ++k) PyTuple_SetItem(tuple.get(), k, rows[k].release());  // steals
    PyTuple_SetItem(tuple.get(), 3, score.release());
    return tuple.release();
}

}  // namespace vorn
