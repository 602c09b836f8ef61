"""Exact global alignment of strings (Needleman-Wunsch) with affine, split and free-end gaps."""

from collections.abc import Sequence
from typing import Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final, type_check_only

__all__ = [
    "RustScoreScaler",
    "make_rust_score_scaler",
    "needleman_wunsch",
    "needleman_wunsch_batch",
    "needleman_wunsch_3d",
]

# A number: float, int, bool, or any object with __float__ or __index__ (not a str).
_Float: TypeAlias = SupportsFloat | SupportsIndex
# Pair scores: outer key = character of the first sequence, inner key = character of the
# second one. Both levels must be real dicts (or dict subclasses); keys are one ASCII
# character each, upper-cased before use; pairs that are not listed score 0.0.
@type_check_only
class _NumpyBool(Protocol):
    """What numpy's boolean scalar (``numpy.bool_``) offers, so that the stubs accept it
    without depending on numpy. ints, numpy integers and arrays do not match (their
    ``item()`` is not a bool, or their ``itemsize`` is not the literal 1)."""

    @property
    def itemsize(self) -> Literal[1]: ...
    def item(self, /) -> bool: ...
    def __bool__(self, /) -> bool: ...

# A flag: True or False, or a numpy boolean; ints and None are refused.
_Flag: TypeAlias = bool | _NumpyBool
_ScoreMatrix: TypeAlias = dict[str, dict[str, float]]

@final
class RustScoreScaler:
    """Weights alignment columns by their distance from the enabled free ends.

    Immutable; the two parameters cannot be read back. Pass an instance as
    ``score_scaler_fn`` to ``needleman_wunsch`` or ``needleman_wunsch_batch``.
    Instances cannot be pickled and the class cannot be subclassed.
    """

    def __new__(
        cls, decay_exponent: _Float = 1.0, temperature: _Float = 1.0
    ) -> RustScoreScaler:
        """Create a scaler; the same as ``make_rust_score_scaler``.

        Raises ValueError "temperature must be > 0" when ``temperature`` is given and is
        less than or equal to 0 (NaN and +inf are accepted). ``decay_exponent`` may be
        any number.
        """

    def __call__(
        self,
        seq1_left_idx: SupportsIndex,
        seq1_right_idx: SupportsIndex,
        seq2_left_idx: SupportsIndex,
        seq2_right_idx: SupportsIndex,
        seq1_left_free: _Flag,
        seq1_right_free: _Flag,
        seq2_left_free: _Flag,
        seq2_right_free: _Flag,
    ) -> float:
        """The scale factor of one alignment column.

        Each index counts the characters of that sequence between the column and that
        end. Every end whose flag is True adds ``(temperature / (idx + 1)) **
        decay_exponent``; a sum of exactly 0.0 (no flag set, for instance) gives 1.0.
        Indices must fit a signed 64-bit integer (else OverflowError).
        """

def make_rust_score_scaler(
    decay_exponent: _Float = 1.0, temperature: _Float = 1.0
) -> RustScoreScaler:
    """Create a ``RustScoreScaler`` with the given decay exponent and temperature.

    Raises ValueError "temperature must be > 0" when ``temperature`` is less than or
    equal to 0, and TypeError "argument '<name>': ..." for a non-number.
    """

def needleman_wunsch(
    seq1: str,
    seq2: str,
    *,
    score_matrix: _ScoreMatrix,
    gap_open: _Float = -5.0,
    gap_extend: _Float = -1.0,
    seq1_left_free: _Flag = False,
    seq1_right_free: _Flag = False,
    seq2_left_free: _Flag = False,
    seq2_right_free: _Flag = False,
    enable_gap_close_penalty: _Flag = True,
    score_scaler_fn: RustScoreScaler | None = None,
) -> tuple[str, str, float]:
    """Globally align two strings; return (aligned seq1, aligned seq2, score).

    Scores are maximised: pair scores come from ``score_matrix`` (unlisted pairs score
    0.0) and gap scores are added with their sign, so penalties are negative. A closed
    gap of L columns scores ``gap_open + (L - 1) * gap_extend``; with
    ``enable_gap_close_penalty`` the opening score is split in halves between the
    gap's first column and the column where it ends. A ``*_free`` flag makes gaps
    before the first (left) or after the last (right) character of that sequence cost
    nothing. ``score_scaler_fn`` weights every column by its distance from the enabled
    free ends. Sequences are aligned as UTF-8 bytes, a-z upper-cased; gaps are "-".

    Raises TypeError for badly typed arguments, ValueError for a ``score_matrix`` key
    that is not one ASCII character or when every alignment scores -inf, MemoryError
    when the grid does not fit in memory, and the module's InternalError (derived from
    BaseException) when a gap splits a multi-byte character.
    """

def needleman_wunsch_batch(
    seq_pairs: Sequence[tuple[str, str]],
    *,
    score_matrix: _ScoreMatrix,
    gap_open: _Float = -5.0,
    gap_extend: _Float = -1.0,
    seq1_left_free: _Flag = False,
    seq1_right_free: _Flag = False,
    seq2_left_free: _Flag = False,
    seq2_right_free: _Flag = False,
    enable_gap_close_penalty: _Flag = True,
    score_scaler_fn: RustScoreScaler | None = None,
) -> list[tuple[str, str, float]]:
    """Align every (seq1, seq2) pair with one set of options, in input order.

    Element k of the result equals ``needleman_wunsch(*seq_pairs[k], **options)``.
    ``seq_pairs`` must be a sequence (list, tuple, ...; not a str or a generator) of
    2-tuples (named tuples too) of str. All or nothing: if any pair fails, the call
    raises and returns no partial results. Raises what ``needleman_wunsch`` raises, and
    TypeError or ValueError (wrong tuple length) for a malformed ``seq_pairs``.
    """

def needleman_wunsch_3d(
    seq1: str,
    seq2: str,
    seq3: str,
    *,
    score_matrix: _ScoreMatrix,
    gap_open: _Float = -5.0,
    gap_extend: _Float = -1.0,
    seq1_left_free: _Flag = False,
    seq1_right_free: _Flag = False,
    seq2_left_free: _Flag = False,
    seq2_right_free: _Flag = False,
    seq3_left_free: _Flag = False,
    seq3_right_free: _Flag = False,
    enable_gap_close_penalty: _Flag = True,
) -> tuple[str, str, str, float]:
    """Align three strings at once (sum of pairs); return the three rows and the score.

    A column scores ``score_matrix[a][b]`` for each pair of its characters, the
    character of the lower-numbered string being the outer key, and each gapped string
    pays its own affine gap score. There is no scaler. A row in which a gap splits a
    multi-byte character comes back as "" (the other rows and the score are kept).
    Time and memory grow with (len1 + 1) * (len2 + 1) * (len3 + 1).
    """
