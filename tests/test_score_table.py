"""Building the pair-score table from a score_matrix dict of dicts: bad keys and values, what
the table holds, and score conversions (__float__, __index__) that raise or change the
matrix while it is read."""

import math

import pytest

import vorn_rust_native as vrn
from reference import internal_error_class, raised

KEYS = (ValueError, "score_matrix keys must be single characters")
CHANGED_SIZE, CHANGED_KEYS = "dictionary changed size during iteration", "dictionary keys changed during iteration"
InternalError = internal_error_class()


def check(e, exc_type, message):
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


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
    check(raised(caller, matrix), exc_type, message)


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


# --------------------------------------------------------------------------- score conversions
# A score's __float__ or __index__ runs Python code in the middle of the build. An exception
# it raises propagates unchanged. A change it makes to a dict being read stops the build with
# the internal error and the message of CPython's own dict iteration, before the changed
# items are read; a dict only replaced or left alone is read to its end.

def test_value_errors_are_raised_unchanged():
    exc = type("SubTypeError", (TypeError,), {})("sub")
    assert raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": Hook(lambda: throw(exc))}}) is exc
    e = raised(vrn.needleman_wunsch, "A", "A", score_matrix={"A": {"C": Hook(caused)}})
    assert type(e.__cause__) is KeyError


def throw(exc):
    raise exc


# Each caller aligns "A" against "G" (and "C" for the three-way call) with a matrix.
A_G_CALLERS = {
    "nw": lambda m: vrn.needleman_wunsch("A", "G", score_matrix=m),
    "batch": lambda m: vrn.needleman_wunsch_batch([("A", "G")], score_matrix=m)[0],
    "3d": lambda m: vrn.needleman_wunsch_3d("A", "G", "C", score_matrix=m),
}


@pytest.mark.parametrize("caller", A_G_CALLERS)
@pytest.mark.parametrize("hook", ["__float__", "__index__"])
@pytest.mark.parametrize("exc", [TypeError("no"), KeyError("k"), KeyboardInterrupt()])
def test_score_conversion_raising_propagates_unchanged(caller, hook, exc):
    def fail(_):
        raise exc
    assert raised(A_G_CALLERS[caller], {"A": {"G": type("V", (), {hook: fail})()}}) is exc


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
    (lambda: with_hook(lambda o, r: r.pop("G")), CHANGED_SIZE, "inner-delete"),
    (lambda: with_hook(lambda o, r: r.pop("C")), CHANGED_SIZE, "inner-delete-current"),
    (lambda: with_hook(lambda o, r: r.update(T=1.0)), CHANGED_SIZE, "inner-add"),
    (lambda: with_hook(lambda o, r: (r.pop("C"), r.update(T=1.0))), CHANGED_KEYS, "inner-replace"),
    (lambda: with_hook(lambda o, r: o.pop("G")), CHANGED_SIZE, "outer-delete"),
    (lambda: with_hook(lambda o, r: o.update(T={})), CHANGED_SIZE, "outer-add"),
    (lambda: with_hook(lambda o, r: (o.pop("A"), o.update(T={}))), CHANGED_KEYS, "outer-replace"),
    (drops_row, CHANGED_SIZE, "outer-drops-row"),
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


def mutating(action, hook):
    """A score whose conversion runs `action` the first time it is asked."""
    def convert(self):
        if self.pending:
            self.pending = False
            action()
        return 1.0 if hook == "__float__" else 1
    return type("Mutating", (), {hook: convert, "pending": True})()


def swap(d, old, new, value):
    del d[old]
    d[new] = value


@pytest.mark.parametrize("caller", A_G_CALLERS)
@pytest.mark.parametrize("case, hook, message", [
    ("inner-grows", "__float__", CHANGED_SIZE),
    ("outer-shrinks", "__index__", CHANGED_SIZE),
    ("inner-keys", "__float__", CHANGED_KEYS),
    ("outer-keys", "__index__", CHANGED_KEYS),
    ("inner-dropped", "__float__", CHANGED_SIZE),
    ("inner-replaced", "__float__", None),
    ("nested-call", "__index__", None),
])
def test_score_matrix_mutated_while_read(caller, case, hook, message, capfd):
    # The actions reach the inner dict through the outer one, which holds its only reference.
    m = {"A": {"C": 1.0, "G": 1.0}, "C": {}}
    m["A"]["C"] = mutating({
        "inner-grows": lambda: m["A"].update(T=1.0),
        "outer-shrinks": lambda: m.pop("C"),
        "inner-keys": lambda: swap(m["A"], "C", "T", 1.0),
        "outer-keys": lambda: swap(m, "A", "G", {}),
        "inner-dropped": lambda: m.clear(),
        "inner-replaced": lambda: m.update(A={}),
        "nested-call": lambda: vrn.needleman_wunsch("AC", "AG", score_matrix={"A": {"A": 3.0}}),
    }[case], hook)
    if message is None:  # the dict that was being read is read to its end
        assert A_G_CALLERS[caller](m) == A_G_CALLERS[caller]({"A": {"C": 1.0, "G": 1.0}})
        assert capfd.readouterr().err == ""
    else:
        check(raised(A_G_CALLERS[caller], m), InternalError, message)
        assert message in capfd.readouterr().err


@pytest.mark.parametrize("caller", A_G_CALLERS)
@pytest.mark.parametrize("hook", ["__float__", "__index__"])
@pytest.mark.parametrize("surplus_key", ["T", "GG"])
def test_surplus_item_refused_before_it_is_read(caller, hook, surplus_key, capfd):
    touched = []
    spy = type("Spy", (), {hook: lambda self: touched.append(1) or (1.0 if hook == "__float__" else 1)})()
    m = {"A": {"C": 1.0, "G": 1.0}}
    m["A"]["C"] = mutating(lambda: swap(m["A"], "C", surplus_key, spy), hook)
    check(raised(A_G_CALLERS[caller], m), InternalError, CHANGED_KEYS)
    assert touched == [] and CHANGED_KEYS in capfd.readouterr().err
