"""The guide's recipes (complete matrices, coordinates, CIGAR, counts, the numpy batch
summary) checked against each other and against the sequences on random alignments."""

import re

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import vorn_rust_native as nw
from documents import ROOT, run_document

GUIDE = ROOT / "docs" / "guide.md"
RECIPES = {}
run_document(GUIDE, namespace=RECIPES)

DNA = RECIPES["complete_matrix"]("ACGT", 2, -1)
FLAGS = ("seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free")
sequences = st.text("ACGT", max_size=12)
batches = st.lists(st.tuples(sequences, sequences), max_size=8)


def aligned(pairs, flags):
    return nw.needleman_wunsch_batch(pairs, score_matrix=DNA, **dict(zip(FLAGS, flags)))


@settings(max_examples=150, deadline=None)
@given(batches, st.tuples(*[st.booleans()] * 4))
def test_batch_summary_equals_the_single_result_recipes(pairs, flags):
    results = aligned(pairs, flags)
    summary = RECIPES["describe_batch"](results, with_cigar=True)
    for k, ((seq1, seq2), (a1, a2, _)) in enumerate(zip(pairs, results)):
        counts = RECIPES["counts"](a1, a2)
        span = RECIPES["coordinates"](a1, a2)
        assert span == (None if summary["start1"][k] < 0 else
                        tuple(int(summary[key][k]) for key in ("start1", "end1", "start2", "end2")))
        for key in ("identities", "mismatches", "gap_columns"):
            assert summary[key][k] == counts[key]
        assert summary["cigar"][k] == RECIPES["cigar"](a1, a2)
        if span:
            start1, end1, start2, end2 = span
            first = next(c for c, (x, y) in enumerate(zip(a1, a2)) if "-" not in (x, y))
            last = max(c for c, (x, y) in enumerate(zip(a1, a2)) if "-" not in (x, y)) + 1
            assert seq1[start1:end1] == a1[first:last].replace("-", "")
            assert seq2[start2:end2] == a2[first:last].replace("-", "")


@settings(max_examples=150, deadline=None)
@given(sequences, sequences)
def test_cigar_and_counts_rebuild_the_alignment(seq1, seq2):
    a1, a2, score = nw.needleman_wunsch(seq1, seq2, score_matrix=DNA)
    counts = RECIPES["counts"](a1, a2)
    ops = re.findall(r"(\d+)([=XID])", RECIPES["cigar"](a1, a2, extended=True))
    consumed = {op: sum(int(n) for n, o in ops if o == op) for op in "=XID"}
    assert (consumed["="], consumed["X"]) == (counts["identities"], counts["mismatches"])
    assert (consumed["I"], consumed["D"]) == (a2.count("-"), a1.count("-"))
    assert consumed["="] + consumed["X"] + consumed["I"] == len(seq1)
    # Without free ends or a scaler the score is the pairs plus each gap run's affine score.
    runs = re.findall("-+", a1) + re.findall("-+", a2)
    assert len(runs) == counts["gap_openings"]
    rebuilt = 2.0 * counts["identities"] - counts["mismatches"]
    assert score == rebuilt + sum(-5.0 - (len(r) - 1) for r in runs)


def test_complete_matrix_lists_every_pair_and_applies_the_special_entries():
    matrix = RECIPES["complete_matrix"]("acgtNa", 2, -1, {("n", "A"): 0})
    assert sorted(matrix) == list("ACGNT") and all(sorted(row) == list("ACGNT")
                                                     for row in matrix.values())
    assert matrix["A"]["A"] == 2.0 and matrix["A"]["N"] == -1.0 and matrix["N"]["A"] == 0.0
    assert RECIPES["unlisted"](matrix, "ACGTN", "acgtn") == []
    assert RECIPES["unlisted"](DNA, "ACGU") == ["A", "C", "G", "U"]
    assert RECIPES["unlisted"]({"A": {"A": 1}}, "a") == []


def test_substitution_matrix_conversion_reads_every_entry_through_the_alphabet():
    class Array(np.ndarray):  # the two things the recipe uses of Biopython's Array
        alphabet = "ARN"

        def __getitem__(self, key):
            if isinstance(key, str):
                return np.asarray(self)[self.alphabet.index(key)].view(Array)
            return super().__getitem__(key)

    table = np.arange(9, dtype=float).reshape(3, 3).view(Array)
    assert RECIPES["from_substitution_matrix"](table) == {
        a: {b: float(3 * i + j) for j, b in enumerate("ARN")} for i, a in enumerate("ARN")}
