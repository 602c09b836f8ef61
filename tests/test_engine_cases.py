"""Hand-computed alignments that pin down the engines' tie rules, free ends,
closing scores, scaling and failure paths.

Each case is checked against the module and against the reference, so the
reference used by the differential tests is held to the same numbers.
"""

import math

import pytest

import vorn_rust_native as vrn
from reference import (
    INTERNAL_ERROR_MESSAGE, assert_same_result, module_outcome, nw, pairwise,
    reference_outcome, three_way)

INF = math.inf
IDENTITY = {c: {c: 1.0} for c in "ACGT"}
A_A = {"A": {"A": 1.0}}
A_A_10 = {"A": {"A": 10.0}}
ASYMMETRIC = {"A": {"C": 3.0}, "C": {"A": -7.0}}
# Every ASCII pair scores 7.0, so any byte >= 0x80 mistaken for ASCII would show up.
ALL_ASCII = {chr(a): {chr(b): 7.0 for b in range(128)} for a in range(128)}
DASH = {"-": {"-": 2.0}}
UNSET = ("ValueError", nw.UNSET_POINTER)
UNSET_3D = ("ValueError", nw.UNSET_POINTER_3D)
INTERNAL = ("internal", INTERNAL_ERROR_MESSAGE)


def ok(*result):
    return ("ok", result)


PAIRWISE_CASES = [
    ("", "", {}, {}, ok("", "", 0.0)),
    ("", "AC", {}, {}, ok("--", "AC", -6.0)),
    ("", "AC", {}, {"enable_gap_close_penalty": False}, ok("--", "AC", -6.0)),
    # Free leading gap, but the gap still runs to the end and pays its closing.
    ("", "AC", {}, {"seq1_left_free": True}, ok("--", "AC", -2.0)),
    ("", "AC", {}, {"seq1_right_free": True}, ok("--", "AC", 0.0)),
    ("", "AC", {}, {"seq1_left_free": True, "seq1_right_free": True}, ok("--", "AC", 0.0)),
    ("acgt", "ACGT", IDENTITY, {}, ok("ACGT", "ACGT", 4.0)),
    ("acgt", "acgt", {"a": {"a": 1}, "c": {"c": 1}, "g": {"g": 1}, "t": {"t": 1}}, {},
     ok("ACGT", "ACGT", 4.0)),
    # Both placements of the gap score -4.0; the end state Match wins the tie.
    ("AA", "A", A_A, {}, ok("AA", "-A", -4.0)),
    ("C", "AC", IDENTITY, {"seq1_left_free": True}, ok("-C", "AC", 1.0)),
    ("A", "AC", IDENTITY, {"seq1_right_free": True}, ok("A-", "AC", 1.0)),
    ("AA", "AA", A_A, {"seq1_left_free": True, "scaler": (1.0, 1.0)}, ok("AA", "AA", 1.5)),
    ("AA", "AA", A_A, {"seq1_left_free": True, "scaler": (1.0, 2.0)}, ok("AA", "AA", 3.0)),
    ("AA", "AA", A_A, {"seq1_left_free": True, "scaler": (2.0, 1.0)}, ok("AA", "AA", 1.25)),
    ("AA", "AA", A_A, {"seq1_left_free": True, "seq1_right_free": True, "scaler": (1.0, 1.0)},
     ok("AA", "AA", 3.0)),
    # No closing score to charge, so the infinite scale of the end cell is never used.
    ("", "AC", {}, {"seq1_left_free": True, "enable_gap_close_penalty": False,
                    "scaler": (1.0, INF)}, ok("--", "AC", 0.0)),
    ("-", "-", DASH, {}, ok("-", "-", 2.0)),
    ("xé", "xé", ALL_ASCII, {}, ok("Xé", "Xé", 7.0)),
    ("é", "é", ALL_ASCII, {}, ok("é", "é", 0.0)),
    ("A", "AC", {}, {"gap_open": -INF}, UNSET),
    ("", "AC", {}, {"gap_open": -INF}, UNSET),
    # A rewarded gap opening splits "é" around a gap: the row is not UTF-8.
    ("é", "A", {}, {"gap_open": 5.0}, INTERNAL),
    # Gap columns far from both free ends of seq2 are cheapest, so the gap lands mid-"é".
    ("é", "AAA", A_A, {"seq2_left_free": True, "seq2_right_free": True, "scaler": (1.0, 1.0)},
     INTERNAL),
]


@pytest.mark.parametrize("seq1, seq2, matrix, options, expected", PAIRWISE_CASES)
def test_pairwise_case(seq1, seq2, matrix, options, expected):
    options = dict(options)
    scaler = options.pop("scaler", None)
    kwargs = dict(options, score_matrix=matrix)
    module_kw = dict(kwargs)
    if scaler is not None:
        module_kw["score_scaler_fn"] = vrn.make_rust_score_scaler(*scaler)
    for got in (module_outcome(vrn.needleman_wunsch, seq1, seq2, **module_kw),
                reference_outcome(pairwise, seq1, seq2, scaler=scaler, **kwargs)):
        assert got == expected
        if got[0] == "ok":
            assert_same_result(got[1], expected[1])


@pytest.mark.parametrize("scaler", [(1.0, 1.0), (2.0, 0.5), (-1.0, INF), (0.0, 3.0)])
def test_scaler_without_free_ends_changes_nothing(scaler):
    matrix = {"A": {"A": 2.5, "C": -1.0}, "C": {"C": 1.25, "G": 0.5}, "G": {"T": -0.75}}
    plain = vrn.needleman_wunsch("ACGTTAGC", "AGTCACG", score_matrix=matrix, gap_open=-3.5)
    scaled = vrn.needleman_wunsch("ACGTTAGC", "AGTCACG", score_matrix=matrix, gap_open=-3.5,
                                  score_scaler_fn=vrn.make_rust_score_scaler(*scaler))
    assert_same_result(scaled, plain)


THREE_WAY_CASES = [
    ("", "", "", {}, {}, ok("", "", "", 0.0)),
    ("", "A", "A", {}, {}, ok("-", "A", "A", -5.0)),
    ("", "A", "A", {}, {"enable_gap_close_penalty": False}, ok("-", "A", "A", -5.0)),
    ("", "A", "A", {}, {"seq1_left_free": True}, ok("-", "A", "A", -2.0)),
    ("", "A", "A", {}, {"seq1_left_free": True, "enable_gap_close_penalty": False},
     ok("-", "A", "A", 0.0)),
    ("", "A", "A", {}, {"seq1_right_free": True}, ok("-", "A", "A", 0.0)),
    ("", "A", "A", {}, {"seq1_right_free": True, "enable_gap_close_penalty": False},
     ok("-", "A", "A", 0.0)),
    ("ACGT", "ACGT", "ACGT", IDENTITY, {}, ok("ACGT", "ACGT", "ACGT", 12.0)),
    ("acgt", "acgt", "acgt", IDENTITY, {}, ok("ACGT", "ACGT", "ACGT", 12.0)),
    # Three equal placements of seq2's gap run: lowest predecessor and end state win.
    ("AAAA", "AA", "AAAA", A_A_10, {}, ok("AAAA", "--AA", "AAAA", 74.0)),
    ("AAAA", "AA", "AAAA", A_A_10, {"enable_gap_close_penalty": False},
     ok("AAAA", "--AA", "AAAA", 74.0)),
    ("AAAA", "AA", "AAAA", A_A_10, {"seq2_right_free": True}, ok("AAAA", "AA--", "AAAA", 80.0)),
    ("AAAA", "AA", "AAAA", A_A_10, {"seq2_left_free": True}, ok("AAAA", "--AA", "AAAA", 80.0)),
    # The lower-numbered string's character is the first key.
    ("A", "C", "", ASYMMETRIC, {}, ok("A", "C", "-", -2.0)),
    ("C", "A", "", ASYMMETRIC, {}, ok("C", "A", "-", -12.0)),
    ("-", "-", "-", DASH, {}, ok("-", "-", "-", 6.0)),
    ("xé", "xé", "xé", ALL_ASCII, {}, ok("Xé", "Xé", "Xé", 21.0)),
    ("A", "A", "", {}, {"gap_open": -INF, "gap_extend": -INF}, UNSET_3D),
    # Only the row that a gap splits inside "é" comes back empty.
    ("é", "A", "", {}, {"gap_open": 5.0}, ok("", "-A-", "---", 18.0)),
]


@pytest.mark.parametrize("seq1, seq2, seq3, matrix, options, expected", THREE_WAY_CASES)
def test_three_way_case(seq1, seq2, seq3, matrix, options, expected):
    kwargs = dict(options, score_matrix=matrix)
    for got in (module_outcome(vrn.needleman_wunsch_3d, seq1, seq2, seq3, **kwargs),
                reference_outcome(three_way, seq1, seq2, seq3, **kwargs)):
        assert got == expected
        if got[0] == "ok":
            assert_same_result(got[1], expected[1])


def test_batch_cases():
    assert vrn.needleman_wunsch_batch([], score_matrix=IDENTITY) == []
    pairs = [("AA", "A"), ("acgt", "ACGT"), ("AA", "A")]
    assert vrn.needleman_wunsch_batch(pairs, score_matrix=A_A | IDENTITY) == [
        ("AA", "-A", -4.0), ("ACGT", "ACGT", 4.0), ("AA", "-A", -4.0)]
