"""Re-scoring an alignment column by column with the scoring rules gives exactly the
score the module reports, on inputs far longer than the reference can align.

Scores are integers and halves here, so every sum is exact whatever its order and the
comparison is `==`; the rules (pair scores, opening, extension, closing, free and exempt
ends) are what is checked.
"""

from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn

LETTERS = "ACGT"
matrices = st.lists(st.integers(-4, 4), min_size=16, max_size=16).map(
    lambda v: {a: {b: float(v[4 * r + c]) for c, b in enumerate(LETTERS)} for r, a in enumerate(LETTERS)})
# Related strings, so that alignments have long matching runs as well as gaps.
def related(base, edits):
    out = list(base)
    for pos, letter, kind in edits:
        pos %= len(out) + 1
        if kind == 0:
            out.insert(pos, letter)
        elif out and kind == 1:
            out.pop(pos % len(out))
        elif out:
            out[pos % len(out)] = letter
    return "".join(out)


def strings(min_len, max_len):
    base = st.text(LETTERS, min_size=min_len, max_size=max_len)
    edit = st.tuples(st.integers(0, 10_000), st.sampled_from(LETTERS), st.integers(0, 2))
    return st.tuples(base, st.lists(edit, max_size=40)).map(lambda t: related(*t))


gaps = st.tuples(st.integers(-8, 0), st.integers(-3, 0)).map(lambda t: (float(t[0]), float(t[1])))
flags = st.lists(st.booleans(), min_size=7, max_size=7)


def derived(gap_open, gap_extend, close):
    if close:
        half = (gap_open - gap_extend) * 0.5
        return gap_extend + half, half
    return gap_open, 0.0


def rescore_pairwise(a1, a2, table, gap_open, gap_extend, l1, r1, l2, r2, close):
    goe, gc = derived(gap_open, gap_extend, close)
    n, m = len(a1.replace("-", "")), len(a2.replace("-", ""))
    i = j = 0
    state, total = "M", 0.0
    for x, y in zip(a1, a2):
        if x != "-" and y != "-":
            i, j = i + 1, j + 1
            total += table[x][y] if x in table and y in table[x] else 0.0
            if state == "X" and not (i == 1 and l1):
                total += gc
            if state == "Y" and not (j == 1 and l2):
                total += gc
            state = "M"
        elif x == "-":  # a gap in seq1
            j += 1
            free = (i == 0 and l1) or (i == n and r1)
            if state == "Y" and not (j == 1 and l2):
                total += gc
            total += 0.0 if free else (gap_extend if state == "X" else goe)
            state = "X"
        else:  # a gap in seq2
            i += 1
            free = (j == 0 and l2) or (j == m and r2)
            if state == "X" and not (i == 1 and l1):
                total += gc
            total += 0.0 if free else (gap_extend if state == "Y" else goe)
            state = "Y"
    if (state == "X" and not r1) or (state == "Y" and not r2):
        total += gc
    return total


@settings(max_examples=60, deadline=None)
@given(s1=strings(200, 1500), s2=strings(200, 1500), matrix=matrices, gap=gaps, f=flags)
def test_pairwise_score_is_its_columns(s1, s2, matrix, gap, f):
    go, ge = gap
    opts = dict(seq1_left_free=f[0], seq1_right_free=f[1], seq2_left_free=f[2], seq2_right_free=f[3],
                enable_gap_close_penalty=f[4])
    a1, a2, score = vrn.needleman_wunsch(s1, s2, score_matrix=matrix, gap_open=go, gap_extend=ge, **opts)
    assert score == rescore_pairwise(a1, a2, matrix, go, ge, *f[:5])


def rescore_three_way(rows, table, gap_open, gap_extend, left, right, close):
    goe, gc = derived(gap_open, gap_extend, close)
    lens = [len(r.replace("-", "")) for r in rows]
    pos, prev, total = [0, 0, 0], 0, 0.0
    for column in zip(*rows):
        state = sum(1 << s for s in range(3) if column[s] == "-")
        for s in range(3):
            if column[s] != "-":
                pos[s] += 1
        chars = [c for c in column if c != "-"]
        for x in range(len(chars)):
            for y in range(x + 1, len(chars)):
                total += table.get(chars[x], {}).get(chars[y], 0.0)
        for s in range(3):
            gapped, was = column[s] == "-", (prev >> s) & 1
            if gapped:
                free = (pos[s] == 0 and left[s]) or (pos[s] == lens[s] and right[s])
                if not free:
                    total += gap_extend if was else goe
            elif was and not (pos[s] == 1 and left[s]):
                total += gc
        prev = state
    for s in range(3):
        if (prev >> s) & 1 and not right[s]:
            total += gc
    return total


@settings(max_examples=40, deadline=None)
@given(s1=strings(10, 45), s2=strings(10, 45), s3=strings(10, 45), matrix=matrices, gap=gaps, f=flags)
def test_three_way_score_is_its_columns(s1, s2, s3, matrix, gap, f):
    go, ge = gap
    opts = dict(zip(["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free",
                     "seq3_left_free", "seq3_right_free", "enable_gap_close_penalty"], f))
    *rows, score = vrn.needleman_wunsch_3d(s1, s2, s3, score_matrix=matrix, gap_open=go, gap_extend=ge, **opts)
    assert [r.replace("-", "") for r in rows] == [s1, s2, s3]
    assert score == rescore_three_way(rows, matrix, go, ge, f[0:6:2], f[1:6:2], f[6])
