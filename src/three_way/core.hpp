// needleman_wunsch_3d_core: sum-of-pairs alignment of three byte strings over a
// three-dimensional grid with seven column states. Plain C++.
#pragma once

#include <string>
#include <string_view>

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

// Tests force which string the fill runs outermost (0, 1 or 2; -1: chosen by the
// lengths). The order never changes a result, only the memory of the score planes.
void force_three_way_outer(int outer) noexcept;

// Returns kInterrupted as soon as `interruption` asks to stop.
Expected<ThreeWayResult> needleman_wunsch_3d_core(std::string_view seq1, std::string_view seq2,
                                                  std::string_view seq3, const ScoreTable& table,
                                                  const AlignmentOptions& options,
                                                  Interruption& interruption);

}  // namespace vorn
