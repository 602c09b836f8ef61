"""Side-by-side benchmark of vorn_rust_native against Biopython, parasail and plain-layout C++.

    python bench/run.py           full run (a few minutes on 2 cores); writes bench/RESULTS.md
                                  and bench/cells_per_second.png
    python bench/run.py --quick   smoke run on small sizes; writes its files to a temporary folder
    python bench/run.py --long 50000 100000
                                  adds long pairs (minutes each): the whole-grid traceback against
                                  the checkpointed one under an address-space cap, side by side

Every figure is the best of a few repeats, with each batch call on one thread (the threads
rows run the calls on threads of their own; bench/parallel.py times the batch's own threads).
Peak memory is measured in a fresh subprocess per
(subject, size) as the growth of ru_maxrss over a baseline taken after the inputs exist.
"""

import argparse
import contextlib
import datetime
import json
import multiprocessing
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import timeit

import vorn_rust_native as vrn
from blosum62 import AMINO, BLOSUM62

try:
    from Bio.Align import PairwiseAligner
except ImportError:
    PairwiseAligner = None
try:
    import parasail
except ImportError:
    parasail = None

HERE = os.path.dirname(os.path.abspath(__file__))
KERNEL_ENV = "VORN_RUST_NATIVE_KERNEL"
CELL_ENV = "VORN_RUST_NATIVE_CELL_TYPE"
THREADS_ENV = "VORN_RUST_NATIVE_NUM_THREADS"
DNA = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
SCALER = vrn.make_rust_score_scaler(1.0, 1.0)
MASK = (1 << 64) - 1
QUADS = ["".join("ACGT"[(byte >> (2 * k)) & 3] for k in range(4)) for byte in range(256)]


def dna(n, seed, index=0):
    """Random DNA from splitmix64, 32 bases per word, lowest bits first (as the C++ baselines)."""
    state = (seed ^ (index * 0xD1B54A32D192ED03)) & MASK
    parts = []
    for _ in range((n + 31) // 32):
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = ((state ^ (state >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        z ^= z >> 31
        parts.extend(QUADS[(z >> (8 * k)) & 255] for k in range(8))
    return "".join(parts)[:n]


def make_pairs(count, seed):
    rng = random.Random(seed)
    return [(dna(rng.randint(80, 150), seed * 1_000_003 + k, 0), dna(rng.randint(80, 150), seed * 1_000_003 + k, 1))
            for k in range(count)]


# ---------------------------------------------------------------- subjects (score of one pair)

def vorn_plain(a, b):
    return vrn.needleman_wunsch(a, b, score_matrix=DNA, gap_open=-5.0, gap_extend=-1.0)[2]


def vorn_scaled(a, b):
    return vrn.needleman_wunsch(a, b, score_matrix=DNA, gap_open=-5.0, gap_extend=-1.0, score_scaler_fn=SCALER,
                                seq1_left_free=True, seq2_right_free=True)[2]


def bio_aligner():
    return PairwiseAligner(mode="global", match_score=2.0, mismatch_score=-1.0,
                           open_gap_score=-5.0, extend_gap_score=-1.0)


def bio_align(aligner, a, b):
    alignments = aligner.align(a, b)
    next(iter(alignments))  # the first alignment, so that the traceback is part of the cost
    return alignments.score


def parasail_subject(name):
    fn, matrix = getattr(parasail, name), parasail.matrix_create("ACGT", 2, -1)

    def run(a, b):
        result = fn(a, b, 5, 1, matrix)
        result.traceback  # computes the traceback
        return float(result.score)
    return run


def pairwise_subjects():
    """name -> (function, pinned kernel or None, 'plain' or 'scaled', extra environment)."""
    subjects = {f"module (auto: {AUTO_ISA})": (vorn_plain, None, "plain", {}),
                f"module double cells (auto: {AUTO_ISA})": (vorn_plain, None, "plain", {CELL_ENV: "double"}),
                f"module +scaler (auto: {AUTO_ISA})": (vorn_scaled, None, "scaled", {})}
    for isa in ISAS[:-1]:
        subjects[f"module [{isa}]"] = (vorn_plain, isa, "plain", {})
        subjects[f"module +scaler [{isa}]"] = (vorn_scaled, isa, "scaled", {})
    if PairwiseAligner is not None:
        aligner = bio_aligner()
        subjects["Biopython PairwiseAligner"] = (lambda a, b: bio_align(aligner, a, b), None, "plain", {})
    for name in PARASAIL_TRACE:
        subjects[f"parasail {name}"] = (parasail_subject(name), None, "plain", {})
    return subjects


def cpu_flags():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("flags"):
                return set(line.split(":", 1)[1].split())
    return set()


def available_isas():
    flags, isas = cpu_flags(), ["generic"]
    if "avx2" in flags:
        isas.append("avx2")
    if {"avx512f", "avx512bw", "avx512vl", "avx512dq"} <= flags:
        isas.append("avx512")
    return isas


ISAS = available_isas()
AUTO_ISA = ISAS[-1]


@contextlib.contextmanager
def kernel(isa, extra=None):
    """The kernel build pinned (None: automatic) and other switches set, for the block."""
    values = {KERNEL_ENV: isa, **(extra or {})}
    old = {name: os.environ.pop(name, None) for name in values}
    os.environ.update({name: value for name, value in values.items() if value})
    try:
        yield
    finally:
        for name, value in old.items():
            os.environ.pop(name, None)
            if value is not None:
                os.environ[name] = value


# parasail's global alignments with traceback, 16-bit, 32-bit and saturating (where installed).
PARASAIL_TRACE = [name for name in (f"nw_trace_{v}_{w}" for w in (16, 32, "sat") for v in ("striped", "scan", "diag"))
                  if parasail is not None and hasattr(parasail, name)]


def best_time(fn, repeats, number=1):
    """Best seconds per call over `repeats` samples of `number` calls; also the last result."""
    best, result = float("inf"), None
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(number):
            result = fn()
        best = min(best, (time.perf_counter() - start) / number)
    return best, result


def max_rss_bytes():
    """Peak RSS of this process. ru_maxrss of a child started by fork and exec keeps the parent's
    size as a floor (Linux carries it across execve), so the own high-water mark VmHWM is used
    where /proc has it."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


# ---------------------------------------------------------------- table

ROWS = []


def add(section, subject, setting, result, target=""):
    ROWS.append((section, subject, str(setting), result, target))


def check(value, op, bound, text):
    ok = value >= bound if op == ">=" else value <= bound
    return f"{'≥' if op == '>=' else '≤'} {text}: {'met' if ok else 'MISSED'}"


def mcells(x):
    return f"{x / 1e6:,.1f} M cells/s"


def warn(subject, setting, text):
    add("WARNING", subject, setting, text)


# ---------------------------------------------------------------- C++ baselines

def compile_baselines(tmp):
    compiler = shutil.which("g++")
    if compiler is None:
        return None
    exes = {}
    for name in ("literal_pairwise", "literal_3d"):
        exe = os.path.join(tmp, name)
        cmd = [compiler, "-O2", "-std=c++20", "-ffp-contract=off", "-o", exe, os.path.join(HERE, name + ".cpp")]
        if subprocess.run(cmd, capture_output=True).returncode != 0:
            return None
        exes[name] = exe
    return exes


def run_literal(exe, args, repeats):
    """(score, best seconds, peak RSS growth in bytes of the first run)."""
    best, score, rss = float("inf"), None, None
    for _ in range(repeats):
        out = subprocess.run([exe, *map(str, args)], capture_output=True, text=True, check=True).stdout.split()
        score, best = float(out[0]), min(best, float(out[1]))
        rss = int(out[2]) if rss is None else rss
    return score, best, rss


# ---------------------------------------------------------------- sections

def bench_pairwise(cfg, exes):
    section, subjects, curves, literal_mem = "pairwise", pairwise_subjects(), {}, {}
    for n in cfg.sizes:
        a, b, cells = dna(n, n, 0), dna(n, n, 1), (n + 1) ** 2
        repeats, number = (cfg.reps, max(1, 4_000_000 // cells)) if n <= 1000 else (max(1, cfg.reps - n // 2000), 1)
        reference = {}
        for name, (fn, isa, kind, extra) in subjects.items():
            if n > 8000 and not (isa is None and kind == "plain" and name.startswith("module")):
                continue  # the long sizes show the module's own two paths
            with kernel(isa, extra):
                seconds, score = best_time(lambda: fn(a, b), repeats, number)
            reference.setdefault(kind, score)
            if score != reference[kind]:
                warn(name, f"n={n}", f"score {score!r} differs from the module's {reference[kind]!r}")
            target = ""
            if n == 4000 and isa is None and not extra and name.startswith("module"):
                target = check(cells / seconds, ">=", (500e6 if kind == "plain" else 250e6),
                               "500 M" if kind == "plain" else "250 M")
            add(section, name, f"n=m={n}", mcells(cells / seconds), target)
            curves.setdefault(name, []).append((n, cells / seconds))
        if exes and n <= 8000:
            for kind, extra in (("plain", []), ("scaled", ["scaled"])):
                name = "literal 51 B/cell layout" + (" +scaler" if extra else "")
                score, seconds, rss = run_literal(exes["literal_pairwise"], [n, n, n, *extra],
                                                  min(cfg.reps, 1 if n >= 8000 else 2 if n >= 4000 else 3))
                if score != reference[kind]:
                    warn(name, f"n={n}", f"score {score!r} differs from the module's {reference[kind]!r}")
                add(section, name, f"n=m={n}", mcells(cells / seconds))
                curves.setdefault(name, []).append((n, cells / seconds))
                if kind == "plain":
                    literal_mem[n] = rss / cells
    return curves, literal_mem


def memory_child(kind, size):
    if kind == "module-3d":
        seqs = [dna(size, size, k) for k in range(3)]
        run = lambda: vrn.needleman_wunsch_3d(*seqs, score_matrix=DNA)  # noqa: E731
    else:
        a, b, fn = dna(size, size, 0), dna(size, size, 1), pairwise_subjects()[kind][0]
        run = lambda: fn(a, b)  # noqa: E731
    base = max_rss_bytes()
    run()
    print(json.dumps({"bytes": max_rss_bytes() - base}))


# The address-space cap of the long-sequence rows: the process size before the call plus this.
def long_cap_extra(size):
    return 2**30 if size >= 100_000 else 3 * 2**29


def long_child(kind, size):
    """One long random-DNA pair, automatic path; with kind "long-capped" under RLIMIT_AS."""
    import hashlib
    a, b = dna(size, size, 0), dna(size, size, 1)
    if kind == "long-capped":
        with open("/proc/self/statm") as f:
            vm = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        cap = vm + long_cap_extra(size)
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    base = max_rss_bytes()
    start = time.perf_counter()
    try:
        r = vrn.needleman_wunsch(a, b, score_matrix=DNA)
    except MemoryError:
        print(json.dumps({"error": "MemoryError", "seconds": time.perf_counter() - start}))
        return
    seconds = time.perf_counter() - start
    digest = hashlib.sha256((r[0] + "|" + r[1] + "|" + r[2].hex()).encode()).hexdigest()[:16]
    print(json.dumps({"seconds": seconds, "bytes": max_rss_bytes() - base, "digest": digest}))


def bench_long(cfg):
    section = "long pairs"
    for n in cfg.long_sizes:
        cells = (n + 1) ** 2
        runs = {}
        for kind in ("long-full", "long-capped"):
            cmd = [sys.executable, os.path.abspath(__file__), "--child", kind, str(n)]
            proc = subprocess.run(cmd, capture_output=True, text=True, timeout=3600)
            runs[kind] = json.loads(proc.stdout) if proc.returncode == 0 else {"error": proc.stderr[-200:]}
        full, capped = runs["long-full"], runs["long-capped"]
        cap = f"+{long_cap_extra(n) / 2**30:g} GiB cap"
        for kind, label in (("long-full", "no cap (whole grid)"), ("long-capped", f"{cap} (path chosen by memory)")):
            r = runs[kind]
            if "error" in r:
                add(section, f"module {label}", f"n=m={n}", r["error"])
                continue
            add(section, f"module {label}", f"n=m={n}",
                f"{r['seconds']:.1f} s, {r['bytes'] / cells:.4f} B/cell ({r['bytes'] / 2**20:,.0f} MiB)")
        if "error" not in full and "error" not in capped:
            ratio = capped["seconds"] / full["seconds"]
            same = "same result" if capped["digest"] == full["digest"] else "DIFFERENT RESULT"
            target = check(ratio, "<=", 2.5, "2.5x the uncapped time")
            add(section, "capped / uncapped", f"n=m={n}", f"{ratio:.2f}x time, {same}", target)


def peak_bytes(kind, size):
    cmd = [sys.executable, os.path.abspath(__file__), "--child", kind, str(size)]
    proc = subprocess.run(cmd, capture_output=True, text=True, timeout=600)
    return json.loads(proc.stdout)["bytes"] if proc.returncode == 0 else None


def bench_memory(cfg, literal_mem):
    section = "peak memory"
    kinds = [name for name, (_, isa, _, extra) in pairwise_subjects().items() if isa is None and not extra]
    for n in cfg.mem_sizes + cfg.big_mem_sizes:
        cells = (n + 1) ** 2
        for kind in kinds:
            if n in cfg.big_mem_sizes and not kind.startswith("module"):
                continue
            used = peak_bytes(kind, n)
            if used is None:
                add(section, kind, f"n=m={n}", "subprocess failed")
                continue
            target = check(used / cells, "<=", 1.1, "1.1 B/cell") if kind.startswith("module") else ""
            add(section, kind, f"n=m={n}", f"{used / cells:.3f} B/cell ({used / 2**20:,.0f} MiB)", target)
        if n in literal_mem:
            add(section, "literal 51 B/cell layout", f"n=m={n}", f"{literal_mem[n]:.3f} B/cell")


def bench_batch(cfg):
    section = "batch"
    pairs = make_pairs(cfg.batch_pairs, 1)
    cells = sum((len(a) + 1) * (len(b) + 1) for a, b in pairs)
    setting = f"{len(pairs):,} pairs, 80-150"
    for label, extra in (("one thread", {THREADS_ENV: "1"}), ("default pool", {}),
                         ("one thread, pairs alone", {THREADS_ENV: "1", "VORN_RUST_NATIVE_PAIR_GROUPS": "off"})):
        with kernel(None, extra):
            seconds, results = best_time(lambda: vrn.needleman_wunsch_batch(pairs, score_matrix=DNA), cfg.reps)
        rate = len(pairs) / seconds
        add(section, f"module needleman_wunsch_batch ({label})", setting, f"{rate:,.0f} pairs/s",
            check(rate, ">=", 25000, "25,000") if not extra else "")
        add(section, f"module needleman_wunsch_batch ({label})", setting, mcells(cells / seconds))
    if PairwiseAligner is None:
        return
    aligner = bio_aligner()
    bio_seconds, bio_scores = best_time(lambda: [bio_align(aligner, a, b) for a, b in pairs], min(cfg.reps, 2))
    bio_rate = len(pairs) / bio_seconds
    add(section, "Biopython loop (score + first alignment)", setting, f"{bio_rate:,.0f} pairs/s")
    rate = len(pairs) / best_time(lambda: vrn.needleman_wunsch_batch(pairs, score_matrix=DNA), cfg.reps)[0]
    add(section, "module batch / Biopython loop", setting, f"{rate / bio_rate:.1f}x", check(rate / bio_rate, ">=", 5, "5x"))
    mismatches = sum(r[2] != s for r, s in zip(results, bio_scores))
    if mismatches:
        warn("module batch vs Biopython", setting, f"{mismatches} pair scores differ")


def bench_small(cfg):
    section, a, b = "small call", "ACGTACGTAC", "ACGTTCGAAC"
    best = min(timeit.repeat(lambda: vrn.needleman_wunsch(a, b, score_matrix=DNA), number=cfg.small_number, repeat=7))
    us = best / cfg.small_number * 1e6
    add(section, "module needleman_wunsch", "10 x 10, 4x4 matrix", f"{us:.2f} us/call", check(us, "<=", 5, "5 us"))
    if PairwiseAligner is not None:
        aligner = bio_aligner()
        number = max(1, cfg.small_number // 10)
        best = min(timeit.repeat(lambda: bio_align(aligner, a, b), number=number, repeat=7))
        add(section, "Biopython (score + first alignment)", "10 x 10", f"{best / number * 1e6:.2f} us/call")


def timed_batch(batch):
    start = time.perf_counter()
    vrn.needleman_wunsch_batch(batch, score_matrix=DNA)
    return start, time.perf_counter()


def bench_threads(cfg):
    section = "threads"
    batches = [make_pairs(cfg.thread_pairs, 11), make_pairs(cfg.thread_pairs, 12)]
    work = lambda batch: vrn.needleman_wunsch_batch(batch, score_matrix=DNA)  # noqa: E731

    def two_threads():
        threads = [threading.Thread(target=work, args=(batch,)) for batch in batches]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    with kernel(None, {THREADS_ENV: "1"}):  # each call on its own thread only
        serial, _ = best_time(lambda: [work(batch) for batch in batches], cfg.reps)
        parallel, _ = best_time(two_threads, cfg.reps)
    total, setting = 2 * cfg.thread_pairs, f"2 x {cfg.thread_pairs:,} pairs"
    add(section, "one thread, both batches", setting, f"{total / serial:,.0f} pairs/s")
    add(section, "two threads, one batch each", setting, f"{total / parallel:,.0f} pairs/s")
    add(section, "two threads / one thread", setting, f"{serial / parallel:.2f}x", check(serial / parallel, ">=", 1.8, "1.8x"))
    # What the machine allows at all: the same two batches in two processes (perf_counter is
    # system-wide, so the span runs from the first start to the last end).
    with kernel(None, {THREADS_ENV: "1"}), multiprocessing.get_context("fork").Pool(2) as pool:
        spans = [pool.map(timed_batch, batches) for _ in range(cfg.reps)]
    processes = min(max(end for _, end in span) - min(start for start, _ in span) for span in spans)
    add(section, "two processes / one thread (machine ceiling)", setting, f"{serial / processes:.2f}x")


def bench_three_way(cfg, exes):
    section = "three-way"
    for n in cfg.lengths_3d:
        seqs, cells = [dna(n, n, k) for k in range(3)], (n + 1) ** 3
        setting = f"{n} x {n} x {n}"
        seconds, result = best_time(lambda: vrn.needleman_wunsch_3d(*seqs, score_matrix=DNA), 2 if n >= 150 else cfg.reps)
        add(section, "module needleman_wunsch_3d", setting, mcells(cells / seconds))
        if exes:
            score, lit_seconds, lit_rss = run_literal(exes["literal_3d"], [n, n, n, n], 1 if n >= 150 else 2)
            add(section, "literal 84 B/cell layout", setting, mcells(cells / lit_seconds))
            add(section, "module / literal layout", setting, f"{lit_seconds / seconds:.2f}x",
                check(lit_seconds / seconds, ">=", 4, "4x"))
            if score != result[3]:
                warn("literal 84 B/cell layout", setting, f"score {score!r} differs from the module's {result[3]!r}")
        used = peak_bytes("module-3d", n)
        if used is not None:
            add(section, "module peak memory", setting, f"{used / cells:.3f} B/cell", check(used / cells, "<=", 4, "4 B/cell"))
        if exes:
            add(section, "literal layout peak memory", setting, f"{lit_rss / cells:.3f} B/cell")


def bench_protein(cfg):
    """BLOSUM62 on random protein: the 16-bit cells with the 20 x 20 scores looked up by permutes."""
    section, n = "protein", cfg.protein_length
    rng = random.Random(5)
    a, b = ("".join(rng.choice(AMINO) for _ in range(n)) for _ in range(2))
    cells, setting = (n + 1) ** 2, f"n=m={n}, BLOSUM62, gaps 11/1"
    subjects = {f"module (auto: {AUTO_ISA})": {}, "module double cells": {CELL_ENV: "double"}}
    scores = {}
    for name, extra in subjects.items():
        with kernel(None, extra):
            seconds, r = best_time(lambda: vrn.needleman_wunsch(a, b, score_matrix=BLOSUM62, gap_open=-11.0,
                                                                gap_extend=-1.0), cfg.reps)
        scores[name] = r[2]
        add(section, name, setting, mcells(cells / seconds))
    for name in PARASAIL_TRACE:
        fn = getattr(parasail, name)
        seconds, r = best_time(lambda: fn(a, b, 11, 1, parasail.blosum62), cfg.reps)
        add(section, f"parasail {name}", setting, mcells(cells / seconds))
        if float(r.score) != scores[f"module (auto: {AUTO_ISA})"]:
            warn(f"parasail {name}", setting, f"score {r.score} differs from the module's {scores[f'module (auto: {AUTO_ISA})']}")


def cpu_best(fn, repeats):
    """Best CPU seconds of one call over `repeats` (process time moves less with other load)."""
    best = float("inf")
    for _ in range(repeats):
        start = time.process_time()
        fn()
        best = min(best, time.process_time() - start)
    return best


def bench_peers(cfg):
    """The module against the best of parasail's traceback functions, side by side: each round
    times every subject once, alternating, and each keeps its best round (CPU time)."""
    section = "module vs parasail"
    if parasail is None:
        add(section, "parasail", "-", "skipped: parasail is not installed")
        return
    rng = random.Random(7)
    dna_pm = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
    cases = [("DNA +1/-1, gaps 5/1", "ACGT", dna_pm, parasail.matrix_create("ACGT", 1, -1), 5, 1, cfg.peer_dna),
             ("BLOSUM62, gaps 11/1", AMINO, BLOSUM62, parasail.blosum62, 11, 1, cfg.peer_protein)]
    for label, letters, table, pmatrix, go, ge, sizes in cases:
        for n in sizes:
            a, b = ("".join(rng.choice(letters) for _ in range(n)) for _ in range(2))
            cells = (n + 1) ** 2
            subjects = {"module": lambda: vrn.needleman_wunsch(a, b, score_matrix=table, gap_open=-float(go),
                                                              gap_extend=-float(ge))}
            for name in PARASAIL_TRACE:
                fn = getattr(parasail, name)
                subjects[f"parasail {name}"] = (lambda fn=fn: fn(a, b, go, ge, pmatrix).traceback)
            best = {name: float("inf") for name in subjects}
            for _ in range(cfg.reps):
                for name, fn in subjects.items():
                    best[name] = min(best[name], cpu_best(fn, 1))
            setting = f"n=m={n}, {label}"
            for name, seconds in best.items():
                add(section, name, setting, mcells(cells / seconds))
            peer = min((v, k) for k, v in best.items() if k != "module")
            ratio = peer[0] / best["module"]
            add(section, f"module / best parasail ({peer[1][9:]})", setting, f"{ratio:.2f}x",
                check(ratio, ">=", 1.5, "1.5x"))


def bench_targets(cfg, curves):
    """The targets against a baseline build (e.g. 3937056), side by side: bench/compare.py's
    workloads, alternating between the builds in fresh processes (CPU time)."""
    if not cfg.baseline:
        add("targets", "side by side with a baseline", "-", "skipped: pass --baseline PYTHONPATH")
        return
    import compare
    section, new_path = "targets", os.path.dirname(os.path.abspath(vrn.__file__))
    times = {}
    for work in compare.WORKLOADS:
        old = new = float("inf")
        for _ in range(cfg.rounds):
            old = min(old, compare.measure(cfg.baseline, work))
            new = min(new, compare.measure(new_path, work))
        times[work] = (old, new)
        add(section, f"{work}: baseline / module time", "side by side", f"{old / new:.2f}x ({new:.4f} s)")
    speed = {w: o / n for w, (o, n) in times.items()}
    rows = [("pairwise 4000 double", ">=", 2.0), ("pairwise 4000 scaler", ">=", 1.5), ("batch", ">=", 1.5),
            ("batch double", ">=", 2.0), ("batch scaler", ">=", 2.0), ("three-way 200", ">=", 6.0),
            ("three-way 400", ">=", 6.0), ("three-way 200 double", ">=", 2.0),
            ("three-way 40x40x20000", ">=", 1.0), ("three-way 40x20000x40", ">=", 1.0),
            ("three-way 20000x40x40", ">=", 1.0)]
    for work, op, bound in rows:
        add(section, f"{work} vs baseline", "speed-up", f"{speed[work]:.2f}x", check(speed[work], op, bound, f"{bound}x"))
    shapes = [times[w][1] for w in ("three-way 40x40x20000", "three-way 40x20000x40", "three-way 20000x40x40")]
    spread = max(shapes) / min(shapes)
    add(section, "three-way: slowest / fastest order of 40, 40 and 20000", "time ratio", f"{spread:.2f}",
        check(spread, "<=", 1.5, "1.5"))
    small = 1 / speed["small"]
    add(section, "small (10 x 10) vs baseline", "time ratio", f"{small:.2f}", check(small, "<=", 0.8, "0.8"))
    pool = times["batch"][1] / times["batch pool"][1]
    add(section, "batch: default pool / one thread", f"{os.cpu_count()} cores", f"{pool:.2f}x", check(pool, ">=", 1.8, "1.8x"))
    for path, base in (("pairwise", "pairwise 4000"), ("pairwise double", "pairwise 4000 double")):
        for n in (8000, 20000):
            work = f"pairwise {n}" + (" double" if "double" in path else "")
            if work not in times:
                continue
            rate = (n + 1) ** 2 / times[work][1] / ((4001 ** 2) / times[base][1])
            add(section, f"{work} vs 4000 (same path)", "cells/s ratio", f"{rate:.2f}", check(rate, ">=", 0.9, "0.9"))


def bench_similar(cfg):
    """Similar pairs (the band of diagonals), unrelated pairs and free ends beside the baseline
    build and pywfa (bench/similar.py: fresh processes alternating, CPU time, peak memory)."""
    section = "similar sequences"
    if not cfg.baseline:
        add(section, "side by side with a baseline", "-", "skipped: pass --baseline PYTHONPATH")
        return
    import similar
    targets = {"DNA 20,000 at 99 %": ("baseline", 10.0), "DNA 100,000 at 99 %": ("baseline", 30.0),
               "DNA 100,000 at 90 %": ("pywfa", 1.0), "BLOSUM62 20,000 at 90 %": ("baseline", 5.0),
               "DNA 4,000 unrelated": ("baseline", 1.0), "DNA 20,000 unrelated": ("baseline", 1.0),
               "DNA 20,000 at 99 %, seq2 ends free": ("baseline", 1.0)}
    for work in similar.WORKLOADS:
        if cfg.quick_similar and work["n"] > 20_000:
            continue
        best = similar.side_by_side(work, cfg.baseline, cfg.rounds)
        this = best["this"]
        if "seconds" not in this:
            add(section, work["name"], "this build", this.get("error", "failed"))
            continue
        add(section, work["name"], "this build", f"{this['seconds']:.4f} s, {this['peak_mb']:.0f} MB"
            + ("" if similar.agree(best) else " (scores differ)"))
        for name in ("baseline", "pywfa"):
            r = best.get(name)
            if not r or "seconds" not in r:
                continue
            ratio = r["seconds"] / this["seconds"]
            subject, bound = targets.get(work["name"], (None, None))
            add(section, work["name"], f"{name}: {r['seconds']:.4f} s, {r['peak_mb']:.0f} MB",
                f"{ratio:.1f}x", check(ratio, ">=", bound, f"{bound}x") if subject == name else "")
        if work["name"] == "DNA 100,000 at 99 %":
            add(section, work["name"], "peak memory", f"{this['peak_mb']:.0f} MB",
                check(this["peak_mb"], "<=", 500, "0.5 GB"))


# ---------------------------------------------------------------- output

def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{model}, {os.cpu_count()} cores, kernels available: {', '.join(ISAS)}"


def versions():
    parts = [f"Python {sys.version.split()[0]}"]
    if PairwiseAligner is not None:
        import Bio
        parts.append(f"Biopython {Bio.__version__}")
    parts.append(f"parasail {parasail.__version__}" if parasail is not None else "parasail: not installed, skipped")
    built = datetime.datetime.fromtimestamp(os.path.getmtime(vrn.__file__)).isoformat(timespec="seconds")
    return ", ".join(parts) + f"; module file {vrn.__file__} ({built})"


def load():
    return "load average %.2f %.2f %.2f" % os.getloadavg()


def markdown(header, notes):
    lines = [*header, "", "| Benchmark | Subject | Size | Result | Target |", "|---|---|---|---|---|"]
    lines += ["| " + " | ".join(row) + " |" for row in ROWS]
    return "\n".join(lines + [""] + notes) + "\n"


def plot(curves, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return "plot skipped: matplotlib is not installed"
    fig, ax = plt.subplots(figsize=(11, 5.5))
    colors = plt.get_cmap("tab20").colors
    for k, (name, points) in enumerate(curves.items()):
        style = "-" if name.startswith("module") else "--"
        ax.plot([p[0] for p in points], [p[1] / 1e6 for p in points], style, marker="o", label=name,
                color=colors[(2 * k) % 20 + (2 * k) // 20 % 2])
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("sequence length n = m (random DNA)")
    ax.set_ylabel("million cells per second")
    ax.set_title("Global alignment with traceback: cells per second")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return f"plot: {path}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fast smoke run with small sizes")
    parser.add_argument("--out", help="folder for RESULTS.md and the plot (default: bench/, or a temp folder with --quick)")
    parser.add_argument("--long", nargs="+", type=int, default=[], metavar="N",
                        help="also align random DNA pairs of N x N with and without an address-space cap")
    parser.add_argument("--baseline", help="PYTHONPATH of a baseline build (e.g. b70ed22) for the targets section")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of the side-by-side targets (default 3)")
    parser.add_argument("--only-targets", action="store_true",
                        help="only the rows with targets: parasail side by side, peak memory and --baseline")
    parser.add_argument("--child", nargs=2, metavar=("KIND", "SIZE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        if args.child[0].startswith("long-"):
            return long_child(args.child[0], int(args.child[1]))
        return memory_child(args.child[0], int(args.child[1]))

    cfg = argparse.Namespace(sizes=[100, 500, 1000, 2000, 4000, 8000, 20000], reps=7, mem_sizes=[2000, 4000, 8000],
                             big_mem_sizes=[20000], batch_pairs=10_000, small_number=20_000, thread_pairs=2_000,
                             lengths_3d=[50, 100, 150, 200], protein_length=2000, peer_dna=[1000, 4000],
                             peer_protein=[500, 2000])
    if args.quick:
        cfg = argparse.Namespace(sizes=[100, 500, 2000], reps=1, mem_sizes=[2000], big_mem_sizes=[],
                                 batch_pairs=500, small_number=2_000, thread_pairs=200, lengths_3d=[20, 40],
                                 protein_length=300, peer_dna=[500], peer_protein=[300])
    if args.only_targets:
        cfg.sizes, cfg.mem_sizes, cfg.big_mem_sizes, cfg.lengths_3d = [4000], [4000, 8000], [20000], []
    cfg.long_sizes, cfg.baseline, cfg.rounds = args.long, args.baseline, args.rounds
    cfg.quick_similar = args.quick
    out = args.out or (tempfile.mkdtemp(prefix="vorn-bench-") if args.quick else HERE)
    os.makedirs(out, exist_ok=True)
    command = " ".join(["python", os.path.relpath(os.path.abspath(__file__), os.path.dirname(HERE)), *sys.argv[1:]])
    header = ["# vorn_rust_native benchmark", "",
              f"- machine: {machine()}", f"- date: {datetime.datetime.now().isoformat(timespec='seconds')}",
              f"- versions: {versions()}", f"- {load()} at the start", f"- command: `{command}`"]
    print("\n".join(header), flush=True)

    started = time.perf_counter()
    with tempfile.TemporaryDirectory() as tmp:
        exes = compile_baselines(tmp)
        if exes is None:
            add("note", "literal layouts", "-", "skipped: no working g++")
        if args.only_targets:
            curves = {}
            bench_peers(cfg)
            bench_memory(cfg, {})
        else:
            curves, literal_mem = bench_pairwise(cfg, exes)
            bench_memory(cfg, literal_mem)
            bench_peers(cfg)
            bench_protein(cfg)
            bench_batch(cfg)
            bench_small(cfg)
            bench_threads(cfg)
            bench_three_way(cfg, exes)
            bench_long(cfg)
        bench_targets(cfg, curves)
        bench_similar(cfg)

    notes = ["Pairwise: random DNA, match 2, mismatch -1, gap open -5, extend -1, traceback included; "
             "these whole-number scores run on 16-bit integer cells (32-bit or doubles where the values "
             "would not fit); 'double cells' forces the double fill (VORN_RUST_NATIVE_CELL_TYPE=double), "
             "which scores that are not multiples of a power of two always take; "
             "+scaler = make_rust_score_scaler(1.0, 1.0) with seq1_left_free and seq2_right_free. "
             "Cells = (n+1)(m+1), or the product of (len+1) for three-way. "
             "Literal layouts: bench/literal_pairwise.cpp and bench/literal_3d.cpp, g++ -O2 -std=c++20 -ffp-contract=off.",
             "", "Peak memory: growth of the peak RSS (VmHWM, i.e. ru_maxrss without the floor that Linux carries "
             "over from the parent across exec) over a baseline taken after the inputs exist, in a fresh process "
             "per row. Threads: the machine-ceiling row runs the same two batches in two processes; when it is "
             "also far below 2x, other load on the cores, not the module, limits the thread figure.",
             "", plot(curves, os.path.join(out, "cells_per_second.png")),
             f"wall time of the run: {time.perf_counter() - started:.0f} s; {load()} at the end "
             f"(a load above ~0.5 means other processes shared the {os.cpu_count()} cores)"]
    text = markdown(header, notes)
    with open(os.path.join(out, "RESULTS.md"), "w") as f:
        f.write(text)
    print(text[text.index("| Benchmark"):], end="")
    print(f"written: {os.path.join(out, 'RESULTS.md')}")


if __name__ == "__main__":
    main()
