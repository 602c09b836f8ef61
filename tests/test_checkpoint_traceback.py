"""The checkpointed pairwise traceback against the whole-grid one and the reference.

The checkpointed path keeps scores at every k-th anti-diagonal and fills each block of
k diagonals again during the traceback; it must give the very same strings, score bits,
ties and errors as the path that keeps every pointer. The environment switches force a
path and a block length; the memory tests run in subprocesses under an address-space cap.
"""

import os
import random
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn
from reference import (UNDER_ASAN, assert_same_batch, assert_same_outcome, module_outcome, pairwise,
                       reference_outcome)
from strategies import (KERNELS, environment, gap_scores, module_kwargs, pair_flags, pinned, require,
                        scalers, score_matrices, sequences)

PATH = "VORN_RUST_NATIVE_TRACEBACK"
INTERVAL = "VORN_RUST_NATIVE_CHECKPOINT_INTERVAL"
DNA = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


def forced(fn, *args, path, interval=0, **kwargs):
    with environment(**{PATH: path, INTERVAL: interval}):
        return module_outcome(fn, *args, **kwargs)


def assert_paths_agree(s1, s2, intervals, **kwargs):
    """Every interval on the checkpointed path gives the whole-grid outcome, bit for bit."""
    full = forced(vrn.needleman_wunsch, s1, s2, path="full", **kwargs)
    for k in intervals:
        assert_same_outcome(forced(vrn.needleman_wunsch, s1, s2, path="checkpoint", interval=k, **kwargs), full)
    return full


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=60, deadline=None)
@given(s1=sequences(24), s2=sequences(24), matrix=score_matrices, go=gap_scores, ge=gap_scores,
       flags=pair_flags, scaler=scalers, k=st.integers(1, 60))
def test_checkpointed_matches_full_and_reference(kernel, s1, s2, matrix, go, ge, flags, scaler, k):
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        full = assert_paths_agree(s1, s2, [k, 1], **module_kwargs(kwargs, scaler))
    assert_same_outcome(full, reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs))


def boundary_intervals(n, m):
    """Block lengths whose edges fall on the first and last rows and columns, the
    free-end columns next to them, the last diagonal, and past the grid."""
    d = n + m
    return sorted({k for k in (1, 2, 3, n - 1, n, n + 1, m - 1, m, m + 1, d - 1, d, d + 7) if k >= 1})


MEDIUM = [(97, 61), (61, 97), (130, 130), (1, 150), (150, 1), (0, 40), (40, 0)]


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("n,m", MEDIUM)
@pytest.mark.parametrize("scaled", [False, True])
def test_block_edges_on_grid_edges(kernel, n, m, scaled):
    require(kernel)
    rng = random.Random(n * 1000 + m)
    s1 = "".join(rng.choice("ACGT") for _ in range(n))
    s2 = "".join(rng.choice("ACGT") for _ in range(m))
    kwargs = dict(score_matrix=DNA, gap_open=-3.0, gap_extend=-0.5, seq1_left_free=True, seq2_right_free=True)
    if scaled:
        kwargs["score_scaler_fn"] = vrn.make_rust_score_scaler(1.0, 2.0)
    with pinned(kernel):
        assert_paths_agree(s1, s2, boundary_intervals(n, m), **kwargs)


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("scaled", [False, True])
def test_default_interval_on_a_larger_pair(kernel, scaled):
    require(kernel)
    # Interval 0 leaves the block length to the engine (several blocks at this size).
    rng = random.Random(7)
    s1 = "".join(rng.choice("ACGT") for _ in range(1500))
    s2 = "".join(rng.choice("ACGT") for _ in range(1100))
    kwargs = dict(score_matrix=DNA, seq2_left_free=True, seq1_right_free=True)
    if scaled:
        kwargs["score_scaler_fn"] = vrn.make_rust_score_scaler(1.5, 1.0)
    with pinned(kernel):
        assert_paths_agree(s1, s2, [0, 257], **kwargs)


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("k", [1, 2, 5, 9, 16, 33])
def test_gap_across_block_edges(kernel, k):
    require(kernel)
    # A 40-column gap in the middle crosses many block edges; the closing term at its
    # end and the tie between equal placements must come out as on the whole grid.
    left, right = "ACGTTGCA" * 4, "TTGACCAG" * 4
    s1, s2 = left + "A" * 40 + right, left + right
    scaler = vrn.make_rust_score_scaler(0.5, 3.0)
    for extra in ({}, {"score_scaler_fn": scaler}, {"enable_gap_close_penalty": False}):
        with pinned(kernel):
            full = assert_paths_agree(s1, s2, [k], score_matrix=DNA, **extra)
            assert_paths_agree(s2, s1, [k], score_matrix=DNA, **extra)
        assert full[0] == "ok" and "-" * 40 in full[1][1]


def test_unreachable_end_is_the_same_error():
    kwargs = dict(score_matrix=DNA, gap_open=float("-inf"))
    full = assert_paths_agree("ACGT", "AC", [1, 2, 100], **kwargs)
    assert full == ("ValueError", "unset pointer encountered during traceback")


@settings(max_examples=30, deadline=None)
@given(pairs=st.lists(st.tuples(sequences(20), sequences(20)), max_size=5), matrix=score_matrices,
       go=gap_scores, ge=gap_scores, flags=pair_flags, scaler=scalers, k=st.integers(1, 12))
def test_batch_checkpointed_matches_full(pairs, matrix, go, ge, flags, scaler, k):
    kwargs = module_kwargs(dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge), scaler)
    full = forced(vrn.needleman_wunsch_batch, pairs, path="full", **kwargs)
    assert_same_batch(forced(vrn.needleman_wunsch_batch, pairs, path="checkpoint", interval=k, **kwargs), full)


CAPPED = textwrap.dedent("""
    import os, resource, sys
    import vorn_rust_native as vrn
    args = sys.argv[1:]
    mode, extra_mb = args[0], int(args[1])
    shapes = [tuple(int(x) for x in s.split("x")) for s in args[2:]]
    inputs = []
    for n, m in shapes:
        a = ("ACGT" * (n // 4 + 1))[:n]
        b = ("TGCA" * (m // 4 + 1))[:m]
        inputs.append((a, b))
    dna = {x: {y: (2.0 if x == y else -1.0) for y in "ACGT"} for x in "ACGT"}
    if mode == "capped":
        size = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        cap = size + extra_mb * 2**20
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    for a, b in inputs:
        try:
            r = vrn.needleman_wunsch(a, b, score_matrix=dna, seq1_right_free=True)
            print(repr(r[2]), hash(r[0]), hash(r[1]))
        except MemoryError:
            print("MemoryError")
""")


def run_capped(mode, extra_mb, *shapes, env=None):
    out = subprocess.run([sys.executable, "-c", CAPPED, mode, str(extra_mb)] + [f"{n}x{m}" for n, m in shapes],
                         capture_output=True, text=True, timeout=300,
                         env=dict(os.environ, PYTHONHASHSEED="0", **(env or {})))
    assert out.returncode == 0, out.stderr
    return out.stdout.splitlines()


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves terabytes of address space,"
                    " so an address-space limit cannot be set for it")
def test_long_thin_grids_cost_the_same_both_ways():
    # The old per-diagonal arrays were sized by seq1: 9 x 3e6 doubles (216 MB) for
    # (3e6, 1), on top of about 130 MB that both orientations need.
    shapes = [(3_000_000, 1), (1, 3_000_000)]
    want = run_capped("free", 0, *shapes)
    assert "MemoryError" not in want
    assert run_capped("capped", 200, *shapes) == want


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves terabytes of address space,"
                    " so an address-space limit cannot be set for it")
def test_automatic_path_falls_back_to_checkpoints_under_a_cap():
    # 4000 x 4000 needs 16 MB of pointers on the whole grid and a few MB with checkpoints;
    # 9000 x 9000 needs 81 MB, more than the cap allows.
    shapes = [(4000, 4000), (9000, 9000)]
    full = run_capped("free", 0, *shapes, env={PATH: "full"})
    assert run_capped("capped", 60, *shapes) == full
    assert run_capped("capped", 60, *shapes, env={PATH: "full"}) == [full[0], "MemoryError"]
