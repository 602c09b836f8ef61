#!/usr/bin/env bash
# The module built with Clang (Debian's clang, installed with apt-get when missing) with
# warnings as errors, checked for -ffp-contract=off in every compile command and for no
# fused multiply-add in the engines, then installed into a fresh virtual environment
# with the test extras and run against the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
PYTHON=${PYTHON:-python3}
export PIP_DISABLE_PIP_VERSION_CHECK=1

work=$(mktemp -d /tmp/vorn-clang.XXXXXX)
trap 'rm -rf "$work"' EXIT
step() { printf '\n== %s\n' "$*"; }

step "clang"
if ! command -v clang++ > /dev/null; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends clang
fi
clang++ --version | sed -n 1p

step "building with clang++ into a fresh environment"
"$PYTHON" -m venv "$work/venv"
py=$work/venv/bin/python
CC=clang CXX=clang++ NW_WARNINGS_AS_ERRORS=ON "$py" -m pip install "$root[test]" \
    --config-settings=build-dir="$work/build" \
    --config-settings=cmake.define.CMAKE_EXPORT_COMPILE_COMMANDS=ON

step "compile commands and objects"
"$py" - "$work/build/compile_commands.json" <<'EOF'
import json, sys
commands = json.load(open(sys.argv[1]))
if not commands or not all("clang++" in c["command"] for c in commands):
    sys.exit("error: not every translation unit was compiled by clang++")
missing = [c["file"] for c in commands if "-ffp-contract=off" not in c["command"].split()]
if missing:
    sys.exit(f"error: compiled without -ffp-contract=off: {missing}")
print(f"{len(commands)} translation units, all with clang++ and -ffp-contract=off")
EOF
# The AVX-512 kernels are built with FMA available, so a contraction would show there.
if objdump -d "$work/build/libvorn_core.a" | grep -E '\svfn?m(add|sub)[0-9a-z]*\s'; then
    echo "error: the engines contain fused multiply-adds" >&2; exit 1
fi

step "test suite against the Clang build"
mkdir "$work/suite"
cp -r "$root/tests" "$root/docs" "$root/examples" "$root/README.md" "$root/pyproject.toml" "$work/suite/"
find "$work/suite" -name __pycache__ -prune -exec rm -rf {} +
cd "$work/suite"
"$py" -m pytest -p no:cacheprovider

step "Clang build OK"
