"""Align every pair of sequences in a file with one needleman_wunsch_batch call.

Input is either
  * TSV: one pair per line, "seq1<TAB>seq2" or "name<TAB>seq1<TAB>seq2"; empty lines and
    lines starting with "#" are skipped; or
  * FASTA: records taken two at a time, so records 1 and 2 form the first pair, 3 and 4
    the second, and so on (the file must hold an even number of records).
The format is FASTA when the first non-empty line starts with ">", TSV otherwise.

Output is TSV with the columns name, aligned_seq1, aligned_seq2, score, in input order.

    python examples/align_pairs_file.py examples/data/pairs.tsv
    python examples/align_pairs_file.py examples/data/pairs.fasta -o aligned.tsv \
        --match 2 --mismatch -1 --gap-open -5 --gap-extend -1 --free seq2_left --free seq2_right
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Iterable, Sequence
from typing import TextIO

import vorn_rust_native as nw

FREE_ENDS = ("seq1_left", "seq1_right", "seq2_left", "seq2_right")


def read_pairs(lines: Iterable[str]) -> list[tuple[str, tuple[str, str]]]:
    """(name, (seq1, seq2)) for every pair in a TSV or FASTA text."""
    rows = [line.rstrip("\r\n") for line in lines]
    content = [row for row in rows if row.strip()]
    if content and content[0].startswith(">"):
        return _fasta_pairs(content)
    return _tsv_pairs(rows)


def _tsv_pairs(rows: list[str]) -> list[tuple[str, tuple[str, str]]]:
    pairs: list[tuple[str, tuple[str, str]]] = []
    for number, row in enumerate(rows, start=1):
        if not row.strip() or row.startswith("#"):
            continue
        fields = row.split("\t")
        if len(fields) == 2:
            name, seq1, seq2 = f"pair{len(pairs) + 1}", fields[0], fields[1]
        elif len(fields) == 3:
            name, seq1, seq2 = fields
        else:
            raise ValueError(f"line {number}: expected 2 or 3 tab-separated fields, got {len(fields)}")
        pairs.append((name, (seq1.strip(), seq2.strip())))
    return pairs


def _fasta_pairs(content: list[str]) -> list[tuple[str, tuple[str, str]]]:
    records: list[tuple[str, list[str]]] = []
    for row in content:
        if row.startswith(">"):
            header = row[1:].split()
            records.append((header[0] if header else f"record{len(records) + 1}", []))
        elif not records:
            raise ValueError("sequence data before the first '>' header")
        else:
            records[-1][1].append(row.strip())
    if len(records) % 2:
        raise ValueError(f"FASTA input holds {len(records)} records; pairs need an even number")
    return [
        (f"{records[k][0]}/{records[k + 1][0]}", ("".join(records[k][1]), "".join(records[k + 1][1])))
        for k in range(0, len(records), 2)
    ]


def match_mismatch_matrix(
    pairs: Iterable[tuple[str, str]], match: float, mismatch: float
) -> dict[str, dict[str, float]]:
    """A score matrix over the ASCII characters of the input (the module upper-cases both
    the sequences and the keys, so upper case is enough). Non-ASCII characters cannot be
    keys and score 0.0 against everything."""
    letters = sorted({c for pair in pairs for seq in pair for c in seq.upper() if c.isascii() and c != "-"})
    return {a: {b: (match if a == b else mismatch) for b in letters} for a in letters}


def write_results(
    out: TextIO, names: Sequence[str], results: Sequence[tuple[str, str, float]]
) -> None:
    out.write("name\taligned_seq1\taligned_seq2\tscore\n")
    for name, (aligned1, aligned2, score) in zip(names, results):
        out.write(f"{name}\t{aligned1}\t{aligned2}\t{score!r}\n")


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("input", help="TSV or FASTA file of sequence pairs ('-' for standard input)")
    parser.add_argument("-o", "--output", help="output TSV (default: standard output)")
    parser.add_argument("--match", type=float, default=2.0, help="score of identical characters")
    parser.add_argument("--mismatch", type=float, default=-1.0, help="score of different characters")
    parser.add_argument("--gap-open", type=float, default=-5.0, help="score of a gap's first column")
    parser.add_argument("--gap-extend", type=float, default=-1.0, help="score of each further gap column")
    parser.add_argument("--free", action="append", choices=FREE_ENDS, default=[],
                        help="an end where gaps cost nothing (repeatable)")
    parser.add_argument("--no-close-penalty", action="store_true",
                        help="charge the whole opening score at a gap's start")
    args = parser.parse_args(argv)

    if args.input == "-":
        named = read_pairs(sys.stdin)
    else:
        with open(args.input, encoding="utf-8") as f:
            named = read_pairs(f)
    names = [name for name, _ in named]
    pairs = [pair for _, pair in named]

    free: set[str] = set(args.free)
    results = nw.needleman_wunsch_batch(
        pairs,
        score_matrix=match_mismatch_matrix(pairs, args.match, args.mismatch),
        gap_open=args.gap_open,
        gap_extend=args.gap_extend,
        seq1_left_free="seq1_left" in free,
        seq1_right_free="seq1_right" in free,
        seq2_left_free="seq2_left" in free,
        seq2_right_free="seq2_right" in free,
        enable_gap_close_penalty=not args.no_close_penalty,
    )

    if args.output:
        with open(args.output, "w", encoding="utf-8", newline="") as out:
            write_results(out, names, results)
    else:
        write_results(sys.stdout, names, results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
