// Running a fill kernel over the grid in the call's layout, one mode per way of keeping what
// the traceback reads, behind one question the traceback asks: the pointer byte of a cell.
//   - whole grid: every diagonal once, every pointer kept (optionally in blocks of rows, each
//     block's diagonals short enough to stay in the fastest caches);
//   - checkpointed: the diagonals in blocks of k, the scores of two diagonals kept at every
//     block's end, and a block filled again from its checkpoint when the traceback enters it.
//   - band: only the cells of a band of diagonals, and their pointers (diagonal_band.hpp says
//     when its result is the whole grid's).
// Every mode runs the kernel on its cells with the whole grid's operations, so every score and
// pointer it computes is the one the whole-grid sweep computes there. Plain C++.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/interruption.hpp"
#include "pairwise/diagonal_band.hpp"
#include "pairwise/fill.hpp"
#include "pairwise/workspace.hpp"

namespace vorn::pairwise {

template <class T, class Input>
class FillDriver {
  public:
    // The grid buffers of `layout` must be reserved in `ws` (reserve_grid_buffers<T>); `rows`
    // is the height of a block of rows (0: one sweep); `band` the band of a band layout.
    FillDriver(const Input& in, FillFn<Input, T> fill, const Sizes& sizes, const Layout& layout,
               PairwiseStorage& ws, T unreachable, std::int64_t rows, Band band,
               Interruption& interruption)
        : in_(in),
          fill_(fill),
          z_(sizes),
          layout_(layout),
          ws_(ws),
          diagonals_(ws.cells<T>().diagonals.get()),
          room_(layout.band ? layout.band_longest + kEdgeEntries + kLanes : sizes.room),
          none_(unreachable),
          rows_(rows),
          interruption_(interruption) {
        region_ = Region<T>{0, z_.n, -z_.n, z_.m, {}, {}, nullptr};
        if (layout.band) region_.low_diagonal = band.low, region_.high_diagonal = band.high;
        // Anti-diagonal offsets into the pointer bytes: of the whole grid, or of the band.
        std::uint64_t* offsets = ws.offsets.get();
        offsets[0] = 0;
        for (std::int64_t d = 0; d <= last_d(); ++d) {
            const std::int64_t cells =
                region_hi(region_, d, z_.n) - region_lo(region_, d, z_.m) + 1;
            offsets[d + 1] = offsets[d] + static_cast<std::uint64_t>(cells > 0 ? cells : 0);
        }
        out_ = PointerBytes{ws.pointers.get(), offsets, 0, layout.band};
    }

    // Fills every diagonal; false when the interruption stopped it.
    bool run() {
        start();
        if (layout_.checkpointed) return run_checkpointed();
        // The start cell has no predecessor in any state.
        out_.bytes[0] =
            static_cast<std::uint8_t>((kUnset2 << kShiftGap1) | (kUnset2 << kShiftGap2));
        if (rows_ == 0) {
            fill_(in_, state_, last_d(), region_, out_, interruption_);
            keep_end();
        } else {
            run_row_blocks();
        }
        return !interruption_.stopped();
    }

    // The value of `state` (0 Match, 1 GapInSeq1, 2 GapInSeq2) at (n, m) after run().
    T end_value(int state) const { return end_[state]; }

    // The pointer byte of cell (i, j); -1 when the interruption stopped a re-fill.
    int pointer(std::int64_t i, std::int64_t j) {
        const std::int64_t d = i + j;
        if (d < block_first_) {
            refill((d - 1) / z_.interval);
            if (interruption_.stopped()) return -1;
        }
        const std::int64_t first = layout_.band ? region_lo(region_, d, z_.m) : first_row(d, z_.m);
        return out_.bytes[out_.offsets[d] - out_.origin + static_cast<std::uint64_t>(i - first)];
    }

  private:
    std::int64_t last_d() const { return z_.n + z_.m; }

    // Diagonal 0: the start cell, every other entry unreachable.
    void start() {
        std::fill(diagonals_, diagonals_ + 9 * room_, none_);
        for (int t = 0; t < 9; ++t)
            state_.diag[t] = diagonals_ + static_cast<std::uint64_t>(t) * room_ + 1;
        state_.diag[3][0] = T{0};
        state_.d = 0;
        keep_end();
    }

    void keep_end() {
        if (state_.d == last_d()) {
            for (int t = 0; t < 3; ++t) end_[t] = state_.diag[3 + t][0];
        }
    }

    // A long seq1 in blocks of rows; each block reads the row above it from the border the
    // block above left, so every cell is computed exactly as in one sweep.
    void run_row_blocks() {
        const std::uint64_t width = static_cast<std::uint64_t>(z_.m) + 1;
        T* border = ws_.cells<T>().border.get();
        for (std::int64_t first = 0; first <= z_.n; first += rows_) {
            Region<T> block{first, std::min(first + rows_ - 1, z_.n), -z_.n, z_.m, {}, {}, nullptr};
            T* above = border + (first / rows_ % 2) * 3 * width;
            T* below = border + (first / rows_ % 2 == 0 ? 3 : 0) * width;
            for (int t = 0; t < 3; ++t) {
                if (first > 0) block.above[t] = above + t * width;
                if (block.last < z_.n) block.below[t] = below + t * width;
            }
            if (block.last == 0 && block.below[0]) {  // row 0 is the start cell alone
                block.below[0][0] = T{0};
                block.below[1][0] = block.below[2][0] = none_;
            }
            if (first > 0) {  // diagonal first - 1 has no rows in the block
                std::fill(diagonals_, diagonals_ + 9 * room_, none_);
                state_.d = first - 1;
            }
            fill_(in_, state_, std::min(block.last + z_.m, last_d()), block, out_, interruption_);
            if (interruption_.stopped()) return;
            if (block.last == z_.n) keep_end();
        }
    }

    // Checkpoint c holds diagonals c * k - 1 and c * k (c >= 1), from which block c
    // (diagonals c * k + 1 to (c + 1) * k) is filled again.
    T* checkpoint(std::int64_t c) {
        return ws_.cells<T>().checkpoints.get() +
               static_cast<std::uint64_t>(c - 1) * 6 * z_.longest;
    }
    std::size_t diagonal_length(std::int64_t d) const {
        return static_cast<std::size_t>((d < z_.n ? d : z_.n) - first_row(d, z_.m) + 1);
    }

    void fill_block(std::int64_t b) {
        out_.origin = out_.offsets[b * z_.interval + 1];
        fill_(in_, state_, std::min((b + 1) * z_.interval, last_d()), region_, out_, interruption_);
        keep_end();
    }

    bool run_checkpointed() {
        for (std::int64_t b = 0; b < z_.n_blocks; ++b) {
            fill_block(b);
            if (interruption_.stopped()) return false;
            if (b + 1 == z_.n_blocks) break;
            T* slot = checkpoint(b + 1);
            for (int t = 0; t < 6; ++t) {
                const std::size_t len = diagonal_length(state_.d - (t < 3 ? 1 : 0));
                std::memcpy(slot + static_cast<std::uint64_t>(t) * z_.longest, state_.diag[t],
                            len * sizeof(T));
            }
        }
        block_first_ = (z_.n_blocks - 1) * z_.interval + 1;
        return true;
    }

    // The pointers of block b again, from its checkpoint; the kernel repeats the very
    // operations of the first fill, so every score and pointer comes out the same.
    void refill(std::int64_t b) {
        start();
        if (b > 0) {
            const T* slot = checkpoint(b);
            state_.d = b * z_.interval;
            for (int t = 0; t < 6; ++t) {
                const std::size_t len = diagonal_length(state_.d - (t < 3 ? 1 : 0));
                std::memcpy(state_.diag[t], slot + static_cast<std::uint64_t>(t) * z_.longest,
                            len * sizeof(T));
            }
        }
        fill_block(b);
        block_first_ = b * z_.interval + 1;
    }

    const Input& in_;
    const FillFn<Input, T> fill_;
    const Sizes& z_;
    const Layout layout_;
    PairwiseStorage& ws_;
    T* const diagonals_;
    const std::uint64_t room_;  // one stored diagonal (see each_grid_buffer)
    const T none_;
    const std::int64_t rows_;
    Interruption& interruption_;
    Region<T> region_{};  // the whole grid, or the band
    FillState<T> state_{};
    PointerBytes out_{};
    std::int64_t block_first_ = 0;  // the first diagonal whose pointers are at hand
    T end_[3] = {};
};

}  // namespace vorn::pairwise
