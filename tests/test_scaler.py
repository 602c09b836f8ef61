"""RustScoreScaler: construction, argument conversion and the scale factor it computes."""

import math
import operator

import pytest

import vorn_rust_native as vrn
from reference import raised

np = pytest.importorskip("numpy")

mk, cls = vrn.make_rust_score_scaler, vrn.RustScoreScaler
T, F, NAN, INF = True, False, math.nan, math.inf
TEMPERATURE = (ValueError, "temperature must be > 0")
TOO_BIG = (OverflowError, "Python int too large to convert to C long")
IDX = ["seq1_left_idx", "seq1_right_idx", "seq2_left_idx", "seq2_right_idx"]
FLAGS = ["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free"]


def host(fn, arg, name):
    """The interpreter's own conversion error for arg, prefixed with name when it is a TypeError."""
    e = raised(fn, arg)
    return (TypeError, f"argument '{name}': {e}") if type(e) is TypeError else (type(e), str(e))


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


# (decay_exponent, temperature, indices, flags, expected)
VALUES = [
    (1, 1, (0, 0, 0, 0), (T, F, F, F), 1.0, "left-0"),
    (1, 1, (3, 0, 0, 0), (T, F, F, F), 0.25, "left-3"),
    (1, 1, (0, 3, 0, 0), (T, T, F, F), 1.25, "both-ends-of-seq1"),
    (1, 1, (1, 2, 3, 4), (T, T, T, T), 1.2833333333333332, "all-four"),
    (1, 2, (0, 0, 0, 0), (T, F, F, F), 2.0, "temperature-2"),
    (2, 1, (1, 0, 0, 0), (T, F, F, F), 0.25, "decay-2"),
    (0.5, 1, (2, 0, 0, 0), (T, F, F, F), 0.5773502691896258, "decay-half"),
    (0, 1, (5, -7, 100, -1), (T, T, T, T), 4.0, "decay-0"),
    (1, 1, (-1, 0, 0, 0), (T, F, F, F), INF, "index-minus-1"),
    (-1, 1, (-1, 0, 0, 0), (T, F, F, F), 1.0, "index-minus-1-decay-minus-1"),
    (1, 1, (-2, 0, 0, 0), (T, T, F, F), 1.0, "cancelling-terms"),
    (1, NAN, (0, 0, 0, 0), (F, F, T, F), NAN, "nan-temperature"),
    (0, NAN, (0, 0, 0, 0), (F, T, F, T), 2.0, "nan-temperature-decay-0"),
    (1, 1, (-1, -1, -1, -1), (F, F, F, F), 1.0, "no-flags"),
    (1, 1, (0, 1, 3, 7), (F, T, F, T), 0.625, "pairing-right"),
    (0.5, 3.0, (0, 0, 1, 3), (T, T, T, T), 5.554871890313782, "summation-order"),
    (1, 0.3, (0, 2, 1, 0), (T, T, T, T), 0.8500000000000001, "summation-order-2"),
    (1, 5e-324, (0, 0, 0, 0), (F, T, F, F), 1.0, "infinite-power-gives-0"),
    (0.5, 1, (-3, 0, 0, 0), (T, F, F, F), NAN, "negative-base-fractional-decay"),
    (1, 1, (2 ** 63 - 1, 0, 0, 0), (T, F, F, F), 2.0 ** -63, "largest-index"),
    (1, 1, (0, 0, -(2 ** 63), 0), (F, F, T, F), -(2.0 ** -63), "smallest-index"),
    (1, 1, (True, False, 0, 0), (T, T, F, F), 1.5, "bool-indices"),
    (1, 1, (Index(3), np.int64(1), 0, 0), (T, T, F, F), 0.75, "index-protocol"),
    (1, 1, (3, 0, 0, 0), (np.True_, np.False_, F, F), 0.25, "numpy-flags"),
]


@pytest.mark.parametrize("factory", [mk, cls], ids=["factory", "class"])
@pytest.mark.parametrize("d, t, idx, flags, expected", [pytest.param(*r[:5], id=r[5]) for r in VALUES])
def test_scale_factor(factory, d, t, idx, flags, expected):
    got = factory(d, t)(*idx, *flags)
    assert type(got) is float
    assert math.isnan(got) if math.isnan(expected) else got == expected


def test_defaults_and_keywords():
    for s in (mk(), cls(), mk(1.0), cls(temperature=1.0)):
        assert s(3, 0, 0, 0, T, F, F, F) == 0.25
    assert mk(2.0)(1, 0, 0, 0, T, F, F, F) == cls(decay_exponent=2.0)(1, 0, 0, 0, T, F, F, F) == 0.25
    assert mk(temperature=2.0)(0, 0, 0, 0, T, F, F, F) == 2.0
    assert cls(temperature=4.0, decay_exponent=0.5)(0, 0, 0, 0, T, F, F, F) == 2.0
    kwargs = dict(zip(IDX + FLAGS, (0, 3, 0, 0, F, T, F, F)))
    assert mk()(**dict(reversed(kwargs.items()))) == 0.25
    assert mk()(0, 3, 0, 0, F, T, seq2_right_free=F, seq2_left_free=F) == 0.25


def _construction_rows():
    for fn, label in [(mk, "factory"), (cls, "class")]:
        for t in [0, -0.0, -2, -INF, False]:
            yield pytest.param(fn, (1.0, t), {}, *TEMPERATURE, id=f"{label}-positional-{t!r}")
            yield pytest.param(fn, (), {"temperature": t}, *TEMPERATURE, id=f"{label}-keyword-{t!r}")
        yield from [
            pytest.param(fn, ("x",), {}, *host(math.fabs, "x", "decay_exponent"), id=f"{label}-decay-str"),
            pytest.param(fn, (1.0, None), {}, *host(math.fabs, None, "temperature"), id=f"{label}-temperature-none"),
            pytest.param(fn, ("x", "y"), {}, *host(math.fabs, "x", "decay_exponent"), id=f"{label}-decay-first"),
            pytest.param(fn, ("x", 0), {}, *host(math.fabs, "x", "decay_exponent"), id=f"{label}-before-check"),
            pytest.param(fn, (), {"temperature": None, "decay_exponent": []}, *host(math.fabs, [], "decay_exponent"),
                         id=f"{label}-decay-first-by-keyword"),
            pytest.param(fn, (10 ** 400,), {}, *host(math.fabs, 10 ** 400, ""), id=f"{label}-decay-overflow"),
            pytest.param(fn, (), {"temperature": 0, "decay_exponent": 10 ** 400}, *host(math.fabs, 10 ** 400, ""),
                         id=f"{label}-overflow-before-check"),
            pytest.param(fn, (1.0, -(10 ** 400)), {}, *host(math.fabs, 10 ** 400, ""), id=f"{label}-temp-overflow"),
        ]


@pytest.mark.parametrize("fn, args, kwargs, exc_type, message", list(_construction_rows()))
def test_construction_errors(fn, args, kwargs, exc_type, message):
    e = raised(fn, *args, **kwargs)
    assert (type(e), str(e)) == (exc_type, message)


def _call_rows():
    base = (0, 0, 0, 0, T, T, T, T)

    def at(i, v):
        return base[:i] + (v,) + base[i + 1:]

    for i, name in enumerate(IDX):
        for v in ["0", 1.0, None]:
            yield pytest.param(at(i, v), *host(operator.index, v, name), id=f"{name}-{type(v).__name__}")
        for v in [2 ** 63, -(2 ** 63) - 1, Index(2 ** 64)]:
            yield pytest.param(at(i, v), *TOO_BIG, id=f"{name}-overflow-{v!r:.6}")
    for i, name in enumerate(FLAGS):
        for v in [1, None, 0.0]:
            yield pytest.param(at(4 + i, v), TypeError,
                               f"argument '{name}': '{type(v).__name__}' object cannot be converted to 'PyBool'",
                               id=f"{name}-{type(v).__name__}")
    yield from [
        pytest.param(("x", 0, 0, 0, 1, F, F, F), *host(operator.index, "x", "seq1_left_idx"), id="index-before-flag"),
        pytest.param((0, 0, 0, "x", 1, F, F, F), *host(operator.index, "x", "seq2_right_idx"), id="last-index-first"),
        pytest.param((0, "x", 0, [], F, F, F, F), *host(operator.index, "x", "seq1_right_idx"), id="indices-in-order"),
        pytest.param((0, 0, 0, 0, F, 1, None, F), TypeError,
                     "argument 'seq1_right_free': 'int' object cannot be converted to 'PyBool'", id="flags-in-order"),
        pytest.param((2 ** 63, 0, 0, 0, 1, F, F, F), *TOO_BIG, id="overflow-before-flag"),
        pytest.param((0, 0, "x", 0, F, F, F, F), *host(operator.index, "x", "seq2_left_idx"), id="unused-index-checked"),
    ]


@pytest.mark.parametrize("args, exc_type, message", list(_call_rows()))
def test_call_errors(args, exc_type, message):
    e = raised(mk(), *args)
    assert (type(e), str(e)) == (exc_type, message)


def test_call_conversion_order_ignores_keyword_order():
    kwargs = {"seq2_right_free": 1, "seq1_left_free": None, "seq2_right_idx": "x", "seq1_left_idx": 0,
              "seq1_right_idx": 0, "seq2_left_idx": 0, "seq1_right_free": F, "seq2_left_free": F}
    e = raised(mk(), **kwargs)
    assert (type(e), str(e)) == host(operator.index, "x", "seq2_right_idx")
    e = raised(mk(), **{**kwargs, "seq2_right_idx": 0})
    assert (type(e), str(e)) == (TypeError,
                                 "argument 'seq1_left_free': 'NoneType' object cannot be converted to 'PyBool'")
