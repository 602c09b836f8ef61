"""What several test modules share: the hypothesis strategies for the module's arguments, the
environment switches (a context manager, usable inside @given functions where fixtures are
not), the kernel builds to pin, and the random workloads of the thread-pool tests (which
subprocess scripts import too)."""

import contextlib
import math
import os
import platform
import random

import pytest
from hypothesis import strategies as st

import vorn_rust_native as vrn


# --------------------------------------------------------------------------- switches

@contextlib.contextmanager
def environment(**values):
    """Sets environment variables (each value through str; None unsets one) for the block,
    then puts every one of them back as it was, unset ones unset."""
    old = {name: os.environ.get(name) for name in values}
    try:
        for name, value in values.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = str(value)
        yield
    finally:
        for name, value in old.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


# The AVX2 and AVX-512 builds exist only in a module built for x86-64.
X86_ONLY = pytest.mark.skipif(platform.machine().lower() not in ("x86_64", "amd64"),
                              reason="the AVX2 and AVX-512 kernels are built only for x86-64")
KERNELS = ["generic", pytest.param("avx2", marks=X86_ONLY), pytest.param("avx512", marks=X86_ONLY)]
KERNEL_VARIABLE = "VORN_RUST_NATIVE_KERNEL"


def switches(**values):
    """The module's switches, named without their prefix in either case (KERNEL=...,
    cell_type=...), set for the block; None or "" leaves one unset."""
    return environment(**{"VORN_RUST_NATIVE_" + name.upper(): None if value == "" else value
                          for name, value in values.items()})


def pinned(kernel):
    """The block runs on the kernel build `kernel` (the module refuses one it cannot run)."""
    return environment(**{KERNEL_VARIABLE: kernel})


def require(kernel):
    """Skips unless the module can run `kernel` (it refuses a pin it cannot honour)."""
    with pinned(kernel):
        try:
            vrn.needleman_wunsch("A", "A", score_matrix={})
        except RuntimeError as e:
            pytest.skip(str(e))


# --------------------------------------------------------------------------- arguments

ALPHABET = "ACGTacgt-"
ODD_GAPS = [0.0, -0.0, 1.5, 4.0, -math.inf, math.inf, math.nan]
ODD_PAIRS = [-0.0, math.inf, -math.inf, math.nan]


def rarely(common, odd_values, one_in):
    """Mostly `common`, and a value from `odd_values` about once in `one_in` draws."""
    return st.integers(1, one_in).flatmap(
        lambda k: st.sampled_from(odd_values) if k == 1 else common)


@st.composite
def sequences(draw, max_len):
    """Short strings, now and then holding one two-byte character."""
    size = draw(st.integers(0, max_len))
    s = draw(st.text(alphabet=ALPHABET, min_size=size, max_size=size))
    if draw(st.integers(0, 6)) == 0:
        pos = draw(st.integers(0, len(s)))
        s = s[:pos] + draw(st.sampled_from("éß")) + s[pos:]
    return s


# Small integers and quarters give many ties; tenths and thirds make rounding depend
# on the order of every addition.
INEXACT = [0.1, -0.3, 1 / 3, -2 / 3, 2.2, -1.7, 0.7]
pair_scores = rarely(
    st.one_of(st.integers(-6, 6), st.integers(-12, 12).map(lambda k: k / 4),
              st.sampled_from(INEXACT), st.floats(-8, 8, allow_nan=False, allow_infinity=False)),
    ODD_PAIRS, 40)
sparse_matrices = st.dictionaries(
    st.sampled_from(ALPHABET),
    st.dictionaries(st.sampled_from(ALPHABET), pair_scores, max_size=9), max_size=9)
dense_scores = st.one_of(st.sampled_from(INEXACT + [-1.0, 1.0, 2.0]), st.floats(-8, 8))
dense_matrices = st.fixed_dictionaries(
    {a: st.fixed_dictionaries({b: dense_scores for b in "ACGT"}) for a in "ACGT"})
score_matrices = st.one_of(sparse_matrices, dense_matrices)
gap_scores = rarely(
    st.one_of(st.integers(-16, 2).map(lambda k: k / 2), st.sampled_from([-x for x in INEXACT]),
              st.floats(-8, 1, allow_nan=False, allow_infinity=False)),
    ODD_GAPS, 12)
finite_gaps = st.integers(-16, 0).map(lambda k: k / 2)
decay_exponents = rarely(
    st.sampled_from([0.0, 1.0, 2.0, 0.5, 1.5, 3.0, -1.0, -0.5, -2.0]),
    [math.inf, -math.inf, math.nan], 20)
temperatures = rarely(st.sampled_from([1.0, 2.0, 0.5, 3.7, 10.0, math.inf]), [math.nan], 20)
scalers = st.one_of(st.none(), st.tuples(decay_exponents, temperatures))

FLAG_NAMES = ("seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free")
FLAG_NAMES_3D = FLAG_NAMES + ("seq3_left_free", "seq3_right_free")
pair_flags = st.fixed_dictionaries(
    {name: st.booleans() for name in FLAG_NAMES + ("enable_gap_close_penalty",)})
three_way_flags = st.fixed_dictionaries(
    {name: st.booleans() for name in FLAG_NAMES_3D + ("enable_gap_close_penalty",)})


def module_kwargs(kwargs, scaler):
    """The module's keywords for a scaler drawn as (decay_exponent, temperature) or None."""
    if scaler is None:
        return kwargs
    return dict(kwargs, score_scaler_fn=vrn.make_rust_score_scaler(*scaler))


# --------------------------------------------------------------------------- batch workloads

POOL_MATRIX = {a: {b: (2.0 if a == b else -1.5) for b in "ACGT"} for a in "ACGT"}


def random_pairs(seed, count, long_pairs=3, long_length=1500):
    """Short pairs (empty strings among them) with a few long ones: over two million cells."""
    rng = random.Random(seed)

    def seq(n):
        return "".join(rng.choice("ACGTN") for _ in range(n))

    def length():
        return rng.choice([0, rng.randint(1, 12), rng.randint(40, 300)])

    pairs = [(seq(length()), seq(length())) for _ in range(count)]
    for _ in range(long_pairs):
        pairs.insert(rng.randrange(len(pairs) + 1), (seq(long_length), seq(long_length + rng.randint(-200, 200))))
    return pairs
