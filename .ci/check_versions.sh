#!/usr/bin/env bash
# The one cp310-abi3 wheel on the oldest and the newest CPython this machine has: 3.10,
# the oldest the wheel promises, and the newest GIL-enabled CPython 3.13 or later. Each
# gets a fresh virtual environment with the wheel and its test extras, and runs the whole
# suite from a copy of tests/ outside the source tree, as .ci/check_wheel.sh does for the
# default interpreter.
#
# Usage: .ci/check_versions.sh [WHEEL_OR_DIRECTORY]
#   The wheel, or the directory .ci/check_wheel.sh left it in (.ci/run passes
#   build/ci-wheel). Without one, .ci/check_wheel.sh runs first to build and check it.
#   VORN_CI_PYTHONS="3.10 3.12 ..." names the versions instead of the oldest and newest.
#
# An interpreter is looked for as python3.X on PATH, then under pyenv's versions directory
# ($PYENV_ROOT, by default ~/.pyenv); a candidate counts only if it runs, is CPython 3.X
# without Py_GIL_DISABLED, and can make a virtual environment. One that is not found is
# reported as SKIPPED with its name in the summary at the end; it does not fail the run.
# A failing suite on any interpreter does, after the others have run.
set -euo pipefail
given=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
root=$(pwd)
export PIP_DISABLE_PIP_VERSION_CHECK=1

work=$(mktemp -d /tmp/vorn-check-versions.XXXXXX)
trap 'rm -rf "$work"' EXIT
step() { printf '\n== %s\n' "$*"; }
shopt -s nullglob

if [ -z "$given" ]; then
    bash .ci/check_wheel.sh "$work/wheel"
    given=$work/wheel
fi
if [ -d "$given" ]; then
    wheels=("$given"/*-cp310-abi3-*.whl)
    if [ "${#wheels[@]}" -ne 1 ]; then
        echo "error: expected one cp310-abi3 wheel in $given, found ${#wheels[@]}" >&2
        exit 1
    fi
    wheel=${wheels[0]}
else
    wheel=$given
fi
[ -f "$wheel" ] || { echo "error: no wheel at $wheel" >&2; exit 1; }
echo "wheel: $(basename "$wheel")"

pyenv_versions=${PYENV_ROOT:-$HOME/.pyenv}/versions

# The path of a usable CPython 3.$1, or nothing. pyenv's shims on PATH fail for a
# version pyenv has not selected, so each candidate is run before it is taken.
find_python() {
    local minor=$1 candidate
    local -a candidates
    mapfile -t candidates < <(type -ap "python3.$minor" || true
        printf '%s\n' "$pyenv_versions"/3."$minor".*/bin/python3."$minor" | sort -rV)
    for candidate in "${candidates[@]}"; do
        [ -n "$candidate" ] || continue
        if "$candidate" - "$minor" > /dev/null 2>&1 <<'EOF'; then
import ensurepip, sys, sysconfig, venv
ok = (sys.implementation.name == "cpython" and sys.version_info[:2] == (3, int(sys.argv[1]))
      and not sysconfig.get_config_var("Py_GIL_DISABLED"))
sys.exit(0 if ok else 1)
EOF
            echo "$candidate"
            return
        fi
    done
}
where_looked() { echo "python3.$1 on PATH, $pyenv_versions/3.$1.*"; }

# (label, interpreter or empty, where it was looked for)
labels=() pythons=() looked=()
if [ -n "${VORN_CI_PYTHONS:-}" ]; then
    for version in $VORN_CI_PYTHONS; do
        labels+=("CPython $version") pythons+=("$(find_python "${version#3.}")")
        looked+=("$(where_looked "${version#3.}")")
    done
else
    labels+=("CPython 3.10 (oldest supported)") pythons+=("$(find_python 10)")
    looked+=("$(where_looked 10)")
    newest=""
    for minor in $(seq 19 -1 13); do
        newest=$(find_python "$minor")
        [ -z "$newest" ] || break
    done
    labels+=("CPython 3.13 or later (newest found)") pythons+=("$newest")
    looked+=("python3.19 down to python3.13 on PATH and under $pyenv_versions")
fi

mkdir "$work/suite"
cp -r "$root/tests" "$root/docs" "$root/examples" "$root/README.md" "$root/pyproject.toml" "$work/suite/"
find "$work/suite" -name __pycache__ -prune -exec rm -rf {} +

summary=() failed=0
for i in "${!labels[@]}"; do
    label=${labels[$i]} python=${pythons[$i]}
    if [ -z "$python" ]; then
        step "$label: SKIPPED, not found"
        summary+=("$label: SKIPPED, not found (looked for ${looked[$i]})")
        continue
    fi
    version=$("$python" -c 'import platform; print(platform.python_version())')
    step "CPython $version ($python): the wheel with the test extras in a fresh environment"
    venv=$work/venv-$version
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet "${wheel}[test]"
    (cd "$work/suite" && "$venv/bin/python" - "$venv" <<'EOF'
import sys, vorn_rust_native
if not vorn_rust_native.__file__.startswith(sys.argv[1]):
    sys.exit(f"error: imported {vorn_rust_native.__file__}, not the installed wheel")
print("testing", vorn_rust_native.__file__)
EOF
    )

    step "CPython $version: test suite against the installed wheel"
    status=0
    (cd "$work/suite" && "$venv/bin/python" -m pytest -p no:cacheprovider) 2>&1 | tee "$work/log" ||
        status=$?
    result=$(grep -E '^=+ .* in [0-9.]+s' "$work/log" | tail -n 1 | sed -E 's/^=+ //; s/ =+$//')
    if [ "$status" -eq 0 ]; then
        summary+=("CPython $version ($python): passed: ${result:-no summary line}")
    else
        summary+=("CPython $version ($python): FAILED (exit $status): ${result:-no summary line}")
        failed=1
    fi
done

step "the wheel on the CPython versions checked"
printf '  %s\n' "${summary[@]}"
exit "$failed"
