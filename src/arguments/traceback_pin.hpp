// The test-only traceback switches, read at the boundary while the interpreter lock is
// held and handed to the engine as plain options.
#pragma once

#include <cstdlib>
#include <cstring>

#include "score_table/score_table.hpp"

namespace vorn {

// VORN_RUST_NATIVE_TRACEBACK = "full" | "checkpoint" forces a pairwise traceback path
// (unset, empty or anything else: chosen per call from the memory at hand), and
// VORN_RUST_NATIVE_CHECKPOINT_INTERVAL = k > 0 sets the checkpointed path's block length.
inline void read_traceback_pin(AlignmentOptions* options) noexcept {
    const char* path = std::getenv("VORN_RUST_NATIVE_TRACEBACK");
    if (path && std::strcmp(path, "full") == 0) {
        options->traceback = TracebackPath::Full;
    } else if (path && std::strcmp(path, "checkpoint") == 0) {
        options->traceback = TracebackPath::Checkpoint;
    }
    if (const char* k = std::getenv("VORN_RUST_NATIVE_CHECKPOINT_INTERVAL")) {
        char* end = nullptr;
        const long long value = std::strtoll(k, &end, 10);
        if (end != k && *end == '\0' && value > 0) options->checkpoint_interval = value;
    }
}

}  // namespace vorn
