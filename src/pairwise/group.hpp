// Aligning several short pairs at once, one per vector lane (the batch's many small
// pairs would leave most lanes of a diagonal empty). Plain C++.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"
#include "common/expected.hpp"
#include "common/interruption.hpp"
#include "common/workspace.hpp"
#include "pairwise/core.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// Pairs up to this long on both sides are grouped.
inline constexpr std::size_t kGroupedLength = 512;

// The most pairs of one group on any kernel build (16-bit cells in 512-bit vectors).
inline constexpr std::size_t kMaxGroup = 32;

// The pairs one group takes with this kernel build.
std::size_t pairs_per_group(KernelIsa kernel);

// Working memory of the grouped engine, reused by a batch's groups.
struct GroupStorage;
using GroupWorkspace = Workspace<GroupStorage>;
extern template class Workspace<GroupStorage>;

// Aligns pairs (seq1[t], seq2[t]) for t < count <= pairs_per_group(policy.kernel), each exactly as
// needleman_wunsch_core would, into results[t]: in integer cells where the scores allow them,
// else (and with a scaler) in doubles. False, with nothing written, when a forced integer cell
// type cannot hold them or the memory cannot be had: the caller then aligns them one by one.
bool align_group(const std::string_view* seq1, const std::string_view* seq2, std::size_t count,
                 const ScoreTable& table, const AlignmentOptions& options,
                 const EnginePolicy& policy, GroupWorkspace& workspace, Interruption& interruption,
                 Expected<PairwiseResult>* results);

}  // namespace vorn
