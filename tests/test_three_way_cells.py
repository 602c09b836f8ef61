"""The three-way fill's cell types, kernel builds, fill orders and checkpointed traceback
against the reference and against each other.

needleman_wunsch_3d runs on 16- or 32-bit integers when every score is a whole multiple of
one power of two and the values stay within the type, on doubles otherwise; it keeps the
whole grid's pointers or checkpoints of its planes. None of that may change a bit.
VORN_RUST_NATIVE_CELL_TYPE forces a cell type (a forced integer type that cannot compute a
call exactly raises RuntimeError), VORN_RUST_NATIVE_TRACEBACK and
VORN_RUST_NATIVE_CHECKPOINT_INTERVAL force the traceback path and its block length,
VORN_RUST_NATIVE_3D_OUTER the string filled outermost, VORN_RUST_NATIVE_KERNEL the build.
"""

import json
import math
import random
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn
from reference import (UNDER_ASAN, assert_same_outcome, module_outcome, reference_outcome,
                       three_way)
from strategies import KERNELS, require, switches

NOT_EXACT = ("the integer cell type forced by VORN_RUST_NATIVE_CELL_TYPE cannot compute this"
             " call exactly")
CELLS = ["int16", "int32", "", "double"]


def outcome(*seqs, cell="", **kwargs):
    """The module's outcome with a cell type forced; "refused" for a forced integer type that
    cannot compute the call exactly."""
    with switches(cell_type=cell):
        try:
            return module_outcome(vrn.needleman_wunsch_3d, *seqs, **kwargs)
        except RuntimeError as exc:
            assert str(exc) == NOT_EXACT
            return "refused"


# Whole numbers and halves (the integer fills' ground), finer powers of two, values the
# integer fills must refuse, and ties (zeros everywhere).
whole = st.integers(-6, 6).map(float)
fractions = st.integers(-24, 24).map(lambda k: k / 8)
refused = st.sampled_from([-0.0, 0.1, 1.1, math.inf, -math.inf, math.nan, 2.0**-30, 3.0 * 2**40])
exact_scores = st.one_of(whole, whole, fractions, st.just(0.0))
scores = st.one_of(exact_scores, exact_scores, exact_scores, refused)
LETTERS = "ACGT"
matrices = st.one_of(
    st.dictionaries(st.sampled_from(LETTERS), st.dictionaries(st.sampled_from(LETTERS), scores, max_size=4),
                    max_size=4),
    st.just({}))
flags = st.fixed_dictionaries({name: st.booleans() for name in (
    "seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free", "seq3_left_free",
    "seq3_right_free", "enable_gap_close_penalty")})


def strings(n):
    return st.text(alphabet="ACGTacg", max_size=n)


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("cell", CELLS)
@settings(max_examples=60, deadline=None)
@given(s1=strings(5), s2=strings(5), s3=strings(9), matrix=matrices, go=scores, ge=scores,
       ends=flags, outer=st.sampled_from(["", "seq1", "seq2", "seq3"]))
def test_each_cell_type_kernel_and_order_matches_reference(kernel, cell, s1, s2, s3, matrix, go, ge,
                                                           ends, outer):
    require(kernel)
    kwargs = dict(ends, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with switches(kernel=kernel, **{"3d_outer": outer}):
        got = outcome(s1, s2, s3, cell=cell, **kwargs)
    want = reference_outcome(three_way, s1, s2, s3, **kwargs)
    if got == "refused":  # a score the integers cannot hold exactly: the automatic choice agrees
        with switches(kernel=kernel):
            got = outcome(s1, s2, s3, **kwargs)
    assert_same_outcome(got, want)


@pytest.mark.parametrize("value", [0.1, -0.0, math.inf, math.nan, 2.0**-25, 3.0 * 2**40])
@pytest.mark.parametrize("where", ["pair", "gap_open", "gap_extend"])
def test_forced_integer_types_refuse_inexact_scores(value, where):
    kwargs = dict(score_matrix={"A": {"A": 1.0, "C": -1.0}}, gap_open=-4.0, gap_extend=-1.0,
                  enable_gap_close_penalty=False)
    if where == "pair":
        kwargs["score_matrix"] = {"A": {"A": 1.0, "C": value}}
    else:
        kwargs[where] = value
    seqs = ("AACA", "ACA", "CA")
    for cell in ("int16", "int32"):
        assert outcome(*seqs, cell=cell, **kwargs) == "refused"
    want = reference_outcome(three_way, *seqs, **kwargs)
    assert_same_outcome(outcome(*seqs, **kwargs), want)
    assert_same_outcome(outcome(*seqs, cell="double", **kwargs), want)


def test_a_pair_that_never_meets_does_not_decide():
    # Only pairs of bytes that occur count: a fractional score of absent letters leaves the
    # integers exact.
    kwargs = dict(score_matrix={"A": {"A": 2.0, "G": 0.1}, "G": {"G": 0.3}})
    got = outcome("AAC", "ACA", "CAA", cell="int16", **kwargs)
    assert_same_outcome(got, reference_outcome(three_way, "AAC", "ACA", "CAA", **kwargs))


# Cases whose values grow with n until a cell type can no longer hold them: the upper bound
# (large pair scores along three equal strings) and the lower bound (one long gap).
EDGE_CASES = {
    "upper": lambda n, big: (("A" * n, "A" * n, "A" * n), dict(score_matrix={"A": {"A": big}})),
    "lower": lambda n, big: (("A" * n, "", "C"), dict(score_matrix={}, gap_open=-big, gap_extend=-big,
                                                      enable_gap_close_penalty=False)),
    "mixed": lambda n, big: (("AC" * n, "CA" * n, "G"), dict(score_matrix={"A": {"C": -big, "A": big}},
                                                             gap_open=-big / 2, gap_extend=-big / 4)),
}


@pytest.mark.parametrize("case, cell, big", [
    ("upper", "int16", 100.0), ("lower", "int16", 50.0), ("mixed", "int16", 64.0),
    ("upper", "int32", 2.0**23), ("lower", "int32", 2.0**21), ("mixed", "int32", 2.0**22)])
def test_values_at_the_edge_of_each_integer_type(case, cell, big):
    # The longest strings the forced type still admits compute the reference's bits; one
    # character more is refused, and the automatic choice still agrees with the reference.
    make = EDGE_CASES[case]
    n = 0
    while outcome(*make(n + 1, big)[0], cell=cell, **make(n + 1, big)[1]) != "refused":
        n += 1
        assert n < 200, "the bound never refused"
    assert n >= 1
    for length, fits in ((n, True), (n + 1, False)):
        seqs, kwargs = make(length, big)
        forced = outcome(*seqs, cell=cell, **kwargs)
        assert (forced != "refused") == fits
        want = reference_outcome(three_way, *seqs, **kwargs)
        if fits:
            assert_same_outcome(forced, want)
        assert_same_outcome(outcome(*seqs, **kwargs), want)


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=40, deadline=None)
@given(s1=strings(6), s2=strings(6), s3=strings(6), matrix=matrices, go=exact_scores, ge=exact_scores,
       ends=flags, interval=st.integers(1, 5), outer=st.sampled_from(["", "seq1", "seq2", "seq3"]),
       cell=st.sampled_from(CELLS))
def test_checkpoints_match_the_whole_grid_and_reference(kernel, s1, s2, s3, matrix, go, ge, ends, interval,
                                                        outer, cell):
    require(kernel)
    kwargs = dict(ends, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with switches(kernel=kernel, **{"3d_outer": outer}):
        with switches(traceback="full"):
            full = outcome(s1, s2, s3, cell=cell, **kwargs)
        with switches(traceback="checkpoint", checkpoint_interval=str(interval)):
            blocks = outcome(s1, s2, s3, cell=cell, **kwargs)
    assert (blocks == "refused") == (full == "refused")
    if full != "refused":
        assert_same_outcome(blocks, full)
        assert_same_outcome(full, reference_outcome(three_way, s1, s2, s3, **kwargs))


M = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
INEXACT = {a: {b: (1.1 if a == b else -0.9) for b in "ACGT"} for a in "ACGT"}


def random_text(rng, n):
    return "".join(rng.choice("ACGT") for _ in range(n))


# Long thin triples in every order of their lengths, block lengths that divide the outer
# string's coordinates evenly and not, and block length 1.
THIN = [(3, 5, 700), (700, 4, 2), (6, 600, 5), (0, 0, 900), (1, 800, 0), (40, 40, 300)]


@pytest.mark.parametrize("lengths", THIN, ids=lambda x: "x".join(map(str, x)))
@pytest.mark.parametrize("matrix", [M, INEXACT], ids=["integer", "double"])
def test_long_thin_triples_match_the_whole_grid(lengths, matrix):
    rng = random.Random(sum(lengths))
    seqs = [random_text(rng, n) for n in lengths]
    kwargs = dict(score_matrix=matrix, seq2_left_free=True, seq3_right_free=True)
    with switches(traceback="full"):
        want = vrn.needleman_wunsch_3d(*seqs, **kwargs)
    assert [r.replace("-", "") for r in want[:3]] == seqs
    outer_length = max(lengths) + 1
    for interval in ("1", "2", "7", str(outer_length), str(outer_length - 1), ""):
        for outer in ("", "seq1", "seq3"):
            with switches(traceback="checkpoint", checkpoint_interval=interval, **{"3d_outer": outer}):
                got = vrn.needleman_wunsch_3d(*seqs, **kwargs)
            assert got[:3] == want[:3] and got[3] == want[3], (interval, outer)
    with switches(**{"3d_outer": "seq2"}):
        assert vrn.needleman_wunsch_3d(*seqs, **kwargs) == want


def test_unreachable_end_fails_the_same_way_on_every_path():
    kwargs = dict(score_matrix={}, gap_open=-math.inf, gap_extend=-math.inf)
    want = reference_outcome(three_way, "A", "A", "", **kwargs)
    assert want[0] == "ValueError"
    for traceback in ("full", "checkpoint"):
        for outer in ("seq1", "seq2", "seq3"):
            with switches(traceback=traceback, checkpoint_interval="1", **{"3d_outer": outer}):
                assert outcome("A", "A", "", **kwargs) == want
    assert outcome("A", "A", "", cell="int16", **kwargs) == "refused"


def fake_root(tmp_path, available_kb):
    """A stand-in for /proc with `available_kb` of memory available and no other limit."""
    (tmp_path / "proc" / "self").mkdir(parents=True)
    (tmp_path / "proc" / "meminfo").write_text(
        f"MemTotal: {64 << 20} kB\nMemAvailable: {available_kb} kB\nSwapFree: 0 kB\n")
    (tmp_path / "proc" / "self" / "statm").write_text("1000 100 10 10 0 500 0\n")
    (tmp_path / "proc" / "self" / "cgroup").write_text("\n")
    return str(tmp_path)


def test_checkpoints_when_only_they_fit(tmp_path):
    # 300^3: about 86 MB with the whole grid's pointers, far less with checkpoints.
    rng = random.Random(2)
    seqs = [random_text(rng, 300) for _ in range(3)]
    want = vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
    with switches(memory_root=fake_root(tmp_path, 60_000)):
        assert vrn.needleman_wunsch_3d(*seqs, score_matrix=M) == want
        with switches(traceback="full"), pytest.raises(MemoryError) as e:
            vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
    words = str(e.value).split()
    assert words[:2] == ["needleman_wunsch_3d", "needs"] and words[3] == "MB", str(e.value)
    assert str(e.value).endswith(" for a 301 \u00d7 301 \u00d7 301 grid")
    assert 81 < float(words[2]) < 100  # 3 bytes of pointers per cell and more than 60 MB


def needs_gigabytes(message):
    words = message.split()
    assert words[:2] == ["needleman_wunsch_3d", "needs"] and words[3] == "GB", message
    return float(words[2])


def test_memory_error_names_the_least_a_call_needs(tmp_path):
    # Neither path fits: the error names the checkpoints' need, far below the whole grid's,
    # which a forced whole grid names instead.
    seqs = ["A" * 2000, "C" * 2000, "G" * 2000]
    with switches(memory_root=fake_root(tmp_path, 100_000)):
        with pytest.raises(MemoryError) as least:
            vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
        with switches(traceback="full"), pytest.raises(MemoryError) as full:
            vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
        with switches(traceback="checkpoint"), pytest.raises(MemoryError) as blocks:
            vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
    assert str(least.value) == str(blocks.value)
    assert 0.1 < needs_gigabytes(str(least.value)) < 4 < 24 < needs_gigabytes(str(full.value))


SIGNAL_CHILD = textwrap.dedent("""
    import json, os, random, signal, sys, time
    import vorn_rust_native as vrn
    os.environ["VORN_RUST_NATIVE_TRACEBACK"] = sys.argv[1]
    rng = random.Random(4)
    n = int(sys.argv[2])
    seqs = ["".join(rng.choice("ACGT") for _ in range(n)) for _ in range(3)]
    matrix = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
    def timed():
        start = time.perf_counter()
        result = vrn.needleman_wunsch_3d(*seqs, score_matrix=matrix)
        return result, time.perf_counter() - start
    expected, full = timed()
    full = min(full, timed()[1])
    class Stop(Exception):
        pass
    def stop(signum, frame):
        raise Stop
    signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, full / 10)
    start = time.perf_counter()
    try:
        vrn.needleman_wunsch_3d(*seqs, score_matrix=matrix)
        raised = None
    except Stop:
        raised = "Stop"
    print(json.dumps({"raised": raised, "full": full, "after": time.perf_counter() - start,
                      "again": vrn.needleman_wunsch_3d(*seqs, score_matrix=matrix) == expected}))
""")


@pytest.mark.parametrize("traceback", ["full", "checkpoint"])
def test_signal_stops_each_traceback_path(traceback):
    n = 160 if UNDER_ASAN else 320
    done = subprocess.run([sys.executable, "-c", SIGNAL_CHILD, traceback, str(n)], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert report["raised"] == "Stop"
    assert report["after"] < report["full"] / 2, report
    assert report["again"]
