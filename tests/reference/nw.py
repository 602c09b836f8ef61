"""Pure-Python model of the module's alignment engines.

Every operation is written out in the same order and with the same operand
grouping as the native engines, so that the scores agree to the last bit.
Python floats are IEEE doubles; the only places where Python would raise
where C quietly yields inf or NaN (division by zero and ``math.pow``) go
through the helpers below.
"""

import ctypes
import itertools
import math

NEG_INF = -math.inf
POINTER_UNSET = 255
MATCH, GAP_IN_SEQ1, GAP_IN_SEQ2 = 0, 1, 2
# (seq1, seq2) characters consumed by a column of each pairwise state
PAIR_STEPS = {MATCH: (1, 1), GAP_IN_SEQ1: (0, 1), GAP_IN_SEQ2: (1, 0)}

UNSET_POINTER = "unset pointer encountered during traceback"
UNSET_POINTER_3D = "unset pointer encountered during 3D traceback"

# The engines call the C library's pow; use the very same function so that
# every last bit of a scale factor matches.
c_pow = ctypes.CDLL(None).pow
c_pow.restype = ctypes.c_double
c_pow.argtypes = [ctypes.c_double, ctypes.c_double]


class InvalidUtf8Result(Exception):
    """An aligned pairwise row is not valid UTF-8: the module raises its internal error."""


def c_div(a, b):
    """a / b with IEEE semantics, where Python would raise ZeroDivisionError."""
    if b == 0.0:
        if a == 0.0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def upper_bytes(data):
    """Upper-case a-z only; every other byte (UTF-8 continuation bytes too) stays."""
    return bytes(b - 0x20 if 0x61 <= b <= 0x7A else b for b in data)


def _key_byte(key):
    raw = upper_bytes(key.encode("utf-8"))
    if len(raw) != 1:
        raise ValueError("score_matrix keys must be single characters")
    return raw[0]


def build_score_table(score_matrix):
    """The 256 x 256 row-major table: 0.0 everywhere, later items overwrite."""
    table = [0.0] * 65536
    for row_key, inner in score_matrix.items():
        r = _key_byte(row_key)
        for col_key, value in inner.items():
            table[r * 256 + _key_byte(col_key)] = float(value)
    return table


def derived_gap_scores(gap_open, gap_extend, close):
    """(first-column score, closing score) of a gap."""
    if close:
        half = (gap_open - gap_extend) * 0.5
        return gap_extend + half, half
    return gap_open, 0.0


def scale_factor(d, t, indices, flags):
    """The scaler's factor for one column: sum of T/(k+1)^d over enabled ends."""
    total = 0.0
    for index, flag in zip(indices, flags):
        if flag:
            x = c_div(float(index) + 1.0, t)
            total = total + c_div(1.0, c_pow(x, d))
    return 1.0 if total == 0.0 else total


def _end_weight(k, d, t):
    return c_div(1.0, c_pow(c_div(float(k), t), d))


def _scale_matrices(n, m, flags, scaler):
    """match_scale, gap1_scale, gap2_scale as (n+1) x (m+1) nested lists."""
    if scaler is None:
        ones = [[1.0] * (m + 1) for _ in range(n + 1)]
        return ones, ones, ones
    d, t = scaler
    f1l, f1r, f2l, f2r = flags

    def terms(on, ks):
        return [_end_weight(k, d, t) if on else 0.0 for k in ks]

    # Per-index end terms: left distance of a Match column, of a gap column
    # (one further on), and right distance.
    l1, l1_gap, r1 = terms(f1l, range(n + 1)), terms(f1l, range(1, n + 2)), terms(f1r, range(n + 1, 0, -1))
    l2, l2_gap, r2 = terms(f2l, range(m + 1)), terms(f2l, range(1, m + 2)), terms(f2r, range(m + 1, 0, -1))

    def grid(left1, left2):
        sums = [[((left1[i] + r1[i]) + left2[j]) + r2[j] for j in range(m + 1)]
                for i in range(n + 1)]
        return [[1.0 if v == 0.0 else v for v in row] for row in sums]

    return grid(l1, l2), grid(l1_gap, l2), grid(l1, l2_gap)


def _first_best(candidates):
    """(value, state) of the first counting candidate, beaten only by a strictly greater one."""
    best = None
    for pred, value, state in candidates:
        if pred > NEG_INF and value > NEG_INF:
            if best is None or value > best[0]:
                best = (value, state)
    return best


def _decode_pair(row1, row2):
    try:
        return row1.decode("utf-8"), row2.decode("utf-8")
    except UnicodeDecodeError:
        raise InvalidUtf8Result((row1, row2)) from None


def needleman_wunsch(seq1, seq2, table, gap_open, gap_extend, s1l, s1r, s2l, s2r,
                     close, scaler=None):
    """Pairwise global alignment; scaler is None or (decay_exponent, temperature)."""
    s1 = upper_bytes(seq1.encode("utf-8"))
    s2 = upper_bytes(seq2.encode("utf-8"))
    n, m = len(s1), len(s2)
    goe, gc = derived_gap_scores(gap_open, gap_extend, close)
    ms, g1s, g2s = _scale_matrices(n, m, (s1l, s1r, s2l, s2r), scaler)

    S = [[[NEG_INF] * (m + 1) for _ in range(n + 1)] for _ in range(3)]
    P = [[[POINTER_UNSET] * (m + 1) for _ in range(n + 1)] for _ in range(3)]
    SM, SX, SY = S
    SM[0][0] = 0.0
    P[MATCH][0][0] = MATCH

    def store(state, i, j, best):
        if best is not None:
            S[state][i][j], P[state][i][j] = best

    for i in range(n + 1):
        for j in range(m + 1):
            if i == 0 and j == 0:
                continue
            if i >= 1 and j >= 1:
                sub = table[s1[i - 1] * 256 + s2[j - 1]] * ms[i][j]
                cx = 0.0 if (i == 1 and s1l) else g1s[i - 1][j - 1] * gc
                cy = 0.0 if (j == 1 and s2l) else g2s[i - 1][j - 1] * gc
                pm, px, py = SM[i - 1][j - 1], SX[i - 1][j - 1], SY[i - 1][j - 1]
                store(MATCH, i, j, _first_best([
                    (pm, pm + sub, MATCH),
                    (px, cx + (px + sub), GAP_IN_SEQ1),
                    (py, cy + (py + sub), GAP_IN_SEQ2)]))
            if j >= 1:
                if (i == 0 and s1l) or (i == n and s1r):
                    ox = ex = 0.0
                else:
                    ox = goe * g1s[i][j]
                    ex = g1s[i][j] * gap_extend
                cy = 0.0 if (j == 1 and s2l) else g2s[i][j - 1] * gc
                pm, px, py = SM[i][j - 1], SX[i][j - 1], SY[i][j - 1]
                store(GAP_IN_SEQ1, i, j, _first_best([
                    (pm, pm + ox, MATCH),
                    (px, ex + px, GAP_IN_SEQ1),
                    (py, cy + (ox + py), GAP_IN_SEQ2)]))
            if i >= 1:
                if (j == 0 and s2l) or (j == m and s2r):
                    oy = ey = 0.0
                else:
                    oy = goe * g2s[i][j]
                    ey = g2s[i][j] * gap_extend
                cx = 0.0 if (i == 1 and s1l) else g1s[i - 1][j] * gc
                pm, px, py = SM[i - 1][j], SX[i - 1][j], SY[i - 1][j]
                store(GAP_IN_SEQ2, i, j, _first_best([
                    (pm, pm + oy, MATCH),
                    (px, cx + (oy + px), GAP_IN_SEQ1),
                    (py, ey + py, GAP_IN_SEQ2)]))

    # End state, charging the closing score of a gap that runs to the end.
    M = SM[n][m]
    X = SX[n][m]
    if not s1r and gc != 0.0 and X > NEG_INF:
        X = X + g1s[n][m] * gc
    Y = SY[n][m]
    if not s2r and gc != 0.0 and Y > NEG_INF:
        Y = Y + gc * g2s[n][m]
    B = X if X > M else M
    if Y > B:
        state, score = GAP_IN_SEQ2, Y
    elif X > M:
        state, score = GAP_IN_SEQ1, B
    else:
        state, score = MATCH, B

    if n == 0 and m == 0:
        return "", "", score
    out1, out2 = bytearray(), bytearray()
    i, j = n, m
    while True:
        di, dj = PAIR_STEPS[state]
        if i < di or j < dj:   # the column would need a byte before the string
            raise ValueError(UNSET_POINTER)
        out1.append(s1[i - 1] if di else 0x2D)
        out2.append(s2[j - 1] if dj else 0x2D)
        p = P[state][i][j]
        if p == POINTER_UNSET:
            raise ValueError(UNSET_POINTER)
        state, i, j = p, i - di, j - dj
        if i == 0 and j == 0:
            break
    a1, a2 = _decode_pair(bytes(reversed(out1)), bytes(reversed(out2)))
    return a1, a2, score


# Three-way states are 3-bit gap masks: bit s set = string s+1 gapped.
STATES_3D = range(7)


def _gapped(state, s):
    return (state >> s) & 1 == 1


def _steps(state):
    return tuple(0 if _gapped(state, s) else 1 for s in range(3))


def needleman_wunsch_3d(seq1, seq2, seq3, table, gap_open, gap_extend, flags6, close):
    """Three-way sum-of-pairs alignment; flags6 = (L1, R1, L2, R2, L3, R3)."""
    seqs = [upper_bytes(s.encode("utf-8")) for s in (seq1, seq2, seq3)]
    lens = [len(s) for s in seqs]
    left = flags6[0::2]
    right = flags6[1::2]
    O, C = derived_gap_scores(gap_open, gap_extend, close)
    E = gap_extend

    score = {(0, 0, 0, 0): 0.0}   # (state, i, j, l) -> score, written entries only
    back = {(0, 0, 0, 0): 0}

    for cell in itertools.product(*(range(n + 1) for n in lens)):
        if cell == (0, 0, 0):
            continue
        free = [(cell[s] == 0 and left[s]) or (cell[s] == lens[s] and right[s])
                for s in range(3)]
        exempt = [cell[s] == 1 and left[s] for s in range(3)]
        for k in STATES_3D:
            steps = _steps(k)
            if any(cell[s] < steps[s] for s in range(3)):
                continue
            chars = [seqs[s][cell[s] - 1] for s in range(3) if steps[s]]
            pair = 0.0
            for a, b in itertools.combinations(chars, 2):
                pair = pair + table[a * 256 + b]
            pred = tuple(cell[s] - steps[s] for s in range(3))
            best, best_p = NEG_INF, None
            for p in STATES_3D:
                sp = score.get((p,) + pred, NEG_INF)
                if not sp > NEG_INF:
                    continue
                g = 0.0
                for s in range(3):
                    if _gapped(k, s):
                        if not free[s]:
                            g = g + (E if _gapped(p, s) else O)
                    elif _gapped(p, s) and not exempt[s]:
                        g = g + C
                cand = (sp + pair) + g
                if cand > best:
                    best, best_p = cand, p
            if best_p is not None:
                score[(k,) + cell] = best
                back[(k,) + cell] = best_p

    end = tuple(lens)
    end_state, end_score = 0, NEG_INF
    for k in STATES_3D:
        v = score.get((k,) + end, NEG_INF)
        if v > NEG_INF:
            for s in range(3):
                if _gapped(k, s) and not right[s]:
                    v = v + C
        if k == 0 or v > end_score:
            end_state, end_score = k, v

    if end == (0, 0, 0):
        return "", "", "", end_score
    rows = [bytearray(), bytearray(), bytearray()]
    pos, k = list(end), end_state
    while True:
        p = back.get((k,) + tuple(pos), POINTER_UNSET)
        if p & 0x80:
            raise ValueError(UNSET_POINTER_3D)
        steps = _steps(k)
        for s in range(3):
            rows[s].append(seqs[s][pos[s] - 1] if steps[s] else 0x2D)
            pos[s] -= steps[s]
        k = p
        if pos == [0, 0, 0]:
            break
    out = []
    for row in rows:
        try:
            out.append(bytes(reversed(row)).decode("utf-8"))
        except UnicodeDecodeError:
            out.append("")
    return out[0], out[1], out[2], end_score
