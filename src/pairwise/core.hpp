// needleman_wunsch_core: global alignment of two byte strings with affine gap scores,
// optional split gap opening, free ends and position-dependent scaling. Plain C++.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"
#include "common/expected.hpp"
#include "common/interruption.hpp"
#include "common/pointers.hpp"
#include "common/workspace.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// The states of a pairwise alignment column.
enum class TraceState : std::uint8_t { Match = 0, GapInSeq1 = 1, GapInSeq2 = 2 };

struct PairwiseResult {
    std::string aligned_seq1;
    std::string aligned_seq2;
    double score;
};

// Working memory of the engine. A batch passes one workspace to every call so that the
// storage for the largest pair so far is reused instead of reallocated.
struct PairwiseStorage;
using PairwiseWorkspace = Workspace<PairwiseStorage>;
extern template class Workspace<PairwiseStorage>;

// The working memory of a call on strings of n and m bytes, in bytes: on the whole-grid path
// and on the checkpointed one (the figures its memory admission uses).
struct PairwiseMemory {
    std::uint64_t whole_grid;
    std::uint64_t checkpointed;
};
PairwiseMemory pairwise_memory(std::uint64_t n, std::uint64_t m, const EnginePolicy& policy);

// Both return kInterrupted as soon as `interruption` asks to stop.
Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               PairwiseWorkspace& workspace,
                                               Interruption& interruption);

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               Interruption& interruption);

}  // namespace vorn
