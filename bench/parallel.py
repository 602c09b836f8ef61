"""Throughput of one batch of pairs split over a thread pool, process pools and dask, and of
one batch call on the module's own threads.

Every way is timed in the same run, in interleaved rounds, against one serial
needleman_wunsch_batch call over all pairs; the ratios are what the guide quotes. The ways
that split the pairs run each chunk on one thread (VORN_RUST_NATIVE_NUM_THREADS=1, also in
their worker processes), as a caller with a pool of its own should. Process pools are timed
with their start-up included (a fresh pool per run) and warm (a second map on a pool that is
already running). Needs dask[bag] for the dask rows (skipped otherwise).

A second figure times one call over 10,000 pairs on one thread against the default (one
thread per CPU the process may run on).

    python bench/parallel.py [--pairs 20000] [--workers 2] [--rounds 3] [--own-threads-only]
"""

import argparse
import multiprocessing
import os
import random
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import vorn_rust_native as nw

SCORES = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
THREADS = "VORN_RUST_NATIVE_NUM_THREADS"
os.environ[THREADS] = "1"  # read at every call; worker processes inherit it


def random_pairs(count, seed):
    rng = random.Random(seed)
    def one():
        return "".join(rng.choice("ACGT") for _ in range(rng.randint(80, 150)))
    return [(one(), one()) for _ in range(count)]


def align_chunk(chunk):
    return nw.needleman_wunsch_batch(chunk, score_matrix=SCORES)


def chunks_of(pairs, size):
    return [pairs[i:i + size] for i in range(0, len(pairs), size)]


def joined(parts):
    return [result for part in parts for result in part]


def in_threads(chunks, workers):
    with ThreadPoolExecutor(workers) as pool:
        return joined(pool.map(align_chunk, chunks))


def timed(run):
    start = time.perf_counter()
    result = run()
    return time.perf_counter() - start, result


def on_own_threads(pairs):
    """One batch call with the module's default thread count."""
    del os.environ[THREADS]
    try:
        return align_chunk(pairs)
    finally:
        os.environ[THREADS] = "1"


def own_threads_figure(rounds):
    """One call over 10,000 pairs: one thread against the default, best of `rounds`."""
    pairs = random_pairs(10000, 2)
    ways = {"1": lambda: align_chunk(pairs), "default": lambda: on_own_threads(pairs)}
    expected = align_chunk(pairs)
    best = {name: float("inf") for name in ways}
    for _ in range(rounds):
        for name, run in ways.items():
            seconds, result = timed(run)
            assert result == expected, name
            best[name] = min(best[name], seconds)
    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    print(f"one batch call, 10000 pairs of 80-150, best of {rounds}: "
          f"{THREADS}=1 {best['1']:.3f} s, default ({cpus} CPUs) {best['default']:.3f} s, "
          f"speed-up {best['1'] / best['default']:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pairs", type=int, default=20000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--chunk", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--own-threads-only", action="store_true",
                        help="only the second figure: one call on one thread against the default")
    args = parser.parse_args()
    if args.own_threads_only:
        own_threads_figure(args.rounds + 2)
        return

    pairs = random_pairs(args.pairs, 1)
    chunks = chunks_of(pairs, args.chunk)
    expected = align_chunk(pairs)
    workers = args.workers

    ways = {
        "one batch call (serial)": lambda: align_chunk(pairs),
        "one batch call, the module's own threads": lambda: on_own_threads(pairs),
        f"thread pool, {workers} threads": lambda: in_threads(chunks, workers),
    }
    warm_pools = []
    for method in ("fork", "forkserver", "spawn"):
        if method not in multiprocessing.get_all_start_methods():
            continue
        context = multiprocessing.get_context(method)

        def cold(context=context):
            with ProcessPoolExecutor(workers, mp_context=context) as pool:
                return joined(pool.map(align_chunk, chunks))
        ways[f"process pool ({method}), start-up included"] = cold
        warm_pool = ProcessPoolExecutor(workers, mp_context=context)
        warm_pools.append(warm_pool)
        list(warm_pool.map(align_chunk, chunks[:workers]))
        ways[f"process pool ({method}), warm"] = (
            lambda pool=warm_pool: joined(pool.map(align_chunk, chunks)))
    try:
        import dask.bag as db
    except ImportError:
        print("dask is not installed: no dask rows")
    else:
        bag = db.from_sequence(pairs, npartitions=len(chunks))
        for scheduler in ("threads", "processes"):
            ways[f"dask.bag, {scheduler} scheduler"] = (
                lambda scheduler=scheduler: bag.map_partitions(align_chunk).compute(
                    scheduler=scheduler, num_workers=workers))

    best = {name: float("inf") for name in ways}
    for round_number in range(args.rounds + 1):  # round 0 warms up imports and caches
        for name, run in ways.items():
            seconds, result = timed(run)
            assert list(result) == expected, name
            if round_number:
                best[name] = min(best[name], seconds)
    for pool in warm_pools:
        pool.shutdown()

    serial = best["one batch call (serial)"]
    print(f"{args.pairs} pairs of 80-150, chunks of {args.chunk}, {workers} workers, "
          f"{os.cpu_count()} CPUs, best of {args.rounds} interleaved rounds")
    print(f"{'way':48} {'seconds':>8} {'speed-up':>9}")
    for name, seconds in best.items():
        print(f"{name:48} {seconds:8.3f} {serial / seconds:8.2f}x")
    print()
    own_threads_figure(args.rounds + 2)


if __name__ == "__main__":
    main()
