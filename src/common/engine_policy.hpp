// How one call runs, as opposed to what it computes: the kernel build, the cell type, the
// traceback path and the other choices that tests and benchmarks force through environment
// switches. The entry reads the switches once per call into one EnginePolicy and hands it
// down with the options; the engines read only what they are given, so nothing a call
// decides can be changed by another thread's call while it runs. No field changes a result.
// Plain C++.
#pragma once

#include <cstdint>
#include <string>

#include "common/kernel_isa.hpp"

namespace vorn {

// How the pairwise engine keeps what its traceback reads: chosen per call from the
// memory it can obtain, or forced (tests compare the two).
enum class TracebackPath : std::uint8_t {
    Automatic,   // the whole grid when it fits comfortably, checkpoints otherwise
    Full,        // one pointer byte per cell of the grid
    Checkpoint,  // scores at every k-th anti-diagonal; blocks re-filled during the traceback
};

// What the pairwise fill computes in: doubles, or integers when every score allows it
// exactly (chosen per call, or forced: tests compare the paths).
enum class CellType : std::uint8_t {
    Automatic,  // 16-bit integers where they suffice, else 32-bit, else doubles
    Double,
    Int32,
    Int16,
};

struct EnginePolicy {
    KernelIsa kernel = best_kernel_isa();      // the vector kernel build
    CellType cell_type = CellType::Automatic;  // pairwise; a forced integer type that cannot
                                               // compute a call exactly is an error
    TracebackPath traceback = TracebackPath::Automatic;  // pairwise
    std::int64_t checkpoint_interval = 0;  // pairwise: diagonals per block; 0 picks one
    std::int64_t row_block = 0;  // pairwise: rows per block of the fill (for the cache); 0 picks
    std::int64_t diagonal_band = 0;  // pairwise: the first half-width of the band of diagonals
                                     // (forced), 0 to let the engine decide, -1 for never
    bool group_pairs = true;         // batch: align short pairs side by side, one per lane
    int three_way_outer = -1;        // three-way: the string filled outermost (0, 1, 2); -1 picks
    int threads = 0;          // batch: threads in all, the calling one included; 0 for one per CPU
    std::string memory_root;  // where the memory limits are read ("" for the real /proc, /sys)
};

}  // namespace vorn
