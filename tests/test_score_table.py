"""Building the pair-score table from a score_matrix dict of dicts."""

import math

import pytest

import vorn_rust_native as vrn
from reference import raised

KEYS = (ValueError, "score_matrix keys must be single characters")
SIZE = "dictionary changed size during iteration"
KEYS_CHANGED = "dictionary keys changed during iteration"


def host(fn, arg):
    e = raised(fn, arg)
    return type(e), str(e)


class Hook:
    """A score whose conversion runs an action first (None: a non-float result)."""

    def __init__(self, action=None):
        self.action = action

    def __float__(self):
        if self.action is None:
            return 1
        self.action()
        return 1.0


def caused():
    raise TypeError("x") from KeyError("k")


NOT_STR, NOT_DICT = "'{}' object cannot be converted to 'PyString'", "'{}' object cannot be converted to 'PyDict'"
BAD = [
    ({1: {}}, TypeError, NOT_STR.format("int"), "outer-key-int"),
    ({"AC": {}}, *KEYS, "outer-key-two-chars"),
    ({"": {}}, *KEYS, "outer-key-empty"),
    ({"é": {}}, *KEYS, "outer-key-two-bytes"),
    ({"\U0001F600": {}}, *KEYS, "outer-key-four-bytes"),
    ({"\ud800": {}}, *host(str.encode, "\ud800"), "outer-key-surrogate"),
    ({"A": []}, TypeError, NOT_DICT.format("list"), "outer-value-list"),
    ({"A": {2: 1.0}}, TypeError, NOT_STR.format("int"), "inner-key-int"),
    ({"A": {"CG": 1.0}}, *KEYS, "inner-key-two-chars"),
    ({"A": {"C": "1.0"}}, *host(math.fabs, "1.0"), "inner-value-str"),
    ({"A": {"C": 10 ** 400}}, *host(math.fabs, 10 ** 400), "inner-value-huge-int"),
    ({"A": {"C": Hook()}}, *host(math.fabs, Hook()), "inner-value-non-float"),
    ({"A": {"C": Hook(caused)}}, TypeError, "x", "inner-type-error-unprefixed"),
    # The first failure in iteration order wins: outer key, outer value, inner key, inner value.
    ({"A": {"C": "x"}, 1: {}}, *host(math.fabs, "x"), "first-item"),
    ({"AC": []}, *KEYS, "outer-key-before-value"),
    ({"A": {"C": 1.0}, "G": [], "TT": {}}, TypeError, NOT_DICT.format("list"), "second-item"),
    ({"A": {"CC": "x"}}, *KEYS, "inner-key-before-value"),
    ({"A": {"C": "x", 1: 2.0}}, *host(math.fabs, "x"), "inner-value-before-next-key"),
    ({"A": {"C": 1.0}, "G": {"T": 1.0, "": 2.0}}, *KEYS, "later-inner-key"),
]
CALLERS = {
    "nw": lambda sm: vrn.needleman_wunsch("A", "A", score_matrix=sm),
    "batch": lambda sm: vrn.needleman_wunsch_batch([("A", "A")], score_matrix=sm),
    "empty-batch": lambda sm: vrn.needleman_wunsch_batch([], score_matrix=sm),
    "3d": lambda sm: vrn.needleman_wunsch_3d("A", "A", "A", score_matrix=sm),
}


@pytest.mark.parametrize("caller", CALLERS.values(), ids=CALLERS.keys())
@pytest.mark.parametrize("matrix, exc_type, message", [pytest.param(*r[:3], id=r[3]) for r in BAD])
def test_bad_score_matrix(caller, matrix, exc_type, message):
    e = raised(caller, matrix)
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


def test_value_errors_are_raised_unchanged():
    exc = type("SubTypeError", (TypeError,), {})("sub")
    assert raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": Hook(lambda: throw(exc))}}) is exc
    e = raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": Hook(caused)}})
    assert type(e.__cause__) is KeyError


def throw(exc):
    raise exc


def align(seq1, seq2, matrix):
    return vrn.needleman_wunsch(seq1, seq2, score_matrix=matrix)


class Strict(dict):
    """A dict whose Python-level reading methods must never be used."""

    def _refuse(self, *a, **k):
        raise AssertionError("dict method called")

    items = keys = values = get = __iter__ = __getitem__ = __len__ = __contains__ = _refuse


SCORES = [
    ({}, "A", "C", ("A", "C", 0.0), "empty-matrix"),
    ({"a": {"c": 2.0}}, "A", "C", ("A", "C", 2.0), "keys-upper-cased"),
    ({"a": {"c": 2.0}}, "C", "A", ("C", "A", 0.0), "not-symmetric"),
    ({"A": {"C": 1.0}, "a": {"C": 3.0}}, "A", "C", ("A", "C", 3.0), "later-row-wins"),
    ({"a": {"C": 3.0}, "A": {"C": 1.0}}, "A", "C", ("A", "C", 1.0), "later-row-wins-2"),
    ({"A": {"C": 1.0, "c": 3.0}}, "A", "C", ("A", "C", 3.0), "later-column-wins"),
    ({"A": {"C": 1.0}, "a": {}}, "A", "C", ("A", "C", 1.0), "empty-row-keeps-earlier"),
    ({"A": {"C": 2}}, "A", "C", ("A", "C", 2.0), "int-value"),
    ({"A": {"C": True}}, "A", "C", ("A", "C", 1.0), "bool-value"),
    ({"A": {"C": -1.0}}, "AC", "CC", ("AC", "CC", -1.0), "minus-one-value"),
    ({"{": {"`": 5.0}}, "[", "@", ("[", "@", 0.0), "only-letters-upper-cased"),
    ({"{": {"`": 5.0}}, "{", "`", ("{", "`", 5.0), "only-letters-upper-cased-2"),
    (Strict({"A": Strict({"C": 2.5})}), "A", "C", ("A", "C", 2.5), "subclass-methods-bypassed"),
]


@pytest.mark.parametrize("matrix, seq1, seq2, expected", [pytest.param(*r[:4], id=r[4]) for r in SCORES])
def test_table_contents(matrix, seq1, seq2, expected):
    got = align(seq1, seq2, matrix)
    assert got == expected and type(got[2]) is float


# --------------------------------------------------------------------------- mutation guard

def with_hook(action):
    """Rows A and G; row A's first value runs action(outer, row) when converted."""
    row = {}
    outer = {"A": row, "G": {}}
    row["C"], row["G"] = Hook(lambda: action(outer, row)), 1.0
    return outer


def drops_row():  # removing the row being read also drops the last reference to it
    outer = {"A": {"C": Hook(lambda: outer.pop("A")), "G": 2.0}}
    return outer


MUTATIONS = [
    (lambda: with_hook(lambda o, r: r.pop("G")), SIZE, "inner-delete"),
    (lambda: with_hook(lambda o, r: r.pop("C")), SIZE, "inner-delete-current"),
    (lambda: with_hook(lambda o, r: r.update(T=1.0)), SIZE, "inner-add"),
    (lambda: with_hook(lambda o, r: (r.pop("C"), r.update(T=1.0))), KEYS_CHANGED, "inner-replace"),
    (lambda: with_hook(lambda o, r: o.pop("G")), SIZE, "outer-delete"),
    (lambda: with_hook(lambda o, r: o.update(T={})), SIZE, "outer-add"),
    (lambda: with_hook(lambda o, r: (o.pop("A"), o.update(T={}))), KEYS_CHANGED, "outer-replace"),
    (drops_row, SIZE, "outer-drops-row"),
]


@pytest.mark.parametrize("make, message", [pytest.param(*m[:2], id=m[2]) for m in MUTATIONS])
def test_mutation_during_build(make, message):
    e = raised(vrn.needleman_wunsch, "A", "C", score_matrix=make())
    assert type(e).__bases__ == (BaseException,), repr(e)
    assert str(e) == message
    assert align("A", "C", {"A": {"C": 2.0}}) == ("A", "C", 2.0)  # nothing left behind


def test_build_stops_before_a_later_mutating_value():
    outer = with_hook(lambda o, r: r.pop("G"))
    e = raised(vrn.needleman_wunsch, "A", "C", score_matrix={"AC": {}, **outer})
    assert (type(e), str(e)) == KEYS
    assert "G" in outer["A"]
