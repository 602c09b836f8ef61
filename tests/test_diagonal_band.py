"""The band of diagonals: the pairwise fill restricted to diagonals near the main one, widened
until its score provably beats every path that leaves it, must give the whole grid's strings
and score bits. VORN_RUST_NATIVE_DIAGONAL_BAND=off fills the whole grid; a whole number forces
the first half-width (so that narrow bands and many widenings run on small inputs)."""

import random
import signal
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn
from reference import assert_same_outcome, module_outcome, pairwise, reference_outcome
from strategies import KERNELS, environment, pair_flags, pinned, require

BAND = "VORN_RUST_NATIVE_DIAGONAL_BAND"
DNA = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


def mutated(rng, s, changes, letters="ACGT"):
    """s with `changes` random substitutions, insertions and deletions of 1 to 4 letters."""
    s = list(s)
    for _ in range(changes):
        at = rng.randrange(len(s) + 1)
        kind = rng.randrange(3)
        if kind == 0 and at < len(s):
            s[at] = rng.choice(letters)
        elif kind == 1:
            s[at:at] = [rng.choice(letters) for _ in range(rng.randint(1, 4))]
        else:
            del s[at:at + rng.randint(1, 4)]
    return "".join(s)


def outcome(s1, s2, band, **kwargs):
    with environment(**{BAND: band}):
        return module_outcome(vrn.needleman_wunsch, s1, s2, **kwargs)


# Similar pairs (a string and a few changes of it), with scores the integer fills take:
# ties, zero and positive gap scores (where no band can be proven), every end flag.
whole_scores = st.integers(-6, 6).map(float)
gaps = st.one_of(st.integers(-8, 2).map(float), st.integers(-16, 4).map(lambda k: k / 4))
matrices = st.one_of(
    st.just(DNA),
    st.dictionaries(st.sampled_from("ACGT"), st.dictionaries(st.sampled_from("ACGT"), whole_scores,
                                                             max_size=4), max_size=4))


@st.composite
def similar_pairs(draw):
    rng = random.Random(draw(st.integers(0, 2**32)))
    s1 = "".join(rng.choice("ACGT") for _ in range(draw(st.integers(0, 60))))
    return s1, mutated(rng, s1, draw(st.integers(0, 8)))


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("half_width", [1, 3])
@settings(max_examples=120, deadline=None)
@given(pair=similar_pairs(), matrix=matrices, go=gaps, ge=gaps, flags=pair_flags,
       cell=st.sampled_from(["", "int16", "int32"]))
def test_narrow_bands_match_the_whole_grid(kernel, half_width, pair, matrix, go, ge, flags, cell):
    require(kernel)
    s1, s2 = pair
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel), environment(VORN_RUST_NATIVE_CELL_TYPE=cell):
        banded = outcome(s1, s2, half_width, **kwargs)
        whole = outcome(s1, s2, "off", **kwargs)
    assert_same_outcome(banded, whole)
    assert_same_outcome(banded, reference_outcome(pairwise, s1, s2, **kwargs))


@pytest.mark.parametrize("case", ["late-insertion", "late-deletion", "early-insertion", "skewed"])
@pytest.mark.parametrize("half_width", [1, 2, 7])
def test_paths_that_leave_a_narrow_band(case, half_width):
    # The optimal path runs along the main diagonal, then leaves any narrow band for a long
    # indel (near the end or the start), or lies around the diagonal m - n of unequal lengths.
    rng = random.Random(case)
    s1 = "".join(rng.choice("ACGT") for _ in range(300))
    s2 = {"late-insertion": s1[:280] + "G" * 25 + s1[280:],
          "late-deletion": s1[:270] + s1[295:],
          "early-insertion": s1[:10] + "T" * 30 + s1[10:],
          "skewed": mutated(rng, s1[40:], 10)}[case]
    for kwargs in (dict(score_matrix=DNA), dict(score_matrix=DNA, gap_open=-2, gap_extend=-1,
                                                 enable_gap_close_penalty=False)):
        banded = outcome(s1, s2, half_width, **kwargs)
        assert_same_outcome(banded, outcome(s1, s2, "off", **kwargs))
        assert_same_outcome(outcome(s2, s1, half_width, **kwargs), outcome(s2, s1, "off", **kwargs))


def test_automatic_band_on_long_similar_pairs():
    # The band the engine picks itself (grids from about four million cells), against the whole
    # grid, on both cell types and with each kind of change.
    rng = random.Random(3)
    s1 = "".join(rng.choice("ACGT") for _ in range(2500))
    for changes in (0, 10, 60, 400):
        s2 = mutated(rng, s1, changes)
        for kwargs in (dict(score_matrix=DNA), dict(score_matrix={a: {b: 300.0 if a == b else -200.0
                                                                       for b in "ACGT"} for a in "ACGT"},
                                                    gap_open=-900.0, gap_extend=-100.0)):
            assert_same_outcome(outcome(s1, s2, "", **kwargs), outcome(s1, s2, "off", **kwargs))


def test_batch_mixing_banded_and_whole_grid_pairs():
    rng = random.Random(9)
    pairs = []
    for _ in range(4):
        s1 = "".join(rng.choice("ACGT") for _ in range(2200))
        pairs.append((s1, mutated(rng, s1, 20)))                                   # the band
        pairs.append((s1, "".join(rng.choice("ACGT") for _ in range(2100))))     # unrelated
        pairs.append((s1[:200], mutated(rng, s1[:200], 5)))                        # grouped
    rng.shuffle(pairs)
    for threads in ("1", "2"):
        with environment(VORN_RUST_NATIVE_NUM_THREADS=threads):
            with environment(**{BAND: ""}):
                banded = vrn.needleman_wunsch_batch(pairs, score_matrix=DNA, seq2_right_free=True)
            with environment(**{BAND: "off"}):
                whole = vrn.needleman_wunsch_batch(pairs, score_matrix=DNA, seq2_right_free=True)
        assert [(a, b, score.hex()) for a, b, score in banded] == \
               [(a, b, score.hex()) for a, b, score in whole]


@pytest.mark.parametrize("traceback", ["full", "checkpoint"])
def test_band_beside_the_traceback_switches(traceback):
    rng = random.Random(traceback)
    s1 = "".join(rng.choice("ACGT") for _ in range(900))
    s2 = mutated(rng, s1, 30)
    with environment(VORN_RUST_NATIVE_TRACEBACK=traceback, VORN_RUST_NATIVE_CHECKPOINT_INTERVAL=13):
        assert_same_outcome(outcome(s1, s2, 2, score_matrix=DNA), outcome(s1, s2, "off", score_matrix=DNA))


@pytest.mark.parametrize("value", ["0", "-4", "x", "1.5", "OFF"])
def test_unknown_band_values_leave_the_choice_to_the_engine(value):
    s1 = "ACGTTGCA" * 30
    s2 = mutated(random.Random(1), s1, 6)
    assert_same_outcome(outcome(s1, s2, value, score_matrix=DNA), outcome(s1, s2, "off", score_matrix=DNA))


def test_band_fits_where_the_whole_grid_does_not(env, fake_root):
    # 20,000 x 20,000 needs 0.4 GB of pointers on the whole grid and about a hundred MB with
    # checkpoints; a proven band needs a few MB. Under a 60 MB limit only the band runs.
    rng = random.Random(20)
    s1 = "".join(rng.choice("ACGT") for _ in range(20_000))
    s2 = mutated(rng, s1, 100)
    want = outcome(s1, s2, "", score_matrix=DNA)
    with env(VORN_RUST_NATIVE_MEMORY_ROOT=fake_root(available_kb=60_000)):
        assert_same_outcome(outcome(s1, s2, "", score_matrix=DNA), want)
        with pytest.raises(MemoryError):
            with environment(**{BAND: "off"}):
                vrn.needleman_wunsch(s1, s2, score_matrix=DNA)


def test_ctrl_c_during_widening():
    # A band forced to start one diagonal wide around an unrelated pair widens a dozen times;
    # a signal whose handler raises stops it, and the module keeps working.
    script = textwrap.dedent("""
        import os, random, signal, time
        os.environ["VORN_RUST_NATIVE_DIAGONAL_BAND"] = "1"
        import vorn_rust_native as vrn
        rng = random.Random(4)
        a = "".join(rng.choice("ACGT") for _ in range(9000))
        b = "".join(rng.choice("ACGT") for _ in range(9000))
        M = {x: {y: 1.0 if x == y else -1.0 for y in "ACGT"} for x in "ACGT"}
        def stop(*_):
            raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, stop)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        start = time.monotonic()
        try:
            vrn.needleman_wunsch(a, b, score_matrix=M)
            print("finished")
        except KeyboardInterrupt:
            print("stopped", time.monotonic() - start < 5)
        print(vrn.needleman_wunsch("ACGT", "AGT", score_matrix=M)[2])
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    lines = done.stdout.split()
    assert lines[0] in ("stopped", "finished") and lines[-1] == "-2.0"
    if lines[0] == "stopped":
        assert lines[1] == "True"
