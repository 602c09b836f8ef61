"""Slow, literal pure-Python models of the alignment engines, used as test oracles.

Besides the models in ``nw``, this package holds the harness that the test modules compare
the module with: keyword-style wrappers that mirror the module's Python API (``pairwise``,
``three_way``), outcome helpers that compare single and batch results bit for bit and errors
by type and text, the batch outcome the reference expects, and small helpers for errors
(``raised``, the module's internal-error class) and numpy look-alikes.
"""

import math
import struct

from . import nw

INTERNAL_ERROR_MESSAGE = "Python API call failed"

# Whether this process runs the AddressSanitizer build (its runtime is preloaded).
with open("/proc/self/maps") as _maps:
    UNDER_ASAN = "libasan" in _maps.read()


def pairwise(seq1, seq2, *, score_matrix, gap_open=-5.0, gap_extend=-1.0,
             seq1_left_free=False, seq1_right_free=False, seq2_left_free=False,
             seq2_right_free=False, enable_gap_close_penalty=True, scaler=None):
    """The reference with the module's keywords; scaler is (decay_exponent, temperature)."""
    return nw.needleman_wunsch(
        seq1, seq2, nw.build_score_table(score_matrix), float(gap_open), float(gap_extend),
        seq1_left_free, seq1_right_free, seq2_left_free, seq2_right_free,
        enable_gap_close_penalty, scaler)


def three_way(seq1, seq2, seq3, *, score_matrix, gap_open=-5.0, gap_extend=-1.0,
              seq1_left_free=False, seq1_right_free=False, seq2_left_free=False,
              seq2_right_free=False, seq3_left_free=False, seq3_right_free=False,
              enable_gap_close_penalty=True):
    flags = (seq1_left_free, seq1_right_free, seq2_left_free, seq2_right_free,
             seq3_left_free, seq3_right_free)
    return nw.needleman_wunsch_3d(
        seq1, seq2, seq3, nw.build_score_table(score_matrix), float(gap_open),
        float(gap_extend), flags, enable_gap_close_penalty)


def same_bits(a, b):
    """Identical doubles (sign of zero included), or both NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def module_outcome(fn, *args, **kwargs):
    """("ok", result), ("ValueError", message) or ("internal", message)."""
    try:
        return ("ok", fn(*args, **kwargs))
    except ValueError as exc:
        return ("ValueError", str(exc))
    except BaseException as exc:
        if isinstance(exc, (Exception, KeyboardInterrupt, SystemExit, GeneratorExit)):
            raise
        # The module's internal error derives directly from BaseException.
        assert type(exc).__bases__ == (BaseException,), type(exc).__mro__
        return ("internal", str(exc))


def reference_outcome(fn, *args, **kwargs):
    try:
        return ("ok", fn(*args, **kwargs))
    except ValueError as exc:
        return ("ValueError", str(exc))
    except nw.InvalidUtf8Result:
        return ("internal", INTERNAL_ERROR_MESSAGE)


def assert_same_result(got, want):
    """got from the module, want from the reference: strings equal, score bit-equal."""
    assert type(got) is tuple and len(got) == len(want), got
    assert all(type(s) is str for s in got[:-1]) and type(got[-1]) is float, got
    assert got[:-1] == want[:-1], (got, want)
    assert same_bits(got[-1], want[-1]), (got, want)


def assert_same_outcome(got, want):
    assert got[0] == want[0], (got, want)
    if got[0] == "ok":
        assert_same_result(got[1], want[1])
    else:
        assert got[1] == want[1], (got, want)


def expected_batch(pairs, scaler, kwargs):
    """The reference's outcome of a batch call: engine errors win over undecodable rows,
    which are only found after the last pair."""
    singles = [reference_outcome(pairwise, a, b, scaler=scaler, **kwargs) for a, b in pairs]
    for outcome in singles:
        if outcome[0] == "ValueError":
            return outcome
    if any(outcome[0] == "internal" for outcome in singles):
        return ("internal", INTERNAL_ERROR_MESSAGE)
    return ("ok", [outcome[1] for outcome in singles])


def assert_same_batch(got, want):
    assert got[0] == want[0], (got, want)
    if got[0] != "ok":
        assert got[1] == want[1]
        return
    assert type(got[1]) is list and len(got[1]) == len(want[1])
    for g, w in zip(got[1], want[1]):
        assert_same_result(g, w)


def raised(fn, *args, **kwargs):
    """The exception that fn(*args, **kwargs) raises (failing the test if it returns)."""
    try:
        fn(*args, **kwargs)
    except BaseException as e:  # noqa: BLE001
        return e
    raise AssertionError("no exception raised")


def internal_error_class():
    """The module's internal-error class, which it does not export: the error of a
    three-way grid whose size overflows 64-bit arithmetic."""
    import vorn_rust_native
    return type(raised(vorn_rust_native.needleman_wunsch_3d, *["A" * 2**21] * 3, score_matrix={}))


def fake_numpy(name, **namespace):
    """An instance of a class that poses as one of numpy's (its __module__ is "numpy")."""
    return type(name, (), {"__module__": "numpy", **namespace})()
