"""Two builds give the same results: the benchmarks' inputs (pairwise, batch, three-way, with and
without a scaler and free ends) aligned by each build in a fresh process, every result hashed with
the exact bits of its floats, and the hashes compared.

    python bench/same_results.py OLD_PYTHONPATH NEW_PYTHONPATH [--quick] [VAR=value ...]

Each VAR=value (a switch such as VORN_RUST_NATIVE_KERNEL=generic) adds one more run of the new
build with that variable set, compared with the old build's default run. Exits 1 on a difference.
"""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r'''
import hashlib, json, os, random, struct, sys
sys.path.insert(0, sys.argv[2])
import vorn_rust_native as vrn
from blosum62 import AMINO, BLOSUM62
quick = sys.argv[1] == "quick"
DNA = {a: {b: (1.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
DNA2 = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
INEXACT = {a: {b: (1.1 if a == b else -0.9) for b in "ACGT"} for a in "ACGT"}
def h(x):
    return hashlib.sha256(repr(x).encode() + b"".join(struct.pack("<d", v) for v in flat(x))).hexdigest()[:16]
def flat(x):
    if isinstance(x, float): yield x
    elif isinstance(x, (list, tuple)):
        for y in x: yield from flat(y)
def text(rng, n, letters="ACGT"):
    return "".join(rng.choice(letters) for _ in range(n))
def mutate(rng, s, identity, letters="ACGT"):
    out = []
    for ch in s:
        r = rng.random()
        if r < identity: out.append(ch)
        elif r < identity + (1 - identity) / 2: out.append(rng.choice(letters))
        elif rng.random() < 0.5: out.append(ch + text(rng, rng.randint(1, 3), letters))
    return "".join(out)
out = {}
rng = random.Random(1)
FLAGS = [{}, dict(seq1_left_free=True), dict(seq2_right_free=True, seq1_right_free=True),
         dict(seq1_left_free=True, seq2_left_free=True, enable_gap_close_penalty=False)]
sizes = [100, 1000] if quick else [100, 1000, 4000]
for n in sizes:
    a, b = text(rng, n), text(rng, n)
    for f, flags in enumerate(FLAGS):
        out[f"dna{n}-{f}"] = h(vrn.needleman_wunsch(a, b, score_matrix=DNA, **flags))
        out[f"dna2-{n}-{f}"] = h(vrn.needleman_wunsch(a, b, score_matrix=DNA2, gap_open=-3, gap_extend=-0.5, **flags))
        out[f"inexact{n}-{f}"] = h(vrn.needleman_wunsch(a, b, score_matrix=INEXACT, **flags))
        if f: out[f"scaled{n}-{f}"] = h(vrn.needleman_wunsch(a, b, score_matrix=DNA, score_scaler_fn=vrn.make_rust_score_scaler(1.0, 2.0), **flags))
    for ident in (0.99, 0.9):
        c = mutate(rng, a, ident)
        out[f"similar{n}-{ident}"] = h(vrn.needleman_wunsch(a, c, score_matrix=DNA, gap_open=-5, gap_extend=-1))
        out[f"similar-free{n}-{ident}"] = h(vrn.needleman_wunsch(a, c, score_matrix=DNA, seq2_left_free=True, seq1_right_free=True))
for n in ([500] if quick else [500, 2000]):
    a, b = text(rng, n, AMINO), text(rng, n, AMINO)
    out[f"protein{n}"] = h(vrn.needleman_wunsch(a, b, score_matrix=BLOSUM62, gap_open=-11, gap_extend=-1))
    c = mutate(rng, a, 0.9, AMINO)
    out[f"protein-similar{n}"] = h(vrn.needleman_wunsch(a, c, score_matrix=BLOSUM62, gap_open=-11, gap_extend=-1))
if not quick:
    a = text(rng, 20000); c = mutate(rng, a, 0.99)
    out["similar20000"] = h(vrn.needleman_wunsch(a, c, score_matrix=DNA))
    out["random8000"] = h(vrn.needleman_wunsch(text(rng, 8000), text(rng, 7000), score_matrix=DNA))
pairs = [(text(rng, rng.randint(80, 150)), text(rng, rng.randint(80, 150))) for _ in range(2000 if quick else 10000)]
for f, flags in enumerate(FLAGS):
    out[f"batch-{f}"] = h(vrn.needleman_wunsch_batch(pairs, score_matrix=DNA, **flags))
out["batch-inexact"] = h(vrn.needleman_wunsch_batch(pairs[:2000], score_matrix=INEXACT))
out["batch-scaled"] = h(vrn.needleman_wunsch_batch(pairs[:2000], score_matrix=DNA, seq1_left_free=True, score_scaler_fn=vrn.make_rust_score_scaler(1.5, 3.0)))
mixed = pairs[:500] + [(text(rng, 2000), text(rng, 1900)) for _ in range(4)]
out["batch-mixed"] = h(vrn.needleman_wunsch_batch(mixed, score_matrix=DNA, seq2_left_free=True))
for n in ([30] if quick else [30, 80]):
    s = [text(rng, n), text(rng, n - 3), text(rng, n + 2)]
    out[f"3d{n}"] = h(vrn.needleman_wunsch_3d(*s, score_matrix=DNA))
    out[f"3d-free{n}"] = h(vrn.needleman_wunsch_3d(*s, score_matrix=INEXACT, seq1_left_free=True, seq3_right_free=True))
print(json.dumps(out))
'''

def run(path, quick, env_extra):
    env = dict(os.environ, PYTHONPATH=path, **env_extra)
    done = subprocess.run([sys.executable, "-c", CHILD, "quick" if quick else "full", HERE], capture_output=True, text=True, env=env)
    if done.returncode: raise SystemExit(done.stderr[-3000:])
    return json.loads(done.stdout)

old, new = sys.argv[1], sys.argv[2]
quick = "--quick" in sys.argv
envs = [{}]
for arg in sys.argv[3:]:
    if "=" in arg: envs.append(dict([arg.split("=", 1)]))
bad = 0
ref = run(old, quick, {})
for env in envs:
    got = run(new, quick, env)
    diff = [k for k in ref if ref[k] != got.get(k)]
    print(env or "default", "compared", len(ref), "different", diff)
    bad += len(diff)
sys.exit(1 if bad else 0)
