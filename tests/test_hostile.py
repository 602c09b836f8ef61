"""Hostile inputs: impossible sizes, lying sequences, odd subclasses, odd booleans and many
threads. Each gives a clean result or exception, never a crash or hang. (Score matrices whose
scores raise or change the matrix while it is read are in test_score_table.py.)"""

import sys
import threading

import pytest

import vorn_rust_native as vrn
from reference import fake_numpy, internal_error_class, raised

nw, batch, nw3 = vrn.needleman_wunsch, vrn.needleman_wunsch_batch, vrn.needleman_wunsch_3d
M = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


InternalError = internal_error_class()


def check(e, exc_type, message):
    assert type(e) is exc_type, repr(e)
    assert str(e) == message


@pytest.mark.parametrize("call, exc_type", [
    (lambda: nw("A" * 10**7, "C" * 10**7, score_matrix=M), MemoryError),
    (lambda: batch([("A", "A"), ("A" * 10**7, "C" * 10**7)], score_matrix=M), MemoryError),
    (lambda: nw3(*["A" * 2**21] * 3, score_matrix=M), InternalError),  # 56 * (2**21 + 1)**3 > 2**64
    (lambda: nw3("A" * 2**22, "A" * 2**22, "A" * 2**10, score_matrix=M), MemoryError),
], ids=["pairwise", "batch", "3d-overflow", "3d-unallocatable"])
def test_grids_that_cannot_exist(env, call, exc_type, capfd):
    # Without the band of diagonals, which would prove these alignments in little memory.
    with env(VORN_RUST_NATIVE_DIAGONAL_BAND="off"):
        e = raised(call)
    if exc_type is InternalError:
        check(e, InternalError, "capacity overflow")
        assert InternalError.__bases__ == (BaseException,) and "capacity overflow" in capfd.readouterr().err
    assert type(e) is exc_type
    assert nw3("A", "A", "A", score_matrix=M)[3] == 6.0  # the module stays usable


# Each caller aligns "A" against "G" (and "C" for the three-way call) with a matrix.
CALLERS = {
    "nw": lambda m: nw("A", "G", score_matrix=m),
    "batch": lambda m: batch([("A", "G")], score_matrix=m)[0],
    "3d": lambda m: nw3("A", "G", "C", score_matrix=m),
}


def forbidden(*_args, **_kwargs):
    raise AssertionError("an overridden method was called")


DictSub = type("DictSub", (dict,), dict.fromkeys(
    ["items", "keys", "values", "__iter__", "__getitem__", "__len__", "get", "__contains__"], forbidden))
StrSub = type("StrSub", (str,), dict.fromkeys(
    ["__str__", "encode", "upper", "__len__", "__iter__", "__getitem__"], forbidden))


@pytest.mark.parametrize("caller", CALLERS)
def test_subclasses_are_read_at_the_c_level(caller):
    m = DictSub((StrSub(k), DictSub((StrSub(c), v) for c, v in row.items())) for k, row in M.items())
    assert CALLERS[caller](m) == CALLERS[caller](M)
    assert nw(StrSub("GATTACA"), StrSub("gcatgct"), score_matrix=m) == nw("GATTACA", "GCATGCT", score_matrix=M)
    assert batch([(StrSub("ACGT"), StrSub("AGT"))], score_matrix=m) == batch([("ACGT", "AGT")], score_matrix=M)
    assert nw3(StrSub("ACG"), StrSub("AG"), StrSub("CG"), score_matrix=m) == nw3("ACG", "AG", "CG", score_matrix=M)


@pytest.mark.parametrize("call", [
    lambda: nw("A\ud800", "A", score_matrix={}),
    lambda: nw("A", "A\ud800", score_matrix={}),
    lambda: nw3("A", "A", "A\ud800", score_matrix={}),
    lambda: batch([("AC", "AC"), ("A\ud800", "A")], score_matrix={}),
    lambda: batch([("AC", "A\ud800")], score_matrix={}),
    lambda: nw("A", "A", score_matrix={"A\ud800": {}}),
    lambda: nw3("A", "A", "A", score_matrix={"A": {"A\ud800": 1.0}}),
], ids=["seq1", "seq2", "seq3", "pair-first", "pair-second", "outer-key", "inner-key"])
def test_lone_surrogates(call):
    check(raised(call), UnicodeEncodeError, str(raised(str.encode, "A\ud800")))


def test_long_non_ascii_strings(capfd):
    text = "é€😀" * 220  # 2 + 3 + 4 bytes a character
    assert nw(text, text, score_matrix=M) == (text, text, 0.0)
    assert batch([(text, text)] * 2, score_matrix=M) == [(text, text, 0.0)] * 2
    assert nw("é" * 10**5, "", score_matrix=M, seq2_left_free=True, seq2_right_free=True) == (
        "é" * 10**5, "-" * (2 * 10**5), 0.0)
    assert nw3("日本" * 4, "日本" * 4, "日本" * 4, score_matrix=M) == ("日本" * 4,) * 3 + (0.0,)
    # A gap between the bytes of one character: the three-way row becomes "", the
    # pairwise functions raise the internal error.
    split = dict(score_matrix={}, gap_open=5.0, gap_extend=0.0, enable_gap_close_penalty=False)
    assert nw3("€" * 2, "e", "", **split)[0] == ""
    for call in (lambda: nw("€" * 2, "e", **split), lambda: batch([("A", "A"), ("é", "e")], **split)):
        check(raised(call), InternalError, "Python API call failed")
        assert "UnicodeDecodeError" in capfd.readouterr().err


def fail_with(exc):
    def method(_self):
        raise exc
    return method


FLAG_CALLS = {  # a call with the flag under test, and the flag's name
    "nw": (lambda f: nw("A", "A", score_matrix={}, seq2_right_free=f), "seq2_right_free"),
    "batch": (lambda f: batch([], score_matrix={}, seq1_left_free=f), "seq1_left_free"),
    "3d": (lambda f: nw3("A", "A", "A", score_matrix={}, seq3_right_free=f), "seq3_right_free"),
    "scaler": (lambda f: vrn.RustScoreScaler()(0, 0, 0, 0, False, False, False, f), "seq2_right_free"),
}
BOOM = ValueError("boom")


@pytest.mark.parametrize("caller", FLAG_CALLS)
@pytest.mark.parametrize("attrs, outcome", [
    (dict(__bool__=lambda s: 1), "'int' object cannot be converted to 'PyBool'"),
    (dict(__bool__=lambda s: None), "'NoneType' object cannot be converted to 'PyBool'"),
    (dict(__bool__=fail_with(TypeError("no bool"))), "no bool"),
    (dict(__bool__=5), "'int' object is not callable"),
    ({}, "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (dict(__bool__=fail_with(BOOM)), BOOM),
    (dict(__bool__=lambda s: True), None),
    (dict(__name__="bool", __bool__=lambda s: False), None),
])
def test_fake_numpy_booleans(caller, attrs, outcome):
    call, name = FLAG_CALLS[caller]
    flag = fake_numpy("bool_", **attrs)
    if outcome is None:
        call(flag)
    elif outcome is BOOM:
        assert raised(call, flag) is BOOM
    else:
        check(raised(call, flag), TypeError, f"argument '{name}': {outcome}")


PAIRS = [("ACGT", "AGT"), ("A", ""), ("GATTACA", "GCATGCT"), ("", ""), ("TT", "T")] * 3


class LyingSequence:
    """A sequence whose __len__ returns `length` (or raises it) and whose item 3 may raise it."""

    def __init__(self, length, fail=False):
        self.length, self.fail = length, fail

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        if self.fail and i == 3:
            raise self.length
        return PAIRS[i]


@pytest.mark.parametrize("length, fail", [(n, False) for n in (sys.maxsize, 2**100, -1, -(2**100), 0, 1, "five")] + [
    (ValueError("len"), False), (RuntimeError("mid"), True), (TypeError("mid"), True), (KeyboardInterrupt(), True)])
def test_seq_pairs_lying_about_length_or_failing_midway(length, fail):
    if not fail:  # the reported length only reserves room
        assert batch(LyingSequence(length), score_matrix=M) == batch(PAIRS, score_matrix=M)
    elif type(length) is TypeError:
        check(raised(batch, LyingSequence(length, fail), score_matrix=M), TypeError, "argument 'seq_pairs': mid")
    else:
        assert raised(batch, LyingSequence(length, fail), score_matrix=M) is length


def test_many_threads_share_arguments():
    scaler = vrn.make_rust_score_scaler(1.0, 2.0)
    long1, long2 = "GATTACA" * 22, "GCATGCT" * 21  # grids large enough to run without the lock
    calls = [
        lambda: nw(long1, long2, score_matrix=M, seq1_left_free=True, score_scaler_fn=scaler),
        lambda: nw("é" + long1[:40], long2[:30], score_matrix=M),
        lambda: batch([(long1, long2), (long2, long1[:50])], score_matrix=M, score_scaler_fn=scaler),
        lambda: nw3(long1[:30], long2[:30], long1[5:35], score_matrix=M, seq2_left_free=True),
        lambda: scaler(1, 2, 3, 4, True, True, True, True),
        lambda: vrn.make_rust_score_scaler(0.5, 3.0)(0, 1, 2, 3, True, False, True, False),
        lambda: str(raised(nw, "A", "AC", score_matrix=M, gap_open=-float("inf"))),
    ]
    start, results = threading.Barrier(8), []
    threads = [threading.Thread(target=lambda: (start.wait(), results.append([[c() for c in calls] for _ in range(3)])))
               for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [[[c() for c in calls]] * 3] * 8
