// The grouped pairwise engine: the pairs' codes, scores and gap terms laid out lane by
// lane, the grouped fill, then each pair's own end choice and traceback.
#include "pairwise/group.hpp"

#include <algorithm>
#include <string>
#include <type_traits>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "pairwise/compact_scores.hpp"
#include "pairwise/exact_integers.hpp"
#include "pairwise/gap_terms.hpp"
#include "pairwise/group_kernel.hpp"
#include "pairwise/traceback.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

using pairwise::CompactScores;
using pairwise::GroupInput;
using pairwise::IntegerPlan;

template <class T>
struct GroupCells {
    Scratch<T> terms, rows, ends;
};

// With a scaler: the lanes' end-weight sums and end rules (GroupScales).
struct GroupScaleBuffers {
    Scratch<double> sums;
    Scratch<std::int64_t> rules;
};

struct GroupStorage {
    std::string s1[kMaxGroup], s2[kMaxGroup];  // upper-cased working copies
    CompactScores scores;                      // 2.5 KiB: not on the stack
    Scratch<std::uint16_t> codes;
    Scratch<double> tab;  // the pair scores of the bytes that occur
    Scratch<std::int32_t> tab_int;
    Scratch<std::int16_t> tab_small;
    Scratch<std::uint8_t> pointers;
    GroupCells<std::int16_t> narrow;
    GroupCells<std::int32_t> wide;
    GroupCells<double> real;
    GroupScaleBuffers scaled;
};

template class Workspace<GroupStorage>;

namespace {

static_assert(pairwise::group_lanes<std::int16_t>(pairwise::kernel_avx512::kVectorBytes) <=
              static_cast<int>(kMaxGroup));

int vector_bytes(KernelIsa kernel) { VORN_RETURN_BY_KERNEL(kernel, pairwise, kVectorBytes) }

template <class T>
void fill_group(KernelIsa kernel, const GroupInput<T>& in) {
    VORN_RETURN_BY_KERNEL(kernel, pairwise, fill_group(in))
}

// The pairs of one group laid out for the grouped fill in cells of type T: integers with
// `plan`, doubles without (tab then holds at least 16 entries, zero past the real ones).
template <class T>
bool run(const std::string_view* seq1, const std::string_view* seq2, std::size_t count,
         const double* tab, const CompactScores& scores, const IntegerPlan* plan,
         const AlignmentOptions& options, KernelIsa kernel, GroupStorage& ws, GroupCells<T>& cs,
         Interruption& interruption, Expected<PairwiseResult>* results) {
    constexpr bool kReal = std::is_same_v<T, double>;
    const std::size_t n_scores = scores.size();
    const std::int64_t w = pairwise::group_lanes<T>(vector_bytes(kernel));
    const GapScores gaps = derive_gap_scores(options);
    std::int64_t lane_n[kMaxGroup] = {}, lane_m[kMaxGroup] = {};
    std::int64_t rows = 0, cols = 0;
    for (std::size_t t = 0; t < count; ++t) {
        lane_n[t] = static_cast<std::int64_t>(seq1[t].size());
        lane_m[t] = static_cast<std::int64_t>(seq2[t].size());
        rows = std::max(rows, lane_n[t]);
        cols = std::max(cols, lane_m[t]);
    }
    const std::uint64_t row_entries = static_cast<std::uint64_t>((rows + 1) * w);
    const std::uint64_t col_entries = static_cast<std::uint64_t>((cols + 1) * w);
    std::uint16_t* codes = ws.codes.reserve(row_entries + col_entries);
    std::int32_t* tab_int = ws.tab_int.reserve(n_scores);
    std::int16_t* tab_small = ws.tab_small.reserve(pairwise::kSmallTable);
    std::uint8_t* pointers =
        ws.pointers.reserve(row_entries * static_cast<std::uint64_t>(cols + 1));
    T* terms = cs.terms.reserve(3 * (row_entries + col_entries));
    T* rows_storage = cs.rows.reserve(static_cast<std::uint64_t>(9 * (rows + 3) * w));
    T* ends = cs.ends.reserve(static_cast<std::uint64_t>(3 * w));
    // With a scaler: by row (with row -1) two sums and two rules, by column (with column -1)
    // three sums and two rules.
    const std::uint64_t row_pad = row_entries + static_cast<std::uint64_t>(w);
    const std::uint64_t col_pad = col_entries + static_cast<std::uint64_t>(w);
    double* sums = nullptr;
    std::int64_t* rules = nullptr;
    if (options.scaler) {
        sums = ws.scaled.sums.reserve(2 * row_pad + 3 * col_pad);
        rules = ws.scaled.rules.reserve(2 * row_pad + 2 * col_pad);
        if (!sums || !rules) return false;
    }
    if (!codes || !tab_int || !tab_small || !pointers || !terms || !rows_storage || !ends)
        return false;

    // Codes, scores and gap terms lane by lane; lanes past `count` align two empty strings.
    std::fill(codes, codes + row_entries + col_entries, std::uint16_t{0});
    std::uint16_t* q1 = codes;
    std::uint16_t* q2 = codes + row_entries;
    for (std::size_t t = 0; t < count; ++t) {
        assign_upper(ws.s1[t], seq1[t]);
        assign_upper(ws.s2[t], seq2[t]);
        for (std::int64_t i = 1; i <= lane_n[t]; ++i) {
            const auto b = static_cast<std::uint8_t>(ws.s1[t][static_cast<std::size_t>(i - 1)]);
            q1[i * w + static_cast<std::int64_t>(t)] =
                static_cast<std::uint16_t>(scores.code1(b) * scores.cols());
        }
        for (std::int64_t j = 1; j <= lane_m[t]; ++j) {
            const auto b = static_cast<std::uint8_t>(ws.s2[t][static_cast<std::size_t>(j - 1)]);
            q2[j * w + static_cast<std::int64_t>(t)] = static_cast<std::uint16_t>(scores.code2(b));
        }
    }
    int small_chunks = 0;
    if constexpr (!kReal) {
        for (std::size_t t = 0; t < n_scores; ++t)
            tab_int[t] = pairwise::scaled_score(tab[t], *plan);
        if constexpr (std::is_same_v<T, std::int16_t>)
            small_chunks = pairwise::small_table(tab_int, n_scores, tab_small);
    }
    // By row the opening, extension and closing of each lane side by side, then by column.
    T* row_terms = terms;
    T* col_terms = terms + 3 * row_entries;
    const bool l1f = options.seq1_left_free, r1f = options.seq1_right_free;
    const bool l2f = options.seq2_left_free, r2f = options.seq2_right_free;
    auto whole = [&](double v) {
        if constexpr (kReal) {
            return v;
        } else {
            return static_cast<T>(pairwise::scaled_score(v, *plan));
        }
    };
    for (std::int64_t l = 0; l < w; ++l) {
        for (std::int64_t i = 0; i <= rows; ++i) {
            const pairwise::GapTerm g = pairwise::gap_term(i, lane_n[l], l1f, r1f, gaps);
            T* at = row_terms + 3 * i * w + l;
            at[0] = whole(g.open), at[w] = whole(g.extend), at[2 * w] = whole(g.close);
        }
        for (std::int64_t j = 0; j <= cols; ++j) {
            const pairwise::GapTerm g = pairwise::gap_term(j, lane_m[l], l2f, r2f, gaps);
            T* at = col_terms + 3 * j * w + l;
            at[0] = whole(g.open), at[w] = whole(g.extend), at[2 * w] = whole(g.close);
        }
    }

    // With a scaler, per lane as the single-pair engine computes them (core.cpp): the sums
    // L1(i) + R1(i), L1(i + 1) + R1(i) by row, L2(j), L2(j + 1), R2(j) by column, zero past
    // a lane's string and at row and column -1; gap1_scale and gap2_scale at the lane's end.
    pairwise::GroupScales group_scales{};
    double g1_end[kMaxGroup], g2_end[kMaxGroup];
    std::fill(g1_end, g1_end + kMaxGroup, 1.0);
    std::fill(g2_end, g2_end + kMaxGroup, 1.0);
    if (options.scaler) {
        std::fill(sums, sums + 2 * row_pad + 3 * col_pad, 0.0);
        std::fill(rules, rules + 2 * row_pad + 2 * col_pad, std::int64_t{0});
        double* a1 = sums + w;
        double* b1 = a1 + row_pad;
        double* l2 = b1 + row_pad;
        double* l2p = l2 + col_pad;
        double* r2 = l2p + col_pad;
        std::int64_t* free_x = rules + w;
        std::int64_t* exempt_x = free_x + row_pad;
        std::int64_t* free_y = exempt_x + row_pad;
        std::int64_t* exempt_y = free_y + col_pad;
        const double d = options.scaler->decay_exponent, te = options.scaler->temperature;
        auto weight = [&](bool on, std::int64_t k) {
            return on ? end_weight(static_cast<double>(k), d, te) : 0.0;
        };
        for (std::int64_t l = 0; l < static_cast<std::int64_t>(count); ++l) {
            const std::int64_t n = lane_n[l], m = lane_m[l];
            for (std::int64_t i = 0; i <= n; ++i) {
                const double r1 = weight(r1f, n + 1 - i);
                a1[i * w + l] = weight(l1f, i) + r1;
                b1[i * w + l] = weight(l1f, i + 1) + r1;
            }
            for (std::int64_t j = 0; j <= m; ++j) {
                l2[j * w + l] = weight(l2f, j);
                l2p[j * w + l] = weight(l2f, j + 1);
                r2[j * w + l] = weight(r2f, m + 1 - j);
            }
            g1_end[l] = one_if_zero((b1[n * w + l] + l2[m * w + l]) + r2[m * w + l]);
            g2_end[l] = one_if_zero((a1[n * w + l] + l2p[m * w + l]) + r2[m * w + l]);
        }
        for (std::int64_t l = 0; l < w; ++l) {
            for (std::int64_t i = -1; i <= rows; ++i) {
                free_x[i * w + l] = gap_is_free(i, lane_n[l], l1f, r1f) ? -1 : 0;
                exempt_x[i * w + l] = closing_is_exempt(i, l1f) ? -1 : 0;
            }
            for (std::int64_t j = -1; j <= cols; ++j) {
                free_y[j * w + l] = gap_is_free(j, lane_m[l], l2f, r2f) ? -1 : 0;
                exempt_y[j * w + l] = closing_is_exempt(j, l2f) ? -1 : 0;
            }
        }
        group_scales =
            pairwise::GroupScales{a1, b1,     free_x,   exempt_x,      l2,          l2p,
                                  r2, free_y, exempt_y, gaps.open_eff, gaps.extend, gaps.close};
    }

    GroupInput<T> in{};
    in.rows = rows;
    in.cols = cols;
    in.q1 = q1;
    in.q2 = q2;
    if constexpr (kReal) {
        in.scores = pairwise::DoubleScores{tab, n_scores <= 16};
        // NaN and infinities propagate through the sum of the scores times zero.
        double zero = (gaps.open_eff + gaps.extend + gaps.close) * 0.0;
        for (std::size_t t = 0; t < n_scores; ++t) zero += tab[t] * 0.0;
        in.finite = zero == 0.0;
        in.unreachable = kNegInf;
        in.scales = options.scaler ? &group_scales : nullptr;
    } else {
        in.scores =
            pairwise::IntegerScores{tab_int, small_chunks > 0 ? tab_small : nullptr, small_chunks};
        in.unreachable = static_cast<T>(plan->unreachable);
    }
    in.row_terms = row_terms;
    in.col_terms = col_terms;
    in.rows_storage = rows_storage;
    in.pointers = pointers;
    in.lane_n = lane_n;
    in.lane_m = lane_m;
    in.ends = ends;
    in.interruption = &interruption;
    fill_group(kernel, in);
    for (std::size_t t = 0; t < count; ++t) {
        if (interruption.stopped()) {
            results[t] = kInterrupted;
            continue;
        }
        double end[3];
        for (int s = 0; s < 3; ++s) {
            if constexpr (kReal) {
                end[s] = ends[t * 3 + s];
            } else {
                end[s] = pairwise::integer_score(ends[t * 3 + s], *plan);
            }
        }
        const pairwise::EndChoice choice =
            pairwise::choose_end(end, gaps, r1f, r2f, g1_end[t], g2_end[t]);
        const std::int64_t lane = static_cast<std::int64_t>(t);
        auto pointer_at = [&](std::int64_t i, std::int64_t j) -> int {
            const std::int64_t d = i + j, lo = d > cols ? d - cols : 0;
            return pointers[(pairwise::group_diagonal_offset(d, rows, cols) + i - lo) * w + lane];
        };
        try {
            results[t] =
                pairwise::trace_back(reinterpret_cast<const std::uint8_t*>(ws.s1[t].data()),
                                     reinterpret_cast<const std::uint8_t*>(ws.s2[t].data()),
                                     lane_n[t], lane_m[t], choice, pointer_at, interruption);
        } catch (const std::bad_alloc&) {
            results[t] = kOutOfMemory;
        }
    }
    return true;
}

}  // namespace

std::size_t pairs_per_group(KernelIsa kernel) {
    return static_cast<std::size_t>(pairwise::group_lanes<std::int16_t>(vector_bytes(kernel)));
}

bool align_group(const std::string_view* seq1, const std::string_view* seq2, std::size_t count,
                 const ScoreTable& table, const AlignmentOptions& options,
                 const EnginePolicy& policy, GroupWorkspace& workspace, Interruption& interruption,
                 Expected<PairwiseResult>* results) {
    if (count == 0 || count > pairs_per_group(policy.kernel)) return false;
    try {
        // The bytes that occur in the group's first and second strings, as compact codes.
        auto& ws = workspace.storage();
        CompactScores& scores = ws.scores;
        scores.reset();
        std::int64_t rows = 0, cols = 0;
        for (std::size_t t = 0; t < count; ++t) {
            if (seq1[t].size() > kGroupedLength || seq2[t].size() > kGroupedLength) return false;
            rows = std::max(rows, static_cast<std::int64_t>(seq1[t].size()));
            cols = std::max(cols, static_cast<std::int64_t>(seq2[t].size()));
            for (char ch : seq1[t]) scores.add1(upper_ascii(static_cast<std::uint8_t>(ch)));
            for (char ch : seq2[t]) scores.add2(upper_ascii(static_cast<std::uint8_t>(ch)));
        }
        const std::size_t n_scores = scores.size();
        double* tab = ws.tab.reserve(std::max<std::size_t>(n_scores, 16));
        if (!tab) return false;
        std::fill(tab, tab + std::max<std::size_t>(n_scores, 16), 0.0);
        scores.write(table, tab);
        const GapScores gaps = derive_gap_scores(options);
        const std::size_t narrow_lanes = pairs_per_group(policy.kernel);
        // The group in parts of `lanes` pairs: fewer lanes for wider cells. A part that fails
        // leaves its results and those of the parts after it unwritten.
        auto in_parts = [&](std::size_t lanes, auto&& part_run) {
            for (std::size_t start = 0; start < count; start += lanes) {
                if (!part_run(start, std::min(lanes, count - start))) return false;
            }
            return true;
        };
        // Integers where the scores allow them exactly (never with a scaler), as the single
        // pair engine chooses; the forced integer types decline where they cannot (the pairs
        // alone then give the refusal).
        if (!options.scaler && policy.cell_type != CellType::Double) {
            if (policy.cell_type != CellType::Int32) {
                if (auto plan = pairwise::plan_integer_fill(tab, n_scores, gaps, rows, cols,
                                                            CellType::Int16)) {
                    return run<std::int16_t>(seq1, seq2, count, tab, scores, &*plan, options,
                                             policy.kernel, ws, ws.narrow, interruption, results);
                }
            }
            if (policy.cell_type != CellType::Int16) {
                if (const auto plan = pairwise::plan_integer_fill(tab, n_scores, gaps, rows, cols,
                                                                  CellType::Int32)) {
                    return in_parts(narrow_lanes / 2, [&](std::size_t start, std::size_t part) {
                        return run<std::int32_t>(seq1 + start, seq2 + start, part, tab, scores,
                                                 &*plan, options, policy.kernel, ws, ws.wide,
                                                 interruption, results + start);
                    });
                }
            }
            if (policy.cell_type != CellType::Automatic) return false;
        }
        const std::size_t real_lanes =
            static_cast<std::size_t>(pairwise::group_lanes<double>(vector_bytes(policy.kernel)));
        return in_parts(real_lanes, [&](std::size_t start, std::size_t part) {
            return run<double>(seq1 + start, seq2 + start, part, tab, scores, nullptr, options,
                               policy.kernel, ws, ws.real, interruption, results + start);
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace vorn
