// One pool of worker threads for the whole process, shared by every call that spreads its
// work over the cores. It is created on first use, starts workers as calls ask for them
// and costs nothing while idle: its workers sleep until a job is queued. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "common/interruption.hpp"

namespace vorn {

// The number of CPUs this process may run on (its affinity mask on Linux, the hardware's
// count elsewhere); at least 1.
int available_cpus() noexcept;

// The most workers the pool ever starts, whatever a call asks for.
inline constexpr int kMaxPoolWorkers = 256;

// Each worker's stack: the deepest task (a pairwise fill and traceback) needs a few KiB.
inline constexpr std::size_t kWorkerStackBytes = std::size_t{256} << 10;

// What one more worker can cost: in address space its stack and guard page and the malloc
// arena that glibc reserves for a new thread's first allocation (64 MiB on 64-bit systems),
// in memory actually used little more than the part of its stack it touches.
inline constexpr std::uint64_t kWorkerAddressSpace =
    kWorkerStackBytes + (std::uint64_t{64} << 20) + (std::uint64_t{64} << 10);
inline constexpr std::uint64_t kWorkerMemory = kWorkerStackBytes;

// The threads in all (the calling one included, so at least 1 and at most `wanted`) that a
// job can use while the process keeps `shared` bytes plus `per_thread` bytes for each thread
// free, counting each worker's own cost: the limits of read_memory_limits(root) decide.
// Counting the workers makes the choice monotonic: a larger limit never gets fewer threads,
// and never leaves the job less room than a smaller one did.
int affordable_threads(int wanted, std::uint64_t shared, std::uint64_t per_thread,
                       const std::string& root) noexcept;

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
// touched; so it does where the system refuses a thread. Tasks are claimed in increasing k.
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
// A task must not throw on a worker. On the calling thread an exception (the forced unwind
// of a thread being ended inside caller's hook) stops the job, waits for the workers to
// leave it and passes on.
//
// Forks: a fork waits until every busy worker has reached a tick or the end of a task, so
// that no worker is inside the job's shared data when the process is copied. In a child
// forked by the calling thread (a signal handler run by caller's hook, say) the workers do
// not exist: the calling thread then runs the tasks they had begun again, from their start,
// and every task nobody had claimed. A task must therefore be safe to run again after being
// stopped at any of its ticks.
void run_tasks(std::size_t count, int threads, TaskRef task, Interruption& caller);

// Counts the forks of the process that this pool has seen, in the child: a value recorded
// before a wait that changes means the waiting thread is now in a forked child, where only
// it exists.
std::uint64_t fork_generation() noexcept;

}  // namespace vorn
