"""Every build of the fill kernels (portable, AVX2, AVX-512) against the reference.

The kernels process whole vectors of cells, so these cases use lengths that span
several vectors and partial ones. A build the processor cannot run is refused by the
module when pinned, and its tests skip, naming the builds that can run.
"""

import pytest
from hypothesis import given, settings

import vorn_rust_native as vrn
from reference import assert_same_outcome, module_outcome, pairwise, reference_outcome, three_way
from strategies import (KERNELS, gap_scores, module_kwargs, pair_flags, pinned, require, scalers,
                        score_matrices, sequences, three_way_flags)


@pytest.mark.parametrize("value", ["avx1024", "AVX2", " generic", "neon"])
def test_unknown_pin_is_refused(value):
    with pinned(value), pytest.raises(RuntimeError) as e:
        vrn.needleman_wunsch("A", "A", score_matrix={})
    assert str(e.value).startswith(f"VORN_RUST_NATIVE_KERNEL='{value}' names no kernel build this processor"
                                   " can run (it can run: generic")
    with pinned(""):
        assert vrn.needleman_wunsch("A", "A", score_matrix={})[2] == 0.0



def test_pin_read_behind_many_variables_of_the_same_prefix(env):
    # The switches are found in one pass over the environment; forty other variables with the
    # module's prefix set before the pin must not hide it.
    others = {f"VORN_RUST_NATIVE_UNUSED_{k}": "x" for k in range(40)}
    with env(**others), env(VORN_RUST_NATIVE_KERNEL="avx1024"), pytest.raises(RuntimeError):
        vrn.needleman_wunsch("A", "A", score_matrix={})


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=120, deadline=None)
@given(s1=sequences(30), s2=sequences(30), matrix=score_matrices, go=gap_scores, ge=gap_scores,
       flags=pair_flags, scaler=scalers)
def test_pairwise_kernel_matches_reference(kernel, s1, s2, matrix, go, ge, flags, scaler):
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        got = module_outcome(vrn.needleman_wunsch, s1, s2, **module_kwargs(kwargs, scaler))
    assert_same_outcome(got, reference_outcome(pairwise, s1, s2, scaler=scaler, **kwargs))


@pytest.mark.parametrize("kernel", KERNELS)
@settings(max_examples=80, deadline=None)
@given(s1=sequences(4), s2=sequences(4), s3=sequences(20), matrix=score_matrices,
       go=gap_scores, ge=gap_scores, flags=three_way_flags)
def test_three_way_kernel_matches_reference(kernel, s1, s2, s3, matrix, go, ge, flags):
    require(kernel)
    kwargs = dict(flags, score_matrix=matrix, gap_open=go, gap_extend=ge)
    with pinned(kernel):
        got = module_outcome(vrn.needleman_wunsch_3d, s1, s2, s3, **kwargs)
    assert_same_outcome(got, reference_outcome(three_way, s1, s2, s3, **kwargs))
