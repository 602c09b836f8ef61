"""The module against the pure-Python reference on many small random inputs.

Scores must agree to the last bit, strings exactly, and errors by type and
message; the reference lives in tests/reference, the strategies in tests/strategies.py.
"""

import math

from hypothesis import given, settings, strategies as st

import vorn_rust_native as vrn
from reference import (
    assert_same_batch, assert_same_outcome, assert_same_result, expected_batch, module_outcome, nw,
    pairwise, reference_outcome, same_bits, three_way)
from strategies import (
    FLAG_NAMES, decay_exponents, finite_gaps, gap_scores, module_kwargs, pair_flags, scalers,
    score_matrices, sequences, temperatures, three_way_flags)

PAIRWISE = settings(max_examples=300, deadline=None)
BATCH = settings(max_examples=100, deadline=None)
THREE_WAY = settings(max_examples=150, deadline=None)
PROPERTIES = settings(max_examples=100, deadline=None)


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
