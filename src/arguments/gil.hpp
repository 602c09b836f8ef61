// Running an engine without the interpreter lock. The engines touch no Python object,
// so other threads can run while a long alignment is computed.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

namespace vorn {

// Below this many grid cells releasing the lock costs more than it gives.
inline constexpr std::uint64_t kReleaseLockCells = 16384;

// Runs an engine call, without the interpreter lock when the grid is large. Everything
// the engine reads is owned by the call (copies, or str objects the call holds).
template <class F>
auto run_engine(std::uint64_t cells, F&& engine) {
    if (cells < kReleaseLockCells) return engine();
    PyThreadState* state = PyEval_SaveThread();
    auto result = engine();
    PyEval_RestoreThread(state);
    return result;
}

}  // namespace vorn
