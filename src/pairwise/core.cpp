// The pairwise engine around the fill: normalisation, the codes and pair scores of the bytes
// that occur, the per-index gap and scale terms, the cell type, then the fill driver, the
// choice of the end state and the traceback.
#include "pairwise/core.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"
#include "pairwise/diagonal_band.hpp"
#include "pairwise/exact_integers.hpp"
#include "pairwise/fill_driver.hpp"
#include "pairwise/gap_terms.hpp"
#include "pairwise/memory_plan.hpp"
#include "pairwise/traceback.hpp"
#include "pairwise/workspace.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

template class Workspace<PairwiseStorage>;

namespace {

using pairwise::IntegerPlan;
using pairwise::Layout;
using pairwise::Sizes;

const pairwise::Fills& fills_of(KernelIsa kernel) {
    VORN_RETURN_BY_KERNEL(kernel, pairwise, kFills)
}

// One call's inputs as the fill and the traceback need them, in doubles.
struct Prepared {
    std::int64_t n, m;
    const std::uint8_t *s1, *s2;  // upper-cased
    GapScores gaps;
    pairwise::Codes codes;
    const double* tab;  // compact pair scores, at least 16 entries, zero past the real ones
    std::size_t n_scores;
    // Per index, three arrays by i (valid from -1 to n) and three by k (0 to m + 1): without
    // a scaler the gap terms (open, extend, close), with one the end-weight sums (see
    // ScaledFill); every entry past those is zero.
    const double* by_i[3];
    const double* by_k[3];
    double g1_end = 1.0, g2_end = 1.0;  // gap1_scale(n, m) and gap2_scale(n, m)
};

// The per-index terms of the call into `p`.
void per_index_terms(const AlignmentOptions& options, const Sizes& z, double* terms, Prepared& p) {
    const std::int64_t n = z.n, m = z.m;
    std::fill(terms, terms + 3 * (z.len_i + z.len_k), 0.0);
    double* ti[3];
    double* tk[3];
    for (int t = 0; t < 3; ++t) {
        ti[t] = terms + t * z.len_i + 1;
        tk[t] = terms + 3 * z.len_i + t * z.len_k;
        p.by_i[t] = ti[t];
        p.by_k[t] = tk[t];
    }
    const bool l1f = options.seq1_left_free, r1f = options.seq1_right_free;
    const bool l2f = options.seq2_left_free, r2f = options.seq2_right_free;
    if (!options.scaler) {
        // A GapInSeq1 column at row i is free by seq1's ends, a GapInSeq2 column at column
        // j by seq2's; a gap that ends at row or column 1 along a free left end closes exempt.
        for (std::int64_t i = -1; i <= n; ++i) {
            const pairwise::GapTerm g = pairwise::gap_term(i, n, l1f, r1f, p.gaps);
            ti[0][i] = g.open, ti[1][i] = g.extend, ti[2][i] = g.close;
        }
        for (std::int64_t k = 0; k <= m + 1; ++k) {
            const pairwise::GapTerm g = pairwise::gap_term(m - k, m, l2f, r2f, p.gaps);
            tk[0][k] = g.open, tk[1][k] = g.extend, tk[2][k] = g.close;
        }
        return;
    }
    // End weights: pow is called only here, once per index and end.
    const double d = options.scaler->decay_exponent, t = options.scaler->temperature;
    auto weight = [&](bool on, std::int64_t k) {
        return on ? end_weight(static_cast<double>(k), d, t) : 0.0;
    };
    for (std::int64_t i = 0; i <= n; ++i) {
        const double r1 = weight(r1f, n + 1 - i);
        ti[0][i] = weight(l1f, i) + r1;      // L1(i) + R1(i)
        ti[1][i] = weight(l1f, i + 1) + r1;  // L1(i + 1) + R1(i)
    }
    for (std::int64_t k = 0; k <= m; ++k) {
        const std::int64_t j = m - k;
        tk[0][k] = weight(l2f, j);          // L2(j)
        tk[1][k] = weight(l2f, j + 1);      // L2(j + 1)
        tk[2][k] = weight(r2f, m + 1 - j);  // R2(j)
    }
    p.g1_end = one_if_zero((ti[1][n] + tk[0][0]) + tk[2][0]);
    p.g2_end = one_if_zero((ti[0][n] + tk[1][0]) + tk[2][0]);
}

// The end rules per index for the scaled fill, as lane masks, into `masks`.
pairwise::EndMasks end_masks(const AlignmentOptions& options, const Sizes& z, std::int64_t* masks) {
    std::fill(masks, masks + 2 * (z.len_i + z.len_k), std::int64_t{0});
    std::int64_t* free_i = masks + 1;  // from -1
    std::int64_t* exempt_i = free_i + z.len_i;
    std::int64_t* free_k = masks + 2 * z.len_i;
    std::int64_t* exempt_k = free_k + z.len_k;
    for (std::int64_t i = -1; i <= z.n; ++i) {
        free_i[i] = gap_is_free(i, z.n, options.seq1_left_free, options.seq1_right_free) ? -1 : 0;
        exempt_i[i] = closing_is_exempt(i, options.seq1_left_free) ? -1 : 0;
    }
    for (std::int64_t k = 0; k <= z.m + 1; ++k) {
        const std::int64_t j = z.m - k;
        free_k[k] = gap_is_free(j, z.m, options.seq2_left_free, options.seq2_right_free) ? -1 : 0;
        exempt_k[k] = closing_is_exempt(j, options.seq2_left_free) ? -1 : 0;
    }
    return {free_i, exempt_i, free_k, exempt_k};
}

// The end state and score from the driver's end values, then the traceback along its pointers.
template <class T, class Input>
Expected<PairwiseResult> trace(pairwise::FillDriver<T, Input>& driver, const Prepared& p,
                               const AlignmentOptions& options,
                               const std::optional<IntegerPlan>& plan, Interruption& interruption,
                               pairwise::EndChoice* chosen = nullptr) {
    double end[3];
    for (int t = 0; t < 3; ++t) {
        if constexpr (std::is_same_v<T, double>) {
            end[t] = driver.end_value(t);
        } else {
            end[t] = pairwise::integer_score(driver.end_value(t), *plan);
        }
    }
    const pairwise::EndChoice choice = pairwise::choose_end(
        end, p.gaps, options.seq1_right_free, options.seq2_right_free, p.g1_end, p.g2_end);
    if (chosen) *chosen = choice;
    auto pointer_at = [&](std::int64_t i, std::int64_t j) { return driver.pointer(i, j); };
    return pairwise::trace_back(p.s1, p.s2, p.n, p.m, choice, pointer_at, interruption);
}

// Fill and traceback of the whole grid in cells of type T with the fill input `in`: the
// traceback path the memory allows (`chosen`, or its MemoryError), blocks of rows for a long
// seq1.
template <class T, class Input>
Expected<PairwiseResult> whole_grid(const Input& in, pairwise::FillFn<Input, T> fill,
                                    const Prepared& p, const Sizes& z,
                                    const Expected<Layout>& chosen, const AlignmentOptions& options,
                                    const EnginePolicy& policy,
                                    const std::optional<IntegerPlan>& plan, PairwiseStorage& ws,
                                    T unreachable, Interruption& interruption) {
    if (!chosen) return chosen.error();
    Layout layout = *chosen;
    if (!layout.checkpointed && !ws.pointers.reserve(z.cells + pairwise::kLanes)) {
        // The whole grid could not be had: the checkpoints may still fit.
        if (policy.traceback == TracebackPath::Full)
            return memory_error(pairwise::memory_figures(z).whole_grid);
        layout.checkpointed = true;
    }
    const std::int64_t rows = pairwise::row_block_height(policy, sizeof(T));
    layout.row_blocks = !layout.checkpointed && (policy.row_block > 0 || z.n >= 2 * rows);
    if (!pairwise::reserve_grid_buffers<T>(ws, z, layout)) {
        const PairwiseMemory need = pairwise::memory_figures(z);
        return memory_error(layout.checkpointed ? need.checkpointed : need.whole_grid);
    }
    pairwise::FillDriver<T, Input> driver(in, fill, z, layout, ws, unreachable,
                                          layout.row_blocks ? rows : 0, pairwise::Band{},
                                          interruption);
    if (!driver.run()) return kInterrupted;
    return trace(driver, p, options, plan, interruption);
}

// The band pays from grids of this many cells on (unless the policy forces a first
// half-width), starting this many diagonals beyond 0 and m - n on each side.
constexpr std::uint64_t kBandMinimumCells = std::uint64_t{4} << 20;
constexpr std::int64_t kFirstHalfWidth = 32;

// The bound's inputs: each character's best pair score on either side, and the gap scores, in
// the plan's units.
pairwise::BoundInput bound_input(const Prepared& p, const AlignmentOptions& options,
                                 const pairwise::CompactScores& scores,
                                 const std::int32_t* tab_int) {
    pairwise::BoundInput b;
    b.n = p.n;
    b.m = p.m;
    const std::uint32_t rows = scores.rows(), cols = scores.cols();
    std::vector<std::int64_t> row_best(rows, std::numeric_limits<std::int64_t>::min());
    std::vector<std::int64_t> col_best(cols, std::numeric_limits<std::int64_t>::min());
    for (std::uint32_t a = 0; a < rows; ++a) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            row_best[a] = std::max<std::int64_t>(row_best[a], tab_int[a * cols + c]);
            col_best[c] = std::max<std::int64_t>(col_best[c], tab_int[a * cols + c]);
        }
    }
    b.row_maxima.resize(static_cast<std::size_t>(p.n));
    b.column_maxima.resize(static_cast<std::size_t>(p.m));
    for (std::int64_t i = 0; i < p.n; ++i) b.row_maxima[i] = row_best[scores.code1(p.s1[i])];
    for (std::int64_t j = 0; j < p.m; ++j) b.column_maxima[j] = col_best[scores.code2(p.s2[j])];
    std::sort(b.row_maxima.begin(), b.row_maxima.end(), std::greater<>());
    std::sort(b.column_maxima.begin(), b.column_maxima.end(), std::greater<>());
    b.any_end_free = options.seq1_left_free || options.seq1_right_free || options.seq2_left_free ||
                     options.seq2_right_free;
    return b;
}

// The integer fill restricted to a band of diagonals, widened until the band's score beats
// the bound on every path that leaves it (diagonal_band.hpp), then traced back in the band.
// Nothing when the band does not pay or cannot be proven: the whole grid then.
template <class T>
std::optional<Expected<PairwiseResult>> banded(const pairwise::PlainFill<T>& in,
                                               pairwise::FillFn<pairwise::PlainFill<T>, T> fill,
                                               const Prepared& p, const Sizes& z,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy, const IntegerPlan& plan,
                                               PairwiseStorage& ws, Interruption& interruption) {
    const bool forced = policy.diagonal_band > 0;
    if (policy.diagonal_band < 0 || (!forced && z.cells < kBandMinimumCells)) return std::nullopt;
    pairwise::BoundInput bounds = bound_input(p, options, ws.scores, ws.tab_int.get());
    bounds.gap_open = static_cast<std::int64_t>(units(p.gaps.open_eff, plan.shift)) +
                      static_cast<std::int64_t>(units(p.gaps.close, plan.shift));
    bounds.gap_extend = static_cast<std::int64_t>(units(p.gaps.extend, plan.shift));
    std::int64_t half_width = forced ? policy.diagonal_band : kFirstHalfWidth;
    while (true) {
        const pairwise::Band band = pairwise::band_of(p.n, p.m, half_width);
        if (pairwise::covers_grid(band, p.n, p.m)) return std::nullopt;
        const pairwise::BandCells size = pairwise::band_cells(p.n, p.m, band);
        if (!forced && size.cells > z.cells / 2) return std::nullopt;
        const Layout layout{false, false, true, size.cells, size.longest};
        if (!admit(pairwise::layout_bytes<T>(z, layout), policy.memory_root) ||
            !pairwise::reserve_grid_buffers<T>(ws, z, layout))
            return std::nullopt;  // the whole grid's path decides what fits
        pairwise::FillDriver<T, pairwise::PlainFill<T>> driver(
            in, fill, z, layout, ws, in.unreachable, 0, band, interruption);
        if (!driver.run()) return Expected<PairwiseResult>(kInterrupted);
        pairwise::EndChoice choice{};
        // The traceback runs only once proven; first the score.
        double end[3];
        for (int t = 0; t < 3; ++t) end[t] = pairwise::integer_score(driver.end_value(t), plan);
        choice = pairwise::choose_end(end, p.gaps, options.seq1_right_free, options.seq2_right_free,
                                      p.g1_end, p.g2_end);
        if (!(choice.score > kNegInf)) return std::nullopt;
        const auto score = static_cast<std::int64_t>(units(choice.score, plan.shift));
        const std::int64_t bound = pairwise::outside_bound(bounds, band);
        if (score > bound) return trace(driver, p, options, plan, interruption);  // S_B > U
        if (forced) {
            half_width *= 2;  // every widening, for tests
        } else {
            const std::int64_t needed = pairwise::width_to_prove(bounds, half_width, score, bound);
            if (needed <= 0) return std::nullopt;
            half_width = std::max(2 * half_width, needed);
        }
    }
}

// The integer fill in cells of type T: every term as the cell type, the scores as integers;
// the band first where it may pay.
template <class T>
Expected<PairwiseResult> integer_fill(const Prepared& p, const Sizes& z,
                                      const Expected<Layout>& chosen,
                                      const AlignmentOptions& options, const EnginePolicy& policy,
                                      const IntegerPlan& plan,
                                      pairwise::FillFn<pairwise::PlainFill<T>, T> fill,
                                      PairwiseStorage& ws, Interruption& interruption) {
    if (!pairwise::reserve_index_buffers<T>(ws, z)) return kOutOfMemory;
    const std::uint64_t n_terms = 3 * (z.len_i + z.len_k);
    std::int32_t* tab_int = ws.tab_int.get();
    std::int16_t* tab_small = ws.tab_small.get();
    T* terms = ws.cells<T>().terms.get();
    for (std::size_t t = 0; t < p.n_scores; ++t)
        tab_int[t] = pairwise::scaled_score(p.tab[t], plan);
    const int n_blocks =
        std::is_same_v<T, std::int16_t> ? pairwise::small_table(tab_int, p.n_scores, tab_small) : 0;
    // The gap terms as whole numbers, in the layout of the doubles' (slack zero).
    const double* first = p.by_i[0] - 1;
    for (std::uint64_t t = 0; t < n_terms; ++t)
        terms[t] = static_cast<T>(pairwise::scaled_score(first[t], plan));
    const auto at = [&](const double* a) { return terms + (a - first); };
    pairwise::PlainFill<T> in{};
    in.n = p.n;
    in.m = p.m;
    in.codes = p.codes;
    in.scores = pairwise::IntegerScores{tab_int, n_blocks > 0 ? tab_small : nullptr, n_blocks};
    in.gaps = {at(p.by_i[0]), at(p.by_i[1]), at(p.by_i[2]),
               at(p.by_k[0]), at(p.by_k[1]), at(p.by_k[2])};
    in.unreachable = static_cast<T>(plan.unreachable);
    if (auto result = banded<T>(in, fill, p, z, options, policy, plan, ws, interruption))
        return std::move(*result);
    return whole_grid<T>(in, fill, p, z, chosen, options, policy, plan, ws, in.unreachable,
                         interruption);
}

Expected<PairwiseResult> align(std::string_view seq1, std::string_view seq2,
                               const ScoreTable& table, const AlignmentOptions& options,
                               const EnginePolicy& policy, PairwiseWorkspace& workspace,
                               Interruption& interruption) {
    auto& ws = workspace.storage();
    Prepared p{};
    p.n = static_cast<std::int64_t>(seq1.size());
    p.m = static_cast<std::int64_t>(seq2.size());

    // Sizes and the traceback path of the whole grid first (nothing is allocated yet), so that
    // a grid that cannot exist fails before anything is touched.
    std::optional<Sizes> sizes = pairwise::plan_sizes(p.n, p.m, policy);
    if (!sizes) return kOutOfMemory;
    Sizes& z = *sizes;
    z.scaled = options.scaler.has_value();
    const Expected<Layout> chosen = pairwise::choose_layout(z, policy);
    if (!chosen && policy.diagonal_band < 0) return chosen.error();

    // 1. Upper-cased working copies; the result strings are built from them.
    assign_upper(ws.s1, seq1);
    assign_upper(ws.s2, seq2);
    p.s1 = reinterpret_cast<const std::uint8_t*>(ws.s1.data());
    p.s2 = reinterpret_cast<const std::uint8_t*>(ws.s2.data());

    // 2. Derived gap scores.
    p.gaps = derive_gap_scores(options);

    // The bytes that occur, numbered on each side: the compact table's size.
    pairwise::CompactScores& scores = ws.scores;
    scores.reset();  // a workspace's scores are numbered afresh for each pair
    for (std::int64_t i = 0; i < p.n; ++i) scores.add1(p.s1[i]);
    for (std::int64_t j = 0; j < p.m; ++j) scores.add2(p.s2[j]);
    p.n_scores = scores.size();
    z.table = p.n_scores;
    if (!pairwise::reserve_index_buffers<double>(ws, z)) return kOutOfMemory;

    // Their codes as table indices, their pair scores as the compact table.
    std::uint16_t* q = ws.codes.get();
    std::fill(q, q + z.len_i + z.len_k, std::uint16_t{0});
    std::uint16_t* q1 = q + 1;         // by i, q1[-1] and q1[0] padding
    std::uint16_t* q2r = q + z.len_i;  // by k, q2r[m] padding
    for (std::int64_t i = 1; i <= p.n; ++i)
        q1[i] = static_cast<std::uint16_t>(scores.code1(p.s1[i - 1]) * scores.cols());
    for (std::int64_t k = 0; k < p.m; ++k)
        q2r[k] = static_cast<std::uint16_t>(scores.code2(p.s2[p.m - 1 - k]));
    p.codes = pairwise::Codes{q1, q2r};
    double* tab = ws.tab.get();
    std::fill(tab, tab + std::max<std::size_t>(p.n_scores, 16), 0.0);
    scores.write(table, tab);
    p.tab = tab;

    // 3. The per-index terms (with a scaler the end weights: pow is called only there).
    per_index_terms(options, z, ws.terms.get(), p);

    // 4. The cell type: integers when every score that enters the fill is a whole multiple
    // of one power of two and the values stay within the type (the same values, pointers
    // and score as doubles, see exact_integers.hpp); doubles otherwise and with a scaler.
    const pairwise::Fills& fills = fills_of(policy.kernel);
    const pairwise::DoubleScores doubles{tab, p.n_scores <= 16};
    if (options.scaler) {  // scales are never whole numbers: doubles, whatever is forced
        pairwise::ScaledFill in{};
        in.n = p.n;
        in.m = p.m;
        in.codes = p.codes;
        in.scores = doubles;
        in.a1_i = p.by_i[0], in.b1_i = p.by_i[1];
        in.l2_k = p.by_k[0], in.l2p_k = p.by_k[1], in.r2_k = p.by_k[2];
        in.open_eff = p.gaps.open_eff, in.extend = p.gaps.extend, in.close = p.gaps.close;
        in.ends = end_masks(options, z, ws.end_masks.get());
        return whole_grid<double>(in, fills.scaled, p, z, chosen, options, policy, std::nullopt, ws,
                                  kNegInf, interruption);
    }
    if (policy.cell_type != CellType::Double) {
        for (CellType type : {CellType::Int16, CellType::Int32}) {
            if (policy.cell_type != CellType::Automatic && policy.cell_type != type) continue;
            const std::optional<IntegerPlan> plan =
                pairwise::plan_integer_fill(tab, p.n_scores, p.gaps, p.n, p.m, type);
            if (!plan) continue;
            if (type == CellType::Int16) {
                return integer_fill<std::int16_t>(p, z, chosen, options, policy, *plan, fills.int16,
                                                  ws, interruption);
            }
            return integer_fill<std::int32_t>(p, z, chosen, options, policy, *plan, fills.int32, ws,
                                              interruption);
        }
        if (policy.cell_type != CellType::Automatic) {
            if (!chosen) return chosen.error();  // the memory's verdict comes first
            return kForcedCellTypeInexact;
        }
    }
    pairwise::PlainFill<double> in{};
    in.n = p.n;
    in.m = p.m;
    in.codes = p.codes;
    in.scores = doubles;
    in.gaps = {p.by_i[0], p.by_i[1], p.by_i[2], p.by_k[0], p.by_k[1], p.by_k[2]};
    in.unreachable = kNegInf;
    return whole_grid<double>(in, fills.plain, p, z, chosen, options, policy, std::nullopt, ws,
                              kNegInf, interruption);
}

}  // namespace

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               PairwiseWorkspace& workspace,
                                               Interruption& interruption) {
    try {  // the storage and the strings can fail to grow
        return align(seq1, seq2, table, options, policy, workspace, interruption);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               Interruption& interruption) {
    PairwiseWorkspace workspace;
    return needleman_wunsch_core(seq1, seq2, table, options, policy, workspace, interruption);
}

}  // namespace vorn
