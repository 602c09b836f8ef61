"""The fill's split between boundary and interior cells, on every kernel build and cell type.

The fills compute whole vectors of 2 to 32 cells along anti-diagonals: the cells of rows 0, 1
and n and columns 0, 1 and m (free ends, exempt closings) with each cell's own terms, every
other cell with the terms held in registers. These cases put those rows and columns at every
lane position (lengths around multiples of 8, 16 and 32), with every end flag, the close
penalty on and off, many ties, non-finite scores and values at the limits of each cell type,
and compare with the reference and with the other paths (forced by the switches).
"""

import math

import pytest
from hypothesis import given, settings, strategies as st

import vorn_rust_native as vrn
from reference import assert_same_outcome, module_outcome, pairwise, reference_outcome
from strategies import KERNELS, pair_flags, require, switches

CELLS = ["double", "int32", "int16"]


def forced(cell, fn, *args, **kwargs):
    """The outcome with the cell type forced; None where the integer type refuses the call."""
    with switches(CELL_TYPE=cell):
        try:
            return module_outcome(fn, *args, **kwargs)
        except RuntimeError as e:
            assert "VORN_RUST_NATIVE_CELL_TYPE" in str(e) and cell != "double", e
            return None


# Lengths whose rows and columns 0, 1, n - 1 and n fall at every lane position of 8-, 16- and
# 32-cell vectors.
around_lanes = st.builds(lambda base, delta: max(0, base + delta),
                         st.sampled_from([0, 8, 16, 32, 48, 64]), st.integers(-3, 3))


@st.composite
def dna(draw, length):
    return "".join(draw(st.lists(st.sampled_from("ACGTacgt"), min_size=length, max_size=length)))


# Whole numbers with many ties (the integer cells), and scores only doubles hold exactly.
WHOLE = st.sampled_from([(1.0, -1.0), (0.0, 0.0), (2.0, -3.0), (1.0, 1.0), (-1.0, -1.0), (5.0, -4.0)])
INEXACT = st.sampled_from([(1.1, -0.9), (1 / 3, -2 / 3), (0.1, -0.3), (2.5, -0.7)])
WHOLE_GAPS = st.sampled_from([(-5.0, -1.0), (-1.0, -1.0), (0.0, 0.0), (-3.0, -0.5), (-2.0, 0.0), (1.0, -2.0)])
INEXACT_GAPS = st.sampled_from([(-5.3, -1.1), (-0.7, -0.2), (-1 / 3, -1 / 7)])


def matrix(match, mismatch):
    return {a: {b: (match if a == b else mismatch) for b in "ACGT"} for a in "ACGT"}


@pytest.mark.parametrize("cell", CELLS)
@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=40, deadline=None)
@given(data=st.data(), n=around_lanes, m=around_lanes, flags=pair_flags, exact=st.booleans())
def test_lane_positions_match_reference(kernel, cell, data, n, m, flags, exact):
    require(kernel)
    scores = data.draw(WHOLE if exact or cell != "double" else INEXACT)
    gaps = data.draw(WHOLE_GAPS if exact or cell != "double" else INEXACT_GAPS)
    s1, s2 = data.draw(dna(n)), data.draw(dna(m))
    kwargs = dict(flags, score_matrix=matrix(*scores), gap_open=gaps[0], gap_extend=gaps[1])
    with switches(KERNEL=kernel):
        got = forced(cell, vrn.needleman_wunsch, s1, s2, **kwargs)
    assert got is not None  # small whole scores always fit both integer types
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, **kwargs))


ODD = [math.inf, -math.inf, math.nan, -0.0, 1e308, -1e308]


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=60, deadline=None)
@given(data=st.data(), n=around_lanes, m=around_lanes, flags=pair_flags,
       match=st.sampled_from([1.0, 1.5] + ODD), mismatch=st.sampled_from([-1.0, -0.5] + ODD),
       gaps=st.sampled_from([(-5.0, -1.0), (-1.5, -0.25)] + [(x, -1.0) for x in ODD] + [(-5.0, x) for x in ODD]))
def test_non_finite_scores_match_reference(kernel, data, n, m, flags, match, mismatch, gaps):
    # -inf, inf, NaN and scores that overflow: the interior without NaN guards is taken only
    # where every term is finite.
    require(kernel)
    s1, s2 = data.draw(dna(n)), data.draw(dna(m))
    kwargs = dict(flags, score_matrix=matrix(match, mismatch), gap_open=gaps[0], gap_extend=gaps[1])
    with switches(KERNEL=kernel):
        got = module_outcome(vrn.needleman_wunsch, s1, s2, **kwargs)
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, **kwargs))


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=40, deadline=None)
@given(data=st.data(), n=around_lanes, m=around_lanes, flags=pair_flags, scores=INEXACT,
       gaps=INEXACT_GAPS, scaler=st.sampled_from([(1.0, 1.0), (1.0, 2.0), (2.0, 0.5), (0.5, 3.7)]))
def test_scaled_lane_positions_match_reference(kernel, data, n, m, flags, scores, gaps, scaler):
    require(kernel)
    s1, s2 = data.draw(dna(n)), data.draw(dna(m))
    kwargs = dict(flags, score_matrix=matrix(*scores), gap_open=gaps[0], gap_extend=gaps[1])
    with switches(KERNEL=kernel):
        got = module_outcome(vrn.needleman_wunsch, s1, s2, score_scaler_fn=vrn.make_rust_score_scaler(*scaler),
                             **kwargs)
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs))


PATHS = [dict(KERNEL=k, CELL_TYPE=c, TRACEBACK=t, BAND_ROWS=b)
         for k in ("generic", "avx2", "avx512") for c in ("double", "int32", "int16")
         for t, b in (("full", None), ("checkpoint", None), ("full", 7), ("full", 40))]


@settings(max_examples=12, deadline=None)
@given(data=st.data(), n=st.integers(60, 260), m=st.integers(60, 260), flags=pair_flags,
       scores=WHOLE, gaps=WHOLE_GAPS, protein=st.booleans())
def test_long_strings_agree_on_every_path(data, n, m, flags, scores, gaps, protein):
    # Longer strings than the reference can take, so that most cells are interior: every
    # kernel build, cell type, traceback path and block of rows gives the same result.
    letters = "ACDEFGHIKLMNPQRSTVWY" if protein else "ACGT"
    s1 = "".join(data.draw(st.lists(st.sampled_from(letters), min_size=n, max_size=n)))
    s2 = "".join(data.draw(st.lists(st.sampled_from(letters), min_size=m, max_size=m)))
    table = {a: {b: (scores[0] if a == b else scores[1] + (ord(a) * ord(b)) % 5) for b in letters}
             for a in letters}
    kwargs = dict(flags, score_matrix=table, gap_open=gaps[0], gap_extend=gaps[1])
    with switches(KERNEL="generic", CELL_TYPE="double", TRACEBACK="full"):
        want = module_outcome(vrn.needleman_wunsch, s1, s2, **kwargs)
    for path in PATHS:
        with switches(**path):
            try:
                got = module_outcome(vrn.needleman_wunsch, s1, s2, **kwargs)
            except RuntimeError as e:  # a build the processor lacks
                assert "VORN_RUST_NATIVE_KERNEL" in str(e), e
                continue
        assert_same_outcome(got, want)


@pytest.mark.parametrize("cell, limit", [("int16", 2**15), ("int32", 2**31)])
@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("side", ["high", "low"])
def test_values_near_the_cell_type_limits(kernel, cell, limit, side):
    # Scores so large that the values reach just inside the integer type's range, found by
    # bisection on the type's refusal; the largest accepted ones, and one past them, on
    # lengths around lane multiples: the regrouped integer sums never wrap where read.
    require(kernel)
    n, m = 70, 63

    def call(score, free):
        if side == "high":
            kwargs = dict(score_matrix=matrix(float(score), -1.0), gap_open=-2.0, gap_extend=-1.0)
        else:
            kwargs = dict(score_matrix=matrix(1.0, -float(score)), gap_open=-float(score // 2),
                          gap_extend=-1.0)
        kwargs.update(seq2_left_free=free, seq1_right_free=free)
        s1, s2 = ("ACGT" * n)[:n], ("ACGA" * m)[:m]
        with switches(KERNEL=kernel):
            return forced(cell, vrn.needleman_wunsch, s1, s2, **kwargs), (s1, s2, kwargs)

    accepted, refused = 1, limit
    while refused - accepted > 1:
        mid = (accepted + refused) // 2
        if call(mid, False)[0] is None:
            refused = mid
        else:
            accepted = mid
    assert call(refused, False)[0] is None
    for score in (accepted - 1, accepted):
        for free in (False, True):
            got, (s1, s2, kwargs) = call(score, free)
            if got is not None:
                assert_same_outcome(got, reference_outcome(pairwise, s1, s2, **kwargs))


def batch_outcome(pairs, **kwargs):
    try:
        return ("ok", vrn.needleman_wunsch_batch(pairs, **kwargs))
    except ValueError as e:
        return ("ValueError", str(e))


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=30, deadline=None)
@given(data=st.data(), count=st.integers(1, 45), flags=pair_flags, kind=st.sampled_from(["exact", "inexact", "odd"]),
       gaps=st.one_of(WHOLE_GAPS, INEXACT_GAPS), cell=st.sampled_from([None, "double"]),
       scaler=st.one_of(st.none(), st.sampled_from([(1.0, 1.0), (1.0, 2.0), (2.0, 0.5), (-1.0, 3.0)])))
def test_grouped_batch_matches_pairs_alone(kernel, data, count, flags, kind, gaps, cell, scaler):
    # Short pairs of a batch side by side, one per lane, in doubles (scores only doubles hold,
    # non-finite ones, a forced double cell type, a scaler): each as it aligns alone, and as
    # the reference.
    require(kernel)
    lengths = st.integers(0, 40) if count > 8 else around_lanes
    pairs = [(data.draw(dna(data.draw(lengths))), data.draw(dna(data.draw(lengths)))) for _ in range(count)]
    scores = {"exact": (1.0, -1.0), "inexact": data.draw(INEXACT),
              "odd": (data.draw(st.sampled_from([1.0] + ODD)), data.draw(st.sampled_from([-1.0] + ODD)))}[kind]
    kwargs = dict(flags, score_matrix=matrix(*scores), gap_open=gaps[0], gap_extend=gaps[1])
    if scaler is not None:
        kwargs["score_scaler_fn"] = vrn.make_rust_score_scaler(*scaler)
    with switches(KERNEL=kernel, CELL_TYPE=cell, NUM_THREADS=1):
        got = batch_outcome(pairs, **kwargs)
        with switches(PAIR_GROUPS="off"):
            alone = batch_outcome(pairs, **kwargs)
    assert got[0] == alone[0], (got, alone)
    if got[0] != "ok":
        assert got == alone
        return
    for g, a in zip(got[1], alone[1]):
        assert_same_outcome(("ok", g), ("ok", a))
    ref_kwargs = dict(kwargs, scaler=scaler)
    ref_kwargs.pop("score_scaler_fn", None)
    for (s1, s2), g in list(zip(pairs, got[1]))[:3]:
        assert_same_outcome(("ok", g), reference_outcome(pairwise, s1, s2, **ref_kwargs))
