"""Module registration, introspection, the scaler type's properties and the internal-error class."""

import ctypes
import importlib
import importlib.util
import sys
import weakref

import pytest

import vorn_rust_native as vrn
from reference import raised

NAMES = ["RustScoreScaler", "make_rust_score_scaler", "needleman_wunsch", "needleman_wunsch_batch",
         "needleman_wunsch_3d"]
OPTIONS = ("gap_open=..., gap_extend=..., seq1_left_free=False, seq1_right_free=False, seq2_left_free=False, "
           "seq2_right_free=False, ")
SIGNATURES = {
    "make_rust_score_scaler": "(decay_exponent=1.0, temperature=1.0)",
    "needleman_wunsch": "(seq1, seq2, *, score_matrix, " + OPTIONS
                        + "enable_gap_close_penalty=True, score_scaler_fn=None)",
    "needleman_wunsch_batch": "(seq_pairs, *, score_matrix, " + OPTIONS
                              + "enable_gap_close_penalty=True, score_scaler_fn=None)",
    "needleman_wunsch_3d": "(seq1, seq2, seq3, *, score_matrix, " + OPTIONS
                           + "seq3_left_free=False, seq3_right_free=False, enable_gap_close_penalty=True)",
}
FULL_NAME = "vorn_rust_native.RustScoreScaler"



def test_registration_order_and_module_doc():
    assert type(vrn.__all__) is list and vrn.__all__ == NAMES
    assert [k for k in vars(vrn) if not k.startswith("__")] == NAMES
    assert type(vrn.__doc__) is str and vrn.__doc__ == ""


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_function_introspection(name):
    fn = getattr(vrn, name)
    assert (fn.__name__, fn.__text_signature__, fn.__doc__, fn.__module__) == (
        name, SIGNATURES[name], None, "vorn_rust_native")
    assert fn.__self__ is vrn


def test_scaler_type_properties():
    c = vrn.RustScoreScaler
    assert (c.__module__, c.__qualname__, c.__name__, c.__bases__) == (
        "vorn_rust_native", "RustScoreScaler", "RustScoreScaler", (object,))
    assert c.__text_signature__ == "(decay_exponent=1.0, temperature=1.0)"
    s = vrn.make_rust_score_scaler(2.0, 3.0)
    assert type(s) is c and type(c()) is c
    assert not hasattr(s, "__dict__") and not hasattr(s, "decay_exponent") and not hasattr(s, "temperature")
    for e, message in [(raised(weakref.ref, s), f"cannot create weak reference to '{FULL_NAME}' object"),
                       (raised(type, "Sub", (c,), {}), f"type '{FULL_NAME}' is not an acceptable base type")]:
        assert (type(e), str(e)) == (TypeError, message)


def test_reinitialisation_returns_the_same_module():
    saved = sys.modules.pop("vorn_rust_native")
    try:
        assert importlib.import_module("vorn_rust_native") is saved
    finally:
        sys.modules["vorn_rust_native"] = saved
    found = importlib.util.spec_from_file_location("vorn_rust_native", vrn.__file__)
    assert importlib.util.module_from_spec(found) is vrn
    init = ctypes.PyDLL(vrn.__file__).PyInit_vorn_rust_native
    init.restype, init.argtypes = ctypes.py_object, []
    assert init() is vrn and init() is vrn
    assert vrn.__all__ == NAMES  # the body ran only once


# The private sub-interpreter module: CPython 3.13 renamed _xxsubinterpreters to _interpreters.
try:
    import _interpreters as subinterpreters
except ImportError:
    try:
        import _xxsubinterpreters as subinterpreters
    except ImportError:
        subinterpreters = None


def new_legacy_interpreter():
    """A sub-interpreter with the legacy settings. From 3.12 the default one is isolated,
    and there CPython itself refuses a single-phase module before its init runs; the
    legacy one leaves the refusal to the module, as 3.10 and 3.11 always do."""
    if sys.version_info >= (3, 13):
        return subinterpreters.create("legacy")
    if sys.version_info >= (3, 12):
        return subinterpreters.create(isolated=False)
    return subinterpreters.create()


def run_in(iid, source):
    """The exception that source raises in the sub-interpreter as (type name, message),
    or None if it ran."""
    if sys.version_info >= (3, 13):
        failure = subinterpreters.run_string(iid, source)  # a snapshot of the exception
        return None if failure is None else (failure.type.__name__, failure.msg)
    try:
        subinterpreters.run_string(iid, source)
    except subinterpreters.RunFailedError as e:  # "<class 'ImportError'>: message"
        name, _, message = str(e).partition(": ")
        return name.removeprefix("<class '").removesuffix("'>"), message
    return None


@pytest.mark.skipif(subinterpreters is None, reason="neither _interpreters nor _xxsubinterpreters exists here")
def test_a_second_interpreter_is_refused():
    iid = new_legacy_interpreter()
    try:
        assert run_in(iid, "import math") is None
        for _ in range(2):
            # The module's own refusal, not CPython's for isolated interpreters.
            assert run_in(iid, "import vorn_rust_native") == (
                "ImportError", "vorn_rust_native does not support sub-interpreters")
    finally:
        subinterpreters.destroy(iid)
    assert vrn.make_rust_score_scaler()(0, 0, 0, 0, True, False, False, False) == 1.0


class Shrinking:
    """A score whose conversion removes another item of the dict being read."""

    def __init__(self, row):
        self.row = row

    def __float__(self):
        self.row.pop("G", None)
        return 1.0


def provoke_internal_error():
    row = {}
    row["C"], row["G"] = Shrinking(row), 2.0
    try:
        vrn.needleman_wunsch("A", "C", score_matrix={"A": row})
    except Exception as e:  # an ordinary exception is the wrong outcome
        raise AssertionError(f"ordinary exception {e!r}") from e
    except BaseException as e:  # noqa: BLE001
        return e
    raise AssertionError("no exception raised")


def test_internal_error_class(capfd):
    first = provoke_internal_error()
    cls = type(first)
    assert cls.__bases__ == (BaseException,) and not issubclass(cls, Exception)
    assert first.args == ("dictionary changed size during iteration",)
    assert "dictionary changed size during iteration" in capfd.readouterr().err
    assert type(provoke_internal_error()) is cls  # created once
    # The module stays usable.
    assert vrn.make_rust_score_scaler()(3, 0, 0, 0, True, False, False, False) == 0.25
    assert vrn.needleman_wunsch("A", "C", score_matrix={"A": {"C": 2.0}}) == ("A", "C", 2.0)
