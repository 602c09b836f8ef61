// The end of a pairwise alignment, shared by every fill: the choice of the end state at
// (n, m) and the walk back to (0, 0) along the pointers. Plain C++.
#pragma once

#include <cstdint>
#include <string>

#include "common/engine_input.hpp"
#include "common/expected.hpp"
#include "common/interruption.hpp"
#include "pairwise/core.hpp"
#include "pairwise/fill.hpp"

namespace vorn::pairwise {

inline constexpr EngineError kUnsetPointer{ErrorKind::Value,
                                           "unset pointer encountered during traceback"};
// The state comes from a 2-bit pointer field whose fourth value (kUnset2) is refused
// first, so this cannot be raised; it stays as the guard of the switch below, with the
// message callers know for it.
inline constexpr EngineError kInvalidState{ErrorKind::Value,
                                           "invalid state encountered during traceback"};
// A traceback step reads a pointer byte far from the last one: it costs about as much as
// this many cells of the fill.
inline constexpr std::int64_t kTracebackStepCells = 16;

struct EndChoice {
    TraceState state;
    double score;
};

// The end state and score from the three states' scores at (n, m), with the closing
// terms of final gaps (g1_end and g2_end scale them; 1.0 without a scaler). Ties keep
// the lower state.
inline EndChoice choose_end(const double end[3], const GapScores& gaps, bool seq1_right_free,
                            bool seq2_right_free, double g1_end, double g2_end) {
    const double end_m = end[0];
    const double end_x = close_at_end(end[1], seq1_right_free, gaps.close, g1_end);
    const double end_y = close_at_end(end[2], seq2_right_free, gaps.close, g2_end);
    const double best_mx = end_x > end_m ? end_x : end_m;
    const TraceState state = end_y > best_mx ? TraceState::GapInSeq2
                             : end_x > end_m ? TraceState::GapInSeq1
                                             : TraceState::Match;
    return {state, end_y > best_mx ? end_y : best_mx};
}

// The walk from (n, m) to (0, 0), reading each state's pointer at its own cell:
// pointer_at(i, j) gives the pointer byte of cell (i, j), or -1 when it could not (the
// interruption stopped a re-fill).
template <class PointerAt>
Expected<PairwiseResult> trace_back(const std::uint8_t* s1, const std::uint8_t* s2, std::int64_t n,
                                    std::int64_t m, EndChoice end, PointerAt&& pointer_at,
                                    Interruption& interruption) {
    PairwiseResult result{std::string(), std::string(), end.score};
    if (n == 0 && m == 0) return result;
    // The columns are found from the last to the first: they are written from the end of
    // room for the longest alignment, which is then cut to what was written.
    std::string& a1 = result.aligned_seq1;
    std::string& a2 = result.aligned_seq2;
    const std::size_t room = static_cast<std::size_t>(n + m);
    a1.resize(room);
    a2.resize(room);
    char* c1 = a1.data() + room;
    char* c2 = a2.data() + room;
    TraceState state = end.state;
    std::int64_t i = n, j = m;
    while (true) {
        if (interruption.tick(kTracebackStepCells)) return kInterrupted;
        std::int64_t ni = i, nj = j;
        int shift = 0;
        switch (state) {
            case TraceState::Match:
                if (i < 1 || j < 1) return kUnsetPointer;
                *--c1 = static_cast<char>(s1[i - 1]);
                *--c2 = static_cast<char>(s2[j - 1]);
                ni = i - 1, nj = j - 1, shift = kShiftMatch;
                break;
            case TraceState::GapInSeq1:
                if (j < 1) return kUnsetPointer;
                *--c1 = '-';
                *--c2 = static_cast<char>(s2[j - 1]);
                nj = j - 1, shift = kShiftGap1;
                break;
            case TraceState::GapInSeq2:
                if (i < 1) return kUnsetPointer;
                *--c1 = static_cast<char>(s1[i - 1]);
                *--c2 = '-';
                ni = i - 1, shift = kShiftGap2;
                break;
            default:
                return kInvalidState;
        }
        const int byte = pointer_at(i, j);
        if (byte < 0) return kInterrupted;
        const std::uint8_t p = static_cast<std::uint8_t>((byte >> shift) & 3);
        if (p == kUnset2) return kUnsetPointer;
        state = static_cast<TraceState>(p);
        i = ni, j = nj;
        if (i == 0 && j == 0) break;
    }
    a1.erase(0, static_cast<std::size_t>(c1 - a1.data()));
    a2.erase(0, static_cast<std::size_t>(c2 - a2.data()));
    return result;
}

}  // namespace vorn::pairwise
