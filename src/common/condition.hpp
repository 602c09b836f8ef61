// A condition variable for a std::mutex, with an untimed and a short timed wait.
//
// std::condition_variable's wait and wait_for bind symbol versions of libstdc++ (3.4.30)
// and glibc (pthread_cond_clockwait, 2.34) newer than the oldest systems the module's
// wheels support (glibc 2.28 with its libstdc++); this one calls pthread_cond_wait and
// pthread_cond_timedwait, which every glibc has in the C library itself. Its timed wait is
// measured on the system clock: a step of that clock during one wait lengthens or
// shortens that wait only, and every waiter here is also woken when what it waits for
// happens. Elsewhere (no POSIX threads) std::condition_variable serves. Plain C++.
#pragma once

#include <chrono>
#include <mutex>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <time.h>

#include <cerrno>
#define VORN_PTHREAD_CONDITION 1
#else
#include <condition_variable>
#define VORN_PTHREAD_CONDITION 0
#endif

namespace vorn {

#if VORN_PTHREAD_CONDITION
class Condition {
  public:
    Condition() noexcept { pthread_cond_init(&cond_, nullptr); }
    ~Condition() { pthread_cond_destroy(&cond_); }
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    void wait(std::unique_lock<std::mutex>& lock) noexcept {
        pthread_cond_wait(&cond_, lock.mutex()->native_handle());
    }
    // False when the time ran out before a notification (spurious wake-ups return true).
    bool wait_for(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds time) noexcept {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        const long long ns = deadline.tv_nsec + static_cast<long long>(time.count()) * 1000000;
        deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
        deadline.tv_nsec = static_cast<long>(ns % 1000000000);
        return pthread_cond_timedwait(&cond_, lock.mutex()->native_handle(), &deadline) !=
               ETIMEDOUT;
    }
    void notify_one() noexcept { pthread_cond_signal(&cond_); }
    void notify_all() noexcept { pthread_cond_broadcast(&cond_); }

  private:
    pthread_cond_t cond_;
};
#else
class Condition {
  public:
    void wait(std::unique_lock<std::mutex>& lock) { cond_.wait(lock); }
    bool wait_for(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds time) {
        return cond_.wait_for(lock, time) == std::cv_status::no_timeout;
    }
    void notify_one() noexcept { cond_.notify_one(); }
    void notify_all() noexcept { cond_.notify_all(); }

  private:
    std::condition_variable cond_;
};
#endif

// Waits on `cond` (with `lock` held) until ready(), calling poll() every `interval` without
// the lock, since it may take other locks (the interpreter's, to run signal handlers). True
// once ready; false, with the lock held again, as soon as poll() asks to give up.
template <class Ready, class Poll>
bool wait_polling(std::unique_lock<std::mutex>& lock, Condition& cond,
                  std::chrono::milliseconds interval, Ready&& ready, Poll&& poll) {
    while (!ready()) {
        if (cond.wait_for(lock, interval)) continue;
        lock.unlock();
        const bool give_up = poll();
        lock.lock();
        if (give_up) return false;
    }
    return true;
}

}  // namespace vorn
