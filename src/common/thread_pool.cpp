// The process's worker pool: jobs on their callers' stacks, queued for workers that sleep on
// a condition variable until there is one to help with, and a fork that waits for the busy
// workers to reach a safe point first.
#include "common/thread_pool.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <signal.h>
#define VORN_POSIX_THREADS 1
#else
#include <system_error>
#define VORN_POSIX_THREADS 0
#endif
#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "common/checked_size.hpp"
#include "common/condition.hpp"
#include "common/memory_budget.hpp"

// glibc 2.34 moved pthread_create and pthread_attr_setstacksize into libc under a new symbol
// version. Built there, the module would refuse to load on an older glibc; binding the
// versions both functions had before (still exported by every newer glibc) keeps the wheels
// loadable wherever their manylinux tag says.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#if defined(__x86_64__)
__asm__(".symver pthread_create, pthread_create@GLIBC_2.2.5");
__asm__(".symver pthread_attr_setstacksize, pthread_attr_setstacksize@GLIBC_2.2.5");
#elif defined(__aarch64__)
__asm__(".symver pthread_create, pthread_create@GLIBC_2.17");
__asm__(".symver pthread_attr_setstacksize, pthread_attr_setstacksize@GLIBC_2.17");
#endif
#endif

namespace vorn {

namespace {

// How often a caller waiting for its workers checks its own Interruption.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

constexpr std::size_t kNoTask = ~std::size_t{0};

// Incremented in every forked child (see fork_generation()).
std::atomic<std::uint64_t> g_fork_generation{0};

// One call of run_tasks. It lives on the caller's stack; the caller returns only once it is
// out of the queue and no worker works on it any more.
struct Job {
    Job(std::size_t n, TaskRef f, std::atomic<std::size_t>* running_by_slot) noexcept
        : count(n),
          task(f),
          running(running_by_slot),
          generation(g_fork_generation.load(std::memory_order_acquire)) {}

    const std::size_t count;
    const TaskRef task;
    // The task each slot runs now, kNoTask between tasks: what the caller runs again when a
    // fork has left it without its workers.
    std::atomic<std::size_t>* const running;
    const std::uint64_t generation;    // the fork generation the job started in
    std::atomic<std::size_t> next{0};  // the next task to claim
    std::atomic<bool> stop{false};     // set once the caller's Interruption has stopped

    // Under the pool's mutex:
    std::size_t wanted = 0;  // workers the job can use
    std::size_t joined = 0;  // workers that joined it (their slots are 1..joined)
    std::size_t active = 0;  // workers still on it
    bool queued = false;
    Job* next_queued = nullptr;
    Condition left;  // the last active worker left
};

#if VORN_POSIX_THREADS
// Sets the calling thread's signal mask. On Linux sigprocmask does exactly that (the mask is
// per thread) and, unlike pthread_sigmask, binds a symbol every glibc has in the C library.
void thread_signal_mask(const sigset_t* mask, sigset_t* old) noexcept {
#if defined(__linux__)
    sigprocmask(SIG_SETMASK, mask, old);
#else
    pthread_sigmask(SIG_SETMASK, mask, old);
#endif
}
#endif

// Claims and runs tasks of `job` until none is left or it is stopped. `safe_point` runs
// before each claim (a worker parks there while a fork is pending).
template <class SafePoint>
void work_on(Job& job, std::size_t slot, Interruption& interruption, SafePoint&& safe_point) {
    while (!job.stop.load(std::memory_order_relaxed)) {
        safe_point();
        const std::size_t k = job.next.fetch_add(1, std::memory_order_relaxed);
        if (k >= job.count) break;
        job.running[slot].store(k, std::memory_order_relaxed);
        job.task(k, slot, interruption);
        job.running[slot].store(kNoTask, std::memory_order_relaxed);
        if (interruption.stopped()) job.stop.store(true, std::memory_order_relaxed);
    }
}

class Pool {
  public:
    // Starts workers until there are `wanted` (or the system refuses one); under `mutex_`.
    void grow(std::size_t wanted) noexcept {
        while (workers_ < wanted) {
            if (!start_worker()) return;
            ++workers_;
        }
    }

    void enqueue(Job& job) noexcept {
        job.queued = true;
        Job** end = &queue_;
        while (*end) end = &(*end)->next_queued;
        *end = &job;
    }

    void unqueue(Job& job) noexcept {
        if (!job.queued) return;
        for (Job** at = &queue_; *at; at = &(*at)->next_queued) {
            if (*at == &job) {
                *at = job.next_queued;
                break;
            }
        }
        job.queued = false;
        job.next_queued = nullptr;
    }

    // Before a fork: waits until every busy worker is parked at a safe point (a tick of its
    // task, or between tasks) and keeps the mutex locked across the fork, so that the child
    // gets the job's shared data whole and the mutex free.
    void before_fork() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        fork_pending_.store(true, std::memory_order_relaxed);
        while (parked_ < busy_) parked_changed_.wait(lock);
        lock.release();
    }

    void after_fork_in_parent() noexcept {
        fork_pending_.store(false, std::memory_order_relaxed);
        resume_.notify_all();
        mutex_.unlock();
    }

    // In the child the workers do not exist: the pool is left to the one thread there,
    // which may still be a caller that needs the queue.
    void after_fork_in_child() noexcept {
        fork_pending_.store(false, std::memory_order_relaxed);
        mutex_.unlock();
    }

    std::mutex mutex_;
    Condition work_;  // a job was queued

  private:
    // The hook of a worker's Interruption: a safe point, then whether its job stopped.
    struct WorkerHook {
        Pool* pool;
        const Job* job;
    };
    static bool worker_should_stop(void* context) {
        const auto* hook = static_cast<const WorkerHook*>(context);
        hook->pool->park();
        return hook->job->stop.load(std::memory_order_relaxed);
    }

    // A busy worker's safe point: while a fork is pending it waits here, counted as parked.
    void park() noexcept {
        if (!fork_pending_.load(std::memory_order_relaxed)) return;
        std::unique_lock<std::mutex> lock(mutex_);
        ++parked_;
        parked_changed_.notify_all();
        while (fork_pending_.load(std::memory_order_relaxed)) resume_.wait(lock);
        --parked_;
    }

    // The first queued job that can use another worker.
    Job* job_to_join() noexcept {
        for (Job* job = queue_; job; job = job->next_queued) {
            if (job->joined < job->wanted) return job;
        }
        return nullptr;
    }

#if VORN_POSIX_THREADS
    static void* worker_main(void* pool) { static_cast<Pool*>(pool)->serve(); }
#endif

    // A thread with a stack of kWorkerStackBytes that blocks every signal (so that signals go
    // to the threads that handle them); false when the system refuses one.
    bool start_worker() noexcept {
#if VORN_POSIX_THREADS
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return false;
        bool started = pthread_attr_setstacksize(&attr, kWorkerStackBytes) == 0 &&
                       pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0;
        if (started) {
            sigset_t all, old;
            sigfillset(&all);
            thread_signal_mask(&all, &old);  // the new thread inherits the mask
            pthread_t thread;
            started = pthread_create(&thread, &attr, &Pool::worker_main, this) == 0;
            thread_signal_mask(&old, nullptr);
        }
        pthread_attr_destroy(&attr);
        return started;
#else
        try {
            std::thread([this] { serve(); }).detach();
            return true;
        } catch (const std::system_error&) {
            return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
#endif
    }

    // A worker's life: wait for a job that can use it, work on it, leave it, repeat.
    [[noreturn]] void serve() noexcept {
        // The C++ runtime's per-thread data, allocated now while the thread is new rather than
        // at a first exception under memory pressure, where its allocation failing would end
        // the process.
        (void)std::uncaught_exceptions();
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            while (fork_pending_.load(std::memory_order_relaxed)) resume_.wait(lock);
            Job* job = job_to_join();
            if (!job) {
                work_.wait(lock);
                continue;
            }
            const std::size_t slot = ++job->joined;
            ++job->active;
            ++busy_;
            lock.unlock();
            {
                WorkerHook context{this, job};
                const InterruptHook hook{&Pool::worker_should_stop, &context};
                Interruption interruption(&hook);
                work_on(*job, slot, interruption, [this] { park(); });
            }
            lock.lock();
            --busy_;
            parked_changed_.notify_all();  // a pending fork need not wait for this one
            unqueue(*job);                 // its tasks are all claimed, or it stopped
            // Notified under the lock: the caller cannot have left before it is released.
            if (--job->active == 0) job->left.notify_one();
        }
    }

    std::size_t workers_ = 0;
    std::size_t busy_ = 0;    // workers on a job
    std::size_t parked_ = 0;  // busy workers parked for a fork
    std::atomic<bool> fork_pending_{false};
    Condition parked_changed_;  // a worker parked or left its job
    Condition resume_;          // the fork is over
    Job* queue_ = nullptr;
};

// The pool, or null until the first call that needs one. A forked child starts without
// one: the parent's workers do not exist there, and the parent's pool stays (leaked) for the
// one thread that may still be waiting on it.
std::atomic<Pool*> g_pool{nullptr};
Pool* g_forking_pool = nullptr;  // the pool before_fork locked, until the fork is over

void prepare_fork() {
    g_forking_pool = g_pool.load(std::memory_order_acquire);
    if (g_forking_pool) g_forking_pool->before_fork();
}

void after_fork_in_parent() {
    if (g_forking_pool) g_forking_pool->after_fork_in_parent();
    g_forking_pool = nullptr;
}

void after_fork_in_child() {
    g_fork_generation.fetch_add(1, std::memory_order_acq_rel);
    g_pool.store(nullptr, std::memory_order_release);
    if (g_forking_pool) g_forking_pool->after_fork_in_child();
    g_forking_pool = nullptr;
}

Pool* the_pool() noexcept {
    Pool* pool = g_pool.load(std::memory_order_acquire);
    if (pool) return pool;
#if VORN_POSIX_THREADS
    static const bool fork_handled =
        pthread_atfork(prepare_fork, after_fork_in_parent, after_fork_in_child) == 0;
    if (!fork_handled) return nullptr;  // a fork could copy a worker mid-task: no workers
#endif
    Pool* fresh = new (std::nothrow) Pool;
    if (!fresh) return nullptr;
    if (g_pool.compare_exchange_strong(pool, fresh, std::memory_order_acq_rel)) return fresh;
    delete fresh;  // another thread was first
    return pool;
}

// The caller of `job`, in a forked child: the workers are gone, so it runs the tasks they had
// begun again, then whatever nobody had claimed.
void redo_after_fork(Job& job, std::size_t joined, Interruption& caller) {
    for (std::size_t slot = 1; slot <= joined; ++slot) {
        if (job.stop.load(std::memory_order_relaxed)) return;
        const std::size_t k = job.running[slot].exchange(kNoTask, std::memory_order_relaxed);
        if (k == kNoTask) continue;
        job.running[0].store(k, std::memory_order_relaxed);
        job.task(k, 0, caller);
        job.running[0].store(kNoTask, std::memory_order_relaxed);
        if (caller.stopped()) job.stop.store(true, std::memory_order_relaxed);
    }
    work_on(job, 0, caller, [] {});
}

// The caller's wait for its workers, answering its Interruption every few milliseconds.
void wait_for_workers(Pool& pool, Job& job, Interruption& caller) {
    std::unique_lock<std::mutex> lock(pool.mutex_);
    pool.unqueue(job);
    auto forked = [&] {
        return g_fork_generation.load(std::memory_order_acquire) != job.generation;
    };
    wait_polling(
        lock, job.left, kPollInterval, [&] { return job.active == 0 || forked(); },
        [&] {
            if (caller.poll()) job.stop.store(true, std::memory_order_relaxed);
            return false;  // stopped or not, the workers must leave the job first
        });
    if (job.active != 0) {  // forked: none of the workers exists in this process
        const std::size_t joined = job.joined;
        job.active = 0;
        lock.unlock();
        redo_after_fork(job, joined, caller);
    }
}

// The same without the caller's hook, for a caller whose stack is being unwound: the job
// must outlive every worker on it.
void stop_and_wait(Pool& pool, Job& job) noexcept {
    job.stop.store(true, std::memory_order_relaxed);
    std::unique_lock<std::mutex> lock(pool.mutex_);
    pool.unqueue(job);
    while (job.active != 0 && g_fork_generation.load(std::memory_order_acquire) == job.generation)
        job.left.wait_for(lock, kPollInterval);
}

}  // namespace

int available_cpus() noexcept {
#if defined(__linux__)
    // The mask may be larger than a cpu_set_t on machines with very many CPUs.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        const int status = sched_getaffinity(0, size, set);
        const int count = status == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (count > 0) return count;
        if (status == 0 || errno != EINVAL) break;
    }
#endif
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : static_cast<int>(std::min<unsigned>(hardware, 1u << 20));
}

int affordable_threads(int wanted, std::uint64_t shared, std::uint64_t per_thread,
                       const std::string& root) noexcept {
    if (wanted <= 1) return 1;
    const MemoryLimits limits = read_memory_limits(root);
    // Address space (and the data limit, which counts private mappings) pays a worker's whole
    // reservation; the other limits only what it touches.
    const std::uint64_t space = std::min(limits.address_space, limits.data);
    const std::uint64_t memory = std::min({limits.physical, limits.cgroup, limits.available});
    int threads = 1;
    while (threads < wanted) {
        const std::uint64_t workers = static_cast<std::uint64_t>(threads);  // with one more
        const std::uint64_t need = saturating_add(shared, saturating_mul(workers + 1, per_thread));
        if (saturating_add(need, saturating_mul(workers, kWorkerAddressSpace)) > space) break;
        if (saturating_add(need, saturating_mul(workers, kWorkerMemory)) > memory) break;
        ++threads;
    }
    return threads;
}

std::uint64_t fork_generation() noexcept {
    return g_fork_generation.load(std::memory_order_acquire);
}

void run_tasks(std::size_t count, int threads, TaskRef task, Interruption& caller) {
    if (count == 0) return;
    const std::size_t helpers = threads > 1
                                    ? std::min({static_cast<std::size_t>(threads) - 1, count - 1,
                                                static_cast<std::size_t>(kMaxPoolWorkers)})
                                    : 0;
    Pool* pool = helpers != 0 ? the_pool() : nullptr;
    std::atomic<std::size_t> alone{kNoTask};
    std::unique_ptr<std::atomic<std::size_t>[]> by_slot;
    if (pool) {
        by_slot.reset(new (std::nothrow) std::atomic<std::size_t>[helpers + 1]);
        if (!by_slot) pool = nullptr;  // no memory for the record: the calling thread alone
    }
    if (pool) {
        for (std::size_t slot = 0; slot <= helpers; ++slot) by_slot[slot].store(kNoTask);
    }
    Job job(count, task, pool ? by_slot.get() : &alone);
    if (pool) {
        {
            std::lock_guard<std::mutex> lock(pool->mutex_);
            pool->grow(helpers);
            job.wanted = helpers;
            pool->enqueue(job);
        }
        pool->work_.notify_all();
    }
    if (caller.stopped()) job.stop.store(true, std::memory_order_relaxed);
    try {
        work_on(job, 0, caller, [] {});
        if (pool) wait_for_workers(*pool, job, caller);
    } catch (...) {  // the caller's stack unwinds: the workers must leave the job first
        if (pool) stop_and_wait(*pool, job);
        throw;
    }
}

}  // namespace vorn
