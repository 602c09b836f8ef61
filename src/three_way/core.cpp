// The three-way engine. A column state is a three-bit gap mask (bit s set: string s+1
// has a gap; mask 7 does not exist). Scores are kept for two planes of the grid (i - 1
// and i); the back-pointers of all seven states of a cell are packed into one word, three bits each (kUnset3 when the entry was never written). The steps of an
// entry follow from its state, so they are not stored. Seven 3-bit fields take 21 bits,
// so each cell's word is kept in 3 bytes.
#include "three_way/core.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "three_way/kernel.hpp"

namespace vorn {

namespace {

using three_way::kAllUnset;
using three_way::kLanes;
using three_way::kStates;
using three_way::kUnset3;
constexpr double kNegInf = -std::numeric_limits<double>::infinity();
constexpr EngineError kUnsetPointer3d{ErrorKind::Value, "unset pointer encountered during 3D traceback"};

constexpr bool gaps(int state, int s) { return (state >> s) & 1; }

// Per coordinate and string: bit 0 "a gap here is free", bit 1 "closing here is exempt".
std::uint8_t coordinate_class(std::int64_t x, std::int64_t len, bool left_free, bool right_free) {
    const bool is_free = (x == 0 && left_free) || (x == len && right_free);
    const bool exempt = x == 1 && left_free;
    return static_cast<std::uint8_t>(is_free | (exempt << 1));
}

three_way::RowFn pick_row_kernel() {
    switch (selected_kernel_isa()) {
#if VORN_X86_KERNELS
        case KernelIsa::Avx512: return three_way::kernel_avx512::fill_row;
        case KernelIsa::Avx2: return three_way::kernel_avx2::fill_row;
#endif
        default: break;
    }
    return three_way::kernel_generic::fill_row;
}

Expected<ThreeWayResult> align(std::string_view seq1, std::string_view seq2, std::string_view seq3,
                               const ScoreTable& table, const AlignmentOptions& options);

}  // namespace

Expected<ThreeWayResult> needleman_wunsch_3d_core(std::string_view seq1, std::string_view seq2,
                                                  std::string_view seq3, const ScoreTable& table,
                                                  const AlignmentOptions& options) {
    try {  // the strings and vectors can fail to grow; nothing else throws
        return align(seq1, seq2, seq3, table, options);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

namespace {

Expected<ThreeWayResult> align(std::string_view seq1, std::string_view seq2, std::string_view seq3,
                               const ScoreTable& table, const AlignmentOptions& options) {
    const std::int64_t len[3] = {static_cast<std::int64_t>(seq1.size()), static_cast<std::int64_t>(seq2.size()),
                                 static_cast<std::int64_t>(seq3.size())};

    // The size limit of the grid, checked before anything is allocated.
    std::uint64_t n_cells = 0, entries = 0, score_bytes = 0;
    if (!checked_mul(static_cast<std::uint64_t>(len[0]) + 1, static_cast<std::uint64_t>(len[1]) + 1, &n_cells) ||
        !checked_mul(n_cells, static_cast<std::uint64_t>(len[2]) + 1, &n_cells) ||
        !checked_mul(n_cells, kStates, &entries) || !checked_mul(entries, sizeof(double), &score_bytes) ||
        score_bytes > (std::uint64_t{1} << 63) - 8) {
        return kCapacityOverflow;
    }
    const std::int64_t w2 = len[1] + 1, w3 = len[2] + 1;
    auto cell_index = [&](std::int64_t i, std::int64_t j, std::int64_t l) {
        return (static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(w2) + static_cast<std::uint64_t>(j)) *
                   static_cast<std::uint64_t>(w3) +
               static_cast<std::uint64_t>(l);
    };
    // Scores of two planes (i - 1 and i), state by state, rows along the third string
    // with slack for whole vectors.
    const std::int64_t row = w3 + kLanes;
    const std::uint64_t plane = static_cast<std::uint64_t>(kStates) * static_cast<std::uint64_t>(w2) *
                                static_cast<std::uint64_t>(row);
    Buffer<std::uint8_t> pointers = allocate<std::uint8_t>(3 * n_cells);
    Buffer<std::uint32_t> row_words = allocate<std::uint32_t>(static_cast<std::uint64_t>(row));
    const std::uint64_t n_planes = len[0] > 0 ? 2 : 1;  // one plane when string 1 is empty
    Buffer<double> planes = allocate<double>(n_planes * plane);
    Buffer<double> pair_rows = allocate<double>(static_cast<std::uint64_t>(w2 + 1) * static_cast<std::uint64_t>(row));
    Buffer<double> state3_values = allocate<double>(2 * static_cast<std::uint64_t>(row));
    Buffer<std::int64_t> state3_from = allocate<std::int64_t>(2 * static_cast<std::uint64_t>(row));
    if (!pointers || !row_words || !planes || !pair_rows || !state3_values || !state3_from) return kOutOfMemory;
    std::fill(planes.get(), planes.get() + n_planes * plane, kNegInf);

    // Upper-cased working copies.
    std::string s[3] = {std::string(seq1), std::string(seq2), std::string(seq3)};
    for (auto& str : s) {
        for (char& ch : str) ch = static_cast<char>(upper_ascii(static_cast<std::uint8_t>(ch)));
    }
    auto byte = [&](int which, std::int64_t pos) { return static_cast<std::uint8_t>(s[which][static_cast<std::size_t>(pos)]); };

    const GapScores g = derive_gap_scores(options);
    const double O = g.open_eff, C = g.close, E = g.extend;
    const bool left_free[3] = {options.seq1_left_free, options.seq2_left_free, options.seq3_left_free};
    const bool right_free[3] = {options.seq1_right_free, options.seq2_right_free, options.seq3_right_free};

    // The gap score of every transition p -> k for every combination of the three
    // strings' coordinate classes, summed string by string from 0.0.
    double gap_score[64][kStates][kStates];
    for (int combo = 0; combo < 64; ++combo) {
        for (int k = 0; k < kStates; ++k) {
            for (int p = 0; p < kStates; ++p) {
                double sum = 0.0;
                for (int str = 0; str < 3; ++str) {
                    const int cls = (combo >> (2 * str)) & 3;
                    const bool is_free = cls & 1, exempt = cls & 2;
                    if (gaps(k, str)) {
                        if (!is_free) sum += gaps(p, str) ? E : O;
                    } else if (gaps(p, str) && !exempt) {
                        sum += C;
                    }
                }
                gap_score[combo][k][p] = sum;
            }
        }
    }
    std::vector<std::uint8_t> cls[3];
    for (int str = 0; str < 3; ++str) {
        cls[str].resize(static_cast<std::size_t>(len[str]) + 1);
        for (std::int64_t x = 0; x <= len[str]; ++x) {
            cls[str][static_cast<std::size_t>(x)] = coordinate_class(x, len[str], left_free[str], right_free[str]);
        }
    }

    // Pair scores by l: t23 for every j (row j of pair_rows), t13 for the current i
    // (the last row of pair_rows).
    double* t13 = pair_rows.get() + static_cast<std::uint64_t>(w2) * static_cast<std::uint64_t>(row);
    for (std::int64_t j = 0; j <= len[1]; ++j) {
        double* t23 = pair_rows.get() + j * row;
        std::fill(t23, t23 + row, 0.0);
        if (j >= 1) {
            for (std::int64_t l = 1; l <= len[2]; ++l) t23[l] = table.at(byte(1, j - 1), byte(2, l - 1));
        }
    }

    // Fill, i outermost and l innermost; every predecessor cell comes earlier. For each
    // state k that fits the cell, the best of the 49 transitions p -> k:
    //   candidate = (score of p at the predecessor + pair score) + gap score,
    // replaced only by a strictly greater value (ties keep the lower p; -inf and NaN
    // never win). Within a row (i, j), every state but 3 has its predecessors in
    // earlier rows, so those are computed first, side by side along l; state 3 (a
    // character of the third string only) then follows cell by cell.
    double* prev = planes.get();
    double* cur = planes.get() + (n_planes - 1) * plane;
    auto at = [&](double* base, int state, std::int64_t j) { return base + (state * w2 + j) * row; };
    const three_way::RowFn fill_row = pick_row_kernel();
    for (std::int64_t i = 0; i <= len[0]; ++i) {
        const std::uint8_t c1 = cls[0][static_cast<std::size_t>(i)];
        std::fill(t13, t13 + row, 0.0);
        if (i >= 1) {
            for (std::int64_t l = 1; l <= len[2]; ++l) t13[l] = table.at(byte(0, i - 1), byte(2, l - 1));
        }
        for (std::int64_t j = 0; j <= len[1]; ++j) {
            const std::uint8_t c2 = cls[1][static_cast<std::size_t>(j)];
            const double t12 = (i >= 1 && j >= 1) ? table.at(byte(0, i - 1), byte(1, j - 1)) : 0.0;
            const double* t23 = pair_rows.get() + j * row;
            std::uint32_t* words = row_words.get();
            bool fits[kStates];
            three_way::RowInput in{};
            for (int k = 0; k < kStates; ++k) {
                const int d1 = !gaps(k, 0), d2 = !gaps(k, 1);
                fits[k] = i >= d1 && j >= d2;
                in.fits[k] = fits[k];
                in.out[k] = at(cur, k, j);
                for (int p = 0; p < kStates; ++p) {
                    in.pred[k][p] = fits[k] ? at(d1 ? prev : cur, p, j - d2) : nullptr;
                }
            }
            auto pair_score = [&](int k, std::int64_t l) {
                switch (k) {
                    case 0: return ((0.0 + t12) + t13[l]) + t23[l];
                    case 1: return 0.0 + t23[l];
                    case 2: return 0.0 + t13[l];
                    case 4: return 0.0 + t12;
                    default: return 0.0;  // one character: no pair
                }
            };
            // One entry by the scalar rule; the pointer field is set in `word`.
            auto compute = [&](int k, std::int64_t l, std::uint32_t* word) {
                const int d3 = !gaps(k, 2);
                const bool fit = fits[k] && l >= d3;
                double best = kNegInf;
                int best_p = -1;
                if (fit) {
                    const double (*gk)[kStates] = gap_score[c1 | (c2 << 2) | (cls[2][static_cast<std::size_t>(l)] << 4)];
                    const double pair = pair_score(k, l);
                    for (int p = 0; p < kStates; ++p) {
                        const double candidate = (in.pred[k][p][l - d3] + pair) + gk[k][p];
                        if (candidate > best) {
                            best = candidate;
                            best_p = p;
                        }
                    }
                }
                in.out[k][l] = best;
                if (best_p >= 0) {
                    *word = (*word & ~(kUnset3 << (3 * k))) | (static_cast<std::uint32_t>(best_p) << (3 * k));
                }
            };
            // Cells along l whose coordinate class is the ordinary one (no free gap, no
            // exempt closing) go to the vector kernel; the others are computed here,
            // those before the run first (the kernel reads them for state 3) and those
            // after it last (the kernel's whole vectors may spill into them).
            const std::int64_t vec_lo = 2;
            const std::int64_t vec_hi = cls[2][static_cast<std::size_t>(len[2])] == 0 ? len[2] : len[2] - 1;
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
                for (int k = 0; k < kStates; ++k) in.gap[k] = gap_score[c1 | (c2 << 2)][k];
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
            const double gap33 = gap_score[c1 | (c2 << 2)][3][3];
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
                words[l] = (words[l] & ~(kUnset3 << 9)) | (static_cast<std::uint32_t>(from) << 9);
            }
            std::uint8_t* packed = pointers.get() + 3 * cell_index(i, j, 0);
            for (std::int64_t l = 0; l <= len[2]; ++l) {
                packed[3 * l] = static_cast<std::uint8_t>(words[l]);
                packed[3 * l + 1] = static_cast<std::uint8_t>(words[l] >> 8);
                packed[3 * l + 2] = static_cast<std::uint8_t>(words[l] >> 16);
            }
        }
        std::swap(prev, cur);
    }
    double end_scores[kStates];
    for (int k = 0; k < kStates; ++k) end_scores[k] = at(prev, k, len[1])[len[2]];  // plane len1 after the swap

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
        const std::uint8_t* packed = pointers.get() + 3 * cell_index(pos[0], pos[1], pos[2]);
        const std::uint32_t word = packed[0] | (packed[1] << 8) | (static_cast<std::uint32_t>(packed[2]) << 16);
        const std::uint32_t p = (word >> (3 * state)) & kUnset3;
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
