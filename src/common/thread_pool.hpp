// One pool of worker threads for the whole process, shared by every call that spreads its
// work over the cores. It is created on first use, starts workers as calls ask for them
// and costs nothing while idle: its workers sleep until a job is queued. Plain C++.
#pragma once

#include <cstddef>
#include <exception>
#include <type_traits>

#include "common/interruption.hpp"

namespace vorn {

// The number of CPUs this process may run on (its affinity mask on Linux, the hardware's
// count elsewhere); at least 1.
int available_cpus() noexcept;

// The most workers the pool ever starts, whatever a call asks for.
inline constexpr int kMaxPoolWorkers = 256;

// A reference to the function a job runs for each of its tasks, called as
// task(k, slot, interruption). It does not own the function, which must outlive the job.
class TaskRef {
  public:
    // Any callable but a TaskRef, which is copied instead.
    template <class F, std::enable_if_t<!std::is_same_v<std::remove_cv_t<F>, TaskRef>, int> = 0>
    TaskRef(F& f) noexcept  // NOLINT: implicit by design
        : object_(&f),
          call_([](void* object, std::size_t k, std::size_t slot, Interruption& interruption) {
              (*static_cast<F*>(object))(k, slot, interruption);
          }) {}

    void operator()(std::size_t k, std::size_t slot, Interruption& interruption) const {
        call_(object_, k, slot, interruption);
    }

  private:
    void* object_;
    void (*call_)(void*, std::size_t, std::size_t, Interruption&);
};

// Runs task(k, slot, interruption) once for every k in [0, count) on up to `threads`
// threads: the calling thread, which always works on its own job (so the call progresses
// however busy the pool is), and up to threads - 1 of the pool's workers, never more than
// count - 1. With threads <= 1 everything runs on the calling thread and the pool is not
// touched. Tasks are claimed in increasing k.
//
// `slot` tells the threads of one call apart: 0 for the calling thread, 1, 2, ... for the
// workers in the order they joined, always below min(threads, count), so that per-thread
// state can live in an array of that size.
//
// The calling thread runs its tasks with `caller`. Workers never touch it (its hook may
// need the calling thread): each has an Interruption of its own that stops once `caller`
// has stopped, which the calling thread also checks (caller.poll()) every few
// milliseconds while it waits for the workers. After a stop no further task starts and the
// running ones see it at their next tick; caller.stopped() then says so.
//
// An exception thrown by a task never leaves its thread: the other tasks still run, and once
// the job is done this throws std::bad_alloc if the lowest such k threw one, TaskThrew
// otherwise.
//
// A task must not rely on running beside others: a call made from inside a task (a signal
// handler run by a tick, say) runs its whole job on the calling thread.
void run_tasks(std::size_t count, int threads, TaskRef task, Interruption& caller);

// What run_tasks throws for a task that threw something other than std::bad_alloc.
struct TaskThrew : std::exception {
    const char* what() const noexcept override { return "a task threw"; }
};

}  // namespace vorn
