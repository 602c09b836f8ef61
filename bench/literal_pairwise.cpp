// Baseline for the benchmark: pairwise global alignment in the plain whole-grid layout.
//
// Three score layers of doubles, three scale matrices of doubles (1.0 unless a scaler is
// given) and three pointer byte layers: 51 bytes per cell, allocated and initialised per
// call, filled cell by cell in row-major order with the three-candidate rule, then one
// traceback. Scores are a DNA table (2 for equal letters of ACGT, -1 otherwise), gap_open
// -5, gap_extend -1, gap-close split enabled.
//
// Usage: literal_pairwise N M SEED [scaled]
//   scaled: seq1_left_free and seq2_right_free with a scaler of decay_exponent 1, temperature 1.
// Prints: score (%.17g), seconds (allocation, fill and traceback), peak RSS growth in bytes.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "baseline_common.hpp"

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();
constexpr std::uint8_t kUnset = 255;

struct Options {
    double gap_open = -5.0, gap_extend = -1.0;
    bool l1 = false, r1 = false, l2 = false, r2 = false;
    bool scaled = false;
    double decay = 1.0, temperature = 1.0;
};

// The candidate rule: a candidate counts if its predecessor and its value are above -inf;
// it is taken if it is the first that counts or strictly greater than the best so far.
inline void offer(double& best, std::uint8_t& ptr, double pred, double value, std::uint8_t from) {
    if (pred > kNegInf && value > kNegInf && (ptr == kUnset || value > best)) {
        best = value;
        ptr = from;
    }
}

double align(const std::string& s1, const std::string& s2, const std::vector<double>& table,
             const Options& o, std::string& out1, std::string& out2) {
    const std::size_t n = s1.size(), m = s2.size(), w = m + 1, cells = (n + 1) * w;
    const double half = (o.gap_open - o.gap_extend) * 0.5;
    const double goe = o.gap_extend + half, gc = half, ge = o.gap_extend;

    std::vector<double> S(3 * cells, kNegInf);
    std::vector<std::uint8_t> P(3 * cells, kUnset);
    std::vector<double> ms(cells, 1.0), g1(cells, 1.0), g2(cells, 1.0);
    auto at = [&](int t, std::size_t i, std::size_t j) { return t * cells + i * w + j; };
    S[0] = 0.0;
    P[0] = 0;

    if (o.scaled) {
        auto ew = [&](double k) { return 1.0 / std::pow(k / o.temperature, o.decay); };
        std::vector<double> L1a(n + 1), L1b(n + 1), R1(n + 1), L2a(m + 1), L2b(m + 1), R2(m + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            L1a[i] = o.l1 ? ew(double(i)) : 0.0;
            L1b[i] = o.l1 ? ew(double(i + 1)) : 0.0;
            R1[i] = o.r1 ? ew(double(n + 1 - i)) : 0.0;
        }
        for (std::size_t j = 0; j <= m; ++j) {
            L2a[j] = o.l2 ? ew(double(j)) : 0.0;
            L2b[j] = o.l2 ? ew(double(j + 1)) : 0.0;
            R2[j] = o.r2 ? ew(double(m + 1 - j)) : 0.0;
        }
        auto nz = [](double x) { return x == 0.0 ? 1.0 : x; };
        for (std::size_t i = 0; i <= n; ++i)
            for (std::size_t j = 0; j <= m; ++j) {
                ms[i * w + j] = nz(((L1a[i] + R1[i]) + L2a[j]) + R2[j]);
                g1[i * w + j] = nz(((L1b[i] + R1[i]) + L2a[j]) + R2[j]);
                g2[i * w + j] = nz(((L1a[i] + R1[i]) + L2b[j]) + R2[j]);
            }
    }

    for (std::size_t i = 0; i <= n; ++i)
        for (std::size_t j = 0; j <= m; ++j) {
            if (i == 0 && j == 0) continue;
            if (i >= 1 && j >= 1) {  // Match
                const std::size_t d = (i - 1) * w + (j - 1);
                const double sub =
                    table[std::uint8_t(s1[i - 1]) * 256 + std::uint8_t(s2[j - 1])] * ms[i * w + j];
                const double cx = (i == 1 && o.l1) ? 0.0 : g1[d] * gc;
                const double cy = (j == 1 && o.l2) ? 0.0 : g2[d] * gc;
                double& best = S[at(0, i, j)];
                std::uint8_t& ptr = P[at(0, i, j)];
                offer(best, ptr, S[at(0, i - 1, j - 1)], S[at(0, i - 1, j - 1)] + sub, 0);
                offer(best, ptr, S[at(1, i - 1, j - 1)], cx + (S[at(1, i - 1, j - 1)] + sub), 1);
                offer(best, ptr, S[at(2, i - 1, j - 1)], cy + (S[at(2, i - 1, j - 1)] + sub), 2);
            }
            if (j >= 1) {  // GapInSeq1
                const bool free = (i == 0 && o.l1) || (i == n && o.r1);
                const double ox = free ? 0.0 : goe * g1[i * w + j];
                const double ex = free ? 0.0 : g1[i * w + j] * ge;
                const double cy = (j == 1 && o.l2) ? 0.0 : g2[i * w + j - 1] * gc;
                double& best = S[at(1, i, j)];
                std::uint8_t& ptr = P[at(1, i, j)];
                offer(best, ptr, S[at(0, i, j - 1)], S[at(0, i, j - 1)] + ox, 0);
                offer(best, ptr, S[at(1, i, j - 1)], ex + S[at(1, i, j - 1)], 1);
                offer(best, ptr, S[at(2, i, j - 1)], cy + (ox + S[at(2, i, j - 1)]), 2);
            }
            if (i >= 1) {  // GapInSeq2
                const bool free = (j == 0 && o.l2) || (j == m && o.r2);
                const double oy = free ? 0.0 : goe * g2[i * w + j];
                const double ey = free ? 0.0 : g2[i * w + j] * ge;
                const double cx = (i == 1 && o.l1) ? 0.0 : g1[(i - 1) * w + j] * gc;
                double& best = S[at(2, i, j)];
                std::uint8_t& ptr = P[at(2, i, j)];
                offer(best, ptr, S[at(0, i - 1, j)], S[at(0, i - 1, j)] + oy, 0);
                offer(best, ptr, S[at(1, i - 1, j)], cx + (oy + S[at(1, i - 1, j)]), 1);
                offer(best, ptr, S[at(2, i - 1, j)], ey + S[at(2, i - 1, j)], 2);
            }
        }

    const std::size_t e = n * w + m;
    const double M = S[e];
    double X = S[cells + e], Y = S[2 * cells + e];
    if (!o.r1 && gc != 0.0 && X > kNegInf) X = X + g1[e] * gc;
    if (!o.r2 && gc != 0.0 && Y > kNegInf) Y = Y + gc * g2[e];
    const double B = X > M ? X : M;
    int state = Y > B ? 2 : (X > M ? 1 : 0);
    const double score = Y > B ? Y : B;

    out1.clear();
    out2.clear();
    out1.reserve(n + m);
    out2.reserve(n + m);
    std::size_t i = n, j = m;
    while (i > 0 || j > 0) {
        if ((state != 1 && i == 0) || (state != 2 && j == 0)) std::exit(3);
        const std::uint8_t p = P[at(state, i, j)];
        if (p == kUnset) std::exit(3);
        out1.push_back(state == 1 ? '-' : s1[i - 1]);
        out2.push_back(state == 2 ? '-' : s2[j - 1]);
        if (state != 1) --i;
        if (state != 2) --j;
        state = p;
    }
    std::reverse(out1.begin(), out1.end());
    std::reverse(out2.begin(), out2.end());
    return score;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s N M SEED [scaled]\n", argv[0]);
        return 2;
    }
    const std::size_t n = std::strtoull(argv[1], nullptr, 10),
                      m = std::strtoull(argv[2], nullptr, 10);
    const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
    Options o;
    if (argc > 4 && std::strcmp(argv[4], "scaled") == 0) o.scaled = o.l1 = o.r2 = true;
    const std::string s1 = random_dna(n, seed, 0), s2 = random_dna(m, seed, 1);
    std::vector<double> table(65536, 0.0);
    for (const char a : std::string("ACGT"))
        for (const char b : std::string("ACGT"))
            table[std::uint8_t(a) * 256 + std::uint8_t(b)] = a == b ? 2.0 : -1.0;

    std::string a1, a2;
    const long rss0 = peak_rss_kib();
    const auto t0 = std::chrono::steady_clock::now();
    const double score = align(s1, s2, table, o, a1, a2);
    const auto t1 = std::chrono::steady_clock::now();
    const long rss1 = peak_rss_kib();
    std::printf("%.17g %.9f %ld\n", score, std::chrono::duration<double>(t1 - t0).count(),
                (rss1 - rss0) * 1024L);
    return 0;
}
