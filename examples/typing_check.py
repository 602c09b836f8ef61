"""Every function of vorn_rust_native, called the way a type-checked program calls it.

`mypy --strict examples/typing_check.py` must pass: the `assert_type` lines pin the
result types, and each `# type: ignore[...]` line is a misuse that the type checker
must refuse (under --strict an ignore comment that suppresses nothing is an error).
Running the file checks that the module refuses the same misuses at run time.
numpy (one of the test extras) is imported for the numpy-boolean flags; the stubs
themselves do not need it.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, NamedTuple

import numpy as np

import vorn_rust_native as nw

if TYPE_CHECKING:
    from typing_extensions import assert_type
else:

    def assert_type(value, _type):
        return value


SCORES: dict[str, dict[str, float]] = {
    a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"
}


class Pair(NamedTuple):
    seq1: str
    seq2: str


def must_raise(exc: type[BaseException], call: Callable[[], object]) -> None:
    try:
        call()
    except exc:
        return
    raise AssertionError(f"{call} did not raise {exc.__name__}")


def typed_calls() -> None:
    scaler = nw.make_rust_score_scaler(decay_exponent=1.0, temperature=2.0)
    assert_type(scaler, nw.RustScoreScaler)
    assert_type(nw.make_rust_score_scaler(), nw.RustScoreScaler)
    assert_type(nw.RustScoreScaler(2, 1), nw.RustScoreScaler)
    assert_type(nw.RustScoreScaler(decay_exponent=0.5, temperature=3), nw.RustScoreScaler)
    assert_type(nw.RustScoreScaler(), nw.RustScoreScaler)
    factor = scaler(0, 3, 0, 0, True, False, False, False)
    assert_type(factor, float)
    assert factor == 2.0
    assert scaler(
        seq1_left_idx=1, seq1_right_idx=0, seq2_left_idx=0, seq2_right_idx=0,
        seq1_left_free=True, seq1_right_free=False, seq2_left_free=False, seq2_right_free=False,
    ) == 1.0

    a1, a2, score = nw.needleman_wunsch("GATTACA", "GCATGCT", score_matrix=SCORES)
    assert_type(score, float)
    assert (a1, a2, score) == ("GATTACA", "GCATGCT", 2.0)
    full = nw.needleman_wunsch(
        seq1="TTAC", seq2="GGTTACGG", score_matrix=SCORES, gap_open=-4, gap_extend=-0.5,
        seq1_left_free=True, seq1_right_free=True, seq2_left_free=False, seq2_right_free=False,
        enable_gap_close_penalty=False, score_scaler_fn=None,
    )
    assert_type(full, tuple[str, str, float])
    scaled = nw.needleman_wunsch("ACGT", "ACGT", score_matrix=SCORES, seq1_left_free=True,
                                 score_scaler_fn=scaler)
    assert_type(scaled, tuple[str, str, float])

    pairs: list[tuple[str, str]] = [("ACGT", "AGT"), ("ACGTT", "ACGT")]
    results = nw.needleman_wunsch_batch(pairs, score_matrix=SCORES, score_scaler_fn=scaler)
    assert_type(results, list[tuple[str, str, float]])
    named = nw.needleman_wunsch_batch((Pair("AC", "A"),), score_matrix={"A": {"A": 1}})
    assert named == [("AC", "A-", -4.0)]

    three = nw.needleman_wunsch_3d("ACGTA", "ACTA", "AGTA", score_matrix=SCORES,
                                   seq3_left_free=True, seq3_right_free=True)
    assert_type(three, tuple[str, str, str, float])


def numpy_boolean_calls() -> None:
    """Every flag also takes a numpy boolean, such as an element of a boolean array."""
    free = np.array([4, 0]) > 1
    left, right = np.bool_(free[0]), np.bool_(free[1])
    glocal = nw.needleman_wunsch("TTAC", "GGTTACGG", score_matrix=SCORES, seq1_left_free=left,
                                 seq1_right_free=np.True_, enable_gap_close_penalty=right)
    assert_type(glocal, tuple[str, str, float])
    assert glocal == ("--TTAC--", "GGTTACGG", 8.0)
    batch = nw.needleman_wunsch_batch([("AC", "TAC")], score_matrix=SCORES, seq1_left_free=left,
                                      seq2_right_free=np.False_)
    assert batch == [("-AC", "TAC", 4.0)]
    three = nw.needleman_wunsch_3d("AC", "TAC", "AC", score_matrix=SCORES,
                                   seq1_left_free=left, seq3_left_free=np.True_)
    assert three[3] == 12.0
    assert nw.make_rust_score_scaler()(0, 0, 0, 0, left, right, np.False_, False) == 1.0


def refused_calls() -> None:
    """Misuses that the type checker refuses; the module refuses them too."""
    s = SCORES
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A"))  # type: ignore[call-arg]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", s))  # type: ignore[call-arg]
    must_raise(TypeError, lambda: nw.needleman_wunsch(b"A", "A", score_matrix=s))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, seq1_left_free=1))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, seq1_left_free=np.int64(1)))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, seq1_left_free=np.array([True])))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, seq1_left_free=None))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, gap_open="-5"))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=[]))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch("A", "A", score_matrix=s, score_scaler_fn=abs))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch_3d("A", "A", "A", score_matrix=s, score_scaler_fn=None))  # type: ignore[call-arg]
    must_raise(TypeError, lambda: nw.needleman_wunsch_batch("AC", score_matrix=s))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.needleman_wunsch_batch([["A", "C"]], score_matrix=s))  # type: ignore[list-item]
    must_raise(TypeError, lambda: nw.needleman_wunsch_batch((p for p in [("A", "C")]), score_matrix=s))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.RustScoreScaler()(0, 0, 0, 0, True, False, False))  # type: ignore[call-arg]
    must_raise(TypeError, lambda: nw.RustScoreScaler()("0", 0, 0, 0, True, False, False, False))  # type: ignore[arg-type]
    must_raise(TypeError, lambda: nw.make_rust_score_scaler(temperature="1"))  # type: ignore[arg-type]


if __name__ == "__main__":
    typed_calls()
    numpy_boolean_calls()
    refused_calls()
    print("ok")
