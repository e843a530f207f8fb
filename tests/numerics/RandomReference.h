#pragma once
// An independent rendering of the program's uniform generator in Python (the minimal
// standard LCG, 16807 mod 2^31 - 1, behind a 32-entry Bays-Durham shuffle, results
// rounded to single precision), written from the generator's definition. Test scripts
// prepend it and call draw() for the next value of a fresh sequence.
inline const char* kPythonReferenceGenerator = R"PY(
import numpy as np
_M = 2147483647
_state = {"seed": 1, "table": [0] * 32, "word": 0}
def _lcg(s):
    return (16807 * s) % _M
def _start():
    seed = 1
    for j in range(39, -1, -1):
        seed = _lcg(seed)
        if j < 32:
            _state["table"][j] = seed
    _state["seed"] = seed
    _state["word"] = _state["table"][0]
_start()
def draw():
    _state["seed"] = _lcg(_state["seed"])
    j = _state["word"] // (1 + (_M - 1) // 32)
    _state["word"] = _state["table"][j]
    _state["table"][j] = _state["seed"]
    t = np.float32(_state["word"] / _M)
    if float(t) > 1.0 - 1.2e-7:
        t = np.float32(1.0 - 1.2e-7)
    return float(t)
)PY";
