"""Conversion of needleman_wunsch_batch's seq_pairs argument."""

import collections
import math

import pytest

import vorn_rust_native as vrn

batch = vrn.needleman_wunsch_batch
SM = {"A": {"A": 1.0, "C": -1.0}, "C": {"C": 1.0}}
BAD_TABLE = {"AC": {}}
TABLE_ERROR = (ValueError, "score_matrix keys must be single characters")
PAIRS = [("AACA", "CA"), ("C", "CC"), ("", "A")]

Pair = collections.namedtuple("Pair", "seq1 seq2")


class TuplePair(tuple):
    pass


class Str(str):
    pass


class Seq:
    """A minimal sequence: indexable, with a configurable length report."""

    def __init__(self, items, length=None, fail_at=None):
        self.items, self.length, self.fail_at = items, length, fail_at

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        if self.fail_at is not None and i == self.fail_at[0]:
            raise self.fail_at[1]
        return self.items[i]


class NoIter(Seq):
    def __init__(self, exc):
        super().__init__([])
        self.exc = exc

    def __iter__(self):
        raise self.exc


def raised(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except BaseException as e:  # noqa: BLE001
        return e
    raise AssertionError("no exception raised")


def gen():
    yield ("A", "A")


P = "argument 'seq_pairs': "
NOT_SEQ = P + "'{}' object cannot be converted to 'Sequence'"
NOT_TUPLE = P + "'{}' object cannot be converted to 'PyTuple'"
NOT_STR = P + "'{}' object cannot be converted to 'PyString'"
LENGTH = "expected tuple of length 2, but got tuple of length {}"

BAD = [
    ("AC", TypeError, P + "Can't extract `str` to `Vec`", "str"),
    ("", TypeError, P + "Can't extract `str` to `Vec`", "empty-str"),
    (Str("AC"), TypeError, P + "Can't extract `str` to `Vec`", "str-subclass"),
    ({("A", "A"): 1}, TypeError, NOT_SEQ.format("dict"), "dict"),
    (collections.OrderedDict(), TypeError, NOT_SEQ.format("OrderedDict"), "dict-subclass"),
    ({("A", "A")}, TypeError, NOT_SEQ.format("set"), "set"),
    (frozenset(), TypeError, NOT_SEQ.format("frozenset"), "frozenset"),
    (gen(), TypeError, NOT_SEQ.format("generator"), "generator"),
    (iter([("A", "A")]), TypeError, NOT_SEQ.format("list_iterator"), "iterator"),
    (5, TypeError, NOT_SEQ.format("int"), "int"),
    (None, TypeError, NOT_SEQ.format("NoneType"), "none"),
    ([["A", "A"]], TypeError, NOT_TUPLE.format("list"), "item-list"),
    ([("A", "A"), "AA"], TypeError, NOT_TUPLE.format("str"), "second-item-str"),
    (b"AA", TypeError, NOT_TUPLE.format("int"), "bytes-items-are-ints"),
    (range(2), TypeError, NOT_TUPLE.format("int"), "range"),
    ([("A", "A", "A")], ValueError, LENGTH.format(3), "three-tuple"),
    ([()], ValueError, LENGTH.format(0), "empty-tuple"),
    ([("A",)], ValueError, LENGTH.format(1), "one-tuple"),
    ([("A", 1)], TypeError, NOT_STR.format("int"), "second-element-int"),
    ([(1, "A")], TypeError, NOT_STR.format("int"), "first-element-int"),
    ([(b"A", 1)], TypeError, NOT_STR.format("bytes"), "first-element-first"),
    ([("A", None)], TypeError, NOT_STR.format("NoneType"), "element-none"),
    ([("A", "A"), ("A", "A", "A"), ["A"]], ValueError, LENGTH.format(3), "first-bad-item-wins"),
    ([("A", "A"), ["A"], ("A", "A", "A")], TypeError, NOT_TUPLE.format("list"), "first-bad-item-wins-2"),
    (Seq([("A", "A"), 7]), TypeError, NOT_TUPLE.format("int"), "custom-sequence-item"),
    (Seq([], fail_at=(0, TypeError("no item"))), TypeError, P + "no item", "iteration-type-error"),
    (Seq([("A", "A")] * 3, fail_at=(1, ValueError("no item"))), ValueError, "no item", "iteration-value-error"),
    (Seq([], fail_at=(0, KeyError("k"))), KeyError, "'k'", "iteration-key-error"),
    (NoIter(TypeError("no iter")), TypeError, P + "no iter", "get-iter-type-error"),
    (NoIter(RuntimeError("no iter")), RuntimeError, "no iter", "get-iter-runtime-error"),
]


@pytest.mark.parametrize("seq_pairs, exc_type, message", [pytest.param(*r[:3], id=r[3]) for r in BAD])
def test_refused_seq_pairs(seq_pairs, exc_type, message):
    e = raised(batch, seq_pairs, score_matrix={})
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


def test_surrogate_in_a_pair_is_the_hosts_error_unprefixed():
    expected = raised(str.encode, "A\udc80")
    e = raised(batch, [("A", "A"), ("A", "A\udc80")], score_matrix={})
    assert type(e) is type(expected)
    assert str(e) == str(expected)


def test_iteration_errors_keep_identity_and_cause():
    exc = ValueError("stop")
    assert raised(batch, Seq([("A", "A")], fail_at=(1, exc)), score_matrix={}) is exc
    cause = KeyError("k")

    class Caused(Seq):
        def __getitem__(self, i):
            raise TypeError("x") from cause

    e = raised(batch, Caused([]), score_matrix={})
    assert (type(e), str(e)) == (TypeError, P + "x")
    assert e.__cause__ is cause


ORDER = [
    ("AC", {"score_matrix": []}, TypeError, P + "Can't extract `str` to `Vec`", "pairs-before-matrix-type"),
    ([("A", 1)], {"score_matrix": BAD_TABLE}, TypeError, NOT_STR.format("int"), "pairs-before-table"),
    ([("A", "A"), ("A", "A", "A")], {"score_matrix": {}, "gap_open": "x"}, ValueError, LENGTH.format(3),
     "whole-sequence-before-options"),
    ({}, {"score_matrix": {}, "seq1_left_free": 1, "score_scaler_fn": len}, TypeError, NOT_SEQ.format("dict"),
     "pairs-before-flags"),
    ([], {}, TypeError, "needleman_wunsch_batch() missing 1 required keyword argument: 'score_matrix'",
     "missing-before-conversion"),
    ([], {"score_matrix": BAD_TABLE}, *TABLE_ERROR, "empty-list-table"),
    ((), {"score_matrix": BAD_TABLE}, *TABLE_ERROR, "empty-tuple-table"),
    ([], {"score_matrix": ["A"]}, TypeError, "argument 'score_matrix': 'list' object cannot be converted to 'PyDict'",
     "empty-matrix-type"),
    ([("A", "A")], {"score_matrix": {"A": {"C": "x"}}}, *(lambda e: (type(e), str(e)))(raised(math.fabs, "x")),
     "table-error-unprefixed"),
]


@pytest.mark.parametrize("seq_pairs, kwargs, exc_type, message", [pytest.param(*r[:4], id=r[4]) for r in ORDER])
def test_error_order(seq_pairs, kwargs, exc_type, message):
    e = raised(batch, seq_pairs, **kwargs)
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


ACCEPTED = [
    (PAIRS, "list"),
    (tuple(PAIRS), "tuple"),
    ([Pair(*p) for p in PAIRS], "named-tuples"),
    ([TuplePair(p) for p in PAIRS], "tuple-subclass"),
    ([(Str(a), Str(b)) for a, b in PAIRS], "str-subclasses"),
    (collections.deque(PAIRS), "deque"),
    (Seq(PAIRS), "custom-sequence"),
    (Seq(PAIRS, length=RuntimeError("no len")), "len-raises"),
    (Seq(PAIRS, length=TypeError("no len")), "len-raises-type-error"),
    (Seq(PAIRS, length=0), "len-under-reports"),
    (Seq(PAIRS, length=1000), "len-over-reports"),
]


@pytest.mark.parametrize("seq_pairs", [pytest.param(r[0], id=r[1]) for r in ACCEPTED])
def test_accepted_seq_pairs(seq_pairs):
    # Conversion succeeds: the first error is the table's.
    e = raised(batch, seq_pairs, score_matrix=BAD_TABLE)
    assert (type(e), str(e)) == TABLE_ERROR
    try:
        got = batch(seq_pairs, score_matrix=SM, gap_open=-3.0)
    except NotImplementedError:
        pytest.skip("batch alignment not available yet")
    assert got == [vrn.needleman_wunsch(a, b, score_matrix=SM, gap_open=-3.0) for a, b in PAIRS]


@pytest.mark.parametrize("seq_pairs", [[], (), Seq([]), Seq([], length=RuntimeError("x"))],
                         ids=["list", "tuple", "custom", "custom-len-raises"])
def test_empty_batch_gives_empty_list(seq_pairs):
    try:
        got = batch(seq_pairs, score_matrix={})
    except NotImplementedError:
        pytest.skip("batch alignment not available yet")
    assert type(got) is list
    assert got == []
