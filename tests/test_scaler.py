"""RustScoreScaler: construction, argument conversion and the scale factor it computes."""

import math
import operator

import pytest

import vorn_rust_native as vrn

np = pytest.importorskip("numpy")

mk = vrn.make_rust_score_scaler
cls = vrn.RustScoreScaler
T, F = True, False
NAN, INF = math.nan, math.inf
TEMPERATURE = (ValueError, "temperature must be > 0")
TOO_BIG = (OverflowError, "Python int too large to convert to C long")
IDX = ["seq1_left_idx", "seq1_right_idx", "seq2_left_idx", "seq2_right_idx"]
FLAGS = ["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free"]


def raised(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except BaseException as e:  # noqa: BLE001
        return e
    raise AssertionError("no exception raised")


def host(fn, *args):
    e = raised(fn, *args)
    return type(e), str(e)


def prefixed(name, err):
    t, m = err
    return (t, f"argument '{name}': {m}") if t is TypeError else err


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
    (1, 1, (0, 1, 3, 7), (T, F, T, F), 1.25, "pairing-left"),
    (1, 1, (9, 9, 9, 3), (F, F, F, T), 0.25, "seq2-right-only"),
    (0.5, 3.0, (0, 0, 1, 3), (T, T, T, T), 5.554871890313782, "summation-order"),
    (1, 0.3, (0, 2, 1, 0), (T, T, T, T), 0.8500000000000001, "summation-order-2"),
    (1, INF, (0, 0, 0, 0), (T, F, F, F), INF, "infinite-temperature"),
    (1, 5e-324, (0, 0, 0, 0), (F, T, F, F), 1.0, "infinite-power-gives-0"),
    (NAN, 1, (0, 0, 0, 0), (T, F, F, F), 1.0, "nan-decay-at-x-1"),
    (NAN, 1, (1, 0, 0, 0), (T, F, F, F), NAN, "nan-decay"),
    (-3, 1, (1, 0, 0, 0), (T, F, F, F), 8.0, "negative-decay"),
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
    if math.isnan(expected):
        assert math.isnan(got)
    else:
        assert got == expected


def test_defaults_and_keywords():
    for s in (mk(), cls(), mk(1.0), cls(temperature=1.0)):
        assert s(3, 0, 0, 0, T, F, F, F) == 0.25
    assert mk(2.0)(1, 0, 0, 0, T, F, F, F) == 0.25
    assert cls(decay_exponent=2.0)(1, 0, 0, 0, T, F, F, F) == 0.25
    assert mk(temperature=2.0)(0, 0, 0, 0, T, F, F, F) == 2.0
    assert cls(temperature=4.0, decay_exponent=0.5)(0, 0, 0, 0, T, F, F, F) == 2.0
    s = mk(1.0, 1.0)
    kwargs = dict(zip(IDX + FLAGS, (0, 3, 0, 0, F, T, F, F)))
    assert s(**dict(reversed(kwargs.items()))) == 0.25
    assert s(0, 3, 0, 0, F, T, seq2_right_free=F, seq2_left_free=F) == 0.25


def _construction_rows():
    rows = []
    for fn, label in [(mk, "factory"), (cls, "class")]:
        for t in [0, 0.0, -0.0, -2, -INF, False]:
            rows.append(pytest.param(fn, (1.0, t), {}, *TEMPERATURE, id=f"{label}-pos-{t!r}"))
            rows.append(pytest.param(fn, (), {"temperature": t}, *TEMPERATURE, id=f"{label}-kw-{t!r}"))
        rows += [
            pytest.param(fn, ("x",), {}, *prefixed("decay_exponent", host(math.fabs, "x")), id=f"{label}-decay-str"),
            pytest.param(fn, (1.0, None), {}, *prefixed("temperature", host(math.fabs, None)), id=f"{label}-temp-none"),
            pytest.param(fn, ("x", "y"), {}, *prefixed("decay_exponent", host(math.fabs, "x")), id=f"{label}-decay-first"),
            pytest.param(fn, ("x", 0), {}, *prefixed("decay_exponent", host(math.fabs, "x")), id=f"{label}-decay-before-check"),
            pytest.param(fn, (), {"temperature": None, "decay_exponent": []},
                         *prefixed("decay_exponent", host(math.fabs, [])), id=f"{label}-decay-first-kw"),
            pytest.param(fn, (1.0, "x"), {}, *prefixed("temperature", host(math.fabs, "x")), id=f"{label}-temp-str"),
            pytest.param(fn, (10 ** 400,), {}, *host(math.fabs, 10 ** 400), id=f"{label}-decay-overflow"),
            pytest.param(fn, (), {"temperature": 0, "decay_exponent": 10 ** 400},
                         *host(math.fabs, 10 ** 400), id=f"{label}-overflow-before-check"),
            pytest.param(fn, (1.0, -(10 ** 400)), {}, *host(math.fabs, 10 ** 400), id=f"{label}-temp-overflow"),
        ]
    return rows


@pytest.mark.parametrize("fn, args, kwargs, exc_type, message", _construction_rows())
def test_construction_errors(fn, args, kwargs, exc_type, message):
    e = raised(fn, *args, **kwargs)
    assert type(e) is exc_type
    assert str(e) == message


@pytest.mark.parametrize("t", [NAN, INF, 5e-324, True, 1])
@pytest.mark.parametrize("d", [-3, NAN, INF, -INF, 0, -1.0])
def test_unusual_parameters_are_accepted(d, t):
    for fn in (mk, cls):
        assert type(fn(d, t)) is cls
        assert type(fn(decay_exponent=d, temperature=t)) is cls


def _call_rows():
    rows = []
    base = (0, 0, 0, 0, T, T, T, T)
    index_error = lambda v: host(operator.index, v)  # noqa: E731
    for i, name in enumerate(IDX):
        for v in ["0", 1.0, None, [0]]:
            args = list(base)
            args[i] = v
            rows.append(pytest.param(tuple(args), *prefixed(name, index_error(v)), id=f"{name}-{type(v).__name__}"))
        for v in [2 ** 63, -(2 ** 63) - 1, Index(2 ** 64)]:
            args = list(base)
            args[i] = v
            rows.append(pytest.param(tuple(args), *TOO_BIG, id=f"{name}-overflow-{type(v).__name__}"))
    for i, name in enumerate(FLAGS):
        for v, tname in [(1, "int"), (None, "NoneType"), (0.0, "float")]:
            args = list(base)
            args[4 + i] = v
            rows.append(pytest.param(tuple(args), TypeError,
                                     f"argument '{name}': '{tname}' object cannot be converted to 'PyBool'",
                                     id=f"{name}-{tname}"))
    rows += [
        pytest.param(("x", 0, 0, 0, 1, F, F, F), *prefixed("seq1_left_idx", index_error("x")), id="index-before-flag"),
        pytest.param((0, 0, 0, "x", 1, F, F, F), *prefixed("seq2_right_idx", index_error("x")), id="last-index-before-first-flag"),
        pytest.param((0, "x", 0, [], F, F, F, F), *prefixed("seq1_right_idx", index_error("x")), id="indices-in-order"),
        pytest.param((0, 0, 0, 0, F, 1, None, F), TypeError,
                     "argument 'seq1_right_free': 'int' object cannot be converted to 'PyBool'", id="flags-in-order"),
        pytest.param((2 ** 63, 0, 0, 0, 1, F, F, F), *TOO_BIG, id="overflow-before-flag"),
        pytest.param((0, 0, "x", 0, F, F, F, F), *prefixed("seq2_left_idx", index_error("x")), id="index-checked-without-flag"),
    ]
    return rows


@pytest.mark.parametrize("args, exc_type, message", _call_rows())
def test_call_errors(args, exc_type, message):
    e = raised(mk(), *args)
    assert type(e) is exc_type
    assert str(e) == message


def test_call_keyword_order_does_not_change_conversion_order():
    s = mk()
    kwargs = {"seq2_right_free": 1, "seq1_left_free": None, "seq2_right_idx": "x"}
    kwargs.update({"seq1_left_idx": 0, "seq1_right_idx": 0, "seq2_left_idx": 0,
                   "seq1_right_free": F, "seq2_left_free": F})
    e = raised(s, **kwargs)
    assert (type(e), str(e)) == prefixed("seq2_right_idx", host(operator.index, "x"))
    kwargs["seq2_right_idx"] = 0
    e = raised(s, **kwargs)
    assert (type(e), str(e)) == (TypeError, "argument 'seq1_left_free': 'NoneType' object cannot be converted to 'PyBool'")


def test_instances_are_independent_and_reusable():
    a, b = mk(1.0, 2.0), mk(2.0, 1.0)
    assert a is not b
    for _ in range(3):
        assert a(0, 0, 0, 0, T, F, F, F) == 2.0
        assert b(1, 0, 0, 0, T, F, F, F) == 0.25
