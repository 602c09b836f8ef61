"""Two builds of the module side by side: the same workloads, alternating between the builds
in fresh processes, best CPU time of each, and the ratio.

    python bench/compare.py OLD_PYTHONPATH NEW_PYTHONPATH [--rounds 5] [--only double]

Each path is a folder holding a built vorn_rust_native (a build directory or a venv's
site-packages). CPU time of the process is used, not wall time, so that other load on a shared
machine moves the figures less; the batch on the default pool of threads is timed on the wall
clock.
"""

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import json, os, random, sys, time
import vorn_rust_native as vrn
work = sys.argv[1].split()
rng = random.Random(11)
def text(n, letters="ACGT"):
    return "".join(rng.choice(letters) for _ in range(n))
M = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
INEXACT = {a: {b: (1.1 if a == b else -0.9) for b in "ACGT"} for a in "ACGT"}
sys.path.insert(0, sys.argv[2])
from blosum62 import AMINO, BLOSUM62
clock = time.process_time
if work[0] == "pairwise":
    n = int(work[1])
    a, b = text(n), text(n)
    kwargs = dict(score_matrix=INEXACT if "double" in work else M, seq1_left_free=True)
    if "scaler" in work:
        kwargs["score_scaler_fn"] = vrn.make_rust_score_scaler(1.0, 2.0)
    run, cells = (lambda: vrn.needleman_wunsch(a, b, **kwargs)), (n + 1) ** 2
elif work[0] == "protein":
    n = int(work[1])
    a, b = text(n, AMINO), text(n, AMINO)
    kwargs = dict(score_matrix=BLOSUM62, gap_open=-11.0, gap_extend=-1.0)
    run, cells = (lambda: vrn.needleman_wunsch(a, b, **kwargs)), (n + 1) ** 2
elif work[0] == "small":
    a, b = text(10), text(10)
    def run():
        for _ in range(10_000):
            vrn.needleman_wunsch(a, b, score_matrix=M)
    cells = 10_000
elif work[0] == "batch":
    pairs = [(text(rng.randint(80, 150)), text(rng.randint(80, 150))) for _ in range(10_000)]
    kwargs = dict(score_matrix=INEXACT if "double" in work else M)
    if "scaler" in work:
        kwargs.update(seq1_left_free=True, score_scaler_fn=vrn.make_rust_score_scaler(1.0, 2.0))
    run, cells = (lambda: vrn.needleman_wunsch_batch(pairs, **kwargs)), len(pairs)
    if "pool" in work:
        clock = time.perf_counter  # several threads: wall time
    else:
        os.environ["VORN_RUST_NATIVE_NUM_THREADS"] = "1"
else:
    lengths = [int(x) for x in work[1].split("x")] * (1 if "x" in work[1] else 3)
    seqs = [text(n) for n in lengths]
    matrix = INEXACT if "double" in work else M
    run = lambda: vrn.needleman_wunsch_3d(*seqs, score_matrix=matrix)
    cells = (lengths[0] + 1) * (lengths[1] + 1) * (lengths[2] + 1)
run()
best = float("inf")
for _ in range(3):
    start = clock()
    run()
    best = min(best, clock() - start)
print(json.dumps({"seconds": best, "per_second": cells / best}))
"""

# Random DNA scored +1/-1 (whole numbers) and 1.1/-0.9 ("double": scores only doubles hold
# exactly), with a scaler, BLOSUM62 on random protein, 10,000 pairs of 80-150 on one thread
# (whole-number scores, non-integer ones, a scaler) and on the default pool (wall time),
# 10,000 calls of 10 x 10, and three-way grids: cubes with whole and with inexact scores, and
# one long string against two short ones in each of the three positions.
WORKLOADS = ["pairwise 1000", "pairwise 4000", "pairwise 8000", "pairwise 20000",
             "pairwise 4000 double", "pairwise 20000 double", "pairwise 4000 scaler",
             "protein 500", "protein 2000", "batch", "batch double", "batch scaler", "batch pool",
             "small", "three-way 200", "three-way 400", "three-way 200 double",
             "three-way 40x40x20000", "three-way 40x20000x40", "three-way 20000x40x40"]


def measure(path, work):
    env = dict(os.environ, PYTHONPATH=path)
    done = subprocess.run([sys.executable, "-c", CHILD, work, HERE], env=env, capture_output=True,
                          text=True, check=True)
    return json.loads(done.stdout)["seconds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--only", default="", help="the workloads whose name contains this")
    args = parser.parse_args()
    print(f"| workload | old (s) | new (s) | new / old |\n|---|---|---|---|")
    for work in [w for w in WORKLOADS if args.only in w]:
        old = new = float("inf")
        for _ in range(args.rounds):
            old = min(old, measure(args.old, work))
            new = min(new, measure(args.new, work))
        print(f"| {work} | {old:.4f} | {new:.4f} | {new / old:.3f} |")


if __name__ == "__main__":
    main()
