// The three-way plane fill, included once per instruction set with KERNEL_NS and KERNEL_LANES
// defined.
//
// The entry of state k in cell x = (x1, x2, x3) comes from the cell x - d(k), d(k) being the
// state's steps (1 where the state has a character of the string, 0 for a gap):
//   V(k, x) = max over p = 0..6 of  (V(p, x - d(k)) + pair(k, x)) + gap(p -> k, x)
// with pointer p, taking the first maximum in p order: a later p replaces the best only when
// strictly greater, so ties keep the lower p and a candidate at -inf or NaN never wins.
// pair(k, x) is ((0.0 + T12) + T13) + T23 over the pairs of characters the column holds, and
// gap(p -> k, x) the sum over the three strings, in string order, of the opening, extension or
// closing the transition costs at x's coordinate classes (free gaps, exempt closings).
//
// The fill runs the outer string in planes and the other two (a, b) along each plane's
// anti-diagonals t = x_a + x_b. A cell of diagonal t reads diagonals t, t - 1 and t - 2 of the
// plane before and t - 1, t - 2 of its own plane, so the cells of one diagonal are computed side
// by side in vector lanes. Invariant on entry to diagonal t: the plane before is final, and so
// are diagonals up to t - 1 of this plane, each with the unreachable value in the entries just
// before its first cell and just after its last.
//
// The same step runs on doubles, or on 32- or 16-bit integers holding every score times a power
// of two, with a stand-in for -inf (exact_integers.hpp says why the values, the comparisons and
// so the pointers are the same). Integers have no -inf or NaN and add exactly, so there the pair
// score, the same for all seven candidates of a state, is added after the maximum, and each entry
// carries 7 - (its state) in its low bits, which makes the largest candidate the first maximum.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "common/lanes.hpp"
#include "three_way/kernel.hpp"

namespace vorn::three_way::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations
static_assert(static_cast<int>(kBytes / sizeof(std::int16_t)) <= kMaxWidth);
static_assert(kStates * kStates * kBytes + kBytes <= static_cast<int>(kScratchBytes));

// A cell of seven states and 49 transitions costs about as much as this many cells of the
// pairwise fill (the unit of an Interruption's countdown).
constexpr std::int64_t kCellWeight = 8;

// The operations below serve a scalar (one cell) and a vector of cells alike.
template <class V>
struct ElementOf {
    using type = std::remove_cvref_t<decltype(std::declval<V>()[0])>;
};
template <class V>
requires std::is_arithmetic_v<V>
struct ElementOf<V> {
    using type = V;
};
template <class V>
using ElementT = typename ElementOf<V>::type;

template <class V>
[[gnu::always_inline]] inline V broadcast(ElementT<V> x) {
    if constexpr (std::is_arithmetic_v<V>) {
        return x;
    } else {
        return V{} + x;
    }
}

// Integer sums wrap instead of overflowing: lanes past a diagonal's end add whatever the
// slack holds, and their results are never read; the cells that are read never come near the
// limits of the type (exact_integers.hpp).
template <class V>
[[gnu::always_inline]] inline V add(V a, V b) {
    using E = ElementT<V>;
    if constexpr (std::is_floating_point_v<E>) {
        return a + b;
    } else if constexpr (std::is_arithmetic_v<V>) {
        using U = std::make_unsigned_t<E>;
        return static_cast<E>(static_cast<U>(static_cast<U>(a) + static_cast<U>(b)));
    } else {
        using U = typename Lanes<E>::Unsigned;
        const U sum = load<U>(&a) + load<U>(&b);
        return load<V>(&sum);
    }
}

template <class T>
constexpr T lowest() {
    if constexpr (std::is_floating_point_v<T>) {
        return -std::numeric_limits<T>::infinity();
    } else {
        return std::numeric_limits<T>::min();
    }
}

// The pair score of each state from the cell's three pair scores, summed from 0.0 in string
// order. A state with one character has none; its candidates add nothing, since
// V + 0.0 is V for every value the fill holds (no value is -0.0: the start is +0.0 and an
// IEEE sum is -0.0 only when both terms are).
template <class V>
[[gnu::always_inline]] inline void pair_sums(V t12, V t13, V t23, V out[kStates]) {
    using E = ElementT<V>;
    if constexpr (std::is_floating_point_v<E>) {
        const V zero = broadcast<V>(0.0);
        out[0] = ((zero + t12) + t13) + t23;
        out[1] = zero + t23;
        out[2] = zero + t13;
        out[4] = zero + t12;
    } else {
        out[0] = add(add(t12, t13), t23);
        out[1] = t23;
        out[2] = t13;
        out[4] = t12;
    }
    out[3] = out[5] = out[6] = broadcast<V>(0);
}

// The states of the double step's lanes: in AVX-512's mask registers and 32-bit lanes, half a
// vector's width, which halves the cost of following them; elsewhere as wide as the doubles.
#if defined(__AVX512F__) && KERNEL_LANES == 8
constexpr bool kStatesInMasks = true;
using DoubleStates = VecI32;
// best = candidate where it is strictly greater (neither is NaN), and `state` there.
[[gnu::always_inline]] inline void offer_double(VecD candidate, int state, VecD& best,
                                                DoubleStates& from) {
    __m512d c, b;
    std::memcpy(&c, &candidate, sizeof c);
    std::memcpy(&b, &best, sizeof b);
    const __mmask8 better = _mm512_cmp_pd_mask(c, b, _CMP_GT_OQ);
    b = _mm512_mask_max_pd(b, 0xFF, c, b);  // c where c > b, else b: the same choice
    __m256i f;
    std::memcpy(&f, &from, sizeof f);
    f = _mm256_mask_mov_epi32(f, better, _mm256_set1_epi32(state));
    std::memcpy(&best, &b, sizeof b);
    std::memcpy(&from, &f, sizeof f);
}
#else
constexpr bool kStatesInMasks = false;
using DoubleStates = typename Lanes<double>::Mask;
// Never called: the states are as wide as the doubles here.
inline void offer_double(VecD, int, VecD&, DoubleStates&) {}
#endif

// The transition step on doubles, of one cell or of a vector of cells: for each state k the
// best of its seven candidates in the literal order of the rule and the first p that reaches
// it. `pred(k, p)` is state p at state k's predecessor cell, `gap(k, p)` the gap score of
// p -> k. M holds state numbers.
// The double step of one state k: the best of its seven candidates in the literal order of the
// rule and the first p that reaches it. `pred(p)` is state p at k's predecessor cell, `gap(p)` the
// gap score of p -> k, `pair` k's pair score.
template <bool kPointers, class V, class M, class Pred, class Gap>
[[gnu::always_inline]] inline void double_state(int k, Pred pred, Gap gap, V pair, V& value,
                                                M& from) {
    M f = broadcast<M>(kUnset3);
    V best = broadcast<V>(lowest<double>());
    const bool one_character = k == 3 || k == 5 || k == 6;
#pragma GCC unroll 7
    for (int p = 0; p < kStates; ++p) {
        const V sum = one_character ? pred(p) : pred(p) + pair;
        const V candidate = sum + gap(p);
        if constexpr (kPointers && kStatesInMasks && !std::is_arithmetic_v<V>) {
            offer_double(candidate, p, best, f);
        } else {
            const auto better = candidate > best;
            best = better ? candidate : best;
            if constexpr (kPointers) f = better ? broadcast<M>(p) : f;
        }
    }
    value = best;
    from = f;
}

// The double step of one cell or of a vector of cells, all seven states; `pred(k, p)` and
// `gap(k, p)` as above for state k.
template <bool kPointers, class V, class M, class Pred, class Gap>
[[gnu::always_inline]] inline void double_transition(Pred pred, Gap gap, const V pair[kStates],
                                                     V value[kStates], M from[kStates]) {
#pragma GCC unroll 7
    for (int k = 0; k < kStates; ++k) {
        double_state<kPointers>(
            k, [&](int p) { return pred(k, p); }, [&](int p) { return gap(k, p); }, pair[k],
            value[k], from[k]);
    }
}

// The gap terms of the integer step at one cell's coordinate classes (times 8, kernel.hpp):
// one[s][g] is what a gap of string s in the predecessor adds to p -> k, g telling whether k
// gaps s as well; own[k] is k's openings with its tie-break bits, 7 - k.
template <class V>
struct IntegerTerms {
    V one[3][2];
    V own[kStates];
};

template <class V, class T>
[[gnu::always_inline]] inline IntegerTerms<V> integer_terms(const T (&terms)[3][4],
                                                            const int classes[3]) {
    IntegerTerms<V> g;
    for (int s = 0; s < 3; ++s) {
        g.one[s][0] = broadcast<V>(terms[kClosing][classes[s]]);
        g.one[s][1] = broadcast<V>(terms[kExtension][classes[s]]);
    }
    for (int k = 0; k < kStates; ++k) {
        T own = static_cast<T>(7 - k);
        for (int s = 0; s < 3; ++s) {
            if (gaps(k, s)) own = static_cast<T>(own + terms[kOpening][classes[s]]);
        }
        g.own[k] = broadcast<V>(own);
    }
    return g;
}

template <class V>
[[gnu::always_inline]] inline V larger(V a, V b) {
    return a > b ? a : b;
}
template <class V>
[[gnu::always_inline]] inline V without_tie_bits(V a) {
    return static_cast<V>(a & static_cast<ElementT<V>>(-8));
}

// The integer step of state K: the largest encoded candidate is the first maximum in p order
// (its low bits hold 7 - p), so a plain maximum serves, with the pair score and K's openings
// added after it (the same amount for all seven candidates), and the winner's p read from the
// low bits.
template <int K, bool kPointers, class V, class Pred>
[[gnu::always_inline]] inline void integer_state(Pred pred, const IntegerTerms<V>& g, V pair,
                                                 V& value, V& field) {
    constexpr int g0 = gaps(K, 0), g1 = gaps(K, 1), g2 = gaps(K, 2);
    V best = pred(K, 0);
    best = larger(best, add(pred(K, 1), g.one[0][g0]));
    best = larger(best, add(pred(K, 2), g.one[1][g1]));
    best = larger(best, add(pred(K, 3), add(g.one[0][g0], g.one[1][g1])));
    best = larger(best, add(pred(K, 4), g.one[2][g2]));
    best = larger(best, add(pred(K, 5), add(g.one[0][g0], g.one[2][g2])));
    best = larger(best, add(pred(K, 6), add(g.one[1][g1], g.one[2][g2])));
    if constexpr (K == 3 || K == 5 || K == 6) {
        value = add(without_tie_bits(best), g.own[K]);
    } else {
        value = add(without_tie_bits(best), add(pair, g.own[K]));
    }
    if constexpr (kPointers) field = static_cast<V>(~best & static_cast<ElementT<V>>(7));
}

template <bool kPointers, class V, class Pred>
[[gnu::always_inline]] inline void integer_transition(Pred pred, const IntegerTerms<V>& g,
                                                      const V pair[kStates], V value[kStates],
                                                      V field[kStates]) {
    [&]<int... K>(std::integer_sequence<int, K...>) {
        (integer_state<K, kPointers>(pred, g, pair[K], value[K], field[K]), ...);
    }
    (std::make_integer_sequence<int, kStates>{});
}

// The three pointer bytes of a cell (or of each lane) from the seven fields (kernel.hpp).
template <class M>
[[gnu::always_inline]] inline void pointer_bytes(const M from[kStates], M out[kPointerBytes]) {
    for (int q = 0; q < kPointerBytes; ++q) {
        out[q] = from[2 * q] | (from[2 * q + 1] << 3) | (((from[6] >> q) & 1) << 6);
    }
}

// The step of one cell or one vector of cells in cells of type T, writing `value` and the
// pointer fields; `gap(k, p)` serves doubles, `terms` integers.
template <class T, bool kPointers, class V, class M, class Pred, class Gap>
[[gnu::always_inline]] inline void cell_step(Pred pred, Gap gap, const IntegerTerms<V>& terms,
                                             V t12, V t13, V t23, V value[kStates],
                                             M field[kStates]) {
    V pair[kStates];
    pair_sums(t12, t13, t23, pair);
    if constexpr (std::is_floating_point_v<T>) {
        (void)terms;
        double_transition<kPointers>(pred, gap, pair, value, field);
    } else {
        (void)gap;
        integer_transition<kPointers>(pred, terms, pair, value, field);
    }
}

template <class T, bool kPointers>
bool fill(const PlaneJob<T>& job, std::int64_t first, std::int64_t last) {
    using V = typename Lanes<T>::V;
    // State numbers by lane: 32-bit lanes for doubles, the cells' own width for integers.
    using M =
        std::conditional_t<std::is_floating_point_v<T>, DoubleStates, typename Lanes<T>::Mask>;
    constexpr int kCells = sizeof(V) / sizeof(T);
    static_assert(kCells <= kMaxWidth);
    const std::int64_t entries = job.entries;
    const T none = job.unreachable;

    // The gap scores of this plane's ordinary cells (no free gap or exempt closing along a or
    // b): for doubles one vector per transition, for integers the split terms. Cells of other
    // classes are computed again one by one.
    const int ordinary[3] = {job.outer_classes & 3, (job.outer_classes >> 2) & 3,
                             (job.outer_classes >> 4) & 3};
    const IntegerTerms<V> terms = integer_terms<V>(job.class_terms, ordinary);
    V* gap_vectors = reinterpret_cast<V*>((reinterpret_cast<std::uintptr_t>(job.scratch) + 63) &
                                          ~std::uintptr_t{63});
    if constexpr (std::is_floating_point_v<T>) {
        const T* plane_gaps = job.gap_table + job.outer_classes * kStates * kStates;
        for (int e = 0; e < kStates * kStates; ++e) gap_vectors[e] = broadcast<V>(plane_gaps[e]);
    }

    for (std::int64_t t = first; t <= last; ++t) {
        const std::int64_t lo_all = std::max<std::int64_t>(0, t - job.len_b);
        const std::int64_t hi_all = std::min(t, job.len_a);
        const std::int64_t lo = std::max(lo_all, t - job.max_b);
        const std::int64_t hi = std::min(hi_all, job.max_a);
        const std::int64_t at = job.base[t + 2];
        // The entry before the first cell; whole vectors of diagonal t - 1 may have spilled
        // into it. The entry after the last cell is set once this diagonal is done.
        for (int k = 0; k < kStates; ++k) job.cur[k * entries + at + lo_all - 1] = none;
        if (lo <= hi && job.interruption->tick(kCellWeight * (hi - lo + 1))) return false;

        // State p at state k's predecessor cell of the lane at x_a = x: src[k][p][x].
        const T* src[kStates][kStates];
        for (int k = 0; k < kStates; ++k) {
            const std::int64_t back = job.step_a[k] + job.step_b[k];
            const T* plane = job.step_outer[k] ? job.prev : job.cur;
            for (int p = 0; p < kStates; ++p)
                src[k][p] = plane + p * entries + job.base[t - back + 2] - job.step_a[k];
        }
        // Where each pair score of the lane at x_a = x is: offset[source] + x.
        const std::int64_t offset[3] = {at, 0, job.len_b - t};
        const T* pair_at[3];
        for (int q = 0; q < 3; ++q)
            pair_at[q] = job.pair[q] + offset[static_cast<int>(job.pair_source[q])];
        std::uint8_t* bytes_at =
            kPointers ? job.pointers + job.cell_base[t] : static_cast<std::uint8_t*>(nullptr);

        // The three pointer bytes of the lanes at x from their seven fields.
        auto store_pointers = [&](std::int64_t x, const M field[kStates]) {
            M bytes[kPointerBytes];
            pointer_bytes(field, bytes);
            const std::int64_t n = std::min<std::int64_t>(kCells, hi - x + 1);
            for (int q = 0; q < kPointerBytes; ++q) {
                const auto narrow = __builtin_convertvector(bytes[q], typename Lanes<T>::U8);
                std::uint8_t* out = bytes_at + q * job.cells + x;
                if (n == kCells) {
                    store(out, narrow);
                } else {
                    std::memcpy(out, &narrow, static_cast<std::size_t>(n));
                }
            }
        };
        {
            // State by state along the diagonal, so that one state's gap scores stay in
            // registers; the pointer fields wait in job.fields until all seven are known,
            // addressed by byte (the buffer need not be aligned as a vector is).
            auto* fields = static_cast<std::uint8_t*>(job.fields);
            const std::int64_t n_vectors = (hi - lo) / kCells + 1;
            auto field_at = [&](int k, std::int64_t v) {
                return fields + (k * n_vectors + v) * static_cast<std::int64_t>(sizeof(M));
            };
            auto one_state = [&]<int K>(std::integral_constant<int, K>) {
                V gap[kStates];
                if constexpr (std::is_floating_point_v<T>) {
                    for (int p = 0; p < kStates; ++p) gap[p] = gap_vectors[K * kStates + p];
                }
                T* out = job.cur + K * entries + at;
                for (std::int64_t x = lo, v = 0; x <= hi; x += kCells, ++v) {
                    V pair = broadcast<V>(0);
                    if constexpr (K == 0 || K == 1 || K == 2 || K == 4) {
                        V all[kStates];
                        pair_sums(K == 0 || K == 4 ? load<V>(pair_at[0] + x) : pair,
                                  K == 0 || K == 2 ? load<V>(pair_at[1] + x) : pair,
                                  K == 0 || K == 1 ? load<V>(pair_at[2] + x) : pair, all);
                        pair = all[K];
                    }
                    V value;
                    M from;
                    if constexpr (std::is_floating_point_v<T>) {
                        double_state<kPointers>(
                            K, [&](int p) { return load<V>(src[K][p] + x); },
                            [&](int p) { return gap[p]; }, pair, value, from);
                    } else {
                        integer_state<K, kPointers>(
                            [&](int k, int p) { return load<V>(src[k][p] + x); }, terms, pair,
                            value, from);
                    }
                    store(out + x, value);
                    if constexpr (kPointers) store(field_at(K, v), from);
                }
            };
            [&]<int... K>(std::integer_sequence<int, K...>) {
                (one_state(std::integral_constant<int, K>{}), ...);
            }
            (std::make_integer_sequence<int, kStates>{});
            if constexpr (kPointers) {
                for (std::int64_t x = lo, v = 0; x <= hi; x += kCells, ++v) {
                    M field[kStates];
                    for (int k = 0; k < kStates; ++k) field[k] = load<M>(field_at(k, v));
                    store_pointers(x, field);
                }
            }
        }

        // Cells whose a or b coordinate has a class of its own, again one by one.
        auto cell = [&](std::int64_t x) {
            if (x < lo || x > hi) return;
            const int classes_ab =
                (job.class_a[x] << job.shift_a) | (job.class_b[t - x] << job.shift_b);
            const int classes = job.outer_classes | classes_ab;
            const int by_string[3] = {classes & 3, (classes >> 2) & 3, (classes >> 4) & 3};
            const T* gaps_here = job.gap_table + classes * kStates * kStates;
            using Field = std::conditional_t<std::is_floating_point_v<T>, int, T>;
            T value[kStates];
            Field field[kStates];
            cell_step<T, kPointers>([&](int k, int p) { return src[k][p][x]; },
                                    [&](int k, int p) { return gaps_here[k * kStates + p]; },
                                    integer_terms<T>(job.class_terms, by_string), pair_at[0][x],
                                    pair_at[1][x], pair_at[2][x], value, field);
            for (int k = 0; k < kStates; ++k) job.cur[k * entries + at + x] = value[k];
            if constexpr (kPointers) {
                Field bytes[kPointerBytes];
                pointer_bytes(field, bytes);
                for (int q = 0; q < kPointerBytes; ++q)
                    bytes_at[q * job.cells + x] = static_cast<std::uint8_t>(bytes[q]);
            }
        };
        for (int s = 0; s < job.n_special_a; ++s) cell(job.special_a[s]);
        for (int s = 0; s < job.n_special_b; ++s) cell(t - job.special_b[s]);
    }
    return true;
}

template <class T>
bool fill_either(const PlaneJob<T>& job, std::int64_t first, std::int64_t last) {
    return job.pointers ? fill<T, true>(job, first, last) : fill<T, false>(job, first, last);
}

}  // namespace

bool fill_double(const PlaneJob<double>& job, std::int64_t first, std::int64_t last) {
    return fill_either(job, first, last);
}
bool fill_int32(const PlaneJob<std::int32_t>& job, std::int64_t first, std::int64_t last) {
    return fill_either(job, first, last);
}
bool fill_int16(const PlaneJob<std::int16_t>& job, std::int64_t first, std::int64_t last) {
    return fill_either(job, first, last);
}

}  // namespace vorn::three_way::KERNEL_NS
