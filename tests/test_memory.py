"""Working memory: the three-way fill orders, admission against the process's limits
(faked through a directory that stands in for /proc and /sys), and MemoryError texts."""

import re
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings

import vorn_rust_native as vrn
from reference import UNDER_ASAN, assert_same_outcome, module_outcome, reference_outcome, three_way
from strategies import environment, gap_scores, score_matrices, sequences, three_way_flags

M = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


@pytest.mark.parametrize("outer", ["seq1", "seq2", "seq3"])
@settings(max_examples=150, deadline=None)
@given(s1=sequences(7), s2=sequences(7), s3=sequences(12), matrix=score_matrices, go=gap_scores,
       ge=gap_scores, flags=three_way_flags)
def test_three_way_fill_orders_match_reference(outer, s1, s2, s3, matrix, go, ge, flags):
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with environment(VORN_RUST_NATIVE_3D_OUTER=outer):
        got = module_outcome(vrn.needleman_wunsch_3d, s1, s2, s3, **kwargs)
    assert_same_outcome(got, reference_outcome(three_way, s1, s2, s3, **kwargs))


limited = pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves terabytes of address space,"
                             " so an address-space limit cannot be set for it")


def run(script, limit_bytes=None):
    """Runs `script` in a subprocess, under an address-space limit above what it has at start."""
    prelude = "import resource, vorn_rust_native as vrn\n"
    prelude += f"M = {M!r}\n"
    if limit_bytes is not None:
        prelude += textwrap.dedent(f"""
            size = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (size + {limit_bytes}, resource.RLIM_INFINITY))
        """)
    done = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script)], capture_output=True,
                          text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout


THIN = ["('', 'A' * 2_000_000, '')", "('', '', 'A' * 2_000_000)", "('A' * 2_000_000, '', '')",
        "('AC' * 500_000, '', 'G')", "('', 'G', 'AC' * 500_000)"]


@limited
@pytest.mark.parametrize("lengths", THIN)
def test_thin_three_way_grids_fit_the_same_cap(lengths):
    # 3 bytes of pointers per cell, 2,000,001 cells; the planes must stay small.
    out = run(f"""
        seqs = {lengths}
        rows = vrn.needleman_wunsch_3d(*seqs, score_matrix=M)
        assert [r.replace('-', '') for r in rows[:3]] == list(seqs)
        print(rows[3])
    """, limit_bytes=120 << 20)
    assert float(out) <= 0.0


@limited
def test_twenty_thousand_squared_fits_in_one_and_a_half_gigabytes():
    out = run("""
        import random
        rng = random.Random(5)
        a = ''.join(rng.choice('ACGT') for _ in range(20_000))
        b = ''.join(rng.choice('ACGT') for _ in range(20_000))
        r = vrn.needleman_wunsch(a, b, score_matrix=M)
        assert r[0].replace('-', '') == a
        print('ok')
    """, limit_bytes=1500 << 20)
    assert out.strip() == "ok"


# A 10,000 x 10,000 pairwise call needs about 120 MB with the whole grid and about 40 MB
# with checkpoints; the fake limits decide which runs, or that neither can.
@pytest.mark.parametrize("limits, fits", [
    (dict(available_kb=20_000), False),
    (dict(available_kb=60_000), True),
    (dict(available_kb=500_000), True),
    (dict(cgroup=(400_000_000, 390_000_000)), False),
    (dict(cgroup=(400_000_000, 330_000_000)), True),
    (dict(cgroup=(400_000_000, 100_000_000)), True),
    (dict(cgroup=("max", 0)), True),
    (dict(cgroup_v1=(300_000_000, 290_000_000)), False),
    (dict(cgroup_v1=(300_000_000, 10_000_000)), True),
], ids=["available-low", "available-checkpoints", "available-high", "cgroup-full", "cgroup-checkpoints",
        "cgroup-room", "cgroup-max", "cgroup-v1-full", "cgroup-v1-room"])
def test_admission_follows_the_limits(env, fake_root, limits, fits):
    a, b = "ACGT" * 2500, "AGCT" * 2500
    expected = vrn.needleman_wunsch(a, b, score_matrix=M)
    with env(VORN_RUST_NATIVE_MEMORY_ROOT=fake_root(**limits)):
        if fits:
            assert vrn.needleman_wunsch(a, b, score_matrix=M) == expected
        else:
            with pytest.raises(MemoryError) as e:
                vrn.needleman_wunsch(a, b, score_matrix=M)
            assert re.fullmatch("needleman_wunsch needs [0-9]+[.][0-9] MB for a 10001 \u00d7 10001 grid",
                                str(e.value))
    assert vrn.needleman_wunsch(a, b, score_matrix=M) == expected


@pytest.mark.parametrize("call, message", [
    (lambda: vrn.needleman_wunsch("A" * 200_000, "C" * 200_000, score_matrix=M),
     "needleman_wunsch needs 1.8 GB for a 200001 \u00d7 200001 grid"),
    (lambda: vrn.needleman_wunsch_batch([("A", "C"), ("A" * 200_000, "C" * 200_000)], score_matrix=M),
     "needleman_wunsch_batch needs 1.8 GB for pair 1, a 200001 \u00d7 200001 grid"),
    (lambda: vrn.needleman_wunsch_3d("A" * 3000, "C" * 3000, "G" * 3000, score_matrix=M),
     "needleman_wunsch_3d needs 9.3 GB for a 3001 \u00d7 3001 \u00d7 3001 grid"),
], ids=["pairwise", "batch", "3d"])
def test_memory_error_names_the_size(env, fake_root, call, message):
    # The whole grid's figures: the band of diagonals, off here, would align these pairs of
    # repeated letters in a few MB (see test_diagonal_band.py).
    with env(VORN_RUST_NATIVE_MEMORY_ROOT=fake_root(available_kb=1 << 20),
             VORN_RUST_NATIVE_DIAGONAL_BAND="off"):
        with pytest.raises(MemoryError) as e:
            call()
    assert str(e.value) == message


# Limits read from the files past 64 bits saturate instead of wrapping to a tiny figure, and a
# cgroup path without a leading separator still names a directory below the mount.
@pytest.mark.parametrize("meminfo, cgroup_line, fits", [
    (f"MemTotal: {(1 << 54) + 1} kB\nMemAvailable: {1 << 40} kB\nSwapFree: 0 kB\n", None, True),
    (f"MemTotal: {1 << 30} kB\nMemAvailable: {1 << 53} kB\nSwapFree: {1 << 53} kB\n", None, True),
    (f"MemTotal: {1 << 30} kB\nMemAvailable: {1 << 30} kB\nSwapFree: 0 kB\n", "0::abc", False),
    (f"MemTotal: {1 << 30} kB\nMemAvailable: {1 << 30} kB\nSwapFree: 0 kB\n", "0::/x/../abc/", False),
], ids=["total-past-64-bits", "available-and-swap-past-64-bits", "cgroup-relative", "cgroup-dot-dot"])
def test_limit_files_parsed_safely(env, tmp_path, meminfo, cgroup_line, fits):
    (tmp_path / "proc" / "self").mkdir(parents=True)
    (tmp_path / "proc" / "meminfo").write_text(meminfo)
    (tmp_path / "proc" / "self" / "statm").write_text("1000 100 10 10 0 500 0\n")
    (tmp_path / "proc" / "self" / "cgroup").write_text((cgroup_line or "") + "\n")
    group = tmp_path / "sys" / "fs" / "cgroup" / "abc"
    group.mkdir(parents=True)
    (group / "memory.max").write_text("10000000\n")
    (group / "memory.current").write_text("0\n")
    a, b = "ACGT" * 2500, "AGCT" * 2500
    with env(VORN_RUST_NATIVE_MEMORY_ROOT=tmp_path):
        if fits:
            assert vrn.needleman_wunsch(a, b, score_matrix=M)[0].replace("-", "") == a
        else:
            with pytest.raises(MemoryError):
                vrn.needleman_wunsch(a, b, score_matrix=M)
