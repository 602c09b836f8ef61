// The three-way engine. A column state is a three-bit gap mask (bit s set: string s+1
// has a gap; mask 7 does not exist). Scores are kept for two planes of the grid (i - 1
// and i); the back-pointers of all seven states of a cell are packed into one 32-bit
// word, three bits each (kUnset3 when the entry was never written). The steps of an
// entry follow from its state, so they are not stored.
#include "three_way/core.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/checked_size.hpp"

namespace vorn {

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();
constexpr int kStates = 7;
constexpr std::uint32_t kUnset3 = 7;
constexpr std::uint32_t kAllUnset = 0x1FFFFF;  // seven fields of kUnset3
constexpr EngineError kUnsetPointer3d{ErrorKind::Value, "unset pointer encountered during 3D traceback"};

constexpr bool gaps(int state, int s) { return (state >> s) & 1; }

// Per coordinate and string: bit 0 "a gap here is free", bit 1 "closing here is exempt".
std::uint8_t coordinate_class(std::int64_t x, std::int64_t len, bool left_free, bool right_free) {
    const bool is_free = (x == 0 && left_free) || (x == len && right_free);
    const bool exempt = x == 1 && left_free;
    return static_cast<std::uint8_t>(is_free | (exempt << 1));
}

}  // namespace

Expected<ThreeWayResult> needleman_wunsch_3d_core(std::string_view seq1, std::string_view seq2,
                                                  std::string_view seq3, const ScoreTable& table,
                                                  const AlignmentOptions& options) {
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
    const std::uint64_t plane_cells = static_cast<std::uint64_t>(w2) * static_cast<std::uint64_t>(w3);
    Buffer<std::uint32_t> pointers = allocate<std::uint32_t>(n_cells);
    Buffer<double> planes = allocate<double>(2 * plane_cells * kStates);
    if (!pointers || !planes) return kOutOfMemory;

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

    // Fill, i outermost and l innermost; every predecessor cell comes earlier. For each
    // state k that fits the cell, the best of the 49 transitions p -> k:
    //   candidate = (score of p at the predecessor + pair score) + gap score,
    // replaced only by a strictly greater value (ties keep the lower p; -inf and NaN
    // never win).
    double* prev = planes.get();
    double* cur = planes.get() + plane_cells * kStates;
    for (std::int64_t i = 0; i <= len[0]; ++i) {
        std::fill(cur, cur + plane_cells * kStates, kNegInf);
        const std::uint8_t c1 = cls[0][static_cast<std::size_t>(i)];
        for (std::int64_t j = 0; j <= len[1]; ++j) {
            const std::uint8_t c2 = cls[1][static_cast<std::size_t>(j)];
            for (std::int64_t l = 0; l <= len[2]; ++l) {
                const std::uint64_t cell = (static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(w2) +
                                            static_cast<std::uint64_t>(j)) * static_cast<std::uint64_t>(w3) +
                                           static_cast<std::uint64_t>(l);
                double* here = cur + (j * w3 + l) * kStates;
                if (i == 0 && j == 0 && l == 0) {
                    here[0] = 0.0;
                    pointers[cell] = kAllUnset & ~kUnset3;  // state 0 at the origin: pointer 0
                    continue;
                }
                const std::uint8_t c3 = cls[2][static_cast<std::size_t>(l)];
                const double (*gk)[kStates] = gap_score[c1 | (c2 << 2) | (c3 << 4)];
                // The pair scores of the column's characters, in string order.
                const double t12 = (i >= 1 && j >= 1) ? table.at(byte(0, i - 1), byte(1, j - 1)) : 0.0;
                const double t13 = (i >= 1 && l >= 1) ? table.at(byte(0, i - 1), byte(2, l - 1)) : 0.0;
                const double t23 = (j >= 1 && l >= 1) ? table.at(byte(1, j - 1), byte(2, l - 1)) : 0.0;
                std::uint32_t word = kAllUnset;
                for (int k = 0; k < kStates; ++k) {
                    const int d1 = !gaps(k, 0), d2 = !gaps(k, 1), d3 = !gaps(k, 2);
                    if (i < d1 || j < d2 || l < d3) continue;
                    double pair = 0.0;
                    switch (k) {
                        case 0: pair = ((0.0 + t12) + t13) + t23; break;
                        case 1: pair = 0.0 + t23; break;
                        case 2: pair = 0.0 + t13; break;
                        case 4: pair = 0.0 + t12; break;
                        default: break;  // one character: no pair
                    }
                    const double* from = (d1 ? prev : cur) + ((j - d2) * w3 + (l - d3)) * kStates;
                    double best = kNegInf;
                    int best_p = -1;
                    for (int p = 0; p < kStates; ++p) {
                        const double candidate = (from[p] + pair) + gk[k][p];
                        if (candidate > best) {
                            best = candidate;
                            best_p = p;
                        }
                    }
                    if (best_p >= 0) {
                        here[k] = best;
                        word = (word & ~(kUnset3 << (3 * k))) | (static_cast<std::uint32_t>(best_p) << (3 * k));
                    }
                }
                pointers[cell] = word;
            }
        }
        std::swap(prev, cur);
    }
    const double* end_scores = prev + (len[1] * w3 + len[2]) * kStates;  // plane len1 after the swap

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
    for (auto* row : rows) row->reserve(static_cast<std::size_t>(len[0] + len[1] + len[2]));
    std::int64_t pos[3] = {len[0], len[1], len[2]};
    int state = end_state;
    while (true) {
        const std::uint64_t cell = (static_cast<std::uint64_t>(pos[0]) * static_cast<std::uint64_t>(w2) +
                                    static_cast<std::uint64_t>(pos[1])) * static_cast<std::uint64_t>(w3) +
                                   static_cast<std::uint64_t>(pos[2]);
        const std::uint32_t p = (pointers[cell] >> (3 * state)) & kUnset3;
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
    for (auto* row : rows) std::reverse(row->begin(), row->end());
    return result;
}

}  // namespace vorn
