// align_batch: the engine loop of needleman_wunsch_batch. The pairs are grouped into tasks
// spread over the process's thread pool; results are kept by input index, and a failing
// batch reports its lowest failing pair, so that neither depends on the number of threads.
// Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"
#include "common/expected.hpp"
#include "common/interruption.hpp"
#include "pairwise/core.hpp"
#include "score_table/score_table.hpp"

namespace vorn {

// Batches of fewer grid cells in all run on the calling thread: starting workers would
// cost more than they give.
inline constexpr std::uint64_t kParallelBatchCells = 2'000'000;

// Short pairs are grouped into tasks of about this many cells, so that claiming a task
// costs nothing beside aligning it.
inline constexpr std::uint64_t kTaskCells = std::uint64_t{1} << 18;

// Pairs of at least this many cells run one at a time, each with the same workspace: the
// memory admission of the pairwise engine sees what the process holds, not what other
// threads are about to take, so two such grids could together pass a limit that each
// passes alone.
inline constexpr std::uint64_t kExclusivePairCells = std::uint64_t{32} << 20;

inline constexpr std::size_t kNoPair = ~std::size_t{0};

struct BatchFailure {
    std::size_t pair;    // the lowest failing pair; kNoPair when no pair is to blame (an
                         // interruption, or no memory for the batch's own records)
    std::uint64_t len1;  // the lengths of its strings
    std::uint64_t len2;
    EngineError error;
};

struct BatchOutcome {
    std::vector<PairwiseResult> results;  // one per pair in input order, unless failed
    std::optional<BatchFailure> failure;
};

// Aligns every pair with one table and one set of options on policy.threads threads in
// all (0: one per CPU the process may run on). Stops as soon as `interruption` stops
// (failure kInterrupted). The strings of each aligned pair are released as it is done;
// those of the failing pair are kept.
BatchOutcome align_batch(std::span<SeqPair> pairs, const ScoreTable& table,
                         const AlignmentOptions& options, const EnginePolicy& policy,
                         Interruption& interruption);

}  // namespace vorn
