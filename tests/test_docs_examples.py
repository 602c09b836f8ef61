"""The README, the guide and the examples, run as they are shown to users.

Every ```python block of README.md and docs/*.md runs through the harness in documents.py, in
order, in one namespace per file, and must print what the comment lines below it show. Blocks
marked "<!-- needs: module, ... -->" use peer libraries that are not test dependencies
(Biopython, parasail): they run in a second pass over the document, which skips when one is
missing. The example scripts run on the small inputs under examples/data/ or on small
generated data.
"""

import importlib.util
import re
import runpy
import subprocess
import sys

import pytest

import vorn_rust_native as nw
from documents import DOCS, ROOT, peer_blocks_needs, run_document

EXAMPLES = ROOT / "examples"


@pytest.mark.parametrize("path", DOCS, ids=lambda p: p.name)
def test_document_examples_run_and_print_what_they_show(path):
    assert run_document(path) > 0, f"{path.name} shows no checked output"


@pytest.mark.parametrize("path", [p for p in DOCS if peer_blocks_needs(p)], ids=lambda p: p.name)
def test_document_blocks_that_use_peer_libraries(path):
    missing = [n for n in peer_blocks_needs(path) if importlib.util.find_spec(n) is None]
    if missing:
        pytest.skip(f"{path.name} compares with {', '.join(missing)}, which is not installed")
    assert run_document(path, with_peer_blocks=True) > 0


def test_harness_catches_a_wrong_expected_output(tmp_path):
    doc = tmp_path / "wrong.md"
    doc.write_text('```python\nprint(1 + 1)\n# 3\n```\n', encoding="utf-8")
    with pytest.raises(AssertionError):
        run_document(doc)


def test_harness_runs_marked_blocks_only_in_the_peer_pass(tmp_path):
    doc = tmp_path / "marked.md"
    doc.write_text('```python\nprint(1)\n# 1\n```\n<!-- needs: math -->\n'
                   '```python\nprint(2)\n# 3\n```\n', encoding="utf-8")
    assert run_document(doc) == 1 and peer_blocks_needs(doc) == ["math"]
    with pytest.raises(AssertionError):
        run_document(doc, with_peer_blocks=True)


def test_relative_links_resolve():
    # bench/ holds the benchmark's own output, produced by a separate run.
    for path in DOCS:
        for target in re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", path.read_text(encoding="utf-8")):
            if "://" in target or target.startswith("mailto:"):
                continue
            resolved = (path.parent / target).resolve()
            if resolved.is_relative_to(ROOT / "bench"):
                continue
            assert resolved.exists(), f"{path.name}: broken link {target}"


def run_example(*args, cwd):
    result = subprocess.run([sys.executable, *map(str, args)], cwd=cwd, capture_output=True,
                            text=True, timeout=300)
    return result.returncode, result.stdout, result.stderr


def read_tsv(path):
    header, *rows = path.read_text(encoding="utf-8").splitlines()
    assert header == "name\taligned_seq1\taligned_seq2\tscore"
    return [row.split("\t") for row in rows]


@pytest.mark.parametrize("options, flags", [
    ([], {}),
    (["--free", "seq1_left", "--free", "seq1_right", "--no-close-penalty", "--gap-open", "-4"],
     {"seq1_left_free": True, "seq1_right_free": True, "enable_gap_close_penalty": False,
      "gap_open": -4.0}),
])
def test_align_pairs_file_matches_single_calls(tmp_path, options, flags):
    example = runpy.run_path(str(EXAMPLES / "align_pairs_file.py"))
    for name in ("pairs.tsv", "pairs.fasta"):
        source = EXAMPLES / "data" / name
        out = tmp_path / f"{name}.out"
        code, _, err = run_example(EXAMPLES / "align_pairs_file.py", source, "-o", out, *options,
                                   cwd=tmp_path)
        assert code == 0, err
        pairs = example["read_pairs"](source.read_text(encoding="utf-8").splitlines(True))
        matrix = example["match_mismatch_matrix"]([p for _, p in pairs], 2.0, -1.0)
        assert len(pairs) >= 2
        expected = [[pair_name, *map(str, nw.needleman_wunsch(*pair, score_matrix=matrix, **flags))]
                    for pair_name, pair in pairs]
        assert read_tsv(out) == expected


def test_align_pairs_file_reads_both_formats_alike(tmp_path):
    read_pairs = runpy.run_path(str(EXAMPLES / "align_pairs_file.py"))["read_pairs"]
    tsv = read_pairs(["# comment\n", "a\tAC\tGT\n", "\n", "CC\tgg\n"])
    fasta = read_pairs([">a desc\n", "A\n", "C\n", ">b\n", "GT\n", ">c\n", "CC\n", ">d\n", "gg\n"])
    assert [p for _, p in tsv] == [p for _, p in fasta] == [("AC", "GT"), ("CC", "gg")]
    assert [n for n, _ in tsv] == ["a", "pair2"] and [n for n, _ in fasta] == ["a/b", "c/d"]
    bad = tmp_path / "odd.fasta"
    bad.write_text(">a\nAC\n", encoding="utf-8")
    code, _, err = run_example(EXAMPLES / "align_pairs_file.py", bad, cwd=tmp_path)
    assert code != 0 and "even number" in err


def test_threads_example_equals_one_batch_call(tmp_path):
    threads = runpy.run_path(str(EXAMPLES / "threads.py"))
    pairs = threads["random_pairs"](50, 30, 7)
    # Uneven chunks and more workers than chunks: the order must still be the input order.
    assert threads["align_in_threads"](pairs, 4, 7) == threads["align_chunk"](pairs)
    code, out, err = run_example(EXAMPLES / "threads.py", "--pairs", 40, "--length", 20,
                                 "--workers", 3, "--check", cwd=tmp_path)
    assert code == 0 and "equal a single batch call" in out, err


def test_dask_example_equals_one_batch_call(tmp_path):
    pytest.importorskip("dask.bag")
    example = runpy.run_path(str(EXAMPLES / "dask_batch.py"))
    pairs = runpy.run_path(str(EXAMPLES / "threads.py"))["random_pairs"](30, 25, 3)
    for scaler in (None, (1.0, 2.0)):
        single = example["align_partition"](pairs, scaler)
        for scheduler in ("threads", "synchronous"):
            assert example["align_with_dask"](pairs, 4, scheduler, scaler) == single
    code, out, err = run_example(EXAMPLES / "dask_batch.py", "--input", EXAMPLES / "data" / "pairs.tsv",
                                 "--partitions", 2, "--check", cwd=tmp_path)
    assert code == 0 and "equal a single batch call" in out, err


def test_typing_example_runs(tmp_path):
    code, out, err = run_example(EXAMPLES / "typing_check.py", cwd=tmp_path)
    assert (code, out) == (0, "ok\n"), err
