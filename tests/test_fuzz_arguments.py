"""Random arguments for every callable: a result or a documented exception, never a crash,
with argument-matching messages exactly as the matching rules give them."""

import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import vorn_rust_native as vrn
from reference import internal_error_class

np = pytest.importorskip("numpy")

END_FLAGS = ["seq1_left_free", "seq1_right_free", "seq2_left_free", "seq2_right_free"]
PAIRWISE_KW = ["score_matrix", "gap_open", "gap_extend", *END_FLAGS, "enable_gap_close_penalty", "score_scaler_fn"]
INSTANCE = vrn.RustScoreScaler(1.0, 2.0)
# (messages name, callable, positional-or-keyword, keyword-only, required)
CALLABLES = {
    "nw": ("needleman_wunsch", vrn.needleman_wunsch, ["seq1", "seq2"], PAIRWISE_KW,
           {"seq1", "seq2", "score_matrix"}),
    "batch": ("needleman_wunsch_batch", vrn.needleman_wunsch_batch, ["seq_pairs"], PAIRWISE_KW,
              {"seq_pairs", "score_matrix"}),
    "3d": ("needleman_wunsch_3d", vrn.needleman_wunsch_3d, ["seq1", "seq2", "seq3"],
           ["score_matrix", "gap_open", "gap_extend", *END_FLAGS, "seq3_left_free", "seq3_right_free",
            "enable_gap_close_penalty"], {"seq1", "seq2", "seq3", "score_matrix"}),
    "factory": ("make_rust_score_scaler", vrn.make_rust_score_scaler, ["decay_exponent", "temperature"], [],
                set()),
    "class": ("RustScoreScaler.__new__", vrn.RustScoreScaler, ["decay_exponent", "temperature"], [], set()),
    "call": ("RustScoreScaler.__call__", INSTANCE,
             ["seq1_left_idx", "seq1_right_idx", "seq2_left_idx", "seq2_right_idx", *END_FLAGS], [],
             {"seq1_left_idx", "seq1_right_idx", "seq2_left_idx", "seq2_right_idx", *END_FLAGS}),
}
InternalError = internal_error_class()
# Exceptions an argument may cause; the internal error only for a result that is not UTF-8.
ALLOWED = (TypeError, ValueError, OverflowError, UnicodeEncodeError, MemoryError)
# TypeErrors raised after the conversions, by the score-table build, carry no prefix.
TABLE_TYPE_ERRORS = re.compile(r"'[^']*' object cannot be converted to '(PyString|PyDict)'"
                               r"|must be real number, not [\w.]+")
VALUE_ERRORS = re.compile(r"score_matrix keys must be single characters|temperature must be > 0"
                          r"|unset pointer encountered during (3D )?traceback"
                          r"|expected tuple of length 2, but got tuple of length \d+")

atoms = st.one_of(
    st.integers(), st.floats(), st.text(max_size=5), st.binary(max_size=3), st.none(), st.booleans(),
    st.sampled_from([np.True_, np.False_, "ACGT", "acg", "é", "A\ud800", INSTANCE, float("-inf"),
                     {"A": {"A": 2.0, "c": -1}}, [("AC", "A"), ("G", "")], -1.0, 0.0]),
)
values = st.recursive(atoms, lambda inner: st.one_of(
    st.lists(inner, max_size=3), st.tuples(inner, inner),
    st.dictionaries(st.text(max_size=2), inner, max_size=3)), max_leaves=6)


def names_text(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) <= 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def matching_error(f, positional, keyword_only, required, args, kwargs):
    """The TypeError message the matching rules give, or None when the arguments match."""
    n_required = next((k for k, p in enumerate(positional) if p not in required), len(positional))
    if len(args) > len(positional):
        takes = str(len(positional)) if n_required == len(positional) else f"from {n_required} to {len(positional)}"
        was = "was" if len(args) == 1 else "were"
        return f"{f}() takes {takes} positional arguments but {len(args)} {was} given"
    filled = set(positional[:len(args)])
    for name in kwargs:
        if name not in positional and name not in keyword_only:
            return f"{f}() got an unexpected keyword argument '{name}'"
        if name in filled:
            return f"{f}() got multiple values for argument '{name}'"
        filled.add(name)
    for kind, params in (("positional", positional), ("keyword", keyword_only)):
        missing = [p for p in params if p in required and p not in filled]
        if missing:
            word = "argument" if len(missing) == 1 else "arguments"
            return f"{f}() missing {len(missing)} required {kind} {word}: {names_text(missing)}"
    return None


# Values that each parameter accepts, so that most calls get past the matching and reach
# the conversions, the table build and the engines.
text = st.text(st.sampled_from("ACGTacgt-é"), max_size=5)
real = st.one_of(st.floats(), st.integers(-9, 9))
flag = st.one_of(st.booleans(), st.sampled_from([np.True_, np.False_]))
GOOD = {
    "seq1": text, "seq2": text, "seq3": text, "seq_pairs": st.lists(st.tuples(text, text), max_size=3),
    "score_matrix": st.dictionaries(st.sampled_from("ACGTa"), st.dictionaries(
        st.sampled_from("ACGTc"), st.one_of(real, st.booleans()), max_size=3), max_size=3),
    "gap_open": real, "gap_extend": real, "decay_exponent": real, "temperature": real,
    "score_scaler_fn": st.sampled_from([None, INSTANCE, vrn.make_rust_score_scaler(0.5, 3.0)]),
    **{f"seq{s}_{end}_idx": st.integers(-3, 9) for s in (1, 2) for end in ("left", "right")},
    **{name: flag for name in END_FLAGS + ["seq3_left_free", "seq3_right_free", "enable_gap_close_penalty"]},
}


rarely = st.sampled_from([False] * 7 + [True])


@pytest.mark.parametrize("which", CALLABLES)
@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_random_arguments(which, data):
    f, fn, positional, keyword_only, required = CALLABLES[which]
    names = positional + keyword_only
    n_args = len(positional)
    if data.draw(rarely, label="other count"):
        n_args = data.draw(st.integers(0, len(positional) + 1), label="n_args")
    keys = [n for n in names[n_args:] if not data.draw(rarely if n in required else st.booleans())]
    if data.draw(rarely, label="surplus"):
        keys.append(data.draw(st.sampled_from(names[:n_args] + ["gap", "seq", "", "score_scaler", "é"])))
    keys = data.draw(st.permutations(keys), label="keyword order")
    # Up to two parameters get arbitrary objects; the others values of their own kind.
    wild = data.draw(st.sets(st.sampled_from(names + ["surplus"]), max_size=2), label="wild")

    def value(name):
        return data.draw(GOOD[name] if name in GOOD and name not in wild else values, label=name)

    args = [value(names[k] if k < len(positional) else "surplus") for k in range(n_args)]
    kwargs = {k: value(k) for k in keys}
    expected = matching_error(f, positional, keyword_only, required, args, kwargs)
    try:
        fn(*args, **kwargs)
    except BaseException as e:  # noqa: BLE001
        if type(e) is InternalError:
            assert str(e) == "Python API call failed" and which in ("nw", "batch")
            return
        assert type(e) in ALLOWED, repr(e)
        if expected is not None:
            assert type(e) is TypeError and str(e) == expected
        elif type(e) is ValueError:
            assert VALUE_ERRORS.fullmatch(str(e)), str(e)
        elif type(e) is TypeError:
            prefix = re.fullmatch(r"argument '(\w+)': .+", str(e), re.DOTALL)
            if prefix:
                assert prefix.group(1) in set(names[:len(args)]) | set(kwargs)
            else:
                assert TABLE_TYPE_ERRORS.fullmatch(str(e)), str(e)
                assert "score_matrix" in kwargs
    else:
        assert expected is None
