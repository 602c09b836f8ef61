// The pairwise call's memory: sizes, figures per traceback path, and the choice between them.
#include "pairwise/memory_plan.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "common/memory_budget.hpp"

namespace vorn::pairwise {

namespace {

// Below this many bytes of pointers the whole grid is taken without asking how much memory
// is left (the question costs more than such a call); a failed allocation still falls back.
constexpr std::uint64_t kAlwaysFullBytes = std::uint64_t{64} << 20;

// A block of rows holds this many bytes of one state's diagonal.
constexpr std::size_t kRowBlockBytes = 32768;

// Room kept beside the buffers for what a call allocates besides them.
constexpr std::uint64_t kSlackBytes = std::uint64_t{16} << 20;

// The checkpointed path stores six arrays of one diagonal's length per checkpoint and
// keeps the pointer bytes of one block of k diagonals; k = sqrt(48 * diagonals) balances
// the two.
std::int64_t default_interval(std::int64_t diagonals) {
    const double k = std::ceil(std::sqrt(48.0 * static_cast<double>(diagonals)));
    return k < 1.0 ? 1 : static_cast<std::int64_t>(k);
}

// The cells of anti-diagonals first..last of an n x m grid.
std::uint64_t diagonal_cells(std::int64_t n, std::int64_t m, std::int64_t first,
                             std::int64_t last) {
    std::uint64_t cells = 0;
    for (std::int64_t d = first; d <= last; ++d)
        cells += static_cast<std::uint64_t>((d < n ? d : n) - first_row(d, m) + 1);
    return cells;
}

// The most any cell type needs on `layout`.
std::uint64_t most_bytes(const Sizes& z, const Layout& layout) {
    return std::max({layout_bytes<double>(z, layout), layout_bytes<std::int32_t>(z, layout),
                     layout_bytes<std::int16_t>(z, layout)});
}

}  // namespace

template <class T>
std::uint64_t layout_bytes(const Sizes& z, const Layout& layout) {
    std::uint64_t total = 0;
    const auto add = [&](auto select, std::uint64_t count) {
        using Buffer = std::remove_reference_t<decltype(select(std::declval<PairwiseStorage&>()))>;
        total = saturating_add(total, saturating_mul(count, sizeof(typename Buffer::value_type)));
    };
    each_index_buffer<T>(z, add);
    each_grid_buffer<T>(z, layout, add);
    const std::uint64_t strings = 3 * (static_cast<std::uint64_t>(z.n) + z.m);
    return saturating_add(saturating_add(total, strings), kSlackBytes);
}
template std::uint64_t layout_bytes<double>(const Sizes&, const Layout&);
template std::uint64_t layout_bytes<std::int32_t>(const Sizes&, const Layout&);
template std::uint64_t layout_bytes<std::int16_t>(const Sizes&, const Layout&);

std::optional<Sizes> plan_sizes(std::int64_t n, std::int64_t m, const EnginePolicy& policy) {
    Sizes z{};
    if (!checked_mul(static_cast<std::uint64_t>(n) + 1, static_cast<std::uint64_t>(m) + 1,
                     &z.cells)) {
        return std::nullopt;
    }
    z.n = n;
    z.m = m;
    const std::int64_t last_d = n + m;
    z.diagonals = static_cast<std::uint64_t>(last_d) + 1;
    z.len_i = static_cast<std::uint64_t>(n) + kEdgeEntries + kLanes;
    z.len_k = static_cast<std::uint64_t>(m) + kEdgeEntries + kLanes;
    z.room = static_cast<std::uint64_t>(diagonal_room(n, m));
    z.longest = static_cast<std::uint64_t>(std::min(n, m)) + 1;
    z.table = static_cast<std::uint64_t>(std::clamp<std::int64_t>(n, 1, 256)) *
              static_cast<std::uint64_t>(std::clamp<std::int64_t>(m, 1, 256));
    z.interval =
        policy.checkpoint_interval > 0
            ? std::min<std::int64_t>(policy.checkpoint_interval, std::max<std::int64_t>(last_d, 1))
            : default_interval(last_d);
    z.n_blocks = last_d == 0 ? 1 : (last_d + z.interval - 1) / z.interval;
    for (std::int64_t b = 0; b < z.n_blocks; ++b) {
        const std::int64_t first = b * z.interval + 1;
        const std::int64_t last = std::min(first - 1 + z.interval, last_d);
        z.block_cells = std::max(z.block_cells, diagonal_cells(n, m, first, last));
    }
    return z;
}

PairwiseMemory memory_figures(const Sizes& sizes) {
    return {most_bytes(sizes, Layout{false, true}), most_bytes(sizes, Layout{true, false})};
}

Expected<Layout> choose_layout(const Sizes& sizes, const EnginePolicy& policy) {
    Layout layout{policy.traceback == TracebackPath::Checkpoint, false};
    if (!layout.checkpointed && sizes.cells + kLanes <= kAlwaysFullBytes) return layout;
    const PairwiseMemory need = memory_figures(sizes);
    if (layout.checkpointed) {
        if (!admit(need.checkpointed, policy.memory_root)) return memory_error(need.checkpointed);
        return layout;
    }
    // The whole grid when it fits comfortably (a quarter of its pointers to spare),
    // checkpoints when only they fit, MemoryError (naming the least the call needs)
    // otherwise.
    const std::uint64_t obtainable = obtainable_memory(policy.memory_root);
    if (policy.traceback == TracebackPath::Full) {
        if (need.whole_grid > obtainable) return memory_error(need.whole_grid);
    } else if (saturating_add(need.whole_grid, sizes.cells / 4) > obtainable) {
        if (need.checkpointed > obtainable) return memory_error(need.checkpointed);
        layout.checkpointed = true;
    }
    return layout;
}

std::int64_t row_block_height(const EnginePolicy& policy, std::size_t cell_bytes) {
    return policy.row_block > 0 ? policy.row_block
                                : static_cast<std::int64_t>(kRowBlockBytes / cell_bytes);
}

}  // namespace vorn::pairwise

namespace vorn {

PairwiseMemory pairwise_memory(std::uint64_t n, std::uint64_t m, const EnginePolicy& policy) {
    const std::optional<pairwise::Sizes> sizes =
        pairwise::plan_sizes(static_cast<std::int64_t>(n), static_cast<std::int64_t>(m), policy);
    if (!sizes) return {~std::uint64_t{0}, ~std::uint64_t{0}};
    return pairwise::memory_figures(*sizes);
}

}  // namespace vorn
