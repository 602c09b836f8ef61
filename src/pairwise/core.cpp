// The pairwise engine around the fill kernel: normalisation, the per-index gap and
// scale terms, the choice of the end state and the traceback.
#include "pairwise/core.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"
#include "pairwise/compact_scores.hpp"
#include "pairwise/exact_integers.hpp"
#include "pairwise/kernel.hpp"
#include "pairwise/traceback.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

using pairwise::FillInput;
using pairwise::FillState;
using pairwise::first_row;
using pairwise::IntegerPlan;
using pairwise::kUnset2;

// What a fill in cells of type T holds: its nine diagonals, the checkpointed path's
// stored diagonals, and (integers) the gap terms per index.
template <class T>
struct CellStorage {
    Scratch<T> diagonals;
    Scratch<T> checkpoints;
    Scratch<T> by_i, by_k;
    Scratch<T> border;  // the rows between bands
};

struct PairwiseWorkspace::Storage {
    std::string s1, s2;              // upper-cased working copies
    pairwise::CompactScores scores;  // 2.5 KiB: not on the stack
    Scratch<std::uint8_t> pointers;  // the whole grid, or one block of diagonals
    Scratch<std::uint64_t> offsets;
    Scratch<double> by_i, by_k;  // per-index terms
    Scratch<std::uint32_t> codes;
    Scratch<double> tab;
    CellStorage<double> real;
    // The integer fills' scores, codes and cells.
    Scratch<std::int32_t> tab_int;
    Scratch<std::int16_t> tab_small;
    Scratch<std::uint16_t> q;
    CellStorage<std::int32_t> wide;
    CellStorage<std::int16_t> narrow;
};

PairwiseWorkspace::PairwiseWorkspace() noexcept = default;
PairwiseWorkspace::~PairwiseWorkspace() = default;
PairwiseWorkspace::Storage& PairwiseWorkspace::storage() {
    if (!storage_) storage_ = std::make_unique<Storage>();
    return *storage_;
}
void PairwiseWorkspace::release() noexcept { storage_.reset(); }

namespace {

// The fills of one kernel build, by cell type.
struct Fills {
    pairwise::FillFn<double> plain, scaled;
    pairwise::FillFn<std::int32_t> int32;
    pairwise::FillFn<std::int16_t> int16;
};

#define VORN_FILLS_OF(ns) \
    Fills { ns::fill_plain, ns::fill_scaled, ns::fill_int32, ns::fill_int16 }

Fills pick_fills(KernelIsa kernel) {
    switch (kernel) {
#if VORN_X86_KERNELS
        case KernelIsa::Avx512:
            return VORN_FILLS_OF(pairwise::kernel_avx512);
        case KernelIsa::Avx2:
            return VORN_FILLS_OF(pairwise::kernel_avx2);
#endif
        default:
            break;
    }
    return VORN_FILLS_OF(pairwise::kernel_generic);
}
#undef VORN_FILLS_OF

Expected<PairwiseResult> align(std::string_view seq1, std::string_view seq2,
                               const ScoreTable& table, const AlignmentOptions& options,
                               const EnginePolicy& policy, PairwiseWorkspace& workspace,
                               Interruption& interruption);

// A band of rows holds this many bytes of one state's diagonal.
constexpr std::size_t kBandBytes = 32768;

// Below this many bytes of pointers the whole grid is taken without asking how much memory
// is left (the question costs more than such a call); a failed allocation still falls back.
constexpr std::uint64_t kAlwaysFullBytes = std::uint64_t{64} << 20;

// The checkpointed path stores six arrays of one diagonal's length per checkpoint and
// keeps the pointer bytes of one block of k diagonals; k = sqrt(48 * diagonals) balances
// the two.
std::int64_t default_interval(std::int64_t diagonals) {
    const double k = std::ceil(std::sqrt(48.0 * static_cast<double>(diagonals)));
    return k < 1.0 ? 1 : static_cast<std::int64_t>(k);
}

// a + b + ..., saturating instead of wrapping.
std::uint64_t sum_bytes(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t total = 0;
    for (std::uint64_t x : parts) total = saturating_add(total, x);
    return total;
}

std::uint64_t times(std::uint64_t a, std::uint64_t b) { return saturating_mul(a, b); }

// The sizes of one call's buffers and the working memory of each traceback path. The
// traceback path: the whole grid's pointers when they fit comfortably in what this process
// can still obtain, otherwise checkpoints every k diagonals and the pointers of one block of
// k diagonals at a time.
struct MemoryPlan {
    std::uint64_t len_i, len_k;  // per-index arrays by i and by k, padding and slack included
    std::uint64_t room;          // one stored diagonal
    std::uint64_t longest;       // the longest diagonal, min(n, m) + 1 cells
    std::int64_t interval;       // diagonals per block of the checkpointed path
    std::int64_t n_blocks;
    std::uint64_t full_bytes;         // the whole grid's pointer bytes
    std::uint64_t block_bytes;        // the pointer bytes of the largest block
    std::uint64_t checkpoint_values;  // the cells the checkpoints hold
    std::uint64_t full_need;          // all the whole-grid path holds
    std::uint64_t checkpoint_need;    // all the checkpointed path holds
};

// The cells of anti-diagonals first..last of an n x m grid.
std::uint64_t diagonal_cells(std::int64_t n, std::int64_t m, std::int64_t first,
                             std::int64_t last) {
    std::uint64_t cells = 0;
    for (std::int64_t d = first; d <= last; ++d)
        cells += static_cast<std::uint64_t>((d < n ? d : n) - first_row(d, m) + 1);
    return cells;
}

std::optional<MemoryPlan> plan_memory(std::int64_t n, std::int64_t m, const EnginePolicy& policy) {
    std::uint64_t cells = 0;
    if (!checked_mul(static_cast<std::uint64_t>(n) + 1, static_cast<std::uint64_t>(m) + 1,
                     &cells)) {
        return std::nullopt;
    }
    MemoryPlan p{};
    // Per-index arrays carry padding at index -1 and kLanes entries of slack at the end;
    // a stored diagonal holds at most min(n, m) + 1 cells.
    const std::int64_t last_d = n + m;
    const std::uint64_t n_diagonals = static_cast<std::uint64_t>(last_d) + 1;
    p.len_i = static_cast<std::uint64_t>(n) + pairwise::kEdgeEntries + pairwise::kLanes;
    p.len_k = static_cast<std::uint64_t>(m) + pairwise::kEdgeEntries + pairwise::kLanes;
    p.room = static_cast<std::uint64_t>(pairwise::diagonal_room(n, m));
    p.longest = static_cast<std::uint64_t>(std::min(n, m)) + 1;
    p.interval =
        policy.checkpoint_interval > 0
            ? std::min<std::int64_t>(policy.checkpoint_interval, std::max<std::int64_t>(last_d, 1))
            : default_interval(last_d);
    p.n_blocks = last_d == 0 ? 1 : (last_d + p.interval - 1) / p.interval;
    std::uint64_t block = 0;
    for (std::int64_t b = 0; b < p.n_blocks; ++b) {
        const std::int64_t first = b * p.interval + 1;
        const std::int64_t last = std::min(first - 1 + p.interval, last_d);
        block = std::max(block, diagonal_cells(n, m, first, last));
    }
    p.full_bytes = sum_bytes({cells, pairwise::kLanes});
    p.block_bytes = sum_bytes({block, pairwise::kLanes});
    p.checkpoint_values = times(static_cast<std::uint64_t>(p.n_blocks - 1), 6 * p.longest);
    const std::uint64_t checkpoint_bytes =
        sum_bytes({p.block_bytes, times(p.checkpoint_values, sizeof(double))});
    // Everything else the call holds: the score diagonals, the per-index terms and codes,
    // the diagonal offsets, the working copies and the two result strings, and some room.
    const std::uint64_t other = sum_bytes(
        {times(9 * p.room + 3 * p.len_i + 3 * p.len_k, sizeof(double)),
         times(p.len_i + p.len_k, sizeof(std::uint32_t)),
         times(n_diagonals + 1, sizeof(std::uint64_t) + 3),
         times(6 * (static_cast<std::uint64_t>(m) + 1), sizeof(double)), std::uint64_t{16} << 20});
    p.full_need = sum_bytes({p.full_bytes, other});
    p.checkpoint_need = sum_bytes({checkpoint_bytes, other});
    return p;
}

}  // namespace

PairwiseMemory pairwise_memory(std::uint64_t n, std::uint64_t m, const EnginePolicy& policy) {
    const std::optional<MemoryPlan> plan =
        plan_memory(static_cast<std::int64_t>(n), static_cast<std::int64_t>(m), policy);
    if (!plan) return {~std::uint64_t{0}, ~std::uint64_t{0}};
    return {plan->full_need, plan->checkpoint_need};
}

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               Interruption& interruption) {
    try {
        PairwiseWorkspace workspace;
        return align(seq1, seq2, table, options, policy, workspace, interruption);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table,
                                               const AlignmentOptions& options,
                                               const EnginePolicy& policy,
                                               PairwiseWorkspace& workspace,
                                               Interruption& interruption) {
    try {  // the strings can fail to grow; nothing else throws
        return align(seq1, seq2, table, options, policy, workspace, interruption);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

namespace {

Expected<PairwiseResult> align(std::string_view seq1, std::string_view seq2,
                               const ScoreTable& table, const AlignmentOptions& options,
                               const EnginePolicy& policy, PairwiseWorkspace& workspace,
                               Interruption& interruption) {
    auto& ws = workspace.storage();
    const std::int64_t n = static_cast<std::int64_t>(seq1.size());
    const std::int64_t m = static_cast<std::int64_t>(seq2.size());

    // Sizes first, so that a grid that cannot exist fails before anything is touched.
    const std::optional<MemoryPlan> sizes = plan_memory(n, m, policy);
    if (!sizes) return kOutOfMemory;
    const MemoryPlan& plan_bytes = *sizes;
    const std::int64_t last_d = n + m;
    const std::uint64_t n_diagonals = static_cast<std::uint64_t>(last_d) + 1;
    const std::uint64_t len_i = plan_bytes.len_i, len_k = plan_bytes.len_k;
    const std::uint64_t room = plan_bytes.room, longest = plan_bytes.longest;
    const std::int64_t interval = plan_bytes.interval, n_blocks = plan_bytes.n_blocks;
    const std::uint64_t full_bytes = plan_bytes.full_bytes, block_bytes = plan_bytes.block_bytes;
    const std::uint64_t checkpoint_doubles = plan_bytes.checkpoint_values;
    const std::uint64_t full_need = plan_bytes.full_need;
    const std::uint64_t checkpoint_need = plan_bytes.checkpoint_need;
    std::uint64_t* offsets = ws.offsets.reserve(n_diagonals + 1);
    double* by_i = ws.by_i.reserve(3 * len_i);
    double* by_k = ws.by_k.reserve(3 * len_k);
    std::uint32_t* codes = ws.codes.reserve(len_i + len_k);
    if (!offsets || !by_i || !by_k || !codes) return kOutOfMemory;
    std::fill(by_i, by_i + 3 * len_i, 0.0);
    std::fill(by_k, by_k + 3 * len_k, 0.0);
    std::fill(codes, codes + len_i + len_k, std::uint32_t{0});

    // Anti-diagonal offsets into the pointer bytes of the whole grid.
    offsets[0] = 0;
    for (std::int64_t d = 0; d <= last_d; ++d) {
        const std::int64_t lo = first_row(d, m), hi = d < n ? d : n;
        offsets[d + 1] = offsets[d] + static_cast<std::uint64_t>(hi - lo + 1);
    }

    bool checkpointed = policy.traceback == TracebackPath::Checkpoint;
    if (checkpointed) {
        if (!admit(checkpoint_need, policy.memory_root)) return memory_error(checkpoint_need);
    } else if (full_bytes > kAlwaysFullBytes) {
        // The whole grid when it fits comfortably (a quarter of it to spare), checkpoints
        // when only they fit, MemoryError (naming the least the call needs) otherwise.
        const std::uint64_t obtainable = obtainable_memory(policy.memory_root);
        if (policy.traceback == TracebackPath::Full) {
            if (full_need > obtainable) return memory_error(full_need);
        } else if (sum_bytes({full_need, full_bytes / 4}) > obtainable) {
            if (checkpoint_need > obtainable) return memory_error(checkpoint_need);
            checkpointed = true;
        }
    }
    std::uint8_t* pointers = checkpointed ? nullptr : ws.pointers.reserve(full_bytes);
    if (!pointers && policy.traceback != TracebackPath::Full) {
        checkpointed = true;  // the whole grid could not be had: the checkpoints may still fit
    }
    if (checkpointed) pointers = ws.pointers.reserve(block_bytes);
    if (!pointers) return memory_error(checkpointed ? checkpoint_need : full_need);

    // 1. Upper-cased working copies; the result strings are built from them.
    assign_upper(ws.s1, seq1);
    assign_upper(ws.s2, seq2);
    const auto* s1 = reinterpret_cast<const std::uint8_t*>(ws.s1.data());
    const auto* s2 = reinterpret_cast<const std::uint8_t*>(ws.s2.data());

    // 2. Derived gap scores.
    const GapScores gaps = derive_gap_scores(options);

    // The pair scores of the bytes that occur, as a compact table over their codes.
    pairwise::CompactScores& scores = ws.scores;
    scores.reset();
    std::uint32_t* c1 = codes;           // by i, c1[0] padding
    std::uint32_t* c2r = codes + len_i;  // by k, c2r[m] padding
    for (std::int64_t i = 1; i <= n; ++i) c1[i] = scores.add1(s1[i - 1]);
    for (std::int64_t k = 0; k < m; ++k) c2r[k] = scores.add2(s2[m - 1 - k]);
    const std::uint32_t sig2 = scores.cols();
    // At least 16 entries, zero past the scores: the double fills look up tables of up to
    // 16 scores from two vector registers.
    const std::uint64_t n_tab = scores.size();
    double* tab = ws.tab.reserve(std::max<std::uint64_t>(n_tab, 16));
    if (!tab) return kOutOfMemory;
    std::fill(tab, tab + std::max<std::uint64_t>(n_tab, 16), 0.0);
    scores.write(table, tab);

    FillInput in{};
    in.n = n;
    in.m = m;
    in.c1 = c1;
    in.c2r = c2r;
    in.tab = tab;
    in.tab_in_registers = n_tab <= 16;
    in.sigma2 = sig2;
    in.open_eff = gaps.open_eff;
    in.extend = gaps.extend;
    in.close = gaps.close;
    in.seq1_left_free = options.seq1_left_free;
    in.seq1_right_free = options.seq1_right_free;
    in.seq2_left_free = options.seq2_left_free;
    in.seq2_right_free = options.seq2_right_free;
    in.pointers = pointers;
    in.offsets = offsets;
    in.interruption = &interruption;
    in.pointer_origin = 0;

    const bool l1f = options.seq1_left_free, r1f = options.seq1_right_free;
    const bool l2f = options.seq2_left_free, r2f = options.seq2_right_free;
    // A GapInSeq1 column at row i is free by seq1's ends, a GapInSeq2 column at column j
    // by seq2's; a gap that ends at row or column 1 along a free left end closes exempt.
    auto free_x = [&](std::int64_t i) { return gap_is_free(i, n, l1f, r1f); };
    auto exempt_x = [&](std::int64_t i) { return closing_is_exempt(i, l1f); };
    auto free_y = [&](std::int64_t j) { return gap_is_free(j, m, l2f, r2f); };
    auto exempt_y = [&](std::int64_t j) { return closing_is_exempt(j, l2f); };

    // Per-index arrays (zero-filled above): "by i" live at [-1, n], "by k" (k = m - j) at
    // [0, m + 1]; the ends are padding.
    double* ti[3];
    for (int t = 0; t < 3; ++t) ti[t] = by_i + t * len_i + 1;
    double* tk[3];
    for (int t = 0; t < 3; ++t) tk[t] = by_k + t * len_k;

    const bool scaled = options.scaler.has_value();
    double g1_end = 1.0, g2_end = 1.0;  // gap1_scale(n, m) and gap2_scale(n, m)
    if (!scaled) {
        for (std::int64_t i = -1; i <= n; ++i) {
            ti[0][i] = free_x(i) ? 0.0 : gaps.open_eff;
            ti[1][i] = free_x(i) ? 0.0 : gaps.extend;
            ti[2][i] = exempt_x(i) ? 0.0 : gaps.close;
        }
        for (std::int64_t k = 0; k <= m + 1; ++k) {
            const std::int64_t j = m - k;
            tk[0][k] = free_y(j) ? 0.0 : gaps.open_eff;
            tk[1][k] = free_y(j) ? 0.0 : gaps.extend;
            tk[2][k] = exempt_y(j) ? 0.0 : gaps.close;
        }
        in.gaps = {ti[0], ti[1], ti[2], tk[0], tk[1], tk[2]};
    } else {
        // 3. End weights: pow is called only here, once per index and end.
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
        in.a1_i = ti[0];
        in.b1_i = ti[1];
        in.l2_k = tk[0];
        in.l2p_k = tk[1];
        in.r2_k = tk[2];
        g1_end = one_if_zero((ti[1][n] + tk[0][0]) + tk[2][0]);
        g2_end = one_if_zero((ti[0][n] + tk[1][0]) + tk[2][0]);
    }

    // 4. The cell type: integers when every score that enters the fill is a whole multiple
    // of one power of two and the values stay within the type (the same values, pointers
    // and score as doubles, see exact_integers.hpp); doubles otherwise and with a scaler.
    std::optional<IntegerPlan> plan;
    CellType cell_type = CellType::Double;
    if (!scaled && policy.cell_type != CellType::Double) {
        const std::size_t n_scores = scores.size();
        for (CellType type : {CellType::Int16, CellType::Int32}) {
            if (policy.cell_type != CellType::Automatic && policy.cell_type != type) continue;
            plan = pairwise::plan_integer_fill(tab, n_scores, gaps, n, m, type);
            if (plan) {
                cell_type = type;
                break;
            }
        }
        if (!plan && policy.cell_type != CellType::Automatic) return kForcedCellTypeInexact;
        if (plan) {
            // Codes as 16-bit table indices, q1[i] + q2r[k] (at most 255 * 256 + 255).
            std::uint16_t* q = ws.q.reserve(len_i + len_k);
            std::int32_t* tab_int = ws.tab_int.reserve(n_scores);
            std::int16_t* tab_small = ws.tab_small.reserve(pairwise::kSmallTable);
            if (!q || !tab_int || !tab_small) return kOutOfMemory;
            for (std::uint64_t t = 0; t < len_i; ++t)
                q[t] = static_cast<std::uint16_t>(codes[t] * sig2);
            for (std::uint64_t t = 0; t < len_k; ++t)
                q[len_i + t] = static_cast<std::uint16_t>(codes[len_i + t]);
            for (std::size_t t = 0; t < n_scores; ++t) tab_int[t] = scaled_score(tab[t], *plan);
            in.small_chunks = cell_type == CellType::Int16
                                  ? pairwise::small_table(tab_int, n_scores, tab_small)
                                  : 0;
            in.q1 = q;
            in.q2r = q + len_i;
            in.tab_int = tab_int;
            in.tab_small = in.small_chunks > 0 ? tab_small : nullptr;
            in.unreachable = plan->unreachable;
        }
    }
    // Fill and traceback, for one cell type: `tag` names it, `cs` holds its storage.
    auto trace =
        [&](auto tag, auto& cs,
            pairwise::FillFn<typename decltype(tag)::type> fill) -> Expected<PairwiseResult> {
        // 5. Fill and traceback in cells of type T. The state starts at diagonal 0: the start
        // cell, every other entry unreachable (-inf, or the integer stand-in).
        using T = typename decltype(tag)::type;
        T* diagonals = cs.diagonals.reserve(9 * room);
        T* checkpoints =
            checkpointed ? cs.checkpoints.reserve(std::max<std::uint64_t>(checkpoint_doubles, 1))
                         : nullptr;
        if (!diagonals) return kOutOfMemory;
        if (checkpointed && !checkpoints) return memory_error(checkpoint_need);
        if constexpr (!std::is_same_v<T, double>) {
            // The gap terms per index as whole numbers; the slack stays zero.
            T* ints_i = cs.by_i.reserve(3 * len_i);
            T* ints_k = cs.by_k.reserve(3 * len_k);
            if (!ints_i || !ints_k) return kOutOfMemory;
            for (std::uint64_t t = 0; t < 3 * len_i; ++t)
                ints_i[t] = static_cast<T>(scaled_score(by_i[t], *plan));
            for (std::uint64_t t = 0; t < 3 * len_k; ++t)
                ints_k[t] = static_cast<T>(scaled_score(by_k[t], *plan));
            pairwise::GapTerms<T> terms{ints_i + 1, ints_i + len_i + 1, ints_i + 2 * len_i + 1,
                                        ints_k,     ints_k + len_k,     ints_k + 2 * len_k};
            if constexpr (std::is_same_v<T, std::int32_t>)
                in.gaps32 = terms;
            else
                in.gaps16 = terms;
        }
        T none;
        if constexpr (std::is_same_v<T, double>) {
            none = kNegInf;
        } else {
            none = static_cast<T>(plan->unreachable);
        }
        FillState<T> st{};
        const pairwise::Band<T> whole{0, n, {}, {}};
        auto start_state = [&] {
            std::fill(diagonals, diagonals + 9 * room, none);
            for (int t = 0; t < 9; ++t)
                st.diag[t] = diagonals + static_cast<std::uint64_t>(t) * room + 1;
            st.diag[3][0] = T{0};
            st.d = 0;
        };
        auto diagonal_length = [&](std::int64_t d) {
            return static_cast<std::size_t>((d < n ? d : n) - first_row(d, m) + 1);
        };
        // Checkpoint c holds diagonals c * k - 1 and c * k (c >= 1), from which block c
        // (diagonals c * k + 1 to (c + 1) * k) is filled again.
        auto checkpoint = [&](std::int64_t c) {
            return checkpoints + static_cast<std::uint64_t>(c - 1) * 6 * longest;
        };
        auto fill_block = [&](std::int64_t b) {
            in.pointer_origin = offsets[b * interval + 1];
            fill(in, st, std::min((b + 1) * interval, last_d), whole);
        };
        start_state();
        std::int64_t block_first = 0;  // the first diagonal whose pointers are at hand
        if (!checkpointed) {
            pointers[0] = static_cast<std::uint8_t>((kUnset2 << pairwise::kShiftGap1) |
                                                    (kUnset2 << pairwise::kShiftGap2));
            // A long seq1 is filled in bands of rows, each band's diagonals short enough
            // to stay in the fastest caches; every cell is computed exactly as in one sweep.
            const std::int64_t rows = policy.row_block > 0
                                          ? policy.row_block
                                          : static_cast<std::int64_t>(kBandBytes / sizeof(T));
            if (n < 2 * rows && policy.row_block == 0) {
                fill(in, st, last_d, whole);
            } else {
                const std::uint64_t width = static_cast<std::uint64_t>(m) + 1;
                T* border = cs.border.reserve(6 * width);
                if (!border) return kOutOfMemory;
                for (std::int64_t first = 0; first <= n; first += rows) {
                    pairwise::Band<T> band{first, std::min(first + rows - 1, n), {}, {}};
                    T* above = border + (first / rows % 2) * 3 * width;
                    T* below = border + (first / rows % 2 == 0 ? 3 : 0) * width;
                    for (int t = 0; t < 3; ++t) {
                        if (first > 0) band.above[t] = above + t * width;
                        if (band.last < n) band.below[t] = below + t * width;
                    }
                    if (band.last == 0 && band.below[0]) {  // row 0 is the start cell alone
                        band.below[0][0] = T{0};
                        band.below[1][0] = band.below[2][0] = none;
                    }
                    if (first > 0) {  // diagonal first - 1 has no rows in the band
                        std::fill(diagonals, diagonals + 9 * room, none);
                        st.d = first - 1;
                    }
                    fill(in, st, std::min(band.last + m, last_d), band);
                    if (interruption.stopped()) return kInterrupted;
                }
            }
            if (interruption.stopped()) return kInterrupted;
        } else {
            for (std::int64_t b = 0; b < n_blocks; ++b) {
                fill_block(b);
                if (interruption.stopped()) return kInterrupted;
                if (b + 1 == n_blocks) break;
                T* slot = checkpoint(b + 1);
                for (int t = 0; t < 6; ++t) {
                    const std::size_t len = diagonal_length(st.d - (t < 3 ? 1 : 0));
                    std::memcpy(slot + static_cast<std::uint64_t>(t) * longest, st.diag[t],
                                len * sizeof(T));
                }
            }
            block_first = (n_blocks - 1) * interval + 1;
        }
        // The pointers of block b again, from its checkpoint; the kernel repeats the very
        // operations of the first fill, so every score and pointer comes out the same.
        auto refill = [&](std::int64_t b) {
            start_state();
            if (b > 0) {
                const T* slot = checkpoint(b);
                st.d = b * interval;
                for (int t = 0; t < 6; ++t) {
                    const std::size_t len = diagonal_length(st.d - (t < 3 ? 1 : 0));
                    std::memcpy(st.diag[t], slot + static_cast<std::uint64_t>(t) * longest,
                                len * sizeof(T));
                }
            }
            fill_block(b);
            block_first = b * interval + 1;
        };
        double end[3];
        for (int t = 0; t < 3; ++t) {
            if constexpr (std::is_same_v<T, double>) {
                end[t] = st.diag[3 + t][0];
            } else {
                end[t] = pairwise::integer_score(st.diag[3 + t][0], *plan);
            }
        }

        // 6. End state and score at (n, m), then the traceback.
        const pairwise::EndChoice choice =
            pairwise::choose_end(end, gaps, r1f, r2f, g1_end, g2_end);
        auto pointer_at = [&](std::int64_t i, std::int64_t j) -> int {
            const std::int64_t dd = i + j, lo = first_row(dd, m);
            if (dd < block_first) {
                refill((dd - 1) / interval);
                if (interruption.stopped()) return -1;
            }
            return pointers[offsets[dd] - in.pointer_origin + static_cast<std::uint64_t>(i - lo)];
        };
        return pairwise::trace_back(s1, s2, n, m, choice, pointer_at, interruption);
    };

    const Fills fills = pick_fills(policy.kernel);
    if (!plan) {
        return trace(std::type_identity<double>{}, ws.real, scaled ? fills.scaled : fills.plain);
    }
    if (cell_type == CellType::Int16)
        return trace(std::type_identity<std::int16_t>{}, ws.narrow, fills.int16);
    return trace(std::type_identity<std::int32_t>{}, ws.wide, fills.int32);
}

}  // namespace

}  // namespace vorn
