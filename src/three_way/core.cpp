// The three-way engine. A column state is a three-bit gap mask (see three_way/kernel.hpp,
// beside the layout of the pointer words: 3 bytes per cell). Scores are kept for two
// planes of the grid; the steps of an entry follow from its state, so they are not stored.
#include "three_way/core.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"
#include "three_way/kernel.hpp"

namespace vorn {

namespace {

using three_way::kAllUnset;
using three_way::kLanes;
using three_way::kStates;
using three_way::kUnset3;
using three_way::kWordBytes;
using three_way::load_word;
using three_way::pack_word;
using three_way::pointer_of;
using three_way::state_pair_score;
using three_way::with_pointer;
constexpr EngineError kUnsetPointer3d{ErrorKind::Value,
                                      "unset pointer encountered during 3D traceback"};
// A cell of seven states and 49 transitions costs about as much as this many cells of the
// pairwise fill (the unit of an Interruption's countdown).
constexpr std::int64_t kCellWeight = 8;

constexpr bool gaps(int state, int s) { return (state >> s) & 1; }

// Per coordinate and string: bit 0 "a gap here is free", bit 1 "closing here is exempt".
std::uint8_t coordinate_class(std::int64_t x, std::int64_t len, bool left_free, bool right_free) {
    const bool is_free = gap_is_free(x, len, left_free, right_free);
    const bool exempt = closing_is_exempt(x, left_free);
    return static_cast<std::uint8_t>(is_free | (exempt << 1));
}

three_way::RowFn pick_row_kernel(KernelIsa kernel) {
    switch (kernel) {
#if VORN_X86_KERNELS
        case KernelIsa::Avx512:
            return three_way::kernel_avx512::fill_row;
        case KernelIsa::Avx2:
            return three_way::kernel_avx2::fill_row;
#endif
        default:
            break;
    }
    return three_way::kernel_generic::fill_row;
}

// What every fill order shares: the strings, the table, the gap scores by coordinate
// classes, and where the pointer words go (3 bytes per cell, at (i, j, l) row-major).
struct Grid {
    std::int64_t len[3];
    const std::uint8_t* s[3];  // upper-cased
    const ScoreTable* table;
    double gap_score[64][kStates][kStates];  // [classes of the three strings][k][p]
    std::vector<std::uint8_t> cls[3];        // coordinate class by position, per string
    std::uint8_t* pointers;
    std::int64_t w2, w3;
    KernelIsa kernel;

    std::uint8_t* cell(std::int64_t i, std::int64_t j, std::int64_t l) const {
        return pointers +
               kWordBytes * ((static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(w2) +
                              static_cast<std::uint64_t>(j)) *
                                 static_cast<std::uint64_t>(w3) +
                             static_cast<std::uint64_t>(l));
    }
    // The pair score of string a's character before x and string b's before y.
    double pair(int a, std::int64_t x, int b, std::int64_t y) const {
        return table->at(s[a][x - 1], s[b][y - 1]);
    }
};

enum class FillStatus { Done, OutOfMemory, Interrupted };

// The fill order: rows along the third string with string `outer` (0 or 1) outermost,
// or (outer == 2) the third string outermost, cell by cell; `bytes` is the memory of
// its score planes and rows.
struct Layout {
    int outer;
    std::uint64_t bytes;
};

// Planes larger than this and than a byte per cell make the cell-by-cell order worth it.
constexpr std::uint64_t kSmallPlanes = std::uint64_t{64} << 20;

Layout choose_layout(const std::int64_t* len, std::uint64_t n_cells, int forced) {
    const int outer = forced == 0 || forced == 1 ? forced : len[1] > len[0] ? 1 : 0;
    const std::uint64_t mid = static_cast<std::uint64_t>(len[1 - outer]) + 1;
    const std::uint64_t row = static_cast<std::uint64_t>(len[2]) + 1 + kLanes;
    const std::uint64_t n_planes = len[outer] > 0 ? 2 : 1;
    // Planes, the pair rows of the middle string plus one, the row words and state 3's rows.
    const std::uint64_t rows =
        n_planes * kStates * mid * row * sizeof(double) + (mid + 1) * row * sizeof(double) +
        row * (sizeof(std::uint32_t) + 2 * sizeof(double) + 2 * sizeof(std::int64_t));
    if (forced != 2 && (forced >= 0 || rows <= kSmallPlanes || rows <= n_cells))
        return {outer, rows};
    const std::uint64_t plane =
        static_cast<std::uint64_t>(len[0] + 1) * static_cast<std::uint64_t>(len[1] + 1);
    return {2, 2 * kStates * plane * sizeof(double)};
}

// Rows along l, string `outer` outermost and the other of the first two in the middle;
// two planes of scores (outer coordinate - 1 and current), rows indexed by the middle
// coordinate. False when memory runs out.
FillStatus fill_by_rows(const Grid& grid, int outer, double* end_scores,
                        Interruption& interruption) {
    const std::int64_t* len = grid.len;
    const int middle = 1 - outer;
    const std::int64_t row = len[2] + 1 + kLanes;
    const std::int64_t wm = len[middle] + 1;
    const std::uint64_t plane = static_cast<std::uint64_t>(kStates) *
                                static_cast<std::uint64_t>(wm) * static_cast<std::uint64_t>(row);
    const std::uint64_t n_planes =
        len[outer] > 0 ? 2 : 1;  // one plane when the outer string is empty
    Buffer<std::uint32_t> row_words = allocate<std::uint32_t>(static_cast<std::uint64_t>(row));
    Buffer<double> planes = allocate<double>(n_planes * plane);
    Buffer<double> pair_rows =
        allocate<double>(static_cast<std::uint64_t>(wm + 1) * static_cast<std::uint64_t>(row));
    Buffer<double> state3_values = allocate<double>(2 * static_cast<std::uint64_t>(row));
    Buffer<std::int64_t> state3_from = allocate<std::int64_t>(2 * static_cast<std::uint64_t>(row));
    if (!row_words || !planes || !pair_rows || !state3_values || !state3_from)
        return FillStatus::OutOfMemory;
    std::fill(planes.get(), planes.get() + n_planes * plane, kNegInf);

    // Pair scores by l against the third string: for every middle coordinate (row x of
    // pair_rows) and for the current outer coordinate (the last row of pair_rows).
    double* outer_pairs =
        pair_rows.get() + static_cast<std::uint64_t>(wm) * static_cast<std::uint64_t>(row);
    for (std::int64_t x = 0; x <= len[middle]; ++x) {
        double* t = pair_rows.get() + x * row;
        std::fill(t, t + row, 0.0);
        if (x >= 1) {
            for (std::int64_t l = 1; l <= len[2]; ++l) t[l] = grid.pair(middle, x, 2, l);
        }
    }

    // For each state k that fits the cell, the best of the 49 transitions p -> k:
    //   candidate = (score of p at the predecessor + pair score) + gap score,
    // replaced only by a strictly greater value (ties keep the lower p; -inf and NaN
    // never win). Within a row (i, j), every state but 3 has its predecessors in
    // earlier rows, so those are computed first, side by side along l; state 3 (a
    // character of the third string only) then follows cell by cell.
    double* prev = planes.get();
    double* cur = planes.get() + (n_planes - 1) * plane;
    auto at = [&](double* base, int state, std::int64_t x) {
        return base + (state * wm + x) * row;
    };
    const three_way::RowFn fill_row = pick_row_kernel(grid.kernel);
    for (std::int64_t xo = 0; xo <= len[outer]; ++xo) {
        std::fill(outer_pairs, outer_pairs + row, 0.0);
        if (xo >= 1) {
            for (std::int64_t l = 1; l <= len[2]; ++l) outer_pairs[l] = grid.pair(outer, xo, 2, l);
        }
        for (std::int64_t xm = 0; xm <= len[middle]; ++xm) {
            if (interruption.tick(kCellWeight * (len[2] + 1))) return FillStatus::Interrupted;
            const std::int64_t i = outer == 0 ? xo : xm, j = outer == 0 ? xm : xo;
            const std::uint8_t c1 = grid.cls[0][static_cast<std::size_t>(i)];
            const std::uint8_t c2 = grid.cls[1][static_cast<std::size_t>(j)];
            const double t12 = (i >= 1 && j >= 1) ? grid.pair(0, i, 1, j) : 0.0;
            const double* middle_pairs = pair_rows.get() + xm * row;
            const double* t13 = outer == 0 ? outer_pairs : middle_pairs;
            const double* t23 = outer == 0 ? middle_pairs : outer_pairs;
            std::uint32_t* words = row_words.get();
            bool fits[kStates];
            three_way::RowInput in{};
            for (int k = 0; k < kStates; ++k) {
                const int d1 = !gaps(k, 0), d2 = !gaps(k, 1);
                const int d_outer = outer == 0 ? d1 : d2, d_middle = outer == 0 ? d2 : d1;
                fits[k] = i >= d1 && j >= d2;
                in.fits[k] = fits[k];
                in.out[k] = at(cur, k, xm);
                for (int p = 0; p < kStates; ++p) {
                    in.pred[k][p] = fits[k] ? at(d_outer ? prev : cur, p, xm - d_middle) : nullptr;
                }
            }
            // One entry by the scalar rule; the pointer field is set in `word`.
            auto compute = [&](int k, std::int64_t l, std::uint32_t* word) {
                const int d3 = !gaps(k, 2);
                const bool fit = fits[k] && l >= d3;
                double best = kNegInf;
                int best_p = -1;
                if (fit) {
                    const double(*gk)[kStates] =
                        grid.gap_score[c1 | (c2 << 2) |
                                       (grid.cls[2][static_cast<std::size_t>(l)] << 4)];
                    const double pair = state_pair_score(k, 0.0, t12, t13[l], t23[l]);
                    for (int p = 0; p < kStates; ++p) {
                        const double candidate = (in.pred[k][p][l - d3] + pair) + gk[k][p];
                        if (candidate > best) {
                            best = candidate;
                            best_p = p;
                        }
                    }
                }
                in.out[k][l] = best;
                if (best_p >= 0) *word = with_pointer(*word, k, static_cast<std::uint32_t>(best_p));
            };
            // Cells along l whose coordinate class is the ordinary one (no free gap, no
            // exempt closing) go to the vector kernel; the others are computed here,
            // those before the run first (the kernel reads them for state 3) and those
            // after it last (the kernel's whole vectors may spill into them).
            const std::int64_t vec_lo = 2;
            const std::int64_t vec_hi =
                grid.cls[2][static_cast<std::size_t>(len[2])] == 0 ? len[2] : len[2] - 1;
            auto scalar_cell = [&](std::int64_t l) {
                std::uint32_t word = kAllUnset;
                for (int k = 0; k < kStates; ++k) {
                    if (k != 3) compute(k, l, &word);
                }
                words[l] = word;
            };
            for (std::int64_t l = 0; l < vec_lo && l <= len[2]; ++l) scalar_cell(l);
            if (vec_lo <= vec_hi) {
                in.lo = vec_lo;
                in.hi = vec_hi;
                for (int k = 0; k < kStates; ++k) in.gap[k] = grid.gap_score[c1 | (c2 << 2)][k];
                in.t12 = t12;
                in.t13 = t13;
                in.t23 = t23;
                in.words = words;
                in.low_value = state3_values.get();
                in.high_value = state3_values.get() + row;
                in.low_from = state3_from.get();
                in.high_from = state3_from.get() + row;
                fill_row(in);
            }
            for (std::int64_t l = std::max(vec_lo, vec_hi + 1); l <= len[2]; ++l) scalar_cell(l);
            if (i == 0 && j == 0) {
                for (int k = 0; k < kStates; ++k) in.out[k][0] = kNegInf;
                in.out[0][0] = 0.0;
                words[0] = kAllUnset & ~kUnset3;  // state 0 at the origin: pointer 0
            }
            // State 3 cell by cell: the prepared bests of p = 0..2 and 4..6 joined with
            // p = 3 in scan order, which keeps the first maximum as the full scan does.
            double* s3 = in.out[3];
            const double gap33 = grid.gap_score[c1 | (c2 << 2)][3][3];
            for (std::int64_t l = 0; l <= len[2]; ++l) {
                if (l == 0 && i == 0 && j == 0) continue;
                if (l < vec_lo || l > vec_hi || !fits[3]) {
                    compute(3, l, &words[l]);
                    continue;
                }
                double best = in.low_value[l];
                std::int64_t from = in.low_from[l];
                const double self = (s3[l - 1] + 0.0) + gap33;
                if (self > best) best = self, from = 3;
                if (in.high_value[l] > best) best = in.high_value[l], from = in.high_from[l];
                s3[l] = best;
                words[l] = with_pointer(words[l], 3, static_cast<std::uint32_t>(from));
            }
            std::uint8_t* packed = grid.cell(i, j, 0);
            for (std::int64_t l = 0; l <= len[2]; ++l) pack_word(packed + kWordBytes * l, words[l]);
        }
        std::swap(prev, cur);
    }
    // The last outer coordinate's plane is `prev` after the swap.
    for (int k = 0; k < kStates; ++k) end_scores[k] = at(prev, k, len[middle])[len[2]];
    return FillStatus::Done;
}

// The third string outermost, then i, then j, one cell at a time by the scalar rule of
// fill_by_rows; two planes of scores over (i, j) (l - 1 and l). For a long third
// string against two short ones.
FillStatus fill_by_cells(const Grid& grid, double* end_scores, Interruption& interruption) {
    const std::int64_t* len = grid.len;
    const std::int64_t wi = len[0] + 1, wj = len[1] + 1;
    const std::uint64_t plane =
        static_cast<std::uint64_t>(kStates) * static_cast<std::uint64_t>(wi * wj);
    Buffer<double> planes = allocate<double>(2 * plane);
    if (!planes) return FillStatus::OutOfMemory;
    double* prev = planes.get();
    double* cur = planes.get() + plane;
    std::fill(prev, prev + 2 * plane, kNegInf);
    auto at = [&](double* base, int state, std::int64_t i, std::int64_t j) {
        return base + (state * wi + i) * wj + j;
    };
    for (std::int64_t l = 0; l <= len[2]; ++l) {
        const std::uint8_t c3 = grid.cls[2][static_cast<std::size_t>(l)];
        for (std::int64_t i = 0; i <= len[0]; ++i) {
            if (interruption.tick(kCellWeight * (len[1] + 1))) return FillStatus::Interrupted;
            const std::uint8_t c1 = grid.cls[0][static_cast<std::size_t>(i)];
            const double t13 = (i >= 1 && l >= 1) ? grid.pair(0, i, 2, l) : 0.0;
            for (std::int64_t j = 0; j <= len[1]; ++j) {
                const std::uint8_t c2 = grid.cls[1][static_cast<std::size_t>(j)];
                const double t12 = (i >= 1 && j >= 1) ? grid.pair(0, i, 1, j) : 0.0;
                const double t23 = (j >= 1 && l >= 1) ? grid.pair(1, j, 2, l) : 0.0;
                const double(*gk)[kStates] = grid.gap_score[c1 | (c2 << 2) | (c3 << 4)];
                std::uint32_t word = kAllUnset;
                for (int k = 0; k < kStates; ++k) {
                    const int d1 = !gaps(k, 0), d2 = !gaps(k, 1), d3 = !gaps(k, 2);
                    double best = kNegInf;
                    int best_p = -1;
                    if (i >= d1 && j >= d2 && l >= d3) {
                        const double pair = state_pair_score(k, 0.0, t12, t13, t23);
                        double* base = d3 ? prev : cur;
                        for (int p = 0; p < kStates; ++p) {
                            const double candidate =
                                (*at(base, p, i - d1, j - d2) + pair) + gk[k][p];
                            if (candidate > best) {
                                best = candidate;
                                best_p = p;
                            }
                        }
                    }
                    *at(cur, k, i, j) = best;
                    if (best_p >= 0)
                        word = with_pointer(word, k, static_cast<std::uint32_t>(best_p));
                }
                if (i == 0 && j == 0 && l == 0) {
                    for (int k = 0; k < kStates; ++k) *at(cur, k, 0, 0) = kNegInf;
                    *at(cur, 0, 0, 0) = 0.0;
                    word = kAllUnset & ~kUnset3;  // state 0 at the origin: pointer 0
                }
                pack_word(grid.cell(i, j, l), word);
            }
        }
        std::swap(prev, cur);
    }
    for (int k = 0; k < kStates; ++k) end_scores[k] = *at(prev, k, len[0], len[1]);
    return FillStatus::Done;
}

Expected<ThreeWayResult> align(std::string_view seq1, std::string_view seq2, std::string_view seq3,
                               const ScoreTable& table, const AlignmentOptions& options,
                               const EnginePolicy& policy, Interruption& interruption);

}  // namespace

Expected<ThreeWayResult> needleman_wunsch_3d_core(std::string_view seq1, std::string_view seq2,
                                                  std::string_view seq3, const ScoreTable& table,
                                                  const AlignmentOptions& options,
                                                  const EnginePolicy& policy,
                                                  Interruption& interruption) {
    try {  // the strings and vectors can fail to grow; nothing else throws
        return align(seq1, seq2, seq3, table, options, policy, interruption);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

namespace {

Expected<ThreeWayResult> align(std::string_view seq1, std::string_view seq2, std::string_view seq3,
                               const ScoreTable& table, const AlignmentOptions& options,
                               const EnginePolicy& policy, Interruption& interruption) {
    const std::int64_t len[3] = {static_cast<std::int64_t>(seq1.size()),
                                 static_cast<std::int64_t>(seq2.size()),
                                 static_cast<std::int64_t>(seq3.size())};

    // The size limit of the grid, checked before anything is allocated.
    std::uint64_t n_cells = 0, entries = 0, score_bytes = 0;
    if (!checked_mul(static_cast<std::uint64_t>(len[0]) + 1, static_cast<std::uint64_t>(len[1]) + 1,
                     &n_cells) ||
        !checked_mul(n_cells, static_cast<std::uint64_t>(len[2]) + 1, &n_cells) ||
        !checked_mul(n_cells, kStates, &entries) ||
        !checked_mul(entries, sizeof(double), &score_bytes) ||
        score_bytes > (std::uint64_t{1} << 63) - 8) {
        return kCapacityOverflow;
    }
    const std::int64_t w2 = len[1] + 1, w3 = len[2] + 1;

    // Every cell takes the first maximum over its predecessors in their fixed order, so
    // any order that visits predecessors first gives the same values and pointers; the
    // order only decides the memory of the score planes. Rows run along the third string
    // (vectorised); the plane holds one coordinate of the outer string, so the longer
    // of the first two strings goes outside. When the third string is long and both
    // others short, those planes would hold (short x long) cells: the third string then
    // goes outside instead and the cells are computed one by one over (i, j) planes.
    const Layout layout = choose_layout(len, n_cells, policy.three_way_outer);
    std::uint64_t working = 0;
    if (!checked_mul(n_cells, kWordBytes, &working) ||
        !checked_add(working, layout.bytes, &working) ||
        !checked_add(working, 4 * static_cast<std::uint64_t>(len[0] + len[1] + len[2] + 3),
                     &working)) {
        return kCapacityOverflow;
    }
    if (!admit(working, policy.memory_root)) return memory_error(working);
    Buffer<std::uint8_t> pointers = allocate<std::uint8_t>(kWordBytes * n_cells);
    if (!pointers) return memory_error(working);

    // Upper-cased working copies.
    std::string s[3];
    assign_upper(s[0], seq1);
    assign_upper(s[1], seq2);
    assign_upper(s[2], seq3);

    // On the heap: its gap-score table is 25 KB, too much for the stack of a small thread.
    const std::unique_ptr<Grid> grid_owner = std::make_unique<Grid>();
    Grid& grid = *grid_owner;
    grid.kernel = policy.kernel;
    for (int str = 0; str < 3; ++str) {
        grid.len[str] = len[str];
        grid.s[str] = reinterpret_cast<const std::uint8_t*>(s[str].data());
    }
    grid.table = &table;
    grid.pointers = pointers.get();
    grid.w2 = w2;
    grid.w3 = w3;

    const GapScores g = derive_gap_scores(options);
    const bool left_free[3] = {options.seq1_left_free, options.seq2_left_free,
                               options.seq3_left_free};
    const bool right_free[3] = {options.seq1_right_free, options.seq2_right_free,
                                options.seq3_right_free};

    // The gap score of every transition p -> k for every combination of the three
    // strings' coordinate classes, summed string by string from 0.0.
    for (int combo = 0; combo < 64; ++combo) {
        for (int k = 0; k < kStates; ++k) {
            for (int p = 0; p < kStates; ++p) {
                double sum = 0.0;
                for (int str = 0; str < 3; ++str) {
                    const int cls = (combo >> (2 * str)) & 3;
                    const bool is_free = cls & 1, exempt = cls & 2;
                    if (gaps(k, str)) {
                        if (!is_free) sum += gaps(p, str) ? g.extend : g.open_eff;
                    } else if (gaps(p, str) && !exempt) {
                        sum += g.close;
                    }
                }
                grid.gap_score[combo][k][p] = sum;
            }
        }
    }
    for (int str = 0; str < 3; ++str) {
        grid.cls[str].resize(static_cast<std::size_t>(len[str]) + 1);
        for (std::int64_t x = 0; x <= len[str]; ++x) {
            grid.cls[str][static_cast<std::size_t>(x)] =
                coordinate_class(x, len[str], left_free[str], right_free[str]);
        }
    }

    double end_scores[kStates];
    const FillStatus filled = layout.outer == 2
                                  ? fill_by_cells(grid, end_scores, interruption)
                                  : fill_by_rows(grid, layout.outer, end_scores, interruption);
    if (filled == FillStatus::OutOfMemory) return memory_error(working);
    if (filled == FillStatus::Interrupted) return kInterrupted;
    const double C = g.close;

    // End state: each state's score plus C for every string it gaps whose right end is
    // not free, in string order; the lowest state wins ties.
    int end_state = 0;
    double score = kNegInf;
    for (int k = 0; k < kStates; ++k) {
        double v = end_scores[k];
        if (v > kNegInf) {
            for (int str = 0; str < 3; ++str) {
                if (gaps(k, str) && !right_free[str]) v = v + C;
            }
        }
        if (k == 0) {
            score = v;
        } else if (v > score) {
            score = v;
            end_state = k;
        }
    }

    ThreeWayResult result{std::string(), std::string(), std::string(), score};
    if (len[0] == 0 && len[1] == 0 && len[2] == 0) return result;
    std::string* rows[3] = {&result.aligned_seq1, &result.aligned_seq2, &result.aligned_seq3};
    for (auto* out : rows) out->reserve(static_cast<std::size_t>(len[0] + len[1] + len[2]));
    std::int64_t pos[3] = {len[0], len[1], len[2]};
    int state = end_state;
    while (true) {
        const std::uint32_t p = pointer_of(load_word(grid.cell(pos[0], pos[1], pos[2])), state);
        if (p == kUnset3) return kUnsetPointer3d;
        for (int str = 0; str < 3; ++str) {
            if (gaps(state, str)) {
                rows[str]->push_back('-');
            } else {
                rows[str]->push_back(s[str][static_cast<std::size_t>(pos[str] - 1)]);
                --pos[str];
            }
        }
        state = static_cast<int>(p);
        if (pos[0] == 0 && pos[1] == 0 && pos[2] == 0) break;
    }
    for (auto* out : rows) std::reverse(out->begin(), out->end());
    return result;
}

}  // namespace

}  // namespace vorn
