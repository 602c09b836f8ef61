"""Arguments that another thread or a conversion callback replaces while a call runs.

Each case runs in a subprocess (a fault would take the interpreter down with it) and
checks that the call aligned the arguments it was given, and that the process exits
normally.
"""

import os
import subprocess
import sys
import textwrap

import pytest

PRELUDE = """
import ctypes, operator, threading, time
import vorn_rust_native as vrn
M = {a: {b: (2.0 if a == b else -1.0) for b in "ACGT"} for a in "ACGT"}
call = ctypes.pythonapi.PyObject_Call
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object] * 3

def later(action, delay=0.002):
    t = threading.Thread(target=lambda: (time.sleep(delay), action()))
    t.start()
    return t

class Hook:
    # Runs `action` the first time the module converts it, then converts as `value`.
    def __init__(self, value, action):
        self.value, self.action = value, action
    def fire(self):
        action, self.action = self.action, None
        if action:
            action()
    def __float__(self):
        self.fire()
        return float(self.value)
    def __index__(self):
        self.fire()
        return int(self.value)

class Pairs(list):
    def __init__(self, items, action):
        super().__init__(items)
        self.action = action
    def __len__(self):
        action, self.action = self.action, None
        if action:
            action()
        return list.__len__(self)
"""

CASES = {
    # Another thread replaces a string in the shared keyword dict while the engine runs
    # without the lock (or, on a slow run, before the call reads the dict: then the call
    # aligns the replacement).
    "methodcaller-pairwise": """
        long = "ACGT" * 1_000_000
        expected = vrn.needleman_wunsch("AC", "ACGT" * 1_000_000, score_matrix=M)
        replaced = vrn.needleman_wunsch("AC", "C", score_matrix=M)
        caller = operator.methodcaller("needleman_wunsch", "AC", seq2=long, score_matrix=M)
        shared = caller.__reduce__()[0].keywords
        del long
        t = later(lambda: shared.__setitem__("seq2", "C"))
        got = caller(vrn)
        t.join()
    """,
    "methodcaller-3d": """
        long = "ACGT" * 500_000
        expected = vrn.needleman_wunsch_3d("A", "C", "ACGT" * 500_000, score_matrix=M)
        replaced = vrn.needleman_wunsch_3d("A", "C", "C", score_matrix=M)
        caller = operator.methodcaller("needleman_wunsch_3d", "A", "C", seq3=long, score_matrix=M)
        shared = caller.__reduce__()[0].keywords
        del long
        t = later(lambda: shared.__setitem__("seq3", "C"))
        got = caller(vrn)
        t.join()
    """,
    "object-call-pairwise": """
        kwargs = {"seq2": "ACGT" * 1_000_000, "score_matrix": M}
        expected = vrn.needleman_wunsch("AC", "ACGT" * 1_000_000, score_matrix=M)
        replaced = vrn.needleman_wunsch("AC", "C", score_matrix=M)
        t = later(lambda: kwargs.__setitem__("seq2", "C"))
        got = call(vrn.needleman_wunsch, ("AC",), kwargs)
        t.join()
    """,
    # One thread: a conversion that runs later replaces an entry that was matched earlier.
    "float-replaces-seq1": """
        kwargs = {"seq1": "".join(["GATTACA"] * 3), "seq2": "GCATGCT", "score_matrix": M}
        kwargs["gap_open"] = Hook(-5.0, lambda: kwargs.__setitem__("seq1", "T" * 21))
        expected = vrn.needleman_wunsch("GATTACA" * 3, "GCATGCT", score_matrix=M)
        got = call(vrn.needleman_wunsch, (), kwargs)
    """,
    "float-replaces-score-matrix": """
        kwargs = {"seq1": "GATTACA", "seq2": "GCATGCT",
                  "score_matrix": {a: {b: (3.0 if a == b else -2.0) for b in "ACGT"} for a in "ACGT"}}
        kwargs["gap_open"] = Hook(-5.0, lambda: kwargs.__setitem__("score_matrix", {"A": {"A": 9.0}}))
        expected = vrn.needleman_wunsch("GATTACA", "GCATGCT", score_matrix={
            a: {b: (3.0 if a == b else -2.0) for b in "ACGT"} for a in "ACGT"})
        got = call(vrn.needleman_wunsch, (), kwargs)
    """,
    "float-replaces-3d-strings": """
        kwargs = {"seq1": "GATTACA" * 2, "seq2": "GCAT" * 2, "seq3": "GACTA" * 2, "score_matrix": M}
        kwargs["gap_extend"] = Hook(-1.0, lambda: (kwargs.__setitem__("seq1", "T"),
                                                    kwargs.__setitem__("seq3", "C" * 10)))
        expected = vrn.needleman_wunsch_3d("GATTACA" * 2, "GCAT" * 2, "GACTA" * 2, score_matrix=M)
        got = call(vrn.needleman_wunsch_3d, (), kwargs)
    """,
    "len-replaces-score-matrix": """
        matrix = {a: {b: (3.0 if a == b else -2.0) for b in "ACGT"} for a in "ACGT"}
        kwargs = {"score_matrix": matrix}
        del matrix
        kwargs["seq_pairs"] = Pairs([("GATTACA", "GCATGCT")],
                                    lambda: kwargs.__setitem__("score_matrix", {"A": {"A": 9.0}}))
        expected = vrn.needleman_wunsch_batch([("GATTACA", "GCATGCT")], score_matrix={
            a: {b: (3.0 if a == b else -2.0) for b in "ACGT"} for a in "ACGT"})
        got = call(vrn.needleman_wunsch_batch, (), kwargs)
    """,
    "index-replaces-next-index": """
        scaler = vrn.make_rust_score_scaler(decay_exponent=1.5, temperature=2.0)
        kwargs = {"seq1_right_idx": Hook(7, None), "seq2_left_idx": 2, "seq2_right_idx": 4,
                  "seq1_left_free": True, "seq1_right_free": True,
                  "seq2_left_free": False, "seq2_right_free": True}
        kwargs["seq1_left_idx"] = Hook(3, lambda: kwargs.__setitem__("seq1_right_idx", 99))
        expected = scaler(3, 7, 2, 4, True, True, False, True)
        got = call(scaler, (), kwargs)
    """,
    "index-replaces-scaler": """
        kwargs = {"score_matrix": M, "seq1_left_free": True,
                  "score_scaler_fn": vrn.make_rust_score_scaler(decay_exponent=2.0, temperature=3.0)}
        kwargs["gap_open"] = Hook(-4.0, lambda: kwargs.__setitem__("score_scaler_fn", None))
        expected = vrn.needleman_wunsch("ACGTTA", "AGTA", score_matrix=M, seq1_left_free=True, gap_open=-4.0,
                                        score_scaler_fn=vrn.make_rust_score_scaler(2.0, 3.0))
        got = call(vrn.needleman_wunsch, ("ACGTTA", "AGTA"), kwargs)
    """,
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_call_aligns_the_arguments_it_was_given(case):
    script = PRELUDE + textwrap.dedent(CASES[case]) + """
assert got == expected or got == globals().get("replaced"), (got[:3], expected[:3])
print("same")
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300,
                          env=dict(os.environ))
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "same"
