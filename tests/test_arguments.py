"""Argument matching, conversion kinds, the argument-error prefix and the order errors are reported in."""

import collections
import math
import types

import pytest

import vorn_rust_native as vrn
from reference import fake_numpy, raised

np = pytest.importorskip("numpy")

nw, batch, nw3 = vrn.needleman_wunsch, vrn.needleman_wunsch_batch, vrn.needleman_wunsch_3d
mk, cls = vrn.make_rust_score_scaler, vrn.RustScoreScaler
inst = cls()
CALL8 = (0, 0, 0, 0, False, False, False, False)
FLAGS2 = ["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free", "enable_gap_close_penalty"]
ALIGNERS = {"nw": (nw, ("A", "A"), FLAGS2), "batch": (batch, ([],), FLAGS2),
            "3d": (nw3, ("A", "A", "A"), FLAGS2[:4] + ["seq3_left_free", "seq3_right_free", FLAGS2[4]])}
BAD_TABLE = {"AC": {}}
TABLE_ERROR = (ValueError, "score_matrix keys must be single characters")
CONV = "argument '{}': '{}' object cannot be converted to '{}'"


def check(fn, args, kwargs, exc_type, message):
    e = raised(fn, *args, **kwargs)
    assert type(e) is exc_type, repr(e)
    assert str(e) == message
    return e


def host_float(value, name):
    """The interpreter's own float-conversion error, prefixed when it is a TypeError."""
    e = raised(math.fabs, value)  # math.fabs converts with the same host routine
    return (TypeError, f"argument '{name}': {e}") if type(e) is TypeError else (type(e), str(e))


SURROGATE = (UnicodeEncodeError, str(raised(str.encode, "A\ud800")))


class Outer:
    class Inner:
        pass


class Str(str):
    pass


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class AsFloat(Index):
    def __float__(self):
        return self.v


class Raising:
    def __init__(self, exc, cause=None):
        self.exc, self.cause = exc, cause

    def __float__(self):
        raise self.exc from self.cause

    __index__ = __float__


# --------------------------------------------------------------------------- matching

def M(fn, args, kwargs, tail, id_):
    name = {inst: "RustScoreScaler.__call__", cls: "RustScoreScaler.__new__"}.get(fn) or fn.__name__
    return pytest.param(fn, args, kwargs, f"{name}() {tail}", id=id_)


MATCHING = [
    M(nw, ("A", "A", {}), {}, "takes 2 positional arguments but 3 were given", "nw-matrix-positional"),
    M(nw, ("A",) * 3, {"gap": 1}, "takes 2 positional arguments but 3 were given", "surplus-before-keywords"),
    M(batch, ([], []), {"score_matrix": {}}, "takes 1 positional arguments but 2 were given", "batch-surplus"),
    M(nw3, ("A",) * 4, {"score_matrix": {}}, "takes 3 positional arguments but 4 were given", "3d-surplus"),
    M(mk, (1, 2, 3), {}, "takes from 0 to 2 positional arguments but 3 were given", "mk-surplus"),
    M(cls, (1, 2, 3), {}, "takes from 0 to 2 positional arguments but 3 were given", "new-surplus"),
    M(inst, CALL8 + (0,), {}, "takes 8 positional arguments but 9 were given", "call-surplus"),
    M(nw, ("A",), {"seq1": "B", "gap": 1}, "got multiple values for argument 'seq1'", "nw-multiple"),
    M(nw, ("A",), {"gap": 1, "seq1": "B"}, "got an unexpected keyword argument 'gap'", "keywords-in-dict-order"),
    M(batch, ([],), {"seq_pairs": []}, "got multiple values for argument 'seq_pairs'", "batch-multiple"),
    M(nw3, ("A",) * 3, {"seq3": "A"}, "got multiple values for argument 'seq3'", "3d-multiple"),
    M(mk, (1.0,), {"decay_exponent": 2.0}, "got multiple values for argument 'decay_exponent'", "mk-multiple"),
    M(cls, (1.0, 2.0), {"temperature": 3.0}, "got multiple values for argument 'temperature'", "new-multiple"),
    M(inst, CALL8, {"seq2_right_free": False}, "got multiple values for argument 'seq2_right_free'", "call-multiple"),
    M(nw, (), {"seq3_left_free": False}, "got an unexpected keyword argument 'seq3_left_free'", "unexpected-first"),
    M(nw3, ("A",) * 3, {"score_scaler_fn": None}, "got an unexpected keyword argument 'score_scaler_fn'", "3d-unexpected"),
    M(cls, (), {"temp": 1.0}, "got an unexpected keyword argument 'temp'", "new-unexpected"),
    M(inst, CALL8, {"extra": 1}, "got an unexpected keyword argument 'extra'", "call-unexpected"),
    M(nw, ("A",), {"seq2\x00": "A"}, "got an unexpected keyword argument 'seq2\x00'", "name-with-nul"),
    M(nw, ("A",), {"\ud800": "A"}, "got an unexpected keyword argument '\ud800'", "name-with-surrogate"),
    M(nw, (), {}, "missing 2 required positional arguments: 'seq1' and 'seq2'", "nw-missing-both"),
    M(nw, ("A", "A"), {}, "missing 1 required keyword argument: 'score_matrix'", "nw-missing-matrix"),
    M(batch, (), {}, "missing 1 required positional argument: 'seq_pairs'", "batch-missing-pairs"),
    M(batch, ([],), {}, "missing 1 required keyword argument: 'score_matrix'", "batch-missing-matrix"),
    M(nw3, (), {}, "missing 3 required positional arguments: 'seq1', 'seq2', and 'seq3'", "3d-missing-three"),
    M(nw3, ("A",) * 3, {}, "missing 1 required keyword argument: 'score_matrix'", "3d-missing-matrix"),
    M(inst, (), {}, "missing 8 required positional arguments: 'seq1_left_idx', 'seq1_right_idx', 'seq2_left_idx', "
      "'seq2_right_idx', 'seq1_left_free', 'seq1_right_free', 'seq2_left_free', and 'seq2_right_free'", "call-all"),
    M(inst, (0, 0), {"seq2_right_free": False, "seq1_left_free": True}, "missing 4 required positional arguments: "
      "'seq2_left_idx', 'seq2_right_idx', 'seq1_right_free', and 'seq2_left_free'", "call-missing-middle"),
]


@pytest.mark.parametrize("fn, args, kwargs, message", MATCHING)
def test_argument_matching(fn, args, kwargs, message):
    check(fn, args, kwargs, TypeError, message)


def test_sequences_may_be_given_by_keyword():
    check(nw, (), {"seq2": "A", "seq1": "A", "score_matrix": BAD_TABLE}, *TABLE_ERROR)
    check(nw3, (), {"seq3": "A", "seq1": "A", "seq2": "A", "score_matrix": BAD_TABLE}, *TABLE_ERROR)
    check(batch, (), {"seq_pairs": [], "score_matrix": BAD_TABLE}, *TABLE_ERROR)


# --------------------------------------------------------------------------- refused values

def _refused():
    for key, (fn, args, flags) in ALIGNERS.items():
        base = {"score_matrix": {}}
        for flag in flags:
            for v in (1, None):
                yield pytest.param(fn, args, {**base, flag: v}, TypeError,
                                   CONV.format(flag, type(v).__name__, "PyBool"), id=f"{key}-{flag}-{v}")
        for v in (0, "True", 1.0, np.int64(1)):
            yield pytest.param(fn, args, {**base, flags[0]: v}, TypeError,
                               CONV.format(flags[0], type(v).__name__, "PyBool"), id=f"{key}-flag-{type(v).__name__}")
        for param in ("gap_open", "gap_extend"):
            for v in ("x", None, 1j, 10 ** 400, AsFloat(1)):
                yield pytest.param(fn, args, {**base, param: v}, *host_float(v, param),
                                   id=f"{key}-{param}-{type(v).__name__}")
        for v in ([], None, types.MappingProxyType({})):
            yield pytest.param(fn, args, {"score_matrix": v}, TypeError,
                               CONV.format("score_matrix", type(v).__name__, "PyDict"), id=f"{key}-matrix-{v}")
        if fn is not nw3:
            for v, t in [(lambda *a: 1.0, "function"), (cls, "type"), (1.0, "float"), (Outer.Inner(), "Outer.Inner")]:
                yield pytest.param(fn, args, {**base, "score_scaler_fn": v}, TypeError,
                                   CONV.format("score_scaler_fn", t, "RustScoreScaler"), id=f"{key}-scaler-{t}")
    for fn, names in [(nw, ["seq1", "seq2"]), (nw3, ["seq1", "seq2", "seq3"])]:
        for i, name in enumerate(names):
            for v, t in [(b"A", "bytes"), (65, "int"), (None, "NoneType"), (Outer.Inner(), "Outer.Inner")]:
                args = ("A",) * i + (v,) + ("A",) * (len(names) - i - 1)
                yield pytest.param(fn, args, {"score_matrix": {}}, TypeError, CONV.format(name, t, "PyString"),
                                   id=f"{fn.__name__}-{name}-{t}")
            args = ("A",) * i + ("A\ud800",) + ("A",) * (len(names) - i - 1)
            yield pytest.param(fn, args, {"score_matrix": {}}, *SURROGATE, id=f"{fn.__name__}-{name}-surrogate")


@pytest.mark.parametrize("fn, args, kwargs, exc_type, message", list(_refused()))
def test_refused_values(fn, args, kwargs, exc_type, message):
    check(fn, args, kwargs, exc_type, message)


def _boom(exc):
    raise exc


# Objects of classes posing as numpy's boolean scalar.
BOOLISH = [
    (lambda: fake_numpy("bool_", __bool__=lambda s: 1), TypeError, "'int' object cannot be converted to 'PyBool'"),
    (lambda: fake_numpy("bool", __bool__=lambda s: None), TypeError, "'NoneType' object cannot be converted to 'PyBool'"),
    (lambda: fake_numpy("bool_", __bool__=lambda s: _boom(TypeError("no truth"))), TypeError, "no truth"),
    (lambda: fake_numpy("bool_", __bool__=lambda s: _boom(ValueError("bad truth"))), ValueError, "bad truth"),
    (lambda: fake_numpy("bool_"), TypeError,
     "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (lambda: fake_numpy("bool8", __bool__=lambda s: True), TypeError, "'bool8' object cannot be converted to 'PyBool'"),
    (lambda: type("bool_", (), {"__bool__": lambda s: True})(), TypeError,
     "'bool_' object cannot be converted to 'PyBool'"),
]
BOOL_IDS = ["returns-int", "returns-none", "raises-type-error", "raises-value-error", "no-bool", "other-name",
            "other-module"]
FLAG_SITES = [(nw, ("A", "A"), {"score_matrix": {}}, "seq2_right_free"),
              (batch, ([],), {"score_matrix": {}}, "enable_gap_close_penalty"),
              (nw3, ("A",) * 3, {"score_matrix": {}}, "seq3_left_free"),
              (inst, CALL8[:6], {"seq2_right_free": False}, "seq2_left_free")]


@pytest.mark.parametrize("make, exc_type, message", BOOLISH, ids=BOOL_IDS)
@pytest.mark.parametrize("fn, args, kwargs, flag", FLAG_SITES, ids=["nw", "batch", "3d", "call"])
def test_numpy_like_flags(fn, args, kwargs, flag, make, exc_type, message):
    if exc_type is TypeError:
        message = f"argument '{flag}': {message}"
    check(fn, args, {**kwargs, flag: make()}, exc_type, message)


# --------------------------------------------------------------------------- accepted values

def _accepted():
    for key, (fn, args, flags) in ALIGNERS.items():
        for param in ("gap_open", "gap_extend"):
            for v in (-1, -1.0, True, Index(-3), AsFloat(-2.5), math.nan, np.float64(-2.0)):
                yield pytest.param(fn, args, {param: v}, id=f"{key}-{param}-{type(v).__name__}-{v!r:.4}")
        for flag in flags:
            for v in (True, False, np.True_, fake_numpy("bool_", __bool__=lambda s: True),
                      fake_numpy("bool", __bool__=lambda s: False)):
                yield pytest.param(fn, args, {flag: v}, id=f"{key}-{flag}-{type(v).__name__}-{bool(v)}")
        for v in (collections.OrderedDict, collections.defaultdict):
            yield pytest.param(fn, args, {"score_matrix": v(None, BAD_TABLE) if v is collections.defaultdict
                                          else v(BAD_TABLE)}, id=f"{key}-matrix-{v.__name__}")
        if fn is not nw3:
            for v in (None, inst):
                yield pytest.param(fn, args, {"score_scaler_fn": v}, id=f"{key}-scaler-{type(v).__name__}")
    for fn, n in [(nw, 2), (nw3, 3)]:
        for v in (Str("ac"), "", "é\u20ac\U0001F600"):
            for i in range(n):
                yield pytest.param(fn, ("A",) * i + (v,) + ("A",) * (n - i - 1), {}, id=f"{fn.__name__}-{i}-{v!r}")


@pytest.mark.parametrize("fn, args, kwargs", list(_accepted()))
def test_accepted_values_reach_the_table_build(fn, args, kwargs):
    e = raised(fn, *args, **{"score_matrix": BAD_TABLE, **kwargs})  # the table is the first thing left to fail
    assert (type(e), str(e)) == TABLE_ERROR


SM = {"A": {"A": 1.0, "C": -1.0}, "C": {"C": 1.0}}


def test_converted_values_behave_like_plain_ones():
    def run(*seqs, **kwargs):
        return nw(*seqs, score_matrix=SM, **kwargs)

    plain = run("AACA", "CA", gap_open=1.0, gap_extend=-3.0)
    assert run(Str("aaca"), "CA", gap_open=True, gap_extend=Index(-3)) == plain != run("AACA", "CA")
    ends = {e: True for e in FLAGS2[:4]}
    assert run("AACA", "CA", **dict.fromkeys(ends, np.True_)) == run("AACA", "CA", **ends) != run("AACA", "CA")


def test_foreign_callable_is_never_called():
    calls = []
    check(nw, ("A", "A"), {"score_matrix": {}, "score_scaler_fn": lambda *a: calls.append(a) or 1.0}, TypeError,
          CONV.format("score_scaler_fn", "function", "RustScoreScaler"))
    assert calls == []


# --------------------------------------------------------------------------- argument-error convention

SITES = [(nw, ("A", "A"), {"score_matrix": {}}, "gap_open"), (batch, ([],), {"score_matrix": {}}, "gap_extend"),
         (nw3, ("A",) * 3, {"score_matrix": {}}, "gap_open"), (mk, (), {}, "temperature"),
         (cls, (), {}, "decay_exponent"), (inst, (0, 0, 0), dict(zip(FLAGS2[:4], CALL8[4:])), "seq2_right_idx")]
SITE_IDS = ["nw", "batch", "3d", "mk", "new", "call"]


@pytest.mark.parametrize("fn, args, kwargs, param", SITES, ids=SITE_IDS)
def test_type_error_gets_prefix_and_keeps_cause(fn, args, kwargs, param):
    cause = KeyError("k")
    e = check(fn, args, {**kwargs, param: Raising(TypeError("x"), cause)}, TypeError, f"argument '{param}': x")
    assert e.__cause__ is cause
    assert check(fn, args, {**kwargs, param: Raising(TypeError("y"))}, TypeError, f"argument '{param}': y"
                 ).__cause__ is None
    check(fn, args, {**kwargs, param: Raising(TypeError("a", 2))}, TypeError, f"argument '{param}': ('a', 2)")


class SubTypeError(TypeError):
    pass


@pytest.mark.parametrize("exc", [SubTypeError("sub"), ValueError("val"), ZeroDivisionError("zero"),
                                 KeyboardInterrupt("stop")], ids=lambda e: type(e).__name__)
@pytest.mark.parametrize("fn, args, kwargs, param", SITES, ids=SITE_IDS)
def test_other_errors_propagate_unchanged(fn, args, kwargs, param, exc):
    assert raised(fn, *args, **{**kwargs, param: Raising(exc)}) is exc


# --------------------------------------------------------------------------- error order

F = lambda *a: 1.0  # noqa: E731
ORDER = [
    (nw, (b"x", 1), {"score_matrix": []}, TypeError, CONV.format("seq1", "bytes", "PyString"), "seq1"),
    (nw, ("A\ud800", 1), {"score_matrix": []}, *SURROGATE, "surrogate-before-seq2"),
    (nw, ("A", "A"), {"gap_open": "x", "score_matrix": []}, TypeError, CONV.format("score_matrix", "list", "PyDict"),
     "matrix"),
    (nw, ("A", "A"), {"seq1_left_free": 1, "gap_extend": "y", "score_matrix": {}}, *host_float("y", "gap_extend"),
     "gap-before-flag"),
    (nw, ("A", "A"), {"enable_gap_close_penalty": None, "seq2_right_free": 0, "seq1_right_free": 1,
                      "score_matrix": {}}, TypeError, CONV.format("seq1_right_free", "int", "PyBool"), "flags"),
    (nw, ("A", "A"), {"score_scaler_fn": F, "enable_gap_close_penalty": 1, "score_matrix": {}}, TypeError,
     CONV.format("enable_gap_close_penalty", "int", "PyBool"), "flag-before-scaler"),
    (nw, ("A", "A"), {"score_matrix": BAD_TABLE, "score_scaler_fn": F}, TypeError,
     CONV.format("score_scaler_fn", "function", "RustScoreScaler"), "scaler-before-table"),
    (nw, (b"x",), {"score_matrix": {}}, TypeError, "needleman_wunsch() missing 1 required positional argument: 'seq2'",
     "missing-before-bad"),
    (nw, (b"x", "A"), {"gap": 1}, TypeError, "needleman_wunsch() got an unexpected keyword argument 'gap'",
     "matching-before-conversion"),
    (batch, ([],), {"score_scaler_fn": F, "score_matrix": BAD_TABLE}, TypeError,
     CONV.format("score_scaler_fn", "function", "RustScoreScaler"), "batch-scaler-before-table"),
    (nw3, ("A", 1, "A"), {"score_matrix": []}, TypeError, CONV.format("seq2", "int", "PyString"), "3d-seq2"),
    (nw3, ("A", "A", "A"), {"score_matrix": BAD_TABLE, "seq3_right_free": 1}, TypeError,
     CONV.format("seq3_right_free", "int", "PyBool"), "3d-flag-before-table"),
    (nw3, ("A", "A", "A"), {"enable_gap_close_penalty": 0, "seq3_left_free": None, "seq2_right_free": 1,
                            "score_matrix": {}}, TypeError, CONV.format("seq2_right_free", "int", "PyBool"), "3d-flags"),
]


@pytest.mark.parametrize("fn, args, kwargs, exc_type, message", [pytest.param(*r[:5], id=r[5]) for r in ORDER])
def test_error_order(fn, args, kwargs, exc_type, message):
    check(fn, args, kwargs, exc_type, message)
