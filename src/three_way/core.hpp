// needleman_wunsch_3d_core: sum-of-pairs alignment of three byte strings over a
// three-dimensional grid with seven column states. Plain C++.
#pragma once

#include <string>
#include <string_view>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"
#include "common/expected.hpp"
#include "common/interruption.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

struct ThreeWayResult {
    std::string aligned_seq1;
    std::string aligned_seq2;
    std::string aligned_seq3;
    double score;
};

// Returns kInterrupted as soon as `interruption` asks to stop. policy.three_way_outer forces
// the string the fill runs outermost (0, 1 or 2; -1: chosen by the lengths): the order never
// changes a result, only the memory of the score planes.
Expected<ThreeWayResult> needleman_wunsch_3d_core(std::string_view seq1, std::string_view seq2,
                                                  std::string_view seq3, const ScoreTable& table,
                                                  const AlignmentOptions& options,
                                                  const EnginePolicy& policy,
                                                  Interruption& interruption);

}  // namespace vorn
