// How much memory a pairwise call needs on each traceback path, which path it takes (the
// whole grid's pointers when they fit comfortably in what the process can still obtain,
// else checkpoints and one block of pointers), and getting its buffers. Plain C++.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

#include "common/engine_policy.hpp"
#include "common/expected.hpp"
#include "pairwise/workspace.hpp"

namespace vorn::pairwise {

// The sizes for strings of n and m bytes under `policy` (its checkpoint interval), or nothing
// when the grid's cell count does not fit 64 bits.
std::optional<Sizes> plan_sizes(std::int64_t n, std::int64_t m, const EnginePolicy& policy);

// The bytes a call holds on the whole-grid path and on the checkpointed one, whatever its
// cell type: its buffers, the working copies, the result strings and some room.
PairwiseMemory memory_figures(const Sizes& sizes);

// The layout of the call: the traceback path its policy forces or its memory allows, and
// row blocks when its policy or the length of seq1 asks for them. The error is MemoryError
// naming the least the call needs.
Expected<Layout> choose_layout(const Sizes& sizes, const EnginePolicy& policy);

// Rows per block of the whole-grid fill for cells of `cell_bytes` bytes: the policy's, or the
// rows whose diagonals keep one state's part within the fastest caches.
std::int64_t row_block_height(const EnginePolicy& policy, std::size_t cell_bytes);

// The bytes a call in cells of type T holds on `layout`: its buffers, the working copies,
// the result strings and some room.
template <class T>
std::uint64_t layout_bytes(const Sizes& z, const Layout& layout);

// Reserves the per-index buffers of a call in cells of type T, or those of its grid on
// `layout`; false when one cannot be had. Reserving again with the same sizes keeps what the
// buffers hold.
template <class T>
bool reserve_index_buffers(PairwiseStorage& ws, const Sizes& sizes) {
    bool ok = true;
    each_index_buffer<T>(sizes, [&](auto select, std::uint64_t count) {
        ok = ok && select(ws).reserve(count) != nullptr;
    });
    return ok;
}
template <class T>
bool reserve_grid_buffers(PairwiseStorage& ws, const Sizes& sizes, const Layout& layout) {
    bool ok = true;
    each_grid_buffer<T>(sizes, layout, [&](auto select, std::uint64_t count) {
        ok = ok && select(ws).reserve(count) != nullptr;
    });
    return ok;
}

}  // namespace vorn::pairwise
