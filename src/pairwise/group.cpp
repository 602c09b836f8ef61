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

namespace vorn {

using pairwise::CompactScores;
using pairwise::GroupInput;
using pairwise::IntegerPlan;

template <class T>
struct GroupCells {
    Scratch<T> terms, rows, ends;
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

// The pairs of one group laid out for the grouped fill in cells of type T.
template <class T>
bool run(const std::string_view* seq1, const std::string_view* seq2, std::size_t count,
         const double* tab, const CompactScores& scores, const IntegerPlan& plan,
         const AlignmentOptions& options, KernelIsa kernel, GroupStorage& ws, GroupCells<T>& cs,
         Interruption& interruption, Expected<PairwiseResult>* results) {
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
    T* rows_storage = cs.rows.reserve(static_cast<std::uint64_t>(6 * (cols + 2) * w));
    T* ends = cs.ends.reserve(static_cast<std::uint64_t>(3 * w));
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
    for (std::size_t t = 0; t < n_scores; ++t) tab_int[t] = pairwise::scaled_score(tab[t], plan);
    const int small_chunks =
        std::is_same_v<T, std::int16_t> ? pairwise::small_table(tab_int, n_scores, tab_small) : 0;
    T* ox = terms;
    T* ex = ox + row_entries;
    T* cx = ex + row_entries;
    T* oy = cx + row_entries;
    T* ey = oy + col_entries;
    T* cy = ey + col_entries;
    const bool l1f = options.seq1_left_free, r1f = options.seq1_right_free;
    const bool l2f = options.seq2_left_free, r2f = options.seq2_right_free;
    auto whole = [&](double v) { return static_cast<T>(pairwise::scaled_score(v, plan)); };
    for (std::int64_t l = 0; l < w; ++l) {
        for (std::int64_t i = 0; i <= rows; ++i) {
            const pairwise::GapTerm g = pairwise::gap_term(i, lane_n[l], l1f, r1f, gaps);
            ox[i * w + l] = whole(g.open), ex[i * w + l] = whole(g.extend);
            cx[i * w + l] = whole(g.close);
        }
        for (std::int64_t j = 0; j <= cols; ++j) {
            const pairwise::GapTerm g = pairwise::gap_term(j, lane_m[l], l2f, r2f, gaps);
            oy[j * w + l] = whole(g.open), ey[j * w + l] = whole(g.extend);
            cy[j * w + l] = whole(g.close);
        }
    }

    GroupInput<T> in{};
    in.rows = rows;
    in.cols = cols;
    in.q1 = q1;
    in.q2 = q2;
    in.scores =
        pairwise::IntegerScores{tab_int, small_chunks > 0 ? tab_small : nullptr, small_chunks};
    in.ox = ox, in.ex = ex, in.cx = cx;
    in.oy = oy, in.ey = ey, in.cy = cy;
    in.unreachable = static_cast<T>(plan.unreachable);
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
        for (int s = 0; s < 3; ++s) end[s] = pairwise::integer_score(ends[t * 3 + s], plan);
        const pairwise::EndChoice choice = pairwise::choose_end(end, gaps, r1f, r2f, 1.0, 1.0);
        const std::int64_t lane = static_cast<std::int64_t>(t);
        auto pointer_at = [&](std::int64_t i, std::int64_t j) -> int {
            return pointers[(i * (cols + 1) + j) * w + lane];
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

bool can_group(const AlignmentOptions& options, const EnginePolicy& policy) {
    return !options.scaler && policy.cell_type != CellType::Double;
}

bool align_group(const std::string_view* seq1, const std::string_view* seq2, std::size_t count,
                 const ScoreTable& table, const AlignmentOptions& options,
                 const EnginePolicy& policy, GroupWorkspace& workspace, Interruption& interruption,
                 Expected<PairwiseResult>* results) {
    if (count == 0 || count > pairs_per_group(policy.kernel) || !can_group(options, policy))
        return false;
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
        double* tab = ws.tab.reserve(n_scores);
        if (!tab) return false;
        scores.write(table, tab);
        const GapScores gaps = derive_gap_scores(options);
        const std::size_t narrow_lanes = pairs_per_group(policy.kernel);
        if (policy.cell_type != CellType::Int32) {
            if (auto plan =
                    pairwise::plan_integer_fill(tab, n_scores, gaps, rows, cols, CellType::Int16)) {
                return run<std::int16_t>(seq1, seq2, count, tab, scores, *plan, options,
                                         policy.kernel, ws, ws.narrow, interruption, results);
            }
        }
        if (policy.cell_type == CellType::Int16) return false;
        const auto plan =
            pairwise::plan_integer_fill(tab, n_scores, gaps, rows, cols, CellType::Int32);
        if (!plan) return false;
        // Half as many lanes for 32-bit cells: the group in two halves.
        const std::size_t half = narrow_lanes / 2;
        for (std::size_t start = 0; start < count; start += half) {
            const std::size_t part = std::min(half, count - start);
            if (!run<std::int32_t>(seq1 + start, seq2 + start, part, tab, scores, *plan, options,
                                   policy.kernel, ws, ws.wide, interruption, results + start))
                return false;  // nothing of the second half is written either
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace vorn
