"""Hostile and unlucky callers, each in a subprocess so that a crash fails the test instead of the
run: threads with small stacks, daemon threads inside calls at interpreter exit, forks from a
signal handler and from another thread while a batch runs on the pool, address-space limits,
and the test switches changed by one thread while others align."""

import os
import subprocess
import sys
import textwrap

import pytest

import vorn_rust_native as vrn
from reference import UNDER_ASAN
from strategies import pinned

TESTS = os.path.dirname(os.path.abspath(__file__))

PRELUDE = textwrap.dedent("""
    import json, os, random, signal, sys, threading, time
    import vorn_rust_native as vrn
    M = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
    INEXACT = {a: {b: (1.1 if a == b else -0.9) for b in "ACGT"} for a in "ACGT"}
    SCALER = vrn.make_rust_score_scaler(1.0, 2.0)
    rng = random.Random(int(os.environ.get("SEED", "3")))
    def text(n):
        return "".join(rng.choice("ACGT") for _ in range(n))
    def with_switches(switches, call):
        old = {k: os.environ.get(k) for k in switches}
        os.environ.update(switches)
        try:
            return call()
        finally:
            for k, v in old.items():
                if v is None:
                    del os.environ[k]
                else:
                    os.environ[k] = v
""")


def run_script(body, *, timeout=300, env=None, check=True):
    """Runs PRELUDE + body in a fresh interpreter; returns the finished process."""
    full_env = dict(os.environ, **(env or {}))
    done = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(body)], capture_output=True,
                          text=True, timeout=timeout, env=full_env, cwd=TESTS)
    if check:
        assert done.returncode == 0, (done.returncode, done.stdout[-2000:], done.stderr[-2000:])
    return done


def available_kernels():
    """The kernel builds this processor runs, as the module's refusal of another one names them."""
    try:
        with pinned("none"):
            vrn.needleman_wunsch("A", "A", score_matrix={})
    except RuntimeError as e:
        return str(e).split("(it can run: ")[1].rstrip(")").split(", ")
    raise AssertionError("an unknown kernel build was not refused")


# Every function on every path it can take, first on the main thread, then on a thread whose
# stack is as small as Python allows a thread that calls a function to have.
SMALL_STACK = """
    a, b = text(700), text(650)
    pairs = [(text(rng.randint(90, 110)), text(rng.randint(100, 130))) for _ in range(64)]
    pairs += [(text(1100), text(1000)) for _ in range(2)]  # over two million cells: the pool
    s1, s2, s3 = text(40), text(35), text(45)
    pw = lambda **kw: vrn.needleman_wunsch(a, b, **dict(dict(score_matrix=M), **kw))
    bt = lambda **kw: vrn.needleman_wunsch_batch(pairs, **dict(dict(score_matrix=M), **kw))
    tw = lambda: vrn.needleman_wunsch_3d(s1, s2, s3, score_matrix=M, seq2_left_free=True)
    CASES = [
        ("int16", {}, pw),
        ("int32", {"VORN_RUST_NATIVE_CELL_TYPE": "int32"}, pw),
        ("double", {}, lambda: pw(score_matrix=INEXACT)),
        ("scaled", {}, lambda: pw(score_scaler_fn=SCALER, seq1_left_free=True)),
        ("checkpointed", {"VORN_RUST_NATIVE_TRACEBACK": "checkpoint",
                          "VORN_RUST_NATIVE_CHECKPOINT_INTERVAL": "9"}, pw),
        ("row blocks", {"VORN_RUST_NATIVE_BAND_ROWS": "64"}, pw),
        ("batch grouped, pool", {"VORN_RUST_NATIVE_NUM_THREADS": "3"}, bt),
        ("batch grouped, alone", {"VORN_RUST_NATIVE_NUM_THREADS": "1"}, bt),
        ("batch one by one, pool", {"VORN_RUST_NATIVE_NUM_THREADS": "3",
                                    "VORN_RUST_NATIVE_PAIR_GROUPS": "off"}, bt),
        ("batch doubles, pool", {"VORN_RUST_NATIVE_NUM_THREADS": "2"}, lambda: bt(score_matrix=INEXACT)),
        ("batch scaled, alone", {"VORN_RUST_NATIVE_NUM_THREADS": "1"},
         lambda: bt(score_scaler_fn=SCALER, seq2_right_free=True)),
    ] + [(f"three-way {o}", {"VORN_RUST_NATIVE_3D_OUTER": o}, tw) for o in ("seq1", "seq2", "seq3")]
    CASES += [(f"{name}, {k}", dict(sw, VORN_RUST_NATIVE_KERNEL=k), call)
              for k in KERNELS for name, sw, call in CASES[:2] + CASES[6:7] + CASES[-1:]]
    expected = [with_switches(sw, call) for _, sw, call in CASES]
    threading.stack_size(STACK)
    got = []
    def run():
        for _, sw, call in CASES:
            got.append(with_switches(sw, call))
    t = threading.Thread(target=run)
    t.start()
    t.join()
    bad = [name for (name, _, _), e, g in zip(CASES, expected, got) if e != g]
    print(json.dumps({"cases": len(CASES), "done": len(got), "different": bad}))
"""


def test_every_path_runs_on_a_small_thread_stack():
    # 64 KiB, or the least at which a plain Python call still runs on such a thread.
    probe = run_script("""
        for size in (64, 96, 128, 192, 256):
            threading.stack_size(size << 10)
            out = []
            t = threading.Thread(target=lambda: out.append(sorted(range(3))))
            t.start(); t.join()
            if out:
                print(size << 10); break
    """)
    stack = int(probe.stdout)
    done = run_script(f"KERNELS = {available_kernels()!r}\nSTACK = {stack}\n" + textwrap.dedent(SMALL_STACK))
    import json
    report = json.loads(done.stdout)
    assert report["done"] == report["cases"] and report["different"] == [], report


# Two daemon threads inside calls while the main thread exits: CPython ends each of them when it
# asks for the interpreter lock back, by unwinding its stack, which must pass through the module.
EXIT = """
    kind, slow = sys.argv[1], sys.argv[2] == "slow"
    a, b = text(2500), text(2400)
    pairs = [(text(300), text(280)) for _ in range(300)]
    def work():
        while True:
            if kind == "pairwise":
                vrn.needleman_wunsch(a, b, score_matrix=M)
            elif kind == "batch":
                vrn.needleman_wunsch_batch(pairs, score_matrix=M)
            else:
                vrn.needleman_wunsch_3d(a[:90], b[:90], a[:100], score_matrix=M)
    class SlowToFinalize:
        def __del__(self):
            time.sleep(0.2)
    keep = SlowToFinalize() if slow else None
    for _ in range(2):
        threading.Thread(target=work, daemon=True).start()
    time.sleep(0.15)
    sys.exit(3)
"""


@pytest.mark.parametrize("finaliser", ["fast", "slow"])
@pytest.mark.parametrize("kind, threads", [("pairwise", "1"), ("batch", "1"), ("batch", "2"), ("3d", "1")])
def test_daemon_threads_inside_calls_at_exit(kind, threads, finaliser):
    for _ in range(4):
        done = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(EXIT), kind, finaliser],
                              capture_output=True, text=True, timeout=120, cwd=TESTS,
                              env=dict(os.environ, VORN_RUST_NATIVE_NUM_THREADS=threads))
        assert done.returncode == 3, done.stderr[-2000:]
        assert "terminate" not in done.stderr


# A fork while a batch runs on the pool's threads. From a signal handler the child is inside that
# batch and must finish it without the parent's workers; from another thread the batch's thread
# does not exist in the child, which must still align on threads of its own.
FORK = """
    how = sys.argv[1]
    pairs = [(text(rng.randint(20, 300)), text(rng.randint(20, 300))) for _ in range(1500)]
    pairs += [(text(rng.randint(400, 1800)), text(rng.randint(400, 1800))) for _ in range(50)]
    pairs += [(text(5900), text(5800)) for _ in range(2)]  # large pairs: aligned one at a time
    rng.shuffle(pairs)
    expected = vrn.needleman_wunsch_batch(pairs, score_matrix=M)
    forked = []
    running = [True]
    def fork():
        if not running[0]:
            return  # the batch is over: nothing to fork into
        forked.append(os.fork())
        if forked[-1] == 0 and how == "thread":
            os._exit(0 if vrn.needleman_wunsch_batch(pairs[:400], score_matrix=M) == expected[:400] else 7)
    delay = float(sys.argv[2])
    if how == "handler":
        signal.signal(signal.SIGALRM, lambda *_: fork())
        signal.setitimer(signal.ITIMER_REAL, delay)
    else:
        threading.Thread(target=lambda: (time.sleep(delay), fork())).start()
    got = vrn.needleman_wunsch_batch(pairs, score_matrix=M)
    running[0] = False
    if forked and forked[0] == 0:
        os._exit(0 if got == expected else 5)
    signal.setitimer(signal.ITIMER_REAL, 0)
    time.sleep(delay)
    status = os.waitstatus_to_exitcode(os.waitpid(forked[0], 0)[1]) if forked else None
    print(json.dumps({"parent": got == expected, "child": status}))
"""


@pytest.mark.skipif(UNDER_ASAN, reason="a child forked while other threads allocate can inherit "
                    "AddressSanitizer's allocator locked")
@pytest.mark.parametrize("how", ["handler", "thread"])
@pytest.mark.parametrize("threads", ["2", "4"])
def test_fork_during_a_pooled_batch(how, threads):
    import json
    forks = 0
    for delay in (0.005, 0.02, 0.04, 0.07):
        done = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(FORK), how, str(delay)],
                              capture_output=True, text=True, timeout=120, cwd=TESTS,
                              env=dict(os.environ, VORN_RUST_NATIVE_NUM_THREADS=threads))
        assert done.returncode == 0, done.stderr[-2000:]
        report = json.loads(done.stdout)
        assert report["parent"] and report["child"] in (0, None), report
        forks += report["child"] == 0
    assert forks >= 2  # at least the early forks land inside the batch


# A batch on the pool under address-space limits from below what Python needs to well above:
# the result or a MemoryError, never a crash, and a larger limit never refuses what a smaller
# one accepted.
LIMITED = """
    import resource
    pairs = [(text(rng.randint(300, 800)), text(rng.randint(300, 800))) for _ in range(200)]
    one = {"VORN_RUST_NATIVE_NUM_THREADS": "1"}  # no worker exists before the limit is set
    expected = with_switches(one, lambda: vrn.needleman_wunsch_batch(pairs, score_matrix=M))
    limit = int(sys.argv[1]) << 20
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    try:
        print("ok" if vrn.needleman_wunsch_batch(pairs, score_matrix=M) == expected else "different")
    except MemoryError as e:
        print("MemoryError")
"""


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves terabytes of address space, so an "
                    "address-space limit cannot be set for it")
@pytest.mark.parametrize("threads", ["2", "4"])
def test_address_space_limits_with_the_pool(threads):
    outcomes = []
    for mib in (*range(20, 62, 3), 80, 100, 120, 150, 190, 250, 320):
        done = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(LIMITED), str(mib)],
                              capture_output=True, text=True, timeout=120, cwd=TESTS,
                              env=dict(os.environ, VORN_RUST_NATIVE_NUM_THREADS=threads))
        if done.returncode != 0:  # Python itself may fail to start its work under the lowest
            assert "MemoryError" in done.stderr and "Fatal" not in done.stderr, done.stderr[-2000:]
            outcomes.append((mib, "MemoryError"))
            continue
        outcomes.append((mib, done.stdout.strip()))
    assert all(outcome in ("ok", "MemoryError") for _, outcome in outcomes), outcomes
    first_ok = next(i for i, (_, outcome) in enumerate(outcomes) if outcome == "ok")
    assert all(outcome == "ok" for _, outcome in outcomes[first_ok:]), outcomes


# One thread switches the kernel build (and the cell type) back and forth while others run
# grouped batches: each call keeps what it read at its start.
SWITCHING = """
    kernels = KERNELS
    pairs = [(text(rng.randint(20, 150)), text(rng.randint(20, 150))) for _ in range(150)]
    expected = vrn.needleman_wunsch_batch(pairs, score_matrix=M)
    stop = time.time() + 3
    def switch():
        k = 0
        while time.time() < stop:
            os.environ["VORN_RUST_NATIVE_KERNEL"] = kernels[k % len(kernels)]
            os.environ["VORN_RUST_NATIVE_CELL_TYPE"] = ("int16", "int32", "auto")[k % 3]
            k += 1
            time.sleep(0.0002)
    bad = []
    def align():
        while time.time() < stop:
            try:
                if vrn.needleman_wunsch_batch(pairs, score_matrix=M) != expected:
                    bad.append("different")
            except Exception as e:
                bad.append(repr(e))
    threads = [threading.Thread(target=switch)] + [threading.Thread(target=align) for _ in range(4)]
    for t in threads: t.start()
    for t in threads: t.join()
    print(json.dumps(sorted(set(bad))))
"""


def test_switches_changed_while_calls_run():
    done = run_script(f"KERNELS = {available_kernels()!r}\n" + textwrap.dedent(SWITCHING),
                      env=dict(VORN_RUST_NATIVE_NUM_THREADS="2"))
    assert done.stdout.strip() == "[]"
