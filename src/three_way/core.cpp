// The three-way engine around the plane kernel: the fill order, the cell type, the memory plan
// and traceback path, the fill of the planes (whole, or from checkpoints block by block) and
// the walk back. Column states and the pointer bytes are described in three_way/kernel.hpp.
#include "three_way/core.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/checked_size.hpp"
#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"
#include "three_way/exact_integers.hpp"
#include "three_way/kernel.hpp"

namespace vorn {

namespace {

using three_way::gaps;
using three_way::IntegerPlan;
using three_way::kMaxWidth;
using three_way::kPointerBytes;
using three_way::kStates;
using three_way::kUnset3;
using three_way::PairSource;
using three_way::PlaneJob;
using three_way::step_of;

constexpr EngineError kUnsetPointer3d{ErrorKind::Value,
                                      "unset pointer encountered during 3D traceback"};

// Entries of unreachable values that lead each state's array (two diagonals, t = -2 and -1)
// and the slack that ends it: a whole vector and the entries around it.
constexpr std::int64_t kPad = kMaxWidth + 2;

// Below this many bytes of pointers the whole grid's pointers are kept without asking how much
// memory is left; a failed allocation still falls back to checkpoints.
constexpr std::uint64_t kAlwaysFullBytes = std::uint64_t{64} << 20;
// Above this many bytes of pointers the checkpoints serve even when the whole grid would fit:
// they cost about a third more time and a small part of the memory.
constexpr std::uint64_t kFullPointerCap = std::uint64_t{1} << 30;

// Per coordinate and string: bit 0 "a gap here is free", bit 1 "closing here is exempt".
std::uint8_t coordinate_class(std::int64_t x, std::int64_t len, bool left_free, bool right_free) {
    const bool is_free = gap_is_free(x, len, left_free, right_free);
    const bool exempt = closing_is_exempt(x, left_free);
    return static_cast<std::uint8_t>(is_free | (exempt << 1));
}

// The order of the fill: string `outer` in planes, strings a < b along each plane's
// anti-diagonals. Every entry takes the first maximum over its predecessors in their fixed
// order, so any order that visits predecessors first gives the same values and pointers; the
// order decides the memory of the planes and the length of the diagonals. The longest string
// outside keeps the planes smallest; `forced` (0, 1, 2) names another.
struct Order {
    int outer, a, b;
};

Order choose_order(const std::int64_t* len, int forced) {
    int outer = 0;
    if (forced >= 0 && forced <= 2) {
        outer = forced;
    } else {
        for (int s = 1; s < 3; ++s) {
            if (len[s] > len[outer]) outer = s;
        }
    }
    const int a = outer == 0 ? 1 : 0;
    const int b = outer == 2 ? 1 : 2;
    return {outer, a, b};
}

// a + b + ... and a * b, saturating instead of wrapping.
std::uint64_t sum_bytes(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t total = 0;
    for (std::uint64_t x : parts) total = saturating_add(total, x);
    return total;
}
std::uint64_t times(std::uint64_t a, std::uint64_t b) { return saturating_mul(a, b); }

// The element counts of every buffer a call holds, from the lengths, the order, the cell
// size and the traceback path; the allocations use these very numbers.
struct Sizes {
    std::int64_t len_a, len_b, len_outer;
    std::uint64_t diagonals;      // of a plane
    std::uint64_t cells;          // of a plane
    std::uint64_t entries;        // values of one state's array of a plane
    std::uint64_t plane;          // values of one plane, all states
    std::uint64_t pair_rows;      // the two rows of pair scores with the outer string
    std::uint64_t indices;        // the diagonals' entry and cell bases
    std::uint64_t gap_table;      // by coordinate classes, transition
    std::uint64_t fields;         // bytes: the double fill's pointer fields of one diagonal
    std::uint64_t text;           // bytes: working copies, classes, result rows
    std::int64_t interval;        // planes per block of the checkpointed path
    std::uint64_t checkpoints;    // planes kept by the checkpointed path
    std::uint64_t full_pointer;   // pointer bytes of the whole grid
    std::uint64_t block_pointer;  // pointer bytes of one block

    // Bytes held besides the pointers and checkpoints, for cells of `cell` bytes.
    std::uint64_t fill_bytes(std::uint64_t cell) const {
        return sum_bytes({times(sum_bytes({plane, plane, entries, pair_rows, gap_table}), cell),
                          times(indices, sizeof(std::int64_t)), three_way::kScratchBytes, fields,
                          text, std::uint64_t{1} << 20});
    }
    std::uint64_t full_need(std::uint64_t cell) const {
        return sum_bytes({fill_bytes(cell), full_pointer});
    }
    std::uint64_t checkpoint_need(std::uint64_t cell) const {
        return sum_bytes({fill_bytes(cell), times(checkpoints, times(plane, cell)), block_pointer});
    }
};

Sizes plan_sizes(const std::int64_t* len, const Order& order, std::uint64_t cell,
                 std::int64_t forced_interval) {
    Sizes z{};
    z.len_a = len[order.a];
    z.len_b = len[order.b];
    z.len_outer = len[order.outer];
    const std::uint64_t wa = static_cast<std::uint64_t>(z.len_a) + 1;
    const std::uint64_t wb = static_cast<std::uint64_t>(z.len_b) + 1;
    const std::uint64_t planes = static_cast<std::uint64_t>(z.len_outer) + 1;
    z.diagonals = wa + wb - 1;
    z.cells = times(wa, wb);
    // The two leading diagonals and the slack, and around each diagonal one entry on each side.
    z.entries = sum_bytes({3 * kPad, z.cells, times(2, z.diagonals)});
    z.plane = times(kStates, z.entries);
    z.pair_rows = sum_bytes({wa, wb, 2 * kMaxWidth});
    z.indices = sum_bytes({z.diagonals, 2, z.diagonals});
    z.gap_table = 64 * kStates * kStates;
    z.fields = times(kStates * three_way::kFieldBytes, std::min(wa, wb) + kMaxWidth);
    z.text =
        times(4, sum_bytes({static_cast<std::uint64_t>(len[0]), static_cast<std::uint64_t>(len[1]),
                            static_cast<std::uint64_t>(len[2]), 3}));
    z.full_pointer = times(times(planes, z.cells), kPointerBytes);
    // Checkpoints every k planes and the pointers of one block of k planes:
    // (planes / k) * plane * cell + k * 3 * cells is least near k = sqrt(planes * plane * cell
    // / (3 * cells)).
    std::int64_t k = forced_interval;
    if (k <= 0) {
        const double best =
            std::sqrt(static_cast<double>(planes) * static_cast<double>(z.plane) *
                      static_cast<double>(cell) / (3.0 * static_cast<double>(z.cells)));
        k = best < 1.0                           ? 1
            : best > static_cast<double>(planes) ? static_cast<std::int64_t>(planes)
                                                 : static_cast<std::int64_t>(best);
    }
    k = std::min<std::int64_t>(k, static_cast<std::int64_t>(planes));
    z.interval = k;
    z.checkpoints =
        (planes + static_cast<std::uint64_t>(k) - 1) / static_cast<std::uint64_t>(k) - 1;
    z.block_pointer = times(times(static_cast<std::uint64_t>(k), z.cells), kPointerBytes);
    return z;
}

// What every plane of one call shares, whatever the cell type.
struct Setup {
    std::int64_t len[3];
    std::string s[3];  // upper-cased working copies
    Order order;
    Sizes sizes;
    const ScoreTable* table;
    GapScores gap_scores;
    bool right_free[3];
    double gap_score[64][kStates][kStates];  // [classes of the three strings][k][p]
    std::vector<std::uint8_t> cls[3];        // coordinate class by position, per string
    std::int64_t special[3][3];              // coordinates whose class is not 0, per string
    int n_special[3];
    KernelIsa kernel;
    std::int64_t interval;
    bool checkpointed;

    // The pair score of string u's character before x and string v's before y, u < v.
    double pair(int u, std::int64_t x, int v, std::int64_t y) const {
        return table->at(static_cast<std::uint8_t>(s[u][static_cast<std::size_t>(x - 1)]),
                         static_cast<std::uint8_t>(s[v][static_cast<std::size_t>(y - 1)]));
    }
};

template <class T>
using FillFn = bool (*)(const PlaneJob<T>&, std::int64_t, std::int64_t);

template <class T>
FillFn<T> pick_fill(KernelIsa kernel) {
    if constexpr (std::is_same_v<T, double>) {
        VORN_RETURN_BY_KERNEL(kernel, three_way, fill_double)
    } else if constexpr (std::is_same_v<T, std::int32_t>) {
        VORN_RETURN_BY_KERNEL(kernel, three_way, fill_int32)
    } else {
        VORN_RETURN_BY_KERNEL(kernel, three_way, fill_int16)
    }
}

// The fill and traceback in cells of type T: double, or the scaled integers of `plan`.
template <class T>
class Engine {
  public:
    Engine(const Setup& setup, const std::optional<IntegerPlan>& plan, Interruption& interruption)
        : setup_(setup), plan_(plan), interruption_(interruption) {}

    Expected<ThreeWayResult> run(Buffer<std::uint8_t>& pointers);

  private:
    // A score as the kernel adds it: the double itself, or the scaled integer times 8 (the
    // integer cells' tie-break bits, kernel.hpp).
    T value_of(double score) const {
        if constexpr (std::is_same_v<T, double>) {
            return score;
        } else {
            return static_cast<T>(three_way::scaled_score(score, *plan_) *
                                  (1 << three_way::kTieBits));
        }
    }
    double score_of(T value) const {
        if constexpr (std::is_same_v<T, double>) {
            return value;
        } else {
            return three_way::integer_score(value, *plan_);
        }
    }
    bool allocate_buffers(bool with_checkpoints);
    void prepare_job();
    bool fill_plane(std::int64_t xo, const T* prev, T* cur, std::uint8_t* pointers,
                    std::int64_t max_a, std::int64_t max_b);
    bool refill_block(std::int64_t block, std::int64_t max_a, std::int64_t max_b);
    T* checkpoint(std::int64_t c) {
        return checkpoints_.get() + static_cast<std::uint64_t>(c - 1) * setup_.sizes.plane;
    }

    const Setup& setup_;
    const std::optional<IntegerPlan>& plan_;
    Interruption& interruption_;
    T none_{}, start_{};
    Buffer<T> planes_, pair_plane_, pair_rows_, gap_table_, checkpoints_;
    Buffer<std::int64_t> indices_;
    Buffer<std::uint8_t> scratch_, fields_;
    std::uint8_t* pointers_ = nullptr;  // the pointer bytes of planes block_first_ on
    std::int64_t block_first_ = 0;
    PlaneJob<T> job_{};
    FillFn<T> fill_ = nullptr;
};

template <class T>
bool Engine<T>::allocate_buffers(bool with_checkpoints) {
    const Sizes& z = setup_.sizes;
    planes_ = allocate<T>(2 * z.plane);
    pair_plane_ = allocate<T>(z.entries);
    pair_rows_ = allocate<T>(z.pair_rows);
    gap_table_ = allocate<T>(z.gap_table);
    indices_ = allocate<std::int64_t>(z.indices);
    scratch_ = allocate<std::uint8_t>(three_way::kScratchBytes);
    fields_ = allocate<std::uint8_t>(z.fields);
    if (with_checkpoints && z.checkpoints > 0) {
        checkpoints_ = allocate<T>(times(z.checkpoints, z.plane));
        if (!checkpoints_) return false;
    }
    return planes_ && pair_plane_ && pair_rows_ && gap_table_ && indices_ && scratch_ && fields_;
}

// The parts of the kernel's job that every plane shares: the diagonals' bases, the pair
// scores of strings a and b, the gap scores, the classes and the states' steps.
template <class T>
void Engine<T>::prepare_job() {
    const Sizes& z = setup_.sizes;
    const Order& order = setup_.order;
    const std::int64_t len_a = z.len_a, len_b = z.len_b;
    // base[t + 2]: the entry of x_a = 0 on diagonal t; cell_base[t]: the cell of x_a = 0.
    std::int64_t* base = indices_.get();
    std::int64_t* cell_base = base + z.diagonals + 2;
    base[0] = 1;         // diagonal -2: entries 0 .. kPad - 1, x_a from -1
    base[1] = kPad + 1;  // diagonal -1
    std::int64_t entry = 2 * kPad, cell = 0;
    for (std::int64_t t = 0; t <= len_a + len_b; ++t) {
        const std::int64_t lo = std::max<std::int64_t>(0, t - len_b), hi = std::min(t, len_a);
        base[t + 2] = entry + 1 - lo;
        cell_base[t] = cell - lo;
        entry += hi - lo + 3;
        cell += hi - lo + 1;
    }
    if constexpr (std::is_same_v<T, double>) {
        none_ = kNegInf;
        start_ = 0.0;
    } else {
        none_ = static_cast<T>(plan_->unreachable * (1 << three_way::kTieBits));
        start_ = 7;  // the value 0 of state 0: 8 * 0 + (7 - 0)
    }
    std::fill(planes_.get(), planes_.get() + 2 * z.plane, none_);

    // Pair scores of a and b along the diagonals (0 where a column has no such pair).
    T* pab = pair_plane_.get();
    std::fill(pab, pab + z.entries, T{0});
    for (std::int64_t t = 0; t <= len_a + len_b; ++t) {
        const std::int64_t lo = std::max<std::int64_t>(1, t - len_b);
        const std::int64_t hi = std::min(t - 1, len_a);
        for (std::int64_t x = lo; x <= hi; ++x)
            pab[base[t + 2] + x] = value_of(setup_.pair(order.a, x, order.b, t - x));
    }
    T* gt = gap_table_.get();
    for (int c = 0; c < 64; ++c) {
        for (int k = 0; k < kStates; ++k) {
            for (int p = 0; p < kStates; ++p)
                gt[(c * kStates + k) * kStates + p] = value_of(setup_.gap_score[c][k][p]);
        }
    }

    PlaneJob<T>& j = job_;
    j.len_a = len_a;
    j.len_b = len_b;
    j.base = base;
    j.cell_base = cell_base;
    j.entries = static_cast<std::int64_t>(z.entries);
    j.cells = static_cast<std::int64_t>(z.cells);
    for (int k = 0; k < kStates; ++k) {
        j.step_outer[k] = step_of(k, order.outer);
        j.step_a[k] = step_of(k, order.a);
        j.step_b[k] = step_of(k, order.b);
    }
    // The three pairs in string order: (1, 2), (1, 3), (2, 3).
    T* row_a = pair_rows_.get();
    T* row_b = row_a + len_a + 1 + kMaxWidth;
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int q = 0; q < 3; ++q) {
        const int u = pairs[q][0], v = pairs[q][1];
        if (u != order.outer && v != order.outer) {
            j.pair[q] = pab;
            j.pair_source[q] = PairSource::Plane;
        } else if (u == order.a || v == order.a) {
            j.pair[q] = row_a;
            j.pair_source[q] = PairSource::ByA;
        } else {
            j.pair[q] = row_b;
            j.pair_source[q] = PairSource::ByB;
        }
    }
    std::fill(row_a, row_a + z.pair_rows, T{0});
    j.gap_table = gt;
    // The integer step's split gap terms by class (bit 0 free gap, bit 1 exempt closing).
    if constexpr (!std::is_same_v<T, double>) {
        const GapScores& g = setup_.gap_scores;
        for (int c = 0; c < 4; ++c) {
            const bool is_free = c & 1, exempt = c & 2;
            j.class_terms[three_way::kOpening][c] = is_free ? T{0} : value_of(g.open_eff);
            j.class_terms[three_way::kExtension][c] =
                is_free ? T{0} : static_cast<T>(value_of(g.extend) - value_of(g.open_eff));
            j.class_terms[three_way::kClosing][c] = exempt ? T{0} : value_of(g.close);
        }
    }
    j.shift_a = 2 * order.a;
    j.shift_b = 2 * order.b;
    j.class_a = setup_.cls[order.a].data();
    j.class_b = setup_.cls[order.b].data();
    j.special_a = setup_.special[order.a];
    j.n_special_a = setup_.n_special[order.a];
    j.special_b = setup_.special[order.b];
    j.n_special_b = setup_.n_special[order.b];
    j.unreachable = none_;
    j.scratch = scratch_.get();
    j.fields = fields_.get();
    j.interruption = &interruption_;
    fill_ = pick_fill<T>(setup_.kernel);
}

// Plane xo of the grid into `cur` from the plane before in `prev`, the cells with x_a <= max_a
// and x_b <= max_b, with their pointer bytes when `pointers` is not null; false when
// interrupted. The start cell is the one entry not computed: state 0 scores 0, the others are
// unreachable.
template <class T>
bool Engine<T>::fill_plane(std::int64_t xo, const T* prev, T* cur, std::uint8_t* pointers,
                           std::int64_t max_a, std::int64_t max_b) {
    const Sizes& z = setup_.sizes;
    const Order& order = setup_.order;
    // The pair scores of the outer string's character at xo with a's by x_a and with b's by
    // kb = len_b - x_b, each in string order (0 where there is no such pair).
    T* row_a = pair_rows_.get();
    T* row_b = row_a + z.len_a + 1 + kMaxWidth;
    std::fill(row_a, row_a + z.pair_rows, T{0});
    if (xo >= 1) {
        for (std::int64_t x = 1; x <= z.len_a; ++x) {
            row_a[x] = value_of(order.outer < order.a ? setup_.pair(order.outer, xo, order.a, x)
                                                      : setup_.pair(order.a, x, order.outer, xo));
        }
        for (std::int64_t y = 1; y <= z.len_b; ++y) {
            row_b[z.len_b - y] =
                value_of(order.outer < order.b ? setup_.pair(order.outer, xo, order.b, y)
                                               : setup_.pair(order.b, y, order.outer, xo));
        }
    }
    job_.prev = prev;
    job_.cur = cur;
    job_.pointers = pointers;
    job_.max_a = max_a;
    job_.max_b = max_b;
    job_.outer_classes = setup_.cls[order.outer][static_cast<std::size_t>(xo)] << (2 * order.outer);
    std::int64_t first = 0;
    if (xo == 0) {
        const std::int64_t at = job_.base[2];
        for (int k = 0; k < kStates; ++k) {
            T* state = cur + k * job_.entries + at;
            state[-1] = state[1] = none_;
            state[0] = k == 0 ? start_ : none_;
        }
        if (pointers) {
            for (int q = 0; q < kPointerBytes; ++q)
                pointers[q * job_.cells + job_.cell_base[0]] = three_way::kStartBytes[q];
        }
        first = 1;
    }
    const std::int64_t last = std::min(z.len_a + z.len_b, max_a + max_b);
    return first > last || fill_(job_, first, last);
}

// The pointers of block `block` again, from its checkpoint (or the start), for the cells with
// x_a <= max_a and x_b <= max_b, which hold every cell the traceback can still visit: the
// kernel repeats the very operations of the first fill, so every score and pointer there comes
// out the same. False when interrupted.
template <class T>
bool Engine<T>::refill_block(std::int64_t block, std::int64_t max_a, std::int64_t max_b) {
    const Sizes& z = setup_.sizes;
    const std::int64_t k = setup_.interval;
    T* buffers[2] = {planes_.get(), planes_.get() + z.plane};
    const T* prev = buffers[1];
    if (block == 0) {
        std::fill(buffers[1], buffers[1] + z.plane, none_);
    } else {
        prev = checkpoint(block);
    }
    block_first_ = block * k;
    const std::int64_t end = std::min(block_first_ + k - 1, z.len_outer);
    for (std::int64_t xo = block_first_; xo <= end; ++xo) {
        T* cur = buffers[(xo - block_first_) % 2];
        std::uint8_t* out =
            pointers_ + static_cast<std::uint64_t>(xo - block_first_) * kPointerBytes * z.cells;
        if (!fill_plane(xo, prev, cur, out, max_a, max_b)) return false;
        prev = cur;
    }
    return true;
}

template <class T>
Expected<ThreeWayResult> Engine<T>::run(Buffer<std::uint8_t>& pointers) {
    const Sizes& z = setup_.sizes;
    const std::int64_t* len = setup_.len;
    const bool checkpointed = setup_.checkpointed;
    const std::uint64_t need = checkpointed ? z.checkpoint_need(sizeof(T)) : z.full_need(sizeof(T));
    if (!allocate_buffers(checkpointed)) return memory_error(need);
    prepare_job();
    pointers_ = pointers.get();

    // The forward fill, plane by plane. With checkpoints, the planes of every block but the
    // last keep no pointers, and the last plane of each such block is kept for the block
    // after it; the last block keeps its pointers, which the traceback reads first.
    const std::int64_t k = checkpointed ? setup_.interval : z.len_outer + 1;
    const std::int64_t n_blocks = (z.len_outer + k) / k;
    block_first_ = (n_blocks - 1) * k;
    T* prev = planes_.get() + z.plane;  // the unreachable plane before the first
    T* cur = planes_.get();
    for (std::int64_t xo = 0; xo <= z.len_outer; ++xo) {
        const std::int64_t block = xo / k;
        std::uint8_t* out = block == n_blocks - 1
                                ? pointers_ + static_cast<std::uint64_t>(xo - block_first_) *
                                                  kPointerBytes * z.cells
                                : nullptr;
        if (!fill_plane(xo, prev, cur, out, z.len_a, z.len_b)) return kInterrupted;
        if (block < n_blocks - 1 && xo == (block + 1) * k - 1)
            std::memcpy(checkpoint(block + 1), cur, z.plane * sizeof(T));
        std::swap(prev, cur);
    }

    // End state: each state's score at the end cell plus C for every string it gaps whose
    // right end is not free, in string order; the lowest state wins ties.
    const std::int64_t end_entry = job_.base[z.len_a + z.len_b + 2] + z.len_a;
    const double C = setup_.gap_scores.close;
    int end_state = 0;
    double score = kNegInf;
    for (int state = 0; state < kStates; ++state) {
        double v = score_of(prev[state * job_.entries + end_entry]);
        for (int str = 0; str < 3; ++str) {
            if (gaps(state, str)) v = close_at_end(v, setup_.right_free[str], C, 1.0);
        }
        if (state == 0) {
            score = v;
        } else if (v > score) {
            score = v;
            end_state = state;
        }
    }

    // The walk back from the end state at the end cell, one column per step.
    ThreeWayResult result{std::string(), std::string(), std::string(), score};
    if (len[0] == 0 && len[1] == 0 && len[2] == 0) return result;
    std::string* rows[3] = {&result.aligned_seq1, &result.aligned_seq2, &result.aligned_seq3};
    for (auto* out : rows) out->reserve(static_cast<std::size_t>(len[0] + len[1] + len[2]));
    const Order& order = setup_.order;
    std::int64_t pos[3] = {len[0], len[1], len[2]};
    int state = end_state;
    while (true) {
        const std::int64_t xo = pos[order.outer], xa = pos[order.a], xb = pos[order.b];
        if (xo < block_first_) {
            if (!refill_block(xo / k, xa, xb)) return kInterrupted;
        }
        const std::uint8_t* cell =
            pointers_ + static_cast<std::uint64_t>(xo - block_first_) * kPointerBytes * z.cells +
            static_cast<std::uint64_t>(job_.cell_base[xa + xb] + xa);
        const std::uint8_t bytes[kPointerBytes] = {cell[0], cell[z.cells], cell[2 * z.cells]};
        const int p = three_way::pointer_field(bytes, state);
        if (p == kUnset3) return kUnsetPointer3d;
        for (int str = 0; str < 3; ++str) {
            if (gaps(state, str)) {
                rows[str]->push_back('-');
            } else {
                rows[str]->push_back(setup_.s[str][static_cast<std::size_t>(pos[str] - 1)]);
                --pos[str];
            }
        }
        state = p;
        if (pos[0] == 0 && pos[1] == 0 && pos[2] == 0) break;
    }
    for (auto* out : rows) std::reverse(out->begin(), out->end());
    return result;
}

// The pair scores of every two bytes that can meet in a column, strings in order.
std::vector<double> occurring_pair_scores(const Setup& setup) {
    bool seen[3][256] = {};
    for (int s = 0; s < 3; ++s) {
        for (char ch : setup.s[s]) seen[s][static_cast<std::uint8_t>(ch)] = true;
    }
    std::vector<double> out;
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (const auto& pr : pairs) {
        for (int u = 0; u < 256; ++u) {
            if (!seen[pr[0]][u]) continue;
            for (int v = 0; v < 256; ++v) {
                if (seen[pr[1]][v])
                    out.push_back(setup.table->at(static_cast<std::uint8_t>(u),
                                                  static_cast<std::uint8_t>(v)));
            }
        }
    }
    return out;
}

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

    // On the heap: its gap-score table is 25 KB, too much for the stack of a small thread.
    const std::unique_ptr<Setup> setup_owner = std::make_unique<Setup>();
    Setup& setup = *setup_owner;
    const std::string_view seqs[3] = {seq1, seq2, seq3};
    for (int s = 0; s < 3; ++s) {
        setup.len[s] = len[s];
        assign_upper(setup.s[s], seqs[s]);
    }
    setup.table = &table;
    setup.kernel = policy.kernel;
    setup.order = choose_order(len, policy.three_way_outer);
    const GapScores g = derive_gap_scores(options);
    setup.gap_scores = g;
    const bool left_free[3] = {options.seq1_left_free, options.seq2_left_free,
                               options.seq3_left_free};
    const bool right_free[3] = {options.seq1_right_free, options.seq2_right_free,
                                options.seq3_right_free};

    // The gap score of every transition p -> k for every combination of the three strings'
    // coordinate classes, summed string by string from 0.0.
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
                setup.gap_score[combo][k][p] = sum;
            }
        }
    }
    for (int str = 0; str < 3; ++str) {
        setup.right_free[str] = right_free[str];
        setup.cls[str].resize(static_cast<std::size_t>(len[str]) + 1);
        setup.n_special[str] = 0;
        for (std::int64_t x = 0; x <= len[str]; ++x) {
            const std::uint8_t c = coordinate_class(x, len[str], left_free[str], right_free[str]);
            setup.cls[str][static_cast<std::size_t>(x)] = c;
            if (c != 0) setup.special[str][setup.n_special[str]++] = x;
        }
    }

    // The cell type: 16-bit integers where they compute the call exactly, else 32-bit, else
    // doubles (exact_integers.hpp); a forced integer type that cannot is an error.
    std::optional<IntegerPlan> plan;
    CellType cell_type = CellType::Double;
    if (policy.cell_type != CellType::Double) {
        const std::vector<double> scores = occurring_pair_scores(setup);
        for (CellType type : {CellType::Int16, CellType::Int32}) {
            if (policy.cell_type != CellType::Automatic && policy.cell_type != type) continue;
            plan = three_way::plan_integer_fill(scores.data(), scores.size(), g, len, type);
            if (plan) {
                cell_type = type;
                break;
            }
        }
        if (!plan && policy.cell_type != CellType::Automatic) return kForcedCellTypeInexact;
    }
    const std::uint64_t cell = cell_type == CellType::Int16   ? sizeof(std::int16_t)
                               : cell_type == CellType::Int32 ? sizeof(std::int32_t)
                                                              : sizeof(double);

    // The traceback path: the whole grid's pointers when they fit comfortably in what this
    // process can still obtain and stay below kFullPointerCap, otherwise checkpoints of the
    // planes and the pointers of one block of planes at a time.
    setup.sizes = plan_sizes(len, setup.order, cell, policy.checkpoint_interval);
    const Sizes& z = setup.sizes;
    setup.interval = z.interval;
    const std::uint64_t full_need = z.full_need(cell), checkpoint_need = z.checkpoint_need(cell);
    bool checkpointed = policy.traceback == TracebackPath::Checkpoint;
    if (checkpointed) {
        if (!admit(checkpoint_need, policy.memory_root)) return memory_error(checkpoint_need);
    } else if (policy.traceback == TracebackPath::Full) {
        if (!admit(full_need, policy.memory_root)) return memory_error(full_need);
    } else {
        const bool full_fits =
            z.full_pointer <= kAlwaysFullBytes
                ? admit(full_need, policy.memory_root)
                : z.full_pointer <= kFullPointerCap && sum_bytes({full_need, z.full_pointer / 4}) <=
                                                           obtainable_memory(policy.memory_root);
        if (!full_fits) {
            if (!admit(checkpoint_need, policy.memory_root))
                return memory_error(std::min(checkpoint_need, full_need));
            checkpointed = true;
        }
    }
    Buffer<std::uint8_t> pointers =
        checkpointed ? Buffer<std::uint8_t>() : allocate<std::uint8_t>(z.full_pointer);
    if (!pointers && policy.traceback != TracebackPath::Full) {
        checkpointed = true;  // the whole grid could not be had: the checkpoints may still fit
    }
    if (checkpointed) pointers = allocate<std::uint8_t>(z.block_pointer);
    if (!pointers) return memory_error(checkpointed ? checkpoint_need : full_need);
    setup.checkpointed = checkpointed;

    if (cell_type == CellType::Int16)
        return Engine<std::int16_t>(setup, plan, interruption).run(pointers);
    if (cell_type == CellType::Int32)
        return Engine<std::int32_t>(setup, plan, interruption).run(pointers);
    return Engine<double>(setup, plan, interruption).run(pointers);
}

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

}  // namespace vorn
