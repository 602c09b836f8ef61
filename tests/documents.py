"""Running the ```python blocks of the project's Markdown documents as they are shown to users.

Every block of a document is executed, in order, in one namespace. A top-level statement that
prints and is directly followed by comment lines must print exactly those lines (without their
leading "# "). A block right below a line "<!-- needs: module, ... -->" uses peer libraries
that are not test dependencies: it runs only in a second pass over the document.
"""

import ast
import contextlib
import io
import re
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DOCS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^(?:[ \t]*<!-- needs: ([\w., ]+) -->\n)?([ \t]*)```python\n(.*?)^\2```[ \t]*$",
                   re.MULTILINE | re.DOTALL)


def python_blocks(text):
    """(line number, dedented source, modules it needs) of every ```python block, indented
    ones included."""
    for m in FENCE.finditer(text):
        needs = tuple(name.strip() for name in (m.group(1) or "").split(",") if name.strip())
        yield text.count("\n", 0, m.start(3)) + 1, textwrap.dedent(m.group(3)), needs


def peer_blocks_needs(path):
    """The modules that the document's marked blocks need, in order of appearance."""
    needs = [n for _, _, block_needs in python_blocks(path.read_text(encoding="utf-8"))
             for n in block_needs]
    return list(dict.fromkeys(needs))


def expected_output(lines, end):
    """The comment lines directly below line `end` (1-based), without their "# "."""
    out = []
    for line in lines[end:]:
        stripped = line.strip()
        if not stripped.startswith("#"):
            break
        out.append(stripped[2:] if stripped.startswith("# ") else stripped[1:])
    return out


def run_document(path, with_peer_blocks=False, namespace=None):
    """Execute every block of one document (the marked ones too if `with_peer_blocks`);
    returns the number of outputs compared. `namespace` receives the document's names."""
    namespace = {} if namespace is None else namespace
    namespace["__name__"] = f"doc_{path.stem}"
    checked = 0
    for first_line, source, needs in python_blocks(path.read_text(encoding="utf-8")):
        if needs and not with_peer_blocks:
            continue
        lines = source.splitlines()
        for stmt in ast.parse(source).body:
            where = f"{path.name}:{first_line + stmt.lineno - 1}"
            captured = io.StringIO()
            with contextlib.redirect_stdout(captured):
                exec(compile(ast.Module([stmt], []), where, "exec"), namespace)
            expected = expected_output(lines, stmt.end_lineno)
            is_print = (isinstance(stmt, ast.Expr) and isinstance(stmt.value, ast.Call)
                        and getattr(stmt.value.func, "id", None) == "print")
            if expected and (is_print or captured.getvalue()):
                assert captured.getvalue().splitlines() == expected, where
                checked += 1
    return checked
