"""Align a large set of pairs with dask: a dask.bag of pairs, one needleman_wunsch_batch
call per partition.

    pip install 'vorn_rust_native[dask]'
    python examples/dask_batch.py                              # threads in this process
    python examples/dask_batch.py --scheduler local-cluster    # a dask.distributed LocalCluster
    python examples/dask_batch.py --scheduler tcp://host:8786  # an existing cluster
    python examples/dask_batch.py --input examples/data/pairs.tsv --partitions 2

Each partition is aligned by one call, so the score matrix is converted once per
partition and the worker does not go back to Python between pairs. The module lets
other threads run while it aligns, so the threaded scheduler already uses every core;
a cluster spreads the partitions over processes or machines. Only plain data crosses
process boundaries: a RustScoreScaler cannot be pickled, so the partition function
builds its own from two numbers.
"""

from __future__ import annotations

import argparse
import random
import sys
from collections.abc import Iterable, Sequence

import dask.bag as db

import vorn_rust_native as nw

SCORES = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}


def align_partition(
    pairs: Iterable[tuple[str, str]], scaler: tuple[float, float] | None = None
) -> list[tuple[str, str, float]]:
    """Runs on a worker: one batch call for the whole partition."""
    return nw.needleman_wunsch_batch(
        list(pairs),
        score_matrix=SCORES,
        seq2_left_free=True,
        seq2_right_free=True,
        score_scaler_fn=None if scaler is None else nw.make_rust_score_scaler(*scaler),
    )


def align_with_dask(
    pairs: Sequence[tuple[str, str]], partitions: int, scheduler: str,
    scaler: tuple[float, float] | None = None,
) -> list[tuple[str, str, float]]:
    """The same list as align_partition(pairs, scaler), computed by dask in input order."""
    bag = db.from_sequence(pairs, npartitions=max(1, min(partitions, len(pairs))))
    aligned = bag.map_partitions(align_partition, scaler)
    if scheduler in ("threads", "processes", "synchronous"):
        return list(aligned.compute(scheduler=scheduler))

    from dask.distributed import Client, LocalCluster  # needs the 'distributed' package

    if scheduler == "local-cluster":
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            return list(client.compute(aligned).result())
    with Client(scheduler) as client:  # the address of a running scheduler
        return list(client.compute(aligned).result())


def read_tsv(path: str) -> list[tuple[str, str]]:
    """Pairs from lines "seq1<TAB>seq2" or "name<TAB>seq1<TAB>seq2" ('#' starts a comment)."""
    pairs: list[tuple[str, str]] = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            if line.strip() and not line.startswith("#"):
                pairs.append((fields[-2], fields[-1]))
    return pairs


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Align pairs with dask.bag.")
    parser.add_argument("--input", help="TSV of pairs (default: random pairs)")
    parser.add_argument("--pairs", type=int, default=2000, help="number of random pairs")
    parser.add_argument("--length", type=int, default=300, help="length of random sequences")
    parser.add_argument("--partitions", type=int, default=8)
    parser.add_argument("--scheduler", default="threads",
                        help="threads, processes, synchronous, local-cluster or a scheduler address")
    parser.add_argument("--scaler", type=float, nargs=2, metavar=("DECAY_EXPONENT", "TEMPERATURE"),
                        help="weight columns towards the free ends of seq2")
    parser.add_argument("--check", action="store_true", help="compare with one local batch call")
    args = parser.parse_args(argv)

    if args.input:
        pairs = read_tsv(args.input)
    else:
        rng = random.Random(1)
        pairs = [("".join(rng.choice("ACGT") for _ in range(args.length)),
                  "".join(rng.choice("ACGT") for _ in range(args.length))) for _ in range(args.pairs)]
    scaler = tuple(args.scaler) if args.scaler else None
    results = align_with_dask(pairs, args.partitions, args.scheduler, scaler)
    for k, (aligned1, aligned2, score) in enumerate(results[:3]):
        print(f"pair {k}: score {score}\n  {aligned1}\n  {aligned2}")
    print(f"{len(results)} pairs aligned in {args.partitions} partitions ({args.scheduler})")
    if args.check:
        if results != align_partition(pairs, scaler):
            print("dask results differ from a single batch call", file=sys.stderr)
            return 1
        print("dask results equal a single batch call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
