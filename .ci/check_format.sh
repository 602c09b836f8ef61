#!/usr/bin/env bash
# Every C++ source of the repository formatted as .clang-format says, checked with a pinned
# clang-format from PyPI (so that every machine checks with the same version).
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_DISABLE_PIP_VERSION_CHECK=1

work=$(mktemp -d /tmp/vorn-format.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 -m venv "$work/venv"
"$work/venv/bin/python" -m pip install --quiet 'clang-format==14.0.6'
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' '*.c' '*.h')
"$work/venv/bin/clang-format" --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files formatted as .clang-format says"
