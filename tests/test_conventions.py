"""The guide's conventions table: each free-end setting scores like the Biopython
PairwiseAligner attributes and the parasail function family it names (skipped where those
peer libraries are not installed)."""

import random

import pytest

import vorn_rust_native as nw

S = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
FLAGS = ("seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free")
# free flags -> (Biopython attributes set to 0, parasail family)
TABLE = [
    ((), (), "nw"),
    (("seq1_left_free",), ("left_insertion_score",), "sg_db"),
    (("seq1_right_free",), ("right_insertion_score",), "sg_de"),
    (("seq2_left_free",), ("left_deletion_score",), "sg_qb"),
    (("seq2_right_free",), ("right_deletion_score",), "sg_qe"),
    (("seq1_left_free", "seq1_right_free"), ("left_insertion_score", "right_insertion_score"),
     "sg_dx"),
    (("seq2_left_free", "seq2_right_free"), ("left_deletion_score", "right_deletion_score"),
     "sg_qx"),
    (("seq1_right_free", "seq2_left_free"), ("right_insertion_score", "left_deletion_score"),
     "sg_qb_de"),
    (FLAGS, ("end_gap_score",), "sg"),
]


def random_pairs(count, seed):
    rng = random.Random(seed)
    def one():
        return "".join(rng.choice("ACGT") for _ in range(rng.randint(1, 14)))
    return [(one(), one()) for _ in range(count)]


def pairs_nothing(a1, a2):
    return all("-" in column for column in zip(a1, a2))


@pytest.mark.parametrize("free, bio_attributes, family", TABLE, ids=lambda v: str(v))
@pytest.mark.parametrize("close", [True, False])
def test_table_row_scores_like_biopython(free, bio_attributes, family, close):
    align = pytest.importorskip("Bio.Align", reason="Biopython is not installed")
    aligner = align.PairwiseAligner(mode="global", match_score=2.0, mismatch_score=-1.0,
                                    open_gap_score=-5.0, extend_gap_score=-1.0)
    for name in bio_attributes:
        setattr(aligner, name, 0.0)
    for seq1, seq2 in random_pairs(200, len(free)):
        ours = nw.needleman_wunsch(seq1, seq2, score_matrix=S, enable_gap_close_penalty=close,
                                   **dict.fromkeys(free, True))
        assert ours[2] == aligner.score(seq1, seq2), (seq1, seq2)


@pytest.mark.parametrize("free, bio_attributes, family", TABLE, ids=lambda v: str(v))
def test_table_row_scores_like_parasail(free, bio_attributes, family):
    parasail = pytest.importorskip("parasail", reason="parasail is not installed")
    function = getattr(parasail, f"{family}_trace_scan_32")
    matrix = parasail.matrix_create("ACGT", 2, -1)
    for seq1, seq2 in random_pairs(200, len(free) + 10):
        a1, a2, score = nw.needleman_wunsch(seq1, seq2, score_matrix=S,
                                            enable_gap_close_penalty=False,
                                            **dict.fromkeys(free, True))
        if pairs_nothing(a1, a2):  # parasail's semi-global paths always pair something
            continue
        assert score == function(seq1, seq2, 5, 1, matrix).score, (seq1, seq2)


def test_positive_gap_open_rewards_gaps():
    a1, a2, score = nw.needleman_wunsch("ACGT", "ACGT", score_matrix=S, gap_open=10.0)
    assert "-" in a1 + a2 and score > 8.0
