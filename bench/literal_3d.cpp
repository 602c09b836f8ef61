// Baseline for the benchmark: three-way (sum-of-pairs) global alignment in the plain layout.
//
// Seven column states (gap masks 0..6) over the (len1+1)(len2+1)(len3+1) grid, stored as
// 7*N doubles of scores, 7*N back-pointer bytes and three 7*N arrays of step bytes: 84 bytes
// per cell, allocated per call and initialised in bulk. Row-major fill with all 49
// transitions per entry, then one traceback. Scores are a DNA table (2 for equal letters of
// ACGT, -1 otherwise), gap_open -5, gap_extend -1, gap-close split enabled, no free ends.
//
// Usage: literal_3d LEN1 LEN2 LEN3 SEED
// Prints: score (%.17g), seconds (allocation, fill and traceback), peak RSS growth in bytes.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "baseline_common.hpp"

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();
constexpr std::uint8_t kUnset = 0xFF;

inline bool gapped(int state, int s) { return (state >> s) & 1; }

double align(const std::string* seq, const std::vector<double>& table, bool left_free[3],
             bool right_free[3], std::string out[3]) {
    const double gap_open = -5.0, E = -1.0;
    const double half = (gap_open - E) * 0.5, O = E + half, C = half;
    const std::size_t len[3] = {seq[0].size(), seq[1].size(), seq[2].size()};
    const std::size_t w2 = len[1] + 1, w3 = len[2] + 1, N = (len[0] + 1) * w2 * w3;

    std::vector<double> score(7 * N, kNegInf);
    std::vector<std::uint8_t> back(7 * N, kUnset);
    std::vector<std::uint8_t> step[3] = {std::vector<std::uint8_t>(7 * N, 0),
                                         std::vector<std::uint8_t>(7 * N, 0),
                                         std::vector<std::uint8_t>(7 * N, 0)};
    score[0] = 0.0;
    back[0] = 0;
    auto cell = [&](std::size_t i, std::size_t j, std::size_t l) { return (i * w2 + j) * w3 + l; };
    auto T = [&](char a, char b) { return table[std::uint8_t(a) * 256 + std::uint8_t(b)]; };

    for (std::size_t i = 0; i <= len[0]; ++i)
        for (std::size_t j = 0; j <= len[1]; ++j)
            for (std::size_t l = 0; l <= len[2]; ++l) {
                if (i == 0 && j == 0 && l == 0) continue;
                const std::size_t x[3] = {i, j, l};
                bool free[3], exempt[3];
                for (int s = 0; s < 3; ++s) {
                    free[s] = (x[s] == 0 && left_free[s]) || (x[s] == len[s] && right_free[s]);
                    exempt[s] = x[s] == 1 && left_free[s];
                }
                const std::size_t c = cell(i, j, l);
                for (int k = 0; k < 7; ++k) {
                    int d[3];
                    bool fits = true;
                    for (int s = 0; s < 3; ++s) {
                        d[s] = gapped(k, s) ? 0 : 1;
                        fits = fits && x[s] >= std::size_t(d[s]);
                    }
                    if (!fits) continue;
                    char chars[3];
                    int count = 0;
                    for (int s = 0; s < 3; ++s)
                        if (!gapped(k, s)) chars[count++] = seq[s][x[s] - 1];
                    double pair = 0.0;
                    if (count >= 2) pair += T(chars[0], chars[1]);
                    if (count == 3) {
                        pair += T(chars[0], chars[2]);
                        pair += T(chars[1], chars[2]);
                    }
                    const std::size_t pc = cell(i - d[0], j - d[1], l - d[2]);
                    double best = kNegInf;
                    std::uint8_t from = kUnset;
                    for (int p = 0; p < 7; ++p) {
                        const double prev = score[p * N + pc];
                        if (!(prev > kNegInf)) continue;
                        double g = 0.0;
                        for (int s = 0; s < 3; ++s) {
                            if (gapped(k, s)) {
                                if (!free[s]) g += gapped(p, s) ? E : O;
                            } else if (gapped(p, s) && !exempt[s]) {
                                g += C;
                            }
                        }
                        const double candidate = (prev + pair) + g;
                        if (candidate > best) {
                            best = candidate;
                            from = std::uint8_t(p);
                        }
                    }
                    if (from != kUnset) {
                        score[k * N + c] = best;
                        back[k * N + c] = from;
                        for (int s = 0; s < 3; ++s) step[s][k * N + c] = std::uint8_t(d[s]);
                    }
                }
            }

    const std::size_t end = cell(len[0], len[1], len[2]);
    int state = 0;
    double best = kNegInf;
    for (int k = 0; k < 7; ++k) {
        double v = score[k * N + end];
        if (v > kNegInf)
            for (int s = 0; s < 3; ++s)
                if (gapped(k, s) && !right_free[s]) v += C;
        if (v > best) {
            best = v;
            state = k;
        }
    }

    std::size_t pos[3] = {len[0], len[1], len[2]};
    for (int s = 0; s < 3; ++s) out[s].reserve(len[0] + len[1] + len[2]);
    while (pos[0] || pos[1] || pos[2]) {
        const std::size_t e = state * N + cell(pos[0], pos[1], pos[2]);
        const std::uint8_t p = back[e];
        if (p & 0x80) std::exit(3);
        for (int s = 0; s < 3; ++s) out[s].push_back(gapped(state, s) ? '-' : seq[s][pos[s] - 1]);
        for (int s = 0; s < 3; ++s) pos[s] -= step[s][e];
        state = p;
    }
    for (int s = 0; s < 3; ++s) std::reverse(out[s].begin(), out[s].end());
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LEN1 LEN2 LEN3 SEED\n", argv[0]);
        return 2;
    }
    const std::uint64_t seed = std::strtoull(argv[4], nullptr, 10);
    std::string seq[3];
    for (int s = 0; s < 3; ++s)
        seq[s] = random_dna(std::strtoull(argv[1 + s], nullptr, 10), seed, s);
    std::vector<double> table(65536, 0.0);
    for (const char a : std::string("ACGT"))
        for (const char b : std::string("ACGT"))
            table[std::uint8_t(a) * 256 + std::uint8_t(b)] = a == b ? 2.0 : -1.0;
    bool left_free[3] = {false, false, false}, right_free[3] = {false, false, false};

    std::string out[3];
    const long rss0 = peak_rss_kib();
    const auto t0 = std::chrono::steady_clock::now();
    const double score = align(seq, table, left_free, right_free, out);
    const auto t1 = std::chrono::steady_clock::now();
    const long rss1 = peak_rss_kib();
    std::printf("%.17g %.9f %ld\n", score, std::chrono::duration<double>(t1 - t0).count(),
                (rss1 - rss0) * 1024L);
    return 0;
}
