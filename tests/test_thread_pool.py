"""needleman_wunsch_batch on several threads: the same results and the same error as on one,
Ctrl-C, fork, the pool's workers, and the VORN_RUST_NATIVE_NUM_THREADS switch."""

import json
import multiprocessing
import os
import random
import subprocess
import sys
import textwrap

import pytest

import vorn_rust_native as vrn
from reference import UNDER_ASAN
from strategies import POOL_MATRIX as M, environment, random_pairs

batch = vrn.needleman_wunsch_batch
SCALE = 0.4 if UNDER_ASAN else 1.0  # the sanitizer run is several times slower


def bits(results):
    return [(a, b, repr(score)) for a, b, score in results]


def aligned(pairs, threads, **kwargs):
    with environment(VORN_RUST_NATIVE_NUM_THREADS=threads):
        return batch(pairs, score_matrix=M, **kwargs)


OPTIONS = [
    {},
    dict(seq1_left_free=True, seq1_right_free=True, gap_open=-3.0),
    dict(seq2_left_free=True, seq1_right_free=True, enable_gap_close_penalty=False),
    dict(seq1_left_free=True, seq2_right_free=True, score_scaler_fn=vrn.make_rust_score_scaler(1.5, 2.0)),
]


# "" is the default: one thread per CPU. 64 is more threads than there are tasks.
@pytest.mark.parametrize("threads", ["2", "3", "64", ""])
@pytest.mark.parametrize("options", range(len(OPTIONS)))
def test_results_equal_one_thread(threads, options):
    pairs = random_pairs(options, 1500)
    expected = aligned(pairs, "1", **OPTIONS[options])
    got = aligned(pairs, threads, **OPTIONS[options])
    assert len(got) == len(pairs)
    assert bits(got) == bits(expected)


def test_large_pairs_and_more_threads_than_pairs():
    # The two pairs above the admission threshold take turns; 8 threads for 5 pairs.
    pairs = random_pairs(5, 3, long_pairs=2, long_length=6000)
    assert sum((len(a) + 1) * (len(b) + 1) >= 32 << 20 for a, b in pairs) == 2
    expected = aligned(pairs, "1")
    assert bits(aligned(pairs, "8")) == bits(expected)
    assert bits(aligned(pairs[::-1], "8")) == bits(expected[::-1])


BIG = ("A" * 200_000, "C" * 200_000)  # refused at once under a 1 GB limit
OTHER_BIG = ("A" * 150_000, "C" * 190_000)
UNEQUAL = ("ACGTACGT" * 40, "ACGTACGT" * 39)  # no alignment without a gap


# With gap_open=-inf every pair of unequal lengths fails with ValueError; the others are
# equal lengths and align. The lowest failing index is reported whatever the threads.
@pytest.mark.parametrize("failing, expected", [
    ({3: BIG, 30: OTHER_BIG}, (MemoryError, "needleman_wunsch_batch needs 1.8 GB for pair 3, a 200001 \u00d7 200001 grid")),
    ({3: OTHER_BIG, 30: BIG}, (MemoryError, "needleman_wunsch_batch needs 1.3 GB for pair 3, a 150001 \u00d7 190001 grid")),
    ({0: UNEQUAL, 39: BIG}, (ValueError, "unset pointer encountered during traceback")),
    ({17: BIG, 18: UNEQUAL, 39: UNEQUAL}, (MemoryError, "needleman_wunsch_batch needs 1.8 GB for pair 17, a 200001 \u00d7 200001 grid")),
    ({25: UNEQUAL, 26: BIG}, (ValueError, "unset pointer encountered during traceback")),
], ids=["memory-memory", "memory-memory-2", "value-memory", "memory-value", "value-memory-late"])
@pytest.mark.parametrize("threads", ["1", "2", "5"])
def test_lowest_failing_pair_is_reported(env, fake_root, failing, expected, threads):
    rng = random.Random(3)
    pairs = [("".join(rng.choice("ACGT") for _ in range(300)),) * 2 for _ in range(40)]
    for k, pair in failing.items():
        pairs[k] = pair
    kwargs = dict(score_matrix=M, gap_open=-float("inf"))
    with env(VORN_RUST_NATIVE_MEMORY_ROOT=fake_root(available_kb=1 << 20),
             VORN_RUST_NATIVE_NUM_THREADS=threads):
        with pytest.raises(expected[0]) as e:
            batch(pairs, **kwargs)
        assert str(e.value) == expected[1]
        # all or nothing, and the module is unaffected: the pairs that align still do
        good = [p for k, p in enumerate(pairs) if k not in failing]
        assert batch(good, **kwargs) == [vrn.needleman_wunsch(*p, **kwargs) for p in good]


@pytest.mark.parametrize("value", ["0", "-1", "-0", "abc", "2x", " 2", "2 ", "+2", "1.5", "0x4", "\u0663"])
def test_bad_thread_counts(env, value):
    with env(VORN_RUST_NATIVE_NUM_THREADS=value):
        with pytest.raises(RuntimeError) as e:
            batch([("A", "A")], score_matrix=M)
    assert str(e.value) == f"VORN_RUST_NATIVE_NUM_THREADS='{value}' is not a positive whole number"


needs_proc = pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc/self/task to count threads")


@needs_proc
def test_workers_start_when_a_batch_needs_them():
    # How many workers a batch of a given size starts is the pool's choice. What a caller can
    # rely on: every result is the one-thread result to the bit; one thread is the calling
    # thread alone; the pool, which keeps its workers for later calls, never holds more than
    # the largest count yet asked for beside the caller; and a batch far above the two
    # million cells from which a batch is spread over threads does get workers.
    script = textwrap.dedent("""
        import json, os, sys
        import vorn_rust_native as vrn
        sys.path.insert(0, sys.argv[1])
        from strategies import POOL_MATRIX as M, random_pairs
        batches = {"small": random_pairs(1, 200, long_pairs=0), "large": random_pairs(2, 300)}
        def threads():
            return len(os.listdir("/proc/self/task"))
        def aligned(n, name):
            os.environ["VORN_RUST_NATIVE_NUM_THREADS"] = n
            return [(a, b, repr(score)) for a, b, score in vrn.needleman_wunsch_batch(batches[name], score_matrix=M)]
        before = threads()
        expected = {name: aligned("1", name) for name in batches}
        calls = [{"threads": 1, "workers": threads() - before}]
        for n, name in [("3", "large"), ("3", "large"), ("2", "large"), ("4", "small"), ("4", "large")]:
            same = aligned(n, name) == expected[name]
            calls.append({"threads": int(n), "batch": name, "same": same, "workers": threads() - before})
        print(json.dumps(calls))
    """)
    done = subprocess.run([sys.executable, "-c", script, os.path.dirname(__file__)], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    calls = json.loads(done.stdout)
    assert calls[0]["workers"] == 0, calls
    asked = 1
    for call in calls[1:]:
        asked = max(asked, call["threads"])
        assert call["same"], call
        assert call["workers"] <= asked - 1, calls
        if call["batch"] == "large":
            assert call["workers"] >= 1, calls


SIGINT_CHILD = textwrap.dedent("""
    import json, os, signal, sys, threading, time
    import vorn_rust_native as vrn
    sys.path.insert(0, sys.argv[1])
    from strategies import POOL_MATRIX as M, random_pairs
    case, scale = sys.argv[2], float(sys.argv[3])
    os.environ["VORN_RUST_NATIVE_NUM_THREADS"] = "3"
    if case == "short pairs":
        pairs = random_pairs(1, int(60000 * scale), long_pairs=0)
    elif case == "long pairs":
        pairs = random_pairs(2, 0, long_pairs=16, long_length=5000)
    else:  # each above the admission threshold: they take turns
        pairs = random_pairs(3, 0, long_pairs=5, long_length=8000)
    start = time.perf_counter()
    expected = vrn.needleman_wunsch_batch(pairs, score_matrix=M)
    full = time.perf_counter() - start
    threading.Timer(full / 10, os.kill, (os.getpid(), signal.SIGINT)).start()
    start = time.perf_counter()
    report = {"full": full}
    try:
        vrn.needleman_wunsch_batch(pairs, score_matrix=M)
        report["raised"] = None
    except KeyboardInterrupt:
        report["raised"] = "KeyboardInterrupt"
    report["stopped_after"] = time.perf_counter() - start
    report["next_call_same"] = vrn.needleman_wunsch_batch(pairs, score_matrix=M) == expected
    print(json.dumps(report))
""")


@pytest.mark.parametrize("case", ["short pairs", "long pairs", "large pairs"])
def test_ctrl_c_stops_every_thread(case):
    done = subprocess.run([sys.executable, "-c", SIGINT_CHILD, os.path.dirname(__file__), case, str(SCALE)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert report["raised"] == "KeyboardInterrupt"
    assert report["stopped_after"] < report["full"] / 2, report
    assert report["next_call_same"]


FORK_CHILD = textwrap.dedent("""
    import multiprocessing, os, sys, threading, time
    import vorn_rust_native as vrn
    sys.path.insert(0, sys.argv[1])
    from strategies import POOL_MATRIX as M, random_pairs
    busy = sys.argv[2] == "busy"
    os.environ["VORN_RUST_NATIVE_NUM_THREADS"] = "3"
    pairs = random_pairs(4, 600)
    # with a pair whose grid is checked against the memory limits
    loaded = random_pairs(5, 600, long_pairs=1, long_length=9000)
    expected = vrn.needleman_wunsch_batch(pairs, score_matrix=M)  # the parent's pool is running

    def child():
        same = vrn.needleman_wunsch_batch(pairs, score_matrix=M) == expected
        # the child's own workers (fork copies no thread): some for a batch this size, never
        # more than the two beside this thread that the switch asks for
        workers = len(os.listdir("/proc/self/task")) - 1 if os.path.isdir("/proc/self/task") else 2
        sys.exit(3 if not same else 4 if not 1 <= workers <= 2 else 0)

    stop = threading.Event()
    def keep_aligning():
        while not stop.is_set():
            vrn.needleman_wunsch_batch(loaded, score_matrix=M)
    if busy:
        aligning = threading.Thread(target=keep_aligning)
        aligning.start()
    codes = []
    for _ in range(6 if busy else 2):
        time.sleep(0.013)
        process = multiprocessing.get_context("fork").Process(target=child)
        process.start()
        process.join(60)
        if process.exitcode is None:
            process.kill()
            process.join()
            codes.append("hung")
        else:
            codes.append(process.exitcode)
    stop.set()
    if busy:
        aligning.join()
    print(codes)
""")


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(), reason="needs the fork start method")
@pytest.mark.parametrize("case", ["after", "busy"])
def test_forked_child_aligns_on_threads(case):
    # The sanitizer run's allocator does not take its locks across fork: a child forked while
    # another thread allocates can inherit a held lock and hang in its first malloc.
    if case == "busy" and UNDER_ASAN:
        pytest.skip("the sanitizer runtime's allocator is not fork-safe while another thread allocates")
    done = subprocess.run([sys.executable, "-c", FORK_CHILD, os.path.dirname(__file__), case],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[0] in ("[0, 0]", "[0, 0, 0, 0, 0, 0]"), done.stdout
