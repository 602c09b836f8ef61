"""Align a few example strings and print the alignments."""

import vorn_rust_native as nw

# Pair scores: +2 for identical letters, -1 otherwise (penalties are negative).
LETTERS = "ACGT"
SCORES = {a: {b: (2.0 if a == b else -1.0) for b in LETTERS} for a in LETTERS}


def show(title, *rows_and_score):
    *rows, score = rows_and_score
    print(f"{title}  (score {score})")
    for row in rows:
        print("   ", row)


def main():
    show("global", *nw.needleman_wunsch("GATTACA", "GCATGCT", score_matrix=SCORES))
    show(
        "seq2 may overhang seq1 on both sides for free",
        *nw.needleman_wunsch(
            "TTAC", "GGTTACGG", score_matrix=SCORES, seq1_left_free=True, seq1_right_free=True
        ),
    )
    scaler = nw.make_rust_score_scaler(decay_exponent=1.0, temperature=2.0)
    show(
        "with a scaler weighting columns near the free left end of seq1",
        *nw.needleman_wunsch(
            "ACGTACGT", "ACGAACGT", score_matrix=SCORES, seq1_left_free=True, score_scaler_fn=scaler
        ),
    )
    for rows in nw.needleman_wunsch_batch(
        [("ACGT", "AGT"), ("acgtt", "ACGT")], score_matrix=SCORES, gap_open=-4.0
    ):
        show("batch", *rows)
    show("three-way", *nw.needleman_wunsch_3d("ACGTA", "ACTA", "AGTA", score_matrix=SCORES))


if __name__ == "__main__":
    main()
