"""Conversion of needleman_wunsch_batch's seq_pairs argument."""

import collections
import math

import pytest

import vorn_rust_native as vrn
from reference import raised

batch = vrn.needleman_wunsch_batch
SM = {"A": {"A": 1.0, "C": -1.0}, "C": {"C": 1.0}}
BAD_TABLE = {"AC": {}}
TABLE_ERROR = (ValueError, "score_matrix keys must be single characters")
PAIRS = [("AACA", "CA"), ("C", "CC"), ("", "A")]
Pair = collections.namedtuple("Pair", "seq1 seq2")


class Str(str):
    pass


class Seq:
    """A minimal sequence: indexable, with a configurable length report and failing index."""

    def __init__(self, items, length=None, fail=(None, None)):
        self.items, self.length, self.fail = items, length, fail

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        if i == self.fail[0]:
            raise self.fail[1]
        return self.items[i]


def no_iter(exc):
    class NoIter(Seq):
        def __iter__(self):
            raise exc

    return NoIter([])


def gen():
    yield ("A", "A")


P = "argument 'seq_pairs': "
NOT_SEQ = P + "'{}' object cannot be converted to 'Sequence'"
NOT_TUPLE = P + "'{}' object cannot be converted to 'PyTuple'"
NOT_STR = P + "'{}' object cannot be converted to 'PyString'"
LENGTH = "expected tuple of length 2, but got tuple of length {}"
NO_VEC = P + "Can't extract `str` to `Vec`"

BAD = [
    ("AC", TypeError, NO_VEC, "str"),
    (Str(""), TypeError, NO_VEC, "str-subclass"),
    ({("A", "A"): 1}, TypeError, NOT_SEQ.format("dict"), "dict"),
    (collections.OrderedDict(), TypeError, NOT_SEQ.format("OrderedDict"), "dict-subclass"),
    ({("A", "A")}, TypeError, NOT_SEQ.format("set"), "set"),
    (gen(), TypeError, NOT_SEQ.format("generator"), "generator"),
    (5, TypeError, NOT_SEQ.format("int"), "int"),
    ([["A", "A"]], TypeError, NOT_TUPLE.format("list"), "item-list"),
    ([("A", "A"), "AA"], TypeError, NOT_TUPLE.format("str"), "second-item-str"),
    (b"AA", TypeError, NOT_TUPLE.format("int"), "bytes-items-are-ints"),
    ([("A", "A", "A")], ValueError, LENGTH.format(3), "three-tuple"),
    ([("A", 1)], TypeError, NOT_STR.format("int"), "second-element-int"),
    ([(b"A", 1)], TypeError, NOT_STR.format("bytes"), "first-element-first"),
    ([("A", "A"), ("A", "A", "A"), ["A"]], ValueError, LENGTH.format(3), "first-bad-item-wins"),
    ([("A", "A"), ["A"], ("A", "A", "A")], TypeError, NOT_TUPLE.format("list"), "first-bad-item-wins-2"),
    (Seq([], fail=(0, TypeError("no item"))), TypeError, P + "no item", "iteration-type-error"),
    (Seq([("A", "A")] * 3, fail=(1, ValueError("no item"))), ValueError, "no item", "iteration-value-error"),
    (Seq([], fail=(0, KeyError("k"))), KeyError, "'k'", "iteration-key-error"),
    (no_iter(TypeError("no iter")), TypeError, P + "no iter", "get-iter-type-error"),
    (no_iter(RuntimeError("no iter")), RuntimeError, "no iter", "get-iter-runtime-error"),
    # Errors in seq_pairs come first, and the whole sequence is converted before anything else.
    ("AC", TypeError, NO_VEC, "pairs-before-matrix-type", {"score_matrix": []}),
    ([("A", 1)], TypeError, NOT_STR.format("int"), "pairs-before-table", {"score_matrix": BAD_TABLE}),
    ([("A", "A"), ("A", "A", "A")], ValueError, LENGTH.format(3), "all-pairs-before-options", {"gap_open": "x"}),
    ({}, TypeError, NOT_SEQ.format("dict"), "pairs-before-flags", {"seq1_left_free": 1, "score_scaler_fn": len}),
    ([], *TABLE_ERROR, "empty-list-table", {"score_matrix": BAD_TABLE}),
    ([("A", "A")], *(lambda e: (type(e), str(e)))(raised(math.fabs, "x")), "table-error-unprefixed",
     {"score_matrix": {"A": {"C": "x"}}}),
]


@pytest.mark.parametrize("seq_pairs, exc_type, message, kwargs",
                         [pytest.param(*r[:3], {"score_matrix": {}, **(r[4] if len(r) > 4 else {})}, id=r[3]) for r in BAD])
def test_refused_seq_pairs(seq_pairs, exc_type, message, kwargs):
    e = raised(batch, seq_pairs, **kwargs)
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


def test_iteration_errors_keep_identity_and_cause():
    exc = ValueError("stop")
    assert raised(batch, Seq([("A", "A")], fail=(1, exc)), score_matrix={}) is exc
    cause = KeyError("k")

    class Caused(Seq):
        def __iter__(self):
            raise TypeError("x") from cause

    e = raised(batch, Caused([]), score_matrix={})
    assert (type(e), str(e), e.__cause__) == (TypeError, P + "x", cause)
    expected = raised(str.encode, "A\udc80")
    e = raised(batch, [("A", "A"), ("A", "A\udc80")], score_matrix={})
    assert (type(e), str(e)) == (type(expected), str(expected))


ACCEPTED = [
    (PAIRS, "list"),
    (tuple(PAIRS), "tuple"),
    ([Pair(*p) for p in PAIRS], "named-tuples"),
    ([(Str(a), Str(b)) for a, b in PAIRS], "str-subclasses"),
    (collections.deque(PAIRS), "deque"),
    (Seq(PAIRS), "custom-sequence"),
    (Seq(PAIRS, length=RuntimeError("no len")), "len-raises"),
    (Seq(PAIRS, length=TypeError("no len")), "len-raises-type-error"),
    (Seq(PAIRS, length=0), "len-under-reports"),
]


@pytest.mark.parametrize("seq_pairs", [pytest.param(r[0], id=r[1]) for r in ACCEPTED])
def test_accepted_seq_pairs(seq_pairs):
    e = raised(batch, seq_pairs, score_matrix=BAD_TABLE)  # converted: the table is the first thing to fail
    assert (type(e), str(e)) == TABLE_ERROR
    got = batch(seq_pairs, score_matrix=SM, gap_open=-3.0)
    assert got == [vrn.needleman_wunsch(a, b, score_matrix=SM, gap_open=-3.0) for a, b in PAIRS]


@pytest.mark.parametrize("seq_pairs", [[], (), Seq([], length=RuntimeError("x"))], ids=["list", "tuple", "custom"])
def test_empty_batch_gives_empty_list(seq_pairs):
    got = batch(seq_pairs, score_matrix={})
    assert type(got) is list and got == []
