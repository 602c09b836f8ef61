"""The integer fills, the grouped batch and the banded fill against the reference and the
double fill.

Where every score is a whole multiple of one power of two and the values stay within
16 or 32 bits, the pairwise fill runs on integers; short pairs of a batch run side by side,
one per vector lane; a long seq1 is filled in bands of rows. None of that may change a
bit. VORN_RUST_NATIVE_CELL_TYPE forces a cell type (a forced integer type that cannot
compute a call exactly raises RuntimeError), VORN_RUST_NATIVE_PAIR_GROUPS=off turns the
groups off and VORN_RUST_NATIVE_BAND_ROWS sets the rows of a band.
"""

import math
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn
from reference import (assert_same_batch, assert_same_outcome, expected_batch, module_outcome, pairwise,
                       raised, reference_outcome)
from strategies import KERNELS, environment, pair_flags, pinned, require

CELL = "VORN_RUST_NATIVE_CELL_TYPE"
GROUPS = "VORN_RUST_NATIVE_PAIR_GROUPS"
BAND = "VORN_RUST_NATIVE_BAND_ROWS"
NOT_EXACT = "the integer cell type forced by VORN_RUST_NATIVE_CELL_TYPE cannot compute this call exactly"

# Mostly whole numbers and halves (the integer fills' ground), with finer powers of two,
# values they must refuse, and ties.
whole = st.integers(-12, 12).map(float)
fractions = st.integers(-48, 48).map(lambda k: k / 8)
refused = st.sampled_from([-0.0, 0.1, math.inf, -math.inf, math.nan, 2.0**-30, 3.0 * 2**40])
exact_scores = st.one_of(whole, whole, fractions)
scores = st.one_of(exact_scores, exact_scores, exact_scores, refused)
LETTERS = "ACGTN"
matrices = st.dictionaries(st.sampled_from(LETTERS),
                           st.dictionaries(st.sampled_from(LETTERS), scores, max_size=5), max_size=5)
exact_matrices = st.dictionaries(
    st.sampled_from(LETTERS),
    st.dictionaries(st.sampled_from(LETTERS), exact_scores, max_size=5), max_size=5)
strings = st.text(alphabet="ACGTNacg", max_size=26)


def outcome(fn, *args, cell="", **kwargs):
    """The module's outcome with a cell type forced; "refused" for a forced integer type
    that cannot compute the call exactly."""
    with environment(**{CELL: cell}):
        try:
            return module_outcome(fn, *args, **kwargs)
        except RuntimeError as exc:
            assert str(exc) == NOT_EXACT
            return "refused"


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("cell", ["int16", "int32", "", "double"])
@settings(max_examples=80, deadline=None)
@given(s1=strings, s2=strings, matrix=matrices, go=scores, ge=scores, flags=pair_flags)
def test_each_cell_type_matches_reference(kernel, cell, s1, s2, matrix, go, ge, flags):
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        got = outcome(vrn.needleman_wunsch, s1, s2, cell=cell, **kwargs)
    if got == "refused":  # a score that is not exact in integers: doubles (cell "") agree
        return
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, **kwargs))


@pytest.mark.parametrize("value, exact", [
    (1.0, True), (0.5, True), (2.0**-24, True), (-3.75, True),
    (2.0**-25, False), (0.1, False), (-0.0, False), (math.inf, False), (math.nan, False),
])
def test_exactness_check_of_one_score(value, exact):
    # A single pair score decides: exact multiples of 2^-24 run on integers (32-bit: the
    # other scores times 2^24 leave 16 bits), the rest on doubles; both agree with the
    # reference.
    kwargs = dict(score_matrix={"A": {"A": value, "C": -1.0}}, gap_open=-2.0, gap_extend=-1.0)
    got = outcome(vrn.needleman_wunsch, "AACA", "ACA", cell="int32", **kwargs)
    assert (got != "refused") == exact
    want = reference_outcome(pairwise, "AACA", "ACA", **kwargs)
    assert_same_outcome(got if exact else outcome(vrn.needleman_wunsch, "AACA", "ACA", **kwargs), want)


def assert_exact_or_refused(forced, doubles):
    """A forced integer cell type refuses a call it cannot compute exactly (outcome() checks
    the message) or gives the double path's outcome, strings and score bits."""
    if forced != "refused":
        assert_same_outcome(forced, doubles)


# Values at the edges of the 16-bit range: the longest strings that the exactness bound
# admits today and one character more, at the upper edge (A/A scoring 100 along the
# diagonal) and at the lower edge (one long gap at -100 a column). Where the bound falls is
# the engine's choice; on either side of it every path must give the exact result.
UPPER = dict(score_matrix={"A": {"A": 100.0}})
LOWER = dict(score_matrix={}, gap_open=-100.0, gap_extend=-100.0, enable_gap_close_penalty=False)
EDGES = [
    pytest.param("A" * 326, "A" * 326, UPPER, id="upper-326"),
    pytest.param("A" * 327, "A" * 327, UPPER, id="upper-327"),
    pytest.param("A" * 318, "", LOWER, id="lower-318"),
    pytest.param("A" * 319, "", LOWER, id="lower-319"),
]


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("s1, s2, kwargs", EDGES)
def test_values_at_the_edge_of_16_bits(kernel, s1, s2, kwargs):
    require(kernel)
    with pinned(kernel):
        narrow = outcome(vrn.needleman_wunsch, s1, s2, cell="int16", **kwargs)
        wide = outcome(vrn.needleman_wunsch, s1, s2, cell="int32", **kwargs)
        doubles = outcome(vrn.needleman_wunsch, s1, s2, cell="double", **kwargs)
        automatic = outcome(vrn.needleman_wunsch, s1, s2, **kwargs)
    want = reference_outcome(pairwise, s1, s2, **kwargs)
    assert_exact_or_refused(narrow, doubles)
    assert_exact_or_refused(wide, doubles)
    assert_same_outcome(doubles, want)
    assert_same_outcome(automatic, want)


@pytest.mark.parametrize("n", [6, 7])
def test_values_at_the_edge_of_32_bits(n):
    # 2^28 a column along the diagonal: six columns are admitted today, seven are not.
    s, kwargs = "A" * n, dict(score_matrix={"A": {"A": 2.0**28}})
    want = reference_outcome(pairwise, s, s, **kwargs)
    doubles = outcome(vrn.needleman_wunsch, s, s, cell="double", **kwargs)
    assert_exact_or_refused(outcome(vrn.needleman_wunsch, s, s, cell="int32", **kwargs), doubles)
    assert_same_outcome(doubles, want)
    assert_same_outcome(outcome(vrn.needleman_wunsch, s, s, **kwargs), want)


# Exact-or-refused holds whatever margin the exactness bound keeps below a type's limit, so
# on its own it would still pass if a type were never used near the top of its range. This
# check keeps that edge exercised on every kernel build: some value within 2 % of the type's
# largest is computed on that type, exactly, for a length just below the limit. It names no
# length, so a slightly tighter bound still passes; one that gave up the top of the range
# does not.
@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("cell, largest, step", [pytest.param("int16", 2**15 - 1, 100.0, id="int16"),
                                                  pytest.param("int32", 2**31 - 1, 2.0**21, id="int32")])
def test_integer_cells_are_used_near_their_limit(kernel, cell, largest, step):
    require(kernel)
    kwargs = dict(score_matrix={"A": {"A": step}})
    near = range(math.floor(largest / step), math.ceil(0.98 * largest / step) - 1, -1)
    with pinned(kernel):
        for n in near:  # the score of n columns is n * step
            got = outcome(vrn.needleman_wunsch, "A" * n, "A" * n, cell=cell, **kwargs)
            if got != "refused":
                break
        else:
            pytest.fail(f"{cell} refuses every length from {near[0]} down to {near[-1]}")
        doubles = outcome(vrn.needleman_wunsch, "A" * n, "A" * n, cell="double", **kwargs)
    assert_same_outcome(got, doubles)


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=40, deadline=None)
@given(lengths=st.lists(st.tuples(st.integers(0, 40), st.integers(0, 40)), min_size=1, max_size=70),
       matrix=exact_matrices, go=exact_scores, ge=exact_scores, flags=pair_flags,
       cell=st.sampled_from(["", "int16", "int32"]), seed=st.integers(0, 2**32))
def test_grouped_batch_matches_pairs_alone(kernel, lengths, matrix, go, ge, flags, cell, seed):
    require(kernel)
    rng = random.Random(seed)
    pairs = [("".join(rng.choice("ACGTN") for _ in range(a)),
              "".join(rng.choice("ACGTn") for _ in range(b))) for a, b in lengths]
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        grouped = outcome(vrn.needleman_wunsch_batch, pairs, cell=cell, **kwargs)
        with environment(**{GROUPS: "off"}):
            alone = outcome(vrn.needleman_wunsch_batch, pairs, cell="double", **kwargs)
    if grouped != "refused":
        assert_same_batch(grouped, alone)
    assert_same_batch(alone, expected_batch(pairs, None, kwargs))


def test_grouped_batch_around_the_length_limit(env):
    # Pairs up to 512 characters are grouped, longer ones aligned alone; a mixed batch in
    # any order gives the per-pair results in input order.
    rng = random.Random(7)
    lengths = [(512, 500), (513, 40), (40, 513), (300, 512), (1, 1), (0, 0)] * 6
    rng.shuffle(lengths)
    pairs = [("".join(rng.choice("ACGT") for _ in range(a)),
              "".join(rng.choice("ACGT") for _ in range(b))) for a, b in lengths]
    kwargs = dict(score_matrix={a: {b: 2.0 if a == b else -1.0 for b in "ACGT"} for a in "ACGT"},
                  seq1_right_free=True, seq2_left_free=True)
    grouped = vrn.needleman_wunsch_batch(pairs, **kwargs)
    with env(**{CELL: "double", GROUPS: "off"}):
        alone = vrn.needleman_wunsch_batch(pairs, **kwargs)
    assert [r[:2] for r in grouped] == [r[:2] for r in alone]
    assert [r[2].hex() for r in grouped] == [r[2].hex() for r in alone]


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=60, deadline=None)
@given(s1=st.text(alphabet="ACGT", max_size=60), s2=strings, matrix=matrices, go=scores,
       ge=scores, flags=pair_flags, rows=st.integers(1, 25), scaled=st.booleans())
def test_banded_fill_matches_reference(kernel, s1, s2, matrix, go, ge, flags, rows, scaled):
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    if scaled:
        kwargs["score_scaler_fn"] = vrn.make_rust_score_scaler(1.0, 2.0)
    with pinned(kernel), environment(**{BAND: rows}):
        got = module_outcome(vrn.needleman_wunsch, s1, s2, **kwargs)
    scaler = (1.0, 2.0) if scaled else None
    kwargs.pop("score_scaler_fn", None)
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs))


@pytest.mark.parametrize("cell", ["int16", "double"])
@pytest.mark.parametrize("rows", [1, 7, 64, 999])
def test_banded_fill_of_long_strings(env, cell, rows):
    # Band edges falling on free-end rows and columns, against one sweep of the grid.
    rng = random.Random(rows)
    s1 = "".join(rng.choice("ACGT") for _ in range(1500))
    s2 = "".join(rng.choice("ACGT") for _ in range(700))
    kwargs = dict(score_matrix={a: {b: 1.0 if a == b else -1.0 for b in "ACGT"} for a in "ACGT"},
                  seq1_left_free=True, seq2_right_free=True)
    with env(**{BAND: rows}):
        banded = outcome(vrn.needleman_wunsch, s1, s2, cell=cell, **kwargs)
    with env(**{BAND: 10**9}):
        whole = outcome(vrn.needleman_wunsch, s1, s2, cell=cell, **kwargs)
    assert_same_outcome(banded, whole)


def test_refusal_is_a_runtime_error(env):
    with env(**{CELL: "int16"}):
        error = raised(vrn.needleman_wunsch, "AC", "A", score_matrix={"A": {"A": 0.1}})
    assert type(error) is RuntimeError and str(error) == NOT_EXACT


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("cell", ["int16", "int32"])
@settings(max_examples=40, deadline=None)
@given(s1=strings, s2=strings, matrix=exact_matrices, go=exact_scores, ge=exact_scores,
       flags=pair_flags, k=st.integers(1, 30))
def test_checkpoints_hold_integer_cells(kernel, cell, s1, s2, matrix, go, ge, flags, k):
    # The checkpointed traceback stores and restores integer diagonals: every block
    # length gives the whole-grid outcome of the same cell type, and the reference's.
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        full = outcome(vrn.needleman_wunsch, s1, s2, cell=cell, **kwargs)
        with environment(VORN_RUST_NATIVE_TRACEBACK="checkpoint", VORN_RUST_NATIVE_CHECKPOINT_INTERVAL=k):
            checkpointed = outcome(vrn.needleman_wunsch, s1, s2, cell=cell, **kwargs)
    if full == "refused":
        assert checkpointed == "refused"
        return
    assert_same_outcome(checkpointed, full)
    assert_same_outcome(full, reference_outcome(pairwise, s1, s2, **kwargs))


@pytest.mark.parametrize("value", ["", "float", "int8", "INT16", "0", "-3", "x"])
def test_unknown_switch_values_leave_the_choice_to_the_engine(env, value):
    s1, s2 = "ACGTTGCA" * 20, "ACGTGCA" * 22
    kwargs = dict(score_matrix={a: {b: 1.0 if a == b else -1.0 for b in "ACGT"} for a in "ACGT"})
    want = vrn.needleman_wunsch(s1, s2, **kwargs)
    with env(**{CELL: value, BAND: value, GROUPS: value}):
        assert vrn.needleman_wunsch(s1, s2, **kwargs) == want
        assert vrn.needleman_wunsch_batch([(s1, s2)] * 5, **kwargs) == [want] * 5
