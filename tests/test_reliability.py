"""Repeated calls, on success and on every error path, keep reference counts and memory unchanged."""

import gc
import math
import os
import sys

import pytest

import vorn_rust_native as vrn
from reference import UNDER_ASAN, internal_error_class

nw, batch, nw3 = vrn.needleman_wunsch, vrn.needleman_wunsch_batch, vrn.needleman_wunsch_3d
CALLS = 2000
# Under AddressSanitizer freed memory sits in quarantine and Python's allocator is
# bypassed, so only the reference counts are meaningful there.
LONG = 30 if UNDER_ASAN else 200  # long enough that a leaked grid shows in RSS


def call(fn, args, kwargs):
    try:
        return fn(*args, **kwargs), None
    except BaseException as e:  # noqa: BLE001
        return None, (type(e), str(e))


InternalError = internal_error_class()


def matrix():  # 26 rows, so that a leaked score table shows in RSS
    letters = [chr(c) for c in range(ord("A"), ord("Z") + 1)]
    return {a: {b: float(len(a + b) * (1.5 if a == b else -0.5)) for b in letters} for a in letters}


class Toggle:
    """A score whose conversion adds or removes an item of the dict being read, so the
    dict is back in its first state after every second call."""

    def __init__(self, target):
        self.target = target

    def __float__(self):
        if self.target.pop("C", None) is None:
            self.target["C"] = self
        return 1.0


def toggling_matrix():
    inner = {}
    inner["A"] = Toggle(inner)
    return {"A": inner}


def contents(o):
    yield o
    if isinstance(o, dict):
        for k, v in o.items():
            yield from contents(k)
            yield from contents(v)
    elif isinstance(o, (list, tuple)):
        for item in o:
            yield from contents(item)


def cases():
    scaler, inst = vrn.make_rust_score_scaler(2.0, 3.0), vrn.RustScoreScaler(1.0, 2.0)
    s1, s2, k = "GATTACA" * (LONG // 7), "GCATGCT" * (LONG // 7), LONG // 10
    eight = (5, 6, 7, 8, True, False, True, True)
    free = dict(gap_open=-4.0, seq1_left_free=True, score_scaler_fn=scaler)
    split = dict(score_matrix={}, gap_open=5.0, gap_extend=0.0, enable_gap_close_penalty=False)
    unset = (ValueError, "unset pointer encountered during traceback")
    changed = (InternalError, "dictionary changed size during iteration")
    api = (InternalError, "Python API call failed")
    conv = "argument '{}': '{}' object cannot be converted to '{}'"
    c = [
        ("nw", nw, (s1, s2), dict(score_matrix=matrix(), **free), None),
        ("nw-kind", nw, (b"AC", s2), dict(score_matrix=matrix()),
         (TypeError, conv.format("seq1", "bytes", "PyString"))),
        ("nw-flag", nw, (s1, s2), dict(score_matrix=matrix(), seq2_left_free=12345),
         (TypeError, conv.format("seq2_left_free", "int", "PyBool"))),
        ("nw-key", nw, (s1, s2), dict(score_matrix={**matrix(), "AC": {}}),
         (ValueError, "score_matrix keys must be single characters")),
        ("nw-value", nw, (s1, s2), dict(score_matrix={"A": {"C": "x"}}), (TypeError, "must be real number, not str")),
        ("nw-engine", nw, (s1, s2 + "C"), dict(score_matrix=matrix(), gap_open=-math.inf), unset),
        ("nw-mutated", nw, (s1, s2), dict(score_matrix=toggling_matrix()), changed),
        ("nw-utf8", nw, ("é", "e"), split, api),
        ("batch", batch, ([(s1, s2), (s2[:9], s1[:7])],), dict(score_matrix=matrix(), **free), None),
        ("batch-item", batch, ([(s1, s2), [s1, s2]],), dict(score_matrix=matrix()),
         (TypeError, conv.format("seq_pairs", "list", "PyTuple"))),
        ("batch-length", batch, ([(s1, s2, s1)],), dict(score_matrix=matrix()),
         (ValueError, "expected tuple of length 2, but got tuple of length 3")),
        ("batch-engine", batch, ([(s1, s2), (s1, s2 + "C")],), dict(score_matrix=matrix(), gap_open=-math.inf), unset),
        ("batch-utf8", batch, ([(s1, s2), ("é", "e")],), split, api),
        ("3d", nw3, (s1[:k], s2[:k], s1[3:3 + k]), dict(score_matrix=matrix(), seq3_right_free=True), None),
        ("3d-utf8-row", nw3, ("é", "e", ""), split, None),
        ("3d-kind", nw3, (s1, s2, 7.5), dict(score_matrix=matrix()),
         (TypeError, conv.format("seq3", "float", "PyString"))),
        ("3d-engine", nw3, (s1[:3 * k], s2[:3 * k], ""), dict(score_matrix=matrix(), gap_open=-math.inf,
                                                             gap_extend=-math.inf),
         (ValueError, "unset pointer encountered during 3D traceback")),
        ("3d-capacity", nw3, ("A" * 2**21,) * 3, dict(score_matrix=matrix()), (InternalError, "capacity overflow")),
        ("3d-mutated", nw3, (s1, s2, s1), dict(score_matrix=toggling_matrix()), changed),
        ("factory", vrn.make_rust_score_scaler, (0.5,), dict(temperature=4.0), None),
        ("factory-temperature", vrn.make_rust_score_scaler, (0.5, -2.0), {}, (ValueError, "temperature must be > 0")),
        ("factory-kind", vrn.make_rust_score_scaler, ("x",), {},
         (TypeError, "argument 'decay_exponent': must be real number, not str")),
        ("class", vrn.RustScoreScaler, (), dict(decay_exponent=0.5), None),
        ("class-temperature", vrn.RustScoreScaler, (), dict(temperature=0.0), (ValueError, "temperature must be > 0")),
        ("call", inst, eight, {}, None),
        ("call-index", inst, ("x",) + eight[1:], {},
         (TypeError, "argument 'seq1_left_idx': 'str' object cannot be interpreted as an integer")),
        ("call-missing", inst, eight[:7], {},
         (TypeError, "RustScoreScaler.__call__() missing 1 required positional argument: 'seq2_right_free'")),
    ]
    return [pytest.param(fn, args, kwargs, expected, id=name) for name, fn, args, kwargs, expected in c]


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("fn, args, kwargs, expected", cases())
def test_repeated_calls_keep_references_and_memory(fn, args, kwargs, expected, capfd):
    assert call(fn, args, kwargs)[1] == expected
    for _ in range(200):  # warm up caches and free lists
        call(fn, args, kwargs)
    tracked = list(contents((fn, args, kwargs)))
    gc.collect()
    counts = [sys.getrefcount(o) for o in tracked]
    blocks, memory = sys.getallocatedblocks(), rss()
    for _ in range(CALLS):
        call(fn, args, kwargs)
    gc.collect()
    assert [sys.getrefcount(o) for o in tracked] == counts
    # pymalloc counts every small object: a leaked result, message or float shows here.
    assert sys.getallocatedblocks() - blocks < CALLS // 10
    if not UNDER_ASAN:
        assert rss() - memory < 20 * 2**20
    err = capfd.readouterr().err
    if expected is not None and expected[0] is InternalError:  # reported on standard error
        assert expected[1] in err and ("UnicodeDecodeError" in err) == (expected[1] == "Python API call failed")
    else:
        assert err == ""

