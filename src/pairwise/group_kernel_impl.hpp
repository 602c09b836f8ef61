// The grouped fill, included once per instruction set after kernel_impl.hpp. Each lane holds
// a different pair; rows i of all pairs are filled together, columns j one after another, by
// the pairwise recurrence (cell_step.hpp), so every pointer byte and every reachable value is
// the one that pair's own fill computes. A lane whose pair is shorter than the group computes
// cells past its ends too; they are never read.
//
// Row -1 and column -1 hold the stand-in, as the pairwise fill's padding and sentinels
// do, so the unreachable states of row and column 0 read exactly what they read there.
#include "pairwise/cell_step.hpp"
#include "pairwise/group_kernel.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations

template <class T>
void fill_rows(const GroupInput<T>& in) {
    using V = typename Lanes<T>::V;
    using U16 = typename Lanes<T>::U16;
    constexpr int W = sizeof(V) / sizeof(T);
    static_assert(W == group_lanes<T>(kVectorBytes));
    const std::int64_t rows = in.rows, cols = in.cols;
    const V none = broadcast<V>(in.unreachable);
    // Two rows of each state, entry j + 1 for column j (entry 0 is column -1).
    const std::int64_t stride = (cols + 2) * W;
    T* row[2][3];
    for (int r = 0; r < 2; ++r) {
        for (int t = 0; t < 3; ++t) row[r][t] = in.rows_storage + (r * 3 + t) * stride;
    }
    for (int r = 0; r < 2; ++r) {
        for (int t = 0; t < 3; ++t) {
            for (std::int64_t e = 0; e < cols + 2; ++e) store(row[r][t] + e * W, none);
        }
    }
    // Local copies, which the stores below cannot be taken to change.
    const IntegerScores scores = in.scores;
    const std::uint16_t* const q2 = in.q2;
    const T *const oy_j = in.oy, *const ey_j = in.ey, *const cy_j = in.cy;
    for (std::int64_t i = 0; i <= rows; ++i) {
        if (in.interruption->tick((cols + 1) * W)) return;  // W pairs' cells
        T* const* prev = row[(i + 1) & 1];                  // row i - 1 (row -1: the stand-in)
        T* const* cur = row[i & 1];
        const V ox = load<V>(in.ox + i * W), ex = load<V>(in.ex + i * W);
        const V cx = load<V>(in.cx + i * W);
        const U16 a = load<U16>(in.q1 + i * W);
        std::uint8_t* out = in.pointers + i * (cols + 1) * W;
        std::int64_t j = 0;
        if (i == 0) {  // the start cell
            store(cur[0] + W, broadcast<V>(0));
            store(cur[1] + W, none);
            store(cur[2] + W, none);
            store(out, typename Lanes<T>::U8{});
            j = 1;
        }
        for (; j <= cols; ++j) {
            const std::int64_t e = (j + 1) * W, e1 = j * W;  // column j and j - 1
            Terms<T> t;
            t.sub = lookup<T>(scores, a + load<U16>(q2 + j * W));
            t.cx_m = t.cx_y = cx;
            t.cy_m = t.cy_x = load<V>(cy_j + j * W);
            t.ox = ox, t.ex = ex;
            t.oy = load<V>(oy_j + j * W), t.ey = load<V>(ey_j + j * W);
            Neighbours<T> p;
            p.m_diag = load<V>(prev[0] + e1), p.x_diag = load<V>(prev[1] + e1);
            p.y_diag = load<V>(prev[2] + e1);
            p.m_left = load<V>(cur[0] + e1), p.x_left = load<V>(cur[1] + e1);
            p.y_left = load<V>(cur[2] + e1);
            p.m_up = load<V>(prev[0] + e), p.x_up = load<V>(prev[1] + e);
            p.y_up = load<V>(prev[2] + e);
            const Cells<T> c = cell_step(p, t);
            store(cur[0] + e, c.m.value);
            store(cur[1] + e, c.x.value);
            store(cur[2] + e, c.y.value);
            store(out + j * W, pointer_bytes(c));
        }
        for (int l = 0; l < W; ++l) {
            if (in.lane_n[l] != i) continue;
            const std::int64_t e = (in.lane_m[l] + 1) * W + l;
            for (int t = 0; t < 3; ++t) in.ends[l * 3 + t] = cur[t][e];
        }
    }
}

}  // namespace

void fill_group(const GroupInput<std::int16_t>& in) { fill_rows(in); }
void fill_group(const GroupInput<std::int32_t>& in) { fill_rows(in); }

}  // namespace vorn::pairwise::KERNEL_NS
