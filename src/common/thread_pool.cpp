// The process's worker pool: jobs on their callers' stacks, queued for workers that sleep on
// a condition variable until there is one to help with.
#include "common/thread_pool.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <signal.h>
#define VORN_POSIX_THREADS 1
#else
#define VORN_POSIX_THREADS 0
#endif
#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "common/condition.hpp"

namespace vorn {

namespace {

// How often a caller waiting for its workers checks its own Interruption.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

constexpr std::size_t kNoTask = ~std::size_t{0};

// One call of run_tasks. It lives on the caller's stack; the caller returns only once it is
// out of the queue and no worker works on it any more.
struct Job {
    Job(std::size_t n, TaskRef f) noexcept : count(n), task(f) {}

    const std::size_t count;
    const TaskRef task;
    std::atomic<std::size_t> next{0};  // the next task to claim
    std::atomic<bool> stop{false};     // set once the caller's Interruption has stopped

    // Under the pool's mutex:
    std::size_t wanted = 0;  // workers the job can use
    std::size_t joined = 0;  // workers that joined it (their slots are 1..joined)
    std::size_t active = 0;  // workers still on it
    bool queued = false;
    Job* next_queued = nullptr;
    Condition left;  // the last active worker left

    std::mutex thrown_mutex;
    std::size_t thrown_task = kNoTask;  // the lowest task that threw, and whether with bad_alloc
    bool thrown_bad_alloc = false;
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

// The hook of a worker's Interruption.
bool job_stopped(void* job) {
    return static_cast<const Job*>(job)->stop.load(std::memory_order_relaxed);
}

// Keeps the lowest task that threw, and whether it threw std::bad_alloc.
void record_throw(Job& job, std::size_t k, bool bad_alloc) noexcept {
    std::lock_guard<std::mutex> lock(job.thrown_mutex);
    if (k < job.thrown_task) {
        job.thrown_task = k;
        job.thrown_bad_alloc = bad_alloc;
    }
}

// Set while a thread runs tasks, so that a call made from inside a task stays on it.
thread_local bool t_in_task = false;

// Claims and runs tasks of `job` until none is left or it is stopped.
void work_on(Job& job, std::size_t slot, Interruption& interruption) noexcept {
    const bool outer = t_in_task;  // a job run inline from inside another's task
    t_in_task = true;
    while (!job.stop.load(std::memory_order_relaxed)) {
        const std::size_t k = job.next.fetch_add(1, std::memory_order_relaxed);
        if (k >= job.count) break;
        try {
            job.task(k, slot, interruption);
        } catch (const std::bad_alloc&) {
            record_throw(job, k, true);
        } catch (...) {
            record_throw(job, k, false);
        }
        if (interruption.stopped()) job.stop.store(true, std::memory_order_relaxed);
    }
    t_in_task = outer;
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

    std::mutex mutex_;
    Condition work_;  // a job was queued

  private:
    // The first queued job that can use another worker.
    Job* job_to_join() noexcept {
        for (Job* job = queue_; job; job = job->next_queued) {
            if (job->joined < job->wanted) return job;
        }
        return nullptr;
    }

    bool start_worker() noexcept {
        try {
#if VORN_POSIX_THREADS
            // Workers block every signal, so that signals go to the threads that handle
            // them; the mask is inherited from the thread that starts them.
            sigset_t all, old;
            sigfillset(&all);
            thread_signal_mask(&all, &old);
            try {
                std::thread([this] { serve(); }).detach();
            } catch (...) {
                thread_signal_mask(&old, nullptr);
                return false;
            }
            thread_signal_mask(&old, nullptr);
#else
            std::thread([this] { serve(); }).detach();
#endif
            return true;
        } catch (...) {  // no thread, or no memory for one
            return false;
        }
    }

    // A worker's life: wait for a job that can use it, work on it, leave it, repeat.
    [[noreturn]] void serve() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            Job* job = job_to_join();
            if (!job) {
                work_.wait(lock);
                continue;
            }
            const std::size_t slot = ++job->joined;
            ++job->active;
            lock.unlock();
            {
                const InterruptHook hook{&job_stopped, job};
                Interruption interruption(&hook);
                work_on(*job, slot, interruption);
            }
            lock.lock();
            unqueue(*job);  // its tasks are all claimed, or it stopped
            // Notified under the lock: the caller cannot have left before it is released.
            if (--job->active == 0) job->left.notify_one();
        }
    }

    std::size_t workers_ = 0;
    Job* queue_ = nullptr;
};

// The pool, or null until the first call that needs one. A forked child starts without
// one: the parent's workers do not exist there and its pool's state (the mutex perhaps
// held, jobs of threads that are gone) is left alone, leaked.
std::atomic<Pool*> g_pool{nullptr};

void forget_pool_in_child() { g_pool.store(nullptr, std::memory_order_relaxed); }

Pool* the_pool() noexcept {
    Pool* pool = g_pool.load(std::memory_order_acquire);
    if (pool) return pool;
#if VORN_POSIX_THREADS
    static const bool fork_handled = pthread_atfork(nullptr, nullptr, forget_pool_in_child) == 0;
    if (!fork_handled) return nullptr;  // a child could inherit a locked mutex: no workers
#endif
    Pool* fresh = new (std::nothrow) Pool;
    if (!fresh) return nullptr;
    if (g_pool.compare_exchange_strong(pool, fresh, std::memory_order_acq_rel)) return fresh;
    delete fresh;  // another thread was first
    return pool;
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

void run_tasks(std::size_t count, int threads, TaskRef task, Interruption& caller) {
    if (count == 0) return;
    const std::size_t helpers = threads > 1 && !t_in_task
                                    ? std::min({static_cast<std::size_t>(threads) - 1, count - 1,
                                                static_cast<std::size_t>(kMaxPoolWorkers)})
                                    : 0;
    Pool* pool = helpers != 0 ? the_pool() : nullptr;
    Job job(count, task);
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
    work_on(job, 0, caller);
    if (pool) {
        std::unique_lock<std::mutex> lock(pool->mutex_);
        pool->unqueue(job);
        while (job.active != 0) {
            if (job.left.wait_for(lock, kPollInterval)) continue;
            // The hook may take other locks (the interpreter's): not under the pool's.
            lock.unlock();
            if (caller.poll()) job.stop.store(true, std::memory_order_relaxed);
            lock.lock();
        }
    }
    if (job.thrown_task != kNoTask) {
        if (job.thrown_bad_alloc) throw std::bad_alloc();
        throw TaskThrew();
    }
}

}  // namespace vorn
