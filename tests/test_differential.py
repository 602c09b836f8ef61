"""The module against the pure-Python reference on many small random inputs.

Scores must agree to the last bit, strings exactly, and errors by type and
message; the reference lives in tests/reference.
"""

import math

from hypothesis import given, settings, strategies as st

import vorn_rust_native as vrn
from reference import (
    INTERNAL_ERROR_MESSAGE, assert_same_outcome, assert_same_result, module_outcome,
    nw, pairwise, reference_outcome, same_bits, three_way)

PAIRWISE = settings(max_examples=300, deadline=None)
BATCH = settings(max_examples=100, deadline=None)
THREE_WAY = settings(max_examples=150, deadline=None)
PROPERTIES = settings(max_examples=100, deadline=None)

ALPHABET = "ACGTacgt-"
ODD_GAPS = [0.0, -0.0, 1.5, 4.0, -math.inf, math.inf, math.nan]
ODD_PAIRS = [-0.0, math.inf, -math.inf, math.nan]


def rarely(common, odd_values, one_in):
    """Mostly `common`, and a value from `odd_values` about once in `one_in` draws."""
    return st.integers(1, one_in).flatmap(
        lambda k: st.sampled_from(odd_values) if k == 1 else common)


@st.composite
def sequences(draw, max_len):
    """Short strings, now and then holding one two-byte character."""
    size = draw(st.integers(0, max_len))
    s = draw(st.text(alphabet=ALPHABET, min_size=size, max_size=size))
    if draw(st.integers(0, 6)) == 0:
        pos = draw(st.integers(0, len(s)))
        s = s[:pos] + draw(st.sampled_from("éß")) + s[pos:]
    return s


# Small integers and quarters give many ties; tenths and thirds make rounding depend
# on the order of every addition.
INEXACT = [0.1, -0.3, 1 / 3, -2 / 3, 2.2, -1.7, 0.7]
pair_scores = rarely(
    st.one_of(st.integers(-6, 6), st.integers(-12, 12).map(lambda k: k / 4),
              st.sampled_from(INEXACT), st.floats(-8, 8, allow_nan=False, allow_infinity=False)),
    ODD_PAIRS, 40)
sparse_matrices = st.dictionaries(
    st.sampled_from(ALPHABET),
    st.dictionaries(st.sampled_from(ALPHABET), pair_scores, max_size=9), max_size=9)
dense_scores = st.one_of(st.sampled_from(INEXACT + [-1.0, 1.0, 2.0]), st.floats(-8, 8))
dense_matrices = st.fixed_dictionaries(
    {a: st.fixed_dictionaries({b: dense_scores for b in "ACGT"}) for a in "ACGT"})
score_matrices = st.one_of(sparse_matrices, dense_matrices)
gap_scores = rarely(
    st.one_of(st.integers(-16, 2).map(lambda k: k / 2), st.sampled_from([-x for x in INEXACT]),
              st.floats(-8, 1, allow_nan=False, allow_infinity=False)),
    ODD_GAPS, 12)
finite_gaps = st.integers(-16, 0).map(lambda k: k / 2)
decay_exponents = rarely(
    st.sampled_from([0.0, 1.0, 2.0, 0.5, 1.5, 3.0, -1.0, -0.5, -2.0]),
    [math.inf, -math.inf, math.nan], 20)
temperatures = rarely(st.sampled_from([1.0, 2.0, 0.5, 3.7, 10.0, math.inf]), [math.nan], 20)
scalers = st.one_of(st.none(), st.tuples(decay_exponents, temperatures))

FLAG_NAMES = ("seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free")
FLAG_NAMES_3D = FLAG_NAMES + ("seq3_left_free", "seq3_right_free")
pair_flags = st.fixed_dictionaries(
    {name: st.booleans() for name in FLAG_NAMES + ("enable_gap_close_penalty",)})
three_way_flags = st.fixed_dictionaries(
    {name: st.booleans() for name in FLAG_NAMES_3D + ("enable_gap_close_penalty",)})


def module_kwargs(kwargs, scaler):
    if scaler is None:
        return kwargs
    return dict(kwargs, score_scaler_fn=vrn.make_rust_score_scaler(*scaler))


@PAIRWISE
@given(s1=sequences(12), s2=sequences(12), matrix=score_matrices, go=gap_scores,
       ge=gap_scores, flags=pair_flags, scaler=scalers)
def test_pairwise_matches_reference(s1, s2, matrix, go, ge, flags, scaler):
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    got = module_outcome(vrn.needleman_wunsch, s1, s2, **module_kwargs(kwargs, scaler))
    want = reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs)
    assert_same_outcome(got, want)


@PAIRWISE
@given(d=st.one_of(decay_exponents, st.floats(-4, 4)),
       t=st.one_of(temperatures, st.floats(0.01, 100)),
       indices=st.tuples(*[st.integers(-3, 40)] * 4),
       flags=st.tuples(*[st.booleans()] * 4))
def test_scaler_call_matches_reference(d, t, indices, flags):
    got = vrn.make_rust_score_scaler(d, t)(*indices, *flags)
    assert type(got) is float
    assert same_bits(got, nw.scale_factor(d, t, indices, flags)), (got, d, t, indices, flags)


@PAIRWISE
@given(pads=st.tuples(*[st.integers(0, 6)] * 4), weight=st.floats(0.1, 10),
       go=st.one_of(st.just(0.0), st.floats(-4, 0)), ge=st.one_of(st.just(0.0), st.floats(-1, 0)),
       flags=st.fixed_dictionaries({name: st.integers(0, 3).map(bool) for name in FLAG_NAMES}),
       close=st.booleans(), scaler=st.tuples(st.floats(-1.5, 1.5), st.floats(0.5, 4)))
def test_scaled_scores_are_exact(pads, weight, go, ge, flags, close, scaler):
    # Only the G/G column and the gaps score, each times its own scale, so any change
    # in how a scale is indexed or its end terms are summed shows in the last bits.
    a, b, c, d = pads
    kwargs = dict(flags, score_matrix={"G": {"G": weight}}, gap_open=go, gap_extend=ge,
                  enable_gap_close_penalty=close)
    s1, s2 = "A" * a + "G" + "A" * b, "C" * c + "G" + "C" * d
    got = module_outcome(vrn.needleman_wunsch, s1, s2, **module_kwargs(kwargs, scaler))
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs))


def expected_batch(pairs, scaler, kwargs):
    """Engine errors win over undecodable rows, which are only found after the last pair."""
    singles = [reference_outcome(pairwise, a, b, scaler=scaler, **kwargs) for a, b in pairs]
    for outcome in singles:
        if outcome[0] == "ValueError":
            return outcome
    if any(outcome[0] == "internal" for outcome in singles):
        return ("internal", INTERNAL_ERROR_MESSAGE)
    return ("ok", [outcome[1] for outcome in singles])


def assert_same_batch(got, want):
    assert got[0] == want[0], (got, want)
    if got[0] != "ok":
        assert got[1] == want[1]
        return
    assert type(got[1]) is list and len(got[1]) == len(want[1])
    for g, w in zip(got[1], want[1]):
        assert_same_result(g, w)


@BATCH
@given(pairs=st.lists(st.tuples(sequences(8), sequences(8)), max_size=5),
       matrix=score_matrices, go=gap_scores, ge=gap_scores, flags=pair_flags,
       scaler=scalers)
def test_batch_matches_single_calls(pairs, matrix, go, ge, flags, scaler):
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    mkw = module_kwargs(kwargs, scaler)
    got = module_outcome(vrn.needleman_wunsch_batch, pairs, **mkw)
    assert_same_batch(got, expected_batch(pairs, scaler, kwargs))
    if got[0] == "ok":
        for (a, b), result in zip(pairs, got[1]):
            assert_same_result(result, vrn.needleman_wunsch(a, b, **mkw))


@BATCH
@given(long=st.tuples(st.text("ACGTacgt", min_size=20, max_size=30),
                      st.text("ACGTacgt", min_size=15, max_size=30)),
       short=st.lists(st.tuples(st.text("ACGT", max_size=4), st.text("ACGT", max_size=4)),
                      min_size=1, max_size=4),
       matrix=score_matrices, flags=pair_flags, go=finite_gaps, ge=finite_gaps,
       scaler=scalers)
def test_batch_long_then_short_pairs(long, short, matrix, flags, go, ge, scaler):
    # Working memory sized for the first, long pair must not leak into the later ones.
    pairs = [long] + short + [long[::-1]] + short[::-1]
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    got = module_outcome(vrn.needleman_wunsch_batch, pairs, **module_kwargs(kwargs, scaler))
    assert_same_batch(got, expected_batch(pairs, scaler, kwargs))


def test_batch_is_all_or_nothing_when_last_pair_fails():
    pairs = [("ACGT", "ACGT"), ("A", "A"), ("A", "AC")]
    matrix = {c: {c: 1.0} for c in "ACGT"}
    assert vrn.needleman_wunsch_batch(pairs[:2], score_matrix=matrix, gap_open=-math.inf) == [
        ("ACGT", "ACGT", 4.0), ("A", "A", 1.0)]
    got = module_outcome(vrn.needleman_wunsch_batch, pairs, score_matrix=matrix,
                         gap_open=-math.inf)
    assert got == ("ValueError", nw.UNSET_POINTER)


@THREE_WAY
@given(s1=sequences(6), s2=sequences(6), s3=sequences(6), matrix=score_matrices,
       go=gap_scores, ge=gap_scores, flags=three_way_flags)
def test_three_way_matches_reference(s1, s2, s3, matrix, go, ge, flags):
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    got = module_outcome(vrn.needleman_wunsch_3d, s1, s2, s3, **kwargs)
    want = reference_outcome(three_way, s1, s2, s3, **kwargs)
    assert_same_outcome(got, want)


def assert_rows_spell_inputs(rows, inputs):
    """Equal-length rows whose non-gap letters are the upper-cased inputs, no empty column."""
    assert len({len(row) for row in rows}) == 1
    assert max(map(len, inputs)) <= len(rows[0]) <= sum(map(len, inputs))
    for row, seq in zip(rows, inputs):
        assert row.replace("-", "") == seq.upper()
    assert all(set(column) != {"-"} for column in zip(*rows))


@PROPERTIES
@given(s1=st.text("ACGTNacgtn", max_size=40), s2=st.text("ACGTNacgtn", max_size=40),
       matrix=st.dictionaries(st.sampled_from("ACGTNacgtn"), st.dictionaries(
           st.sampled_from("ACGTNacgtn"), st.integers(-5, 5), max_size=10), max_size=10),
       go=finite_gaps, ge=finite_gaps, flags=pair_flags,
       scaler=st.one_of(st.none(), st.tuples(st.sampled_from([0.5, 1.0, 2.0]),
                                             st.sampled_from([0.5, 1.0, 3.0]))))
def test_pairwise_rows_spell_inputs(s1, s2, matrix, go, ge, flags, scaler):
    kwargs = module_kwargs(dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge), scaler)
    a1, a2, score = vrn.needleman_wunsch(s1, s2, **kwargs)
    assert_rows_spell_inputs((a1, a2), (s1, s2))
    assert math.isfinite(score)


@PROPERTIES
@given(seqs=st.tuples(*[st.text("ACGTacgt", max_size=8)] * 3),
       matrix=st.dictionaries(st.sampled_from("ACGTacgt"), st.dictionaries(
           st.sampled_from("ACGTacgt"), st.integers(-5, 5), max_size=8), max_size=8),
       go=finite_gaps, ge=finite_gaps, flags=three_way_flags)
def test_three_way_rows_spell_inputs(seqs, matrix, go, ge, flags):
    *rows, score = vrn.needleman_wunsch_3d(
        *seqs, score_matrix=matrix, gap_open=go, gap_extend=ge, **flags)
    assert_rows_spell_inputs(rows, seqs)
    assert math.isfinite(score)
