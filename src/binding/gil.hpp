// Running an engine without the interpreter lock. The engines touch no Python object,
// so other threads can run while a long alignment is computed; on the main thread the
// engine stops for a signal whose handler raises (Ctrl-C).
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "binding/arguments.hpp"
#include "common/interruption.hpp"

namespace vorn {

// Below this many grid cells releasing the lock costs more than it gives.
inline constexpr std::uint64_t kReleaseLockCells = 16384;

// Finds the thread that runs Python's signal handlers (at import; false with an
// exception set on failure), and whether the calling thread is that one.
bool find_signal_thread();
bool on_signal_thread();

// The hook of an engine running without the lock on the signal thread: takes the lock
// back, runs the handlers of pending signals and releases it again. It asks to stop when
// a handler raised; the exception is then set for the call to return.
//
// Taking the lock back can end the thread: during interpreter shutdown CPython ends a thread
// that asks for the lock with pthread_exit, which unwinds the C++ stack. Nothing here is
// noexcept, so that unwind passes through to the thread's start, as it does through C frames.
class SignalCheck {
  public:
    SignalCheck() noexcept = default;
    SignalCheck(const SignalCheck&) = delete;  // the hook points at this object
    SignalCheck& operator=(const SignalCheck&) = delete;
    const InterruptHook* hook() const noexcept { return &hook_; }
    void release() noexcept { state_ = PyEval_SaveThread(); }
    void restore() { PyEval_RestoreThread(state_); }

  private:
    static bool handlers_raised(void* context) {
        auto* self = static_cast<SignalCheck*>(context);
        self->restore();
        const bool raised = PyErr_CheckSignals() != 0;
        self->release();
        return raised;
    }

    PyThreadState* state_ = nullptr;
    InterruptHook hook_{&SignalCheck::handlers_raised, this};
};

// Runs an engine call, engine(Interruption&), without the interpreter lock when the grid
// is large. Everything the engine reads is owned by the call (copies, or str objects that
// `held` keeps alive). An engine that returns ErrorKind::Interrupted leaves the exception of
// a signal handler set.
//
// When the thread is ended while it takes the lock back (see SignalCheck), the unwind passes
// through here without the lock: the call's references are then abandoned, not released, so
// that the unwind of the entry's frame touches no reference count, as a C frame would not.
template <class F>
auto run_engine(std::uint64_t cells, Converted& held, F&& engine) {
    if (cells < kReleaseLockCells) {
        Interruption never;
        return engine(never);
    }
    SignalCheck signals;
    Interruption interruption(on_signal_thread() ? signals.hook() : nullptr);
    signals.release();
    try {
        auto result = engine(interruption);
        signals.restore();
        return result;
    } catch (...) {  // only a thread being ended gets here: the lock is not held
        held.abandon();
        throw;
    }
}

}  // namespace vorn
