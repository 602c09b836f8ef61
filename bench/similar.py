"""Similar sequences side by side: this build (whose band of diagonals fills only the cells near
the main diagonal), a baseline build (the whole grid) and WFA2 through pywfa, on random DNA
(+1/-1, gaps -5/-1) and BLOSUM62 protein (gaps -11/-1) with substitutions and short indels at a
given identity, on unrelated pairs and with free ends.

    python bench/similar.py --baseline /tmp/old/build [--rounds 3] [--quick] [--only 100000]

Each measurement runs in a fresh process, the subjects alternating round by round with the same
repetitions; a figure is the best CPU time of its rounds and the peak memory (VmHWM) of that
process. Every workload checks that all subjects agree: the same score, and with pywfa (+1/-1,
-5/-1 only) the module's score equals (n + m + WFA's score) / 2.
"""

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import json, random, sys, time
sys.path.insert(0, sys.argv[3])
from blosum62 import AMINO, BLOSUM62
subject, work = sys.argv[1], json.loads(sys.argv[2])
letters = AMINO if work["protein"] else "ACGT"
rng = random.Random(work["seed"])
def text(n):
    return "".join(rng.choice(letters) for _ in range(n))
def mutated(s, identity):
    out = []
    for ch in s:
        r = rng.random()
        if r < identity:
            out.append(ch)
        elif r < identity + (1 - identity) / 2:
            out.append(rng.choice(letters))
        elif rng.random() < 0.5:
            out.append(ch + text(rng.randint(1, 3)))
    return "".join(out)
a = text(work["n"])
b = mutated(a, work["identity"]) if work["identity"] else text(work["n"])
start = time.process_time()
if subject == "pywfa":
    import pywfa
    aligner = pywfa.WavefrontAligner(distance="affine", match=0, mismatch=4, gap_opening=8,
                                     gap_extension=3, span="end-to-end", scope="full",
                                     memory_mode="biwfa")
    score = (len(a) + len(b) + aligner.wavefront_align(b, a)) / 2
else:
    import vorn_rust_native as vrn
    if work["protein"]:
        kwargs = dict(score_matrix=BLOSUM62, gap_open=-11.0, gap_extend=-1.0)
    else:
        kwargs = dict(score_matrix={x: {y: 1.0 if x == y else -1.0 for y in "ACGT"} for x in "ACGT"},
                      gap_open=-5.0, gap_extend=-1.0)
    kwargs.update(work["flags"])
    score = vrn.needleman_wunsch(a, b, **kwargs)[2]
seconds = time.process_time() - start
# VmHWM, not ru_maxrss: a child's ru_maxrss starts at its parent's peak, carried across exec.
with open("/proc/self/status") as f:
    peak_kb = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
print(json.dumps({"seconds": seconds, "score": score, "peak_mb": peak_kb / 1024}))
"""

WORKLOADS = [
    dict(name="DNA 20,000 at 99 %", n=20_000, identity=0.99),
    dict(name="DNA 20,000 at 90 %", n=20_000, identity=0.90),
    dict(name="DNA 100,000 at 99 %", n=100_000, identity=0.99),
    dict(name="DNA 100,000 at 90 %", n=100_000, identity=0.90),
    dict(name="BLOSUM62 20,000 at 90 %", n=20_000, identity=0.90, protein=True),
    dict(name="DNA 4,000 unrelated", n=4_000, identity=0.0),
    dict(name="DNA 20,000 unrelated", n=20_000, identity=0.0),
    dict(name="DNA 20,000 at 99 %, seq2 ends free", n=20_000, identity=0.99,
         flags=dict(seq2_left_free=True, seq2_right_free=True)),
]


def measure(subject, path, work):
    env = dict(os.environ)
    if path:
        env["PYTHONPATH"] = path
    done = subprocess.run([sys.executable, "-c", CHILD, subject, json.dumps(work), HERE],
                          env=env, capture_output=True, text=True)
    if done.returncode != 0:
        return {"error": done.stderr.strip().splitlines()[-1] if done.stderr.strip() else "failed"}
    return json.loads(done.stdout)


def side_by_side(work, baseline, rounds):
    """{subject: best result} for one workload: this build, the baseline and pywfa alternating."""
    work = dict(dict(protein=False, flags={}, seed=7), **work)
    subjects = [("this", "")]
    if baseline:
        subjects.append(("baseline", baseline))
    if have_pywfa() and not work["protein"] and not work["flags"]:
        subjects.append(("pywfa", ""))
    best = {}
    for _ in range(1 if work["n"] >= 100_000 else rounds):
        for name, path in subjects:
            r = measure("pywfa" if name == "pywfa" else "module", path, work)
            if name not in best or "error" in best[name] or \
                    ("seconds" in r and r["seconds"] < best[name]["seconds"]):
                best[name] = r
    return best


def have_pywfa():
    try:
        import pywfa  # noqa: F401
        return True
    except ImportError:
        return False


def agree(best):
    return len({r["score"] for r in best.values() if "score" in r}) <= 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", default="", help="PYTHONPATH of the baseline build")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="only the 20,000 workloads")
    parser.add_argument("--only", default="", help="the workloads whose name contains this")
    args = parser.parse_args()
    print("| workload | this build | baseline | baseline / this | pywfa (biwfa) | pywfa / this |")
    print("|---|---|---|---|---|---|")
    for work in WORKLOADS:
        if args.quick and work["n"] > 20_000 or args.only not in work["name"]:
            continue
        best = side_by_side(work, args.baseline, args.rounds)

        def cell(name):
            r = best.get(name)
            if r is None:
                return "–"
            if "error" in r:
                return r["error"][:40]
            return f"{r['seconds']:.4f} s, {r['peak_mb']:.0f} MB"

        def ratio(name):
            r, this = best.get(name), best["this"]
            if r is None or "seconds" not in r or "seconds" not in this:
                return "–"
            return f"{r['seconds'] / this['seconds']:.1f}×"

        print(f"| {work['name']} | {cell('this')} | {cell('baseline')} | {ratio('baseline')} | "
              f"{cell('pywfa')} | {ratio('pywfa')} |" + ("" if agree(best) else " scores differ"),
              flush=True)


if __name__ == "__main__":
    main()
