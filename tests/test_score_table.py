"""Building the pair-score table from a score_matrix dict of dicts."""

import math

import pytest

import vorn_rust_native as vrn

KEYS = (ValueError, "score_matrix keys must be single characters")


def raised(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except BaseException as e:  # noqa: BLE001
        return e
    raise AssertionError("no exception raised")


def host(fn, *args):
    e = raised(fn, *args)
    return type(e), str(e)


class AsFloat:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


class SubTypeError(TypeError):
    pass


class CausedTypeError:
    """A value whose conversion fails with a TypeError that has a cause."""

    def __float__(self):
        raise TypeError("x") from KeyError("k")


# Every alignment function builds the same table; each row is tried through all three.
CALLERS = {
    "nw": lambda sm: vrn.needleman_wunsch("A", "A", score_matrix=sm),
    "batch": lambda sm: vrn.needleman_wunsch_batch([("A", "A")], score_matrix=sm),
    "empty-batch": lambda sm: vrn.needleman_wunsch_batch([], score_matrix=sm),
    "3d": lambda sm: vrn.needleman_wunsch_3d("A", "A", "A", score_matrix=sm),
}

BAD = [
    ({1: {}}, TypeError, "'int' object cannot be converted to 'PyString'", "outer-key-int"),
    ({b"A": {}}, TypeError, "'bytes' object cannot be converted to 'PyString'", "outer-key-bytes"),
    ({None: {}}, TypeError, "'NoneType' object cannot be converted to 'PyString'", "outer-key-none"),
    ({"AC": {}}, *KEYS, "outer-key-two-chars"),
    ({"": {}}, *KEYS, "outer-key-empty"),
    ({"é": {}}, *KEYS, "outer-key-two-bytes"),
    ({"\u20ac": {}}, *KEYS, "outer-key-three-bytes"),
    ({"\U0001F600": {}}, *KEYS, "outer-key-four-bytes"),
    ({"\ud800": {}}, *host(str.encode, "\ud800"), "outer-key-surrogate"),
    ({"A": []}, TypeError, "'list' object cannot be converted to 'PyDict'", "outer-value-list"),
    ({"A": None}, TypeError, "'NoneType' object cannot be converted to 'PyDict'", "outer-value-none"),
    ({"A": 1.0}, TypeError, "'float' object cannot be converted to 'PyDict'", "outer-value-float"),
    ({"A": {2: 1.0}}, TypeError, "'int' object cannot be converted to 'PyString'", "inner-key-int"),
    ({"A": {"CG": 1.0}}, *KEYS, "inner-key-two-chars"),
    ({"A": {"": 1.0}}, *KEYS, "inner-key-empty"),
    ({"A": {"é": 1.0}}, *KEYS, "inner-key-two-bytes"),
    ({"A": {"C": "1.0"}}, *host(math.fabs, "1.0"), "inner-value-str"),
    ({"A": {"C": None}}, *host(math.fabs, None), "inner-value-none"),
    ({"A": {"C": [1.0]}}, *host(math.fabs, [1.0]), "inner-value-list"),
    ({"A": {"C": 10 ** 400}}, *host(math.fabs, 10 ** 400), "inner-value-huge-int"),
    ({"A": {"C": AsFloat(1)}}, *host(math.fabs, AsFloat(1)), "inner-value-non-float"),
    ({"A": {"C": CausedTypeError()}}, TypeError, "x", "inner-type-error-unprefixed"),
    # The first failure in iteration order wins.
    ({"A": {"C": "x"}, 1: {}}, *host(math.fabs, "x"), "first-item-value"),
    ({1: {}, "A": {"C": "x"}}, TypeError, "'int' object cannot be converted to 'PyString'", "first-item-key"),
    ({"AC": []}, *KEYS, "outer-key-before-outer-value"),
    ({"A": {"C": 1.0}, "G": [], "TT": {}}, TypeError, "'list' object cannot be converted to 'PyDict'", "second-item"),
    ({"A": {"CC": "x"}}, *KEYS, "inner-key-before-inner-value"),
    ({"A": {"C": "x", 1: 2.0}}, *host(math.fabs, "x"), "inner-value-before-next-key"),
    ({"A": {1: 2.0, "C": "x"}}, TypeError, "'int' object cannot be converted to 'PyString'", "inner-key-before-next-value"),
    ({"A": {"C": 1.0}, "G": {"T": 1.0, "": 2.0}}, *KEYS, "later-inner-key"),
]


@pytest.mark.parametrize("caller", CALLERS.values(), ids=CALLERS.keys())
@pytest.mark.parametrize("matrix, exc_type, message", [pytest.param(*r[:3], id=r[3]) for r in BAD])
def test_bad_score_matrix(caller, matrix, exc_type, message):
    e = raised(caller, matrix)
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


def test_error_from_a_value_is_raised_unchanged():
    exc = SubTypeError("sub")

    class V:
        def __float__(self):
            raise exc

    assert raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": V()}}) is exc
    e = raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": CausedTypeError()}})
    assert type(e.__cause__) is KeyError


def score(seq1, seq2, matrix):
    try:
        return vrn.needleman_wunsch(seq1, seq2, score_matrix=matrix)
    except NotImplementedError:
        pytest.skip("pairwise engine not available yet")


class Strict(dict):
    """A dict whose Python-level reading methods must never be used."""

    def _refuse(self, *a, **k):
        raise AssertionError("dict method called")

    items = keys = values = get = __iter__ = __getitem__ = __len__ = __contains__ = _refuse


SCORES = [
    ({}, "A", "C", ("A", "C", 0.0), "empty-matrix"),
    ({"a": {"c": 2.0}}, "A", "C", ("A", "C", 2.0), "lower-case-keys"),
    ({"a": {"c": 2.0}}, "C", "A", ("C", "A", 0.0), "not-symmetric"),
    ({"A": {"C": 2.0}}, "a", "c", ("A", "C", 2.0), "lower-case-sequences"),
    ({"A": {"C": 1.0}, "a": {"C": 3.0}}, "A", "C", ("A", "C", 3.0), "later-outer-item-wins"),
    ({"a": {"C": 3.0}, "A": {"C": 1.0}}, "A", "C", ("A", "C", 1.0), "later-outer-item-wins-2"),
    ({"A": {"C": 1.0, "c": 3.0}}, "A", "C", ("A", "C", 3.0), "later-inner-item-wins"),
    ({"A": {"c": 3.0, "C": 1.0}}, "A", "C", ("A", "C", 1.0), "later-inner-item-wins-2"),
    ({"A": {"C": 1.0}, "a": {}}, "A", "C", ("A", "C", 1.0), "empty-row-overwrites-nothing"),
    ({"A": {"C": 2}}, "A", "C", ("A", "C", 2.0), "int-value"),
    ({"A": {"C": True}}, "A", "C", ("A", "C", 1.0), "bool-value"),
    ({"A": {"C": AsFloat(1.5)}}, "A", "C", ("A", "C", 1.5), "float-protocol-value"),
    ({"A": {"C": -1.0}}, "AC", "CC", ("AC", "CC", -1.0), "minus-one-value"),
    (Strict({"A": Strict({"C": 2.5})}), "A", "C", ("A", "C", 2.5), "dict-subclass-methods-bypassed"),
]


@pytest.mark.parametrize("matrix, seq1, seq2, expected", [pytest.param(*r[:4], id=r[4]) for r in SCORES])
def test_table_contents(matrix, seq1, seq2, expected):
    got = score(seq1, seq2, matrix)
    assert got == expected
    assert type(got[2]) is float


def test_table_is_rebuilt_for_every_call():
    matrix = {"A": {"C": 2.0}}
    assert score("A", "C", matrix)[2] == 2.0
    matrix["A"]["C"] = 4.0
    assert score("A", "C", matrix)[2] == 4.0


# --------------------------------------------------------------------------- mutation guard

def internal_error(matrix):
    """Run a call that must stop with the module's internal error and return it."""
    try:
        vrn.needleman_wunsch("A", "C", score_matrix=matrix)
    except Exception as e:  # an ordinary exception is the wrong outcome
        raise AssertionError(f"ordinary exception {e!r}") from e
    except BaseException as e:  # noqa: BLE001
        assert type(e).__bases__ == (BaseException,)
        return str(e)
    raise AssertionError("no exception raised")


class Hook:
    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 1.0


SIZE = "dictionary changed size during iteration"
KEYS_CHANGED = "dictionary keys changed during iteration"


def _inner_delete():
    inner = {}
    inner["C"] = Hook(lambda: inner.pop("G"))
    inner["G"] = 1.0
    return {"A": inner}


def _inner_delete_self():
    inner = {}
    inner["C"] = Hook(lambda: inner.pop("C"))  # the dict holds the only other reference
    return {"A": inner}


def _inner_add():
    inner = {}
    inner["C"] = Hook(lambda: inner.__setitem__("T", 1.0))
    return {"A": inner}


def _inner_replace():
    inner = {}
    inner["C"] = Hook(lambda: (inner.pop("C"), inner.__setitem__("T", 1.0)))
    inner["G"] = 1.0
    return {"A": inner}


def _outer_delete():
    outer = {"A": {"C": Hook(lambda: outer.pop("G"))}, "G": {}}
    return outer


def _outer_add():
    outer = {"A": {"C": Hook(lambda: outer.__setitem__("T", {}))}}
    return outer


def _outer_replace():
    keep = []

    def swap():
        keep.append(outer.pop("A"))
        outer["T"] = {}

    outer = {"A": {"C": Hook(swap)}, "G": {}}
    return outer


def _outer_drops_inner():
    # Removing the row being read also drops the last reference to it.
    outer = {"A": {"C": Hook(lambda: outer.pop("A")), "G": 2.0}}
    return outer


MUTATIONS = [
    (_inner_delete, SIZE, "inner-delete"),
    (_inner_delete_self, SIZE, "inner-delete-current"),
    (_inner_add, SIZE, "inner-add"),
    (_inner_replace, KEYS_CHANGED, "inner-replace"),
    (_outer_delete, SIZE, "outer-delete"),
    (_outer_add, SIZE, "outer-add"),
    (_outer_replace, KEYS_CHANGED, "outer-replace"),
    (_outer_drops_inner, SIZE, "outer-drops-inner"),
]


@pytest.mark.parametrize("make, message", [pytest.param(*r[:2], id=r[2]) for r in MUTATIONS])
def test_mutation_during_build(make, message):
    assert internal_error(make()) == message
    # Nothing is left behind: a following call works normally.
    assert score("A", "C", {"A": {"C": 2.0}}) == ("A", "C", 2.0)


def test_mutation_hidden_by_an_earlier_error_is_not_reached():
    inner = {}
    inner["C"] = Hook(lambda: inner.pop("G"))
    inner["G"] = 1.0
    e = raised(vrn.needleman_wunsch, "A", "C", score_matrix={"AC": {}, "A": inner})
    assert (type(e), str(e)) == KEYS
    assert "G" in inner
