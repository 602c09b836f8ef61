#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer into its own
# virtual environment and runs the whole test suite against that build. A sanitizer
# report, a crash or a failing test makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

VENV=.ci-venv-asan
export PIP_DISABLE_PIP_VERSION_CHECK=1

python3 -m venv "$VENV"
PY="$VENV/bin/python"

# The sanitized build gets a build directory of its own, so that its objects never mix
# with those of the ordinary build.
NW_SANITIZE=ON "$PY" -m pip install -C build-dir="build/sanitize/{wheel_tag}" '.[test]'

SO=$("$PY" -c 'import importlib.util as u; print(u.find_spec("vorn_rust_native").origin)')
case "$SO" in
    "$PWD/$VENV"/*) ;;
    *) echo "sanitize: vorn_rust_native resolves to $SO, not to $VENV" >&2; exit 1 ;;
esac
# ldd's output is read whole before it is searched: under pipefail, grep -q leaving the
# pipe at its first match can kill ldd with SIGPIPE and fail the check of a good build.
LIBS=$(ldd "$SO")
if ! grep -q libasan <<<"$LIBS"; then
    echo "sanitize: $SO is not linked against AddressSanitizer" >&2
    exit 1
fi

# The interpreter itself is not instrumented, so the runtimes are preloaded. Python's
# own allocator is bypassed so that object memory is checked too. Reports are written
# to files (and stop the process), so that one made while a test captures standard
# error is still seen and still fails the run.
LOGS=$(mktemp -d)
trap 'rm -rf "$LOGS"' EXIT
PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
# allocator_may_return_null: grids that cannot exist must come back as MemoryError, as
# they do with the ordinary allocator, instead of stopping the process.
ASAN="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:log_path=$LOGS/asan"
UBSAN="halt_on_error=1:print_stacktrace=1:log_path=$LOGS/ubsan"

run() {
    env LD_PRELOAD="$PRELOAD" PYTHONMALLOC=malloc ASAN_OPTIONS="$ASAN" UBSAN_OPTIONS="$UBSAN" "$@"
}

run "$PY" -c "
import sys, vorn_rust_native
assert vorn_rust_native.__file__ == sys.argv[1], vorn_rust_native.__file__
print('sanitize: testing', vorn_rust_native.__file__)
" "$SO"

# Once with the fill kernel the processor selects, once with the portable one: the
# vector kernels' gathers are not checked by AddressSanitizer, the portable kernel's
# scalar reads of the same indices are.
status=0
run "$PY" -m pytest -p no:cacheprovider "$@" || status=$?
if [ "$status" -eq 0 ]; then
    run env VORN_RUST_NATIVE_KERNEL=generic "$PY" -m pytest -p no:cacheprovider "$@" || status=$?
fi

if compgen -G "$LOGS/*" >/dev/null; then
    echo "sanitize: sanitizer reports:" >&2
    cat "$LOGS"/* >&2
    exit 1
fi
exit "$status"
