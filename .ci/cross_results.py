"""Results of the installed module on fixed pseudo-random inputs, one line per call, scores
in hexadecimal so that two platforms' outputs can be compared bit for bit with diff.

Usage: python cross_results.py [SEED]. The inputs depend only on the seed (Python's
random module gives the same sequence on every platform), never on the machine.
"""

import random
import sys

import vorn_rust_native as vrn


def hexed(value):
    return value.hex() if isinstance(value, float) else repr(value)


def outcome(fn, *args, **kwargs):
    """The result with hexadecimal scores, or the exception's type and message."""
    try:
        result = fn(*args, **kwargs)
    except (ValueError, MemoryError) as e:
        return f"{type(e).__name__}: {e}"
    rows = result if isinstance(result, list) else [result]
    return " | ".join(" ".join(hexed(x) for x in row) for row in rows)


def main(seed):
    rng = random.Random(seed)
    alphabet = "ACGT"

    def seq(longest):
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, longest)))

    def matrix():
        # Scores with full 53-bit mantissas, so that every rounding shows in the sums.
        return {a: {b: rng.uniform(-3.0, 3.0) for b in alphabet} for a in alphabet}

    def options(ends):
        flags = {name: rng.random() < 0.4 for name in ends}
        return dict(flags, score_matrix=matrix(), gap_open=rng.uniform(-6.0, 0.0),
                    gap_extend=rng.uniform(-2.0, 0.0), enable_gap_close_penalty=rng.random() < 0.5)

    pair_ends = ["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free"]
    three_ends = [f"seq{k}_{side}_free" for k in (1, 2, 3) for side in ("left", "right")]

    def scaler():
        return vrn.make_rust_score_scaler(decay_exponent=rng.uniform(-2.0, 3.0),
                                          temperature=rng.uniform(0.1, 50.0))

    for k in range(200):
        kwargs = options(pair_ends)
        if k % 2:
            kwargs["score_scaler_fn"] = scaler()
        print("pair", k, outcome(vrn.needleman_wunsch, seq(60), seq(60), **kwargs))
    for k in range(20):
        kwargs = options(pair_ends)
        if k % 2:
            kwargs["score_scaler_fn"] = scaler()
        pairs = [(seq(40), seq(40)) for _ in range(10)]
        print("batch", k, outcome(vrn.needleman_wunsch_batch, pairs, **kwargs))
    for k in range(40):
        print("three", k, outcome(vrn.needleman_wunsch_3d, seq(8), seq(8), seq(30), **options(three_ends)))
    # The scaler's factor: pow of the C library, for the decay exponents users pass.
    for k in range(300):
        s = scaler()
        indices = [rng.randint(-1, 10 ** rng.randint(0, 9)) for _ in range(4)]
        flags = [rng.random() < 0.6 for _ in range(4)]
        print("scaler", k, hexed(s(*indices, *flags)))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 20261208)
