"""Align many pairs on every core: one needleman_wunsch_batch call per chunk, chunks run
by a ThreadPoolExecutor.

The module lets other Python threads run while it aligns (for any call of more than
about 16,000 grid cells in total), so the threads compute in parallel and no process
pool, pickling or copying is needed. Results come back in input order. One batch call over
all pairs would spread them over the cores by itself; with a pool of one thread per core,
each call should stay on its own thread, which VORN_RUST_NATIVE_NUM_THREADS=1 asks for.

    python examples/threads.py                   # 2,000 random pairs of length 300
    python examples/threads.py --pairs 200 --length 50 --workers 4 --check
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import time
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor

import vorn_rust_native as nw

SCORES = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


def align_chunk(chunk: Sequence[tuple[str, str]]) -> list[tuple[str, str, float]]:
    """One batch call: seq2 may overhang seq1 on both sides for free."""
    return nw.needleman_wunsch_batch(chunk, score_matrix=SCORES, seq2_left_free=True, seq2_right_free=True)


def align_in_threads(
    pairs: Sequence[tuple[str, str]], workers: int, chunk_size: int
) -> list[tuple[str, str, float]]:
    """The same list as align_chunk(pairs), computed in threads."""
    chunks = [pairs[k:k + chunk_size] for k in range(0, len(pairs), chunk_size)]
    with ThreadPoolExecutor(max_workers=workers) as pool:
        # map() yields the chunks' results in submission order.
        return [result for chunk_results in pool.map(align_chunk, chunks) for result in chunk_results]


def random_pairs(count: int, length: int, seed: int) -> list[tuple[str, str]]:
    rng = random.Random(seed)

    def sequence() -> str:
        return "".join(rng.choice("ACGT") for _ in range(rng.randint(length // 2, length)))

    return [(sequence(), sequence()) for _ in range(count)]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Align random pairs in threads.")
    parser.add_argument("--pairs", type=int, default=2000)
    parser.add_argument("--length", type=int, default=300)
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--chunk-size", type=int, default=0,
                        help="pairs per batch call (default: about four chunks per worker)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--check", action="store_true",
                        help="also align everything in one call and compare")
    args = parser.parse_args(argv)
    os.environ.setdefault("VORN_RUST_NATIVE_NUM_THREADS", "1")  # read at every call

    pairs = random_pairs(args.pairs, args.length, args.seed)
    chunk_size = args.chunk_size or max(1, -(-len(pairs) // (4 * args.workers)))
    start = time.perf_counter()
    results = align_in_threads(pairs, args.workers, chunk_size)
    elapsed = time.perf_counter() - start
    cells = sum((len(a) + 1) * (len(b) + 1) for a, b in pairs)
    print(f"{len(results)} pairs, {cells:,} cells in {elapsed:.3f} s with {args.workers} threads "
          f"({cells / max(elapsed, 1e-9) / 1e6:.1f} million cells per second)")
    best = max(range(len(results)), key=lambda k: results[k][2])
    print(f"best score {results[best][2]} for pair {best}")

    if args.check:
        single = align_chunk(pairs)
        if single != results:
            print("threaded results differ from a single batch call", file=sys.stderr)
            return 1
        print("threaded results equal a single batch call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
