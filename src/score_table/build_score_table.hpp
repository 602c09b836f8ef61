// Building the ScoreTable from a score_matrix dict of dicts.
#pragma once

#include <Python.h>

#include <cstdint>

#include "binding/arguments.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// Reads `score_matrix` (already known to be a dict) into `table`; false with the
// exception set on the first bad key or value, in iteration order.
bool build_score_table(PyObject* score_matrix, ScoreTable* table);

// One key: a str of exactly one UTF-8 byte, upper-cased.
bool extract_ascii_base(PyObject* key, std::uint8_t* out);

}  // namespace vorn
