// The pairwise engine around the fill kernel: normalisation, the per-index gap and
// scale terms, the choice of the end state and the traceback.
#include "pairwise/core.hpp"

#include <algorithm>
#include <limits>
#include <new>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "pairwise/kernel.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

using pairwise::FillInput;
using pairwise::kUnset2;

struct PairwiseWorkspace::Storage {
    std::string s1, s2;  // upper-cased working copies
    Scratch<std::uint8_t> pointers;
    Scratch<std::uint64_t> offsets;
    Scratch<double> diagonals;
    Scratch<double> by_i, by_k;  // per-index terms
    Scratch<std::uint32_t> codes;
    Scratch<double> tab;
};

PairwiseWorkspace::PairwiseWorkspace() : storage_(std::make_unique<Storage>()) {}
PairwiseWorkspace::~PairwiseWorkspace() = default;

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();
constexpr EngineError kUnsetPointer{ErrorKind::Value, "unset pointer encountered during traceback"};
constexpr EngineError kInvalidState{ErrorKind::Value, "invalid state encountered during traceback"};

pairwise::FillFn pick_fill(bool scaled) {
    switch (selected_kernel_isa()) {
#if VORN_X86_KERNELS
        case KernelIsa::Avx512:
            return scaled ? pairwise::kernel_avx512::fill_scaled : pairwise::kernel_avx512::fill_plain;
        case KernelIsa::Avx2:
            return scaled ? pairwise::kernel_avx2::fill_scaled : pairwise::kernel_avx2::fill_plain;
#endif
        default:
            break;
    }
    return scaled ? pairwise::kernel_generic::fill_scaled : pairwise::kernel_generic::fill_plain;
}

Expected<PairwiseResult> align(std::string_view seq1, std::string_view seq2, const ScoreTable& table,
                               const AlignmentOptions& options, PairwiseWorkspace& workspace);

}  // namespace

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table, const AlignmentOptions& options) {
    try {
        PairwiseWorkspace workspace;
        return align(seq1, seq2, table, options, workspace);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

Expected<PairwiseResult> needleman_wunsch_core(std::string_view seq1, std::string_view seq2,
                                               const ScoreTable& table, const AlignmentOptions& options,
                                               PairwiseWorkspace& workspace) {
    try {  // the strings can fail to grow; nothing else throws
        return align(seq1, seq2, table, options, workspace);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

namespace {

Expected<PairwiseResult> align(std::string_view seq1, std::string_view seq2, const ScoreTable& table,
                               const AlignmentOptions& options, PairwiseWorkspace& workspace) {
    auto& ws = workspace.storage();
    const std::int64_t n = static_cast<std::int64_t>(seq1.size());
    const std::int64_t m = static_cast<std::int64_t>(seq2.size());

    // Sizes first, so that a grid that cannot exist fails before anything is touched.
    std::uint64_t cells = 0, pointer_bytes = 0;
    if (!checked_mul(static_cast<std::uint64_t>(n) + 1, static_cast<std::uint64_t>(m) + 1, &cells) ||
        !checked_add(cells, pairwise::kLanes, &pointer_bytes)) {
        return kOutOfMemory;
    }
    // Per-index arrays carry padding at index -1 and kLanes entries of slack at the end.
    const std::uint64_t n_diagonals = static_cast<std::uint64_t>(n + m) + 1;
    const std::uint64_t len_i = static_cast<std::uint64_t>(n) + 3 + pairwise::kLanes;
    const std::uint64_t len_k = static_cast<std::uint64_t>(m) + 3 + pairwise::kLanes;
    std::uint8_t* pointers = ws.pointers.reserve(pointer_bytes);
    std::uint64_t* offsets = ws.offsets.reserve(n_diagonals + 1);
    double* diagonals = ws.diagonals.reserve(9 * len_i);
    double* by_i = ws.by_i.reserve(3 * len_i);
    double* by_k = ws.by_k.reserve(3 * len_k);
    std::uint32_t* codes = ws.codes.reserve(len_i + len_k);
    if (!pointers || !offsets || !diagonals || !by_i || !by_k || !codes) return kOutOfMemory;
    std::fill(by_i, by_i + 3 * len_i, 0.0);
    std::fill(by_k, by_k + 3 * len_k, 0.0);
    std::fill(codes, codes + len_i + len_k, std::uint32_t{0});

    // 1. Upper-cased working copies; the result strings are built from them.
    ws.s1.assign(seq1);
    ws.s2.assign(seq2);
    for (char& ch : ws.s1) ch = static_cast<char>(upper_ascii(static_cast<std::uint8_t>(ch)));
    for (char& ch : ws.s2) ch = static_cast<char>(upper_ascii(static_cast<std::uint8_t>(ch)));
    const auto* s1 = reinterpret_cast<const std::uint8_t*>(ws.s1.data());
    const auto* s2 = reinterpret_cast<const std::uint8_t*>(ws.s2.data());

    // 2. Derived gap scores.
    const GapScores gaps = derive_gap_scores(options);

    // The pair scores of the bytes that occur, as a compact table over their codes.
    std::int32_t code1[256], code2[256];
    std::fill(std::begin(code1), std::end(code1), -1);
    std::fill(std::begin(code2), std::end(code2), -1);
    std::uint8_t bytes1[256], bytes2[256];
    std::uint32_t sigma1 = 0, sigma2 = 0;
    std::uint32_t* c1 = codes;           // by i, c1[0] padding
    std::uint32_t* c2r = codes + len_i;  // by k, c2r[m] padding
    for (std::int64_t i = 1; i <= n; ++i) {
        const std::uint8_t b = s1[i - 1];
        if (code1[b] < 0) {
            code1[b] = static_cast<std::int32_t>(sigma1);
            bytes1[sigma1++] = b;
        }
        c1[i] = static_cast<std::uint32_t>(code1[b]);
    }
    for (std::int64_t k = 0; k < m; ++k) {
        const std::uint8_t b = s2[m - 1 - k];
        if (code2[b] < 0) {
            code2[b] = static_cast<std::int32_t>(sigma2);
            bytes2[sigma2++] = b;
        }
        c2r[k] = static_cast<std::uint32_t>(code2[b]);
    }
    const std::uint32_t sig1 = std::max<std::uint32_t>(sigma1, 1), sig2 = std::max<std::uint32_t>(sigma2, 1);
    double* tab = ws.tab.reserve(static_cast<std::uint64_t>(sig1) * sig2);
    if (!tab) return kOutOfMemory;
    for (std::uint32_t a = 0; a < sig1; ++a) {
        for (std::uint32_t b = 0; b < sig2; ++b) {
            tab[a * sig2 + b] = (a < sigma1 && b < sigma2) ? table.at(bytes1[a], bytes2[b]) : 0.0;
        }
    }

    // Anti-diagonal offsets into the pointer bytes.
    offsets[0] = 0;
    for (std::int64_t d = 0; d <= n + m; ++d) {
        const std::int64_t lo = d > m ? d - m : 0, hi = d < n ? d : n;
        offsets[d + 1] = offsets[d] + static_cast<std::uint64_t>(hi - lo + 1);
    }

    FillInput in{};
    in.n = n;
    in.m = m;
    in.c1 = c1;
    in.c2r = c2r;
    in.tab = tab;
    in.sigma2 = sig2;
    in.open_eff = gaps.open_eff;
    in.extend = gaps.extend;
    in.close = gaps.close;
    in.seq1_left_free = options.seq1_left_free;
    in.seq1_right_free = options.seq1_right_free;
    in.seq2_left_free = options.seq2_left_free;
    in.seq2_right_free = options.seq2_right_free;
    for (int t = 0; t < 9; ++t) in.diag[t] = diagonals + t * len_i + 1;
    in.pointers = pointers;
    in.offsets = offsets;

    const bool l1f = options.seq1_left_free, r1f = options.seq1_right_free;
    const bool l2f = options.seq2_left_free, r2f = options.seq2_right_free;
    auto free_x = [&](std::int64_t i) { return (i == 0 && l1f) || (i == n && r1f); };
    auto exempt_x = [&](std::int64_t i) { return i == 1 && l1f; };
    auto free_y = [&](std::int64_t j) { return (j == 0 && l2f) || (j == m && r2f); };
    auto exempt_y = [&](std::int64_t j) { return j == 1 && l2f; };

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
        in.ox_i = ti[0];
        in.ex_i = ti[1];
        in.cx_i = ti[2];
        in.oy_k = tk[0];
        in.ey_k = tk[1];
        in.cy_k = tk[2];
    } else {
        // 3. End weights: pow is called only here, once per index and end.
        const double d = options.scaler->decay_exponent, t = options.scaler->temperature;
        auto weight = [&](bool on, std::int64_t k) { return on ? end_weight(static_cast<double>(k), d, t) : 0.0; };
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

    // 4. Fill.
    double end[3];
    pick_fill(scaled)(in, end);

    // 5. End state and score at (n, m), with the closing terms of final gaps.
    const double end_m = end[0];
    double end_x = end[1], end_y = end[2];
    if (!r1f && gaps.close != 0.0 && end_x > kNegInf) end_x = end_x + g1_end * gaps.close;
    if (!r2f && gaps.close != 0.0 && end_y > kNegInf) end_y = end_y + gaps.close * g2_end;
    const double best_mx = end_x > end_m ? end_x : end_m;
    TraceState state = end_y > best_mx ? TraceState::GapInSeq2
                       : end_x > end_m ? TraceState::GapInSeq1
                                       : TraceState::Match;
    const double score = end_y > best_mx ? end_y : best_mx;

    // Traceback from (n, m) to (0, 0), reading each state's pointer at its own cell.
    PairwiseResult result{std::string(), std::string(), score};
    if (n == 0 && m == 0) return result;
    std::string& a1 = result.aligned_seq1;
    std::string& a2 = result.aligned_seq2;
    a1.reserve(static_cast<std::size_t>(n + m));
    a2.reserve(static_cast<std::size_t>(n + m));
    std::int64_t i = n, j = m;
    while (true) {
        std::int64_t ni = i, nj = j;
        int shift = 0;
        switch (state) {
            case TraceState::Match:
                if (i < 1 || j < 1) return kUnsetPointer;
                a1.push_back(static_cast<char>(s1[i - 1]));
                a2.push_back(static_cast<char>(s2[j - 1]));
                ni = i - 1, nj = j - 1, shift = pairwise::kShiftMatch;
                break;
            case TraceState::GapInSeq1:
                if (j < 1) return kUnsetPointer;
                a1.push_back('-');
                a2.push_back(static_cast<char>(s2[j - 1]));
                nj = j - 1, shift = pairwise::kShiftGap1;
                break;
            case TraceState::GapInSeq2:
                if (i < 1) return kUnsetPointer;
                a1.push_back(static_cast<char>(s1[i - 1]));
                a2.push_back('-');
                ni = i - 1, shift = pairwise::kShiftGap2;
                break;
            default:
                return kInvalidState;
        }
        const std::int64_t dd = i + j, lo = dd > m ? dd - m : 0;
        const std::uint8_t p = (pointers[offsets[dd] + static_cast<std::uint64_t>(i - lo)] >> shift) & 3;
        if (p == kUnset2) return kUnsetPointer;
        state = static_cast<TraceState>(p);
        i = ni, j = nj;
        if (i == 0 && j == 0) break;
    }
    std::reverse(a1.begin(), a1.end());
    std::reverse(a2.begin(), a2.end());
    return result;
}

}  // namespace

}  // namespace vorn
