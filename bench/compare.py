"""Two builds of the module side by side: the same workloads, alternating between the builds
in fresh processes, best CPU time of each, and the ratio.

    python bench/compare.py OLD_PYTHONPATH NEW_PYTHONPATH [--rounds 5]

Each path is a folder holding a built vorn_rust_native (a build directory or a venv's
site-packages). CPU time of the process is used, not wall time, so that other load on a shared
machine moves the figures less.
"""

import argparse
import json
import os
import subprocess
import sys

CHILD = r"""
import json, random, resource, sys, time
import vorn_rust_native as vrn
work = sys.argv[1]
rng = random.Random(11)
def dna(n):
    return "".join(rng.choice("ACGT") for _ in range(n))
M = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
scaler = vrn.make_rust_score_scaler(1.0, 2.0)
if work.startswith("pairwise"):
    n = int(work.split()[1])
    a, b = dna(n), dna(n)
    kwargs = dict(score_matrix=M, seq1_left_free=True)
    if "scaler" in work:
        kwargs["score_scaler_fn"] = scaler
    run, cells = (lambda: vrn.needleman_wunsch(a, b, **kwargs)), (n + 1) ** 2
elif work == "batch":
    pairs = [(dna(rng.randint(80, 150)), dna(rng.randint(80, 150))) for _ in range(10_000)]
    run, cells = (lambda: vrn.needleman_wunsch_batch(pairs, score_matrix=M)), len(pairs)
else:
    a, b, c = dna(200), dna(200), dna(200)
    run, cells = (lambda: vrn.needleman_wunsch_3d(a, b, c, score_matrix=M)), 201 ** 3
run()
best = float("inf")
for _ in range(3):
    start = time.process_time()
    run()
    best = min(best, time.process_time() - start)
print(json.dumps({"seconds": best, "per_second": cells / best}))
"""

WORKLOADS = ["pairwise 4000", "pairwise 8000", "pairwise 4000 scaler", "batch", "three-way 200"]


def measure(path, work):
    env = dict(os.environ, PYTHONPATH=path)
    done = subprocess.run([sys.executable, "-c", CHILD, work], env=env, capture_output=True, text=True,
                          check=True)
    return json.loads(done.stdout)["seconds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    print(f"| workload | old (s) | new (s) | new / old |\n|---|---|---|---|")
    for work in WORKLOADS:
        old = new = float("inf")
        for _ in range(args.rounds):
            old = min(old, measure(args.old, work))
            new = min(new, measure(args.new, work))
        print(f"| {work} | {old:.4f} | {new:.4f} | {new / old:.3f} |")


if __name__ == "__main__":
    main()
