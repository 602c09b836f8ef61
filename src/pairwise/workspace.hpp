// The pairwise engine's working memory: every buffer of a call, kept by the workspace so that
// a batch reuses the storage of its largest pair so far, and the one list of those buffers with
// their sizes, which both the memory figures and the allocation walk. Plain C++.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>

#include "common/checked_size.hpp"
#include "pairwise/compact_scores.hpp"
#include "pairwise/core.hpp"
#include "pairwise/fill.hpp"

namespace vorn {

// What a fill in cells of type T holds.
template <class T>
struct CellBuffers {
    Scratch<T> diagonals;    // the nine diagonals of the fill state
    Scratch<T> checkpoints;  // the checkpointed path's stored diagonals
    Scratch<T> terms;        // integers: the gap terms per index in the cell type
    Scratch<T> border;       // the rows between row blocks
};

struct PairwiseStorage {
    std::string s1, s2;               // upper-cased working copies
    pairwise::CompactScores scores;   // 2.5 KiB: not on the stack
    Scratch<std::uint8_t> pointers;   // the whole grid, or one block of diagonals
    Scratch<std::uint64_t> offsets;   // the first cell of each anti-diagonal
    Scratch<std::uint16_t> codes;     // q1 by i, then q2r by k
    Scratch<double> terms;            // per index: gap terms, or the end-weight sums
    Scratch<std::int64_t> end_masks;  // per index, with a scaler: the end rules as lane masks
    Scratch<double> tab;              // the pair scores of the bytes that occur
    Scratch<std::int32_t> tab_int;    // the same as whole numbers
    Scratch<std::int16_t> tab_small;  // and in 16-bit blocks for permutes
    CellBuffers<double> real;
    CellBuffers<std::int32_t> wide;
    CellBuffers<std::int16_t> narrow;

    template <class T>
    CellBuffers<T>& cells() {
        if constexpr (std::is_same_v<T, double>) {
            return real;
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
            return wide;
        } else {
            return narrow;
        }
    }
};

namespace pairwise {

// The sizes of one call's buffers. Per-index arrays carry padding at index -1 and kLanes
// entries of slack at the end; a stored diagonal holds at most min(n, m) + 1 cells.
struct Sizes {
    std::int64_t n, m;
    std::uint64_t cells;      // (n + 1)(m + 1)
    std::uint64_t diagonals;  // n + m + 1
    std::uint64_t len_i, len_k;
    std::uint64_t room;     // one stored diagonal
    std::uint64_t longest;  // the longest diagonal
    std::uint64_t table;    // entries of the compact score table (at most, until the call
                            // has numbered the bytes that occur)
    std::int64_t interval;  // diagonals per block of the checkpointed path
    std::int64_t n_blocks;
    std::uint64_t block_cells;  // the cells of the largest block
    bool scaled;                // the call has a scaler (its end rules per index)
};

// How a call keeps what its traceback reads.
struct Layout {
    bool checkpointed;  // checkpoints and one block of pointers, else the whole grid's
    bool row_blocks;    // the whole grid filled in blocks of rows (border rows kept)
    // A band of diagonals instead of the whole grid: its cells and its longest anti-diagonal.
    bool band = false;
    std::uint64_t band_cells = 0, band_longest = 0;
};

// Every buffer of a call with its element count: visit(select, count), where select(storage)
// gives the buffer. Those per index (the codes, the terms and the score tables of a call in
// cells of type T), then those of the grid in the layout (pointers, diagonals and what the
// layout keeps besides). A buffer added to the call is one line here. (The counts saturate:
// a grid too large for them fails its memory figure.)
template <class T, class Visit>
void each_index_buffer(const Sizes& z, Visit&& visit) {
    using S = PairwiseStorage;
    const auto codes = [](S & s) -> auto& { return s.codes; };
    const auto terms = [](S & s) -> auto& { return s.terms; };
    const auto tab = [](S & s) -> auto& { return s.tab; };
    visit(codes, z.len_i + z.len_k);
    visit(terms, 3 * (z.len_i + z.len_k));
    visit(tab, std::max<std::uint64_t>(z.table, 16));
    if constexpr (std::is_same_v<T, double>) {
        const auto end_masks = [](S & s) -> auto& { return s.end_masks; };
        if (z.scaled) visit(end_masks, 2 * (z.len_i + z.len_k));
    } else {
        const auto tab_int = [](S & s) -> auto& { return s.tab_int; };
        const auto tab_small = [](S & s) -> auto& { return s.tab_small; };
        const auto cell_terms = [](S & s) -> auto& { return s.cells<T>().terms; };
        visit(tab_int, z.table);
        visit(tab_small, kSmallTable);
        visit(cell_terms, 3 * (z.len_i + z.len_k));
    }
}

template <class T, class Visit>
void each_grid_buffer(const Sizes& z, const Layout& layout, Visit&& visit) {
    using S = PairwiseStorage;
    const auto offsets = [](S & s) -> auto& { return s.offsets; };
    const auto pointers = [](S & s) -> auto& { return s.pointers; };
    const auto diagonals = [](S & s) -> auto& { return s.cells<T>().diagonals; };
    const auto checkpoints = [](S & s) -> auto& { return s.cells<T>().checkpoints; };
    const auto border = [](S & s) -> auto& { return s.cells<T>().border; };
    const std::uint64_t cells = layout.band           ? layout.band_cells
                                : layout.checkpointed ? z.block_cells
                                                      : z.cells;
    const std::uint64_t room = layout.band ? layout.band_longest + kEdgeEntries + kLanes : z.room;
    visit(offsets, z.diagonals + 1);
    visit(pointers, saturating_add(cells, kLanes));
    visit(diagonals, 9 * room);
    if (layout.checkpointed) {
        const std::uint64_t blocks = static_cast<std::uint64_t>(z.n_blocks - 1);
        visit(checkpoints, std::max<std::uint64_t>(saturating_mul(blocks, 6 * z.longest), 1));
    }
    if (layout.row_blocks) visit(border, 6 * (static_cast<std::uint64_t>(z.m) + 1));
}

}  // namespace pairwise

}  // namespace vorn
