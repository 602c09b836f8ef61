// The batch's engine loop: a schedule of tasks over the pairs, run by the thread pool, each
// thread with a workspace of its own and the large pairs one at a time.
#include "batch/batch_core.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>

#include "common/checked_size.hpp"
#include "common/condition.hpp"
#include "common/thread_pool.hpp"
#include "pairwise/group.hpp"

namespace vorn {

namespace {

// How often a thread waiting for its turn at a large pair checks its Interruption.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

// How a task aligns its pairs.
enum class TaskKind : std::uint8_t {
    Pairwise,  // one after another, each by needleman_wunsch_core
    Grouped,   // short pairs side by side by align_group (one by one where it declines)
};

// One task: the pairs order[first, last) of the schedule, handled by one call.
struct BatchTask {
    std::size_t first;
    std::size_t last;
    TaskKind kind;
};

// The pair indices in the order the tasks take them, and the tasks.
struct Schedule {
    std::vector<std::size_t> order;
    std::vector<BatchTask> tasks;
};

std::uint64_t pair_cells(const SeqPair& p) { return grid_cells({p.first.size(), p.second.size()}); }

// Fewer short pairs than this are not worth a group of their own.
constexpr std::size_t kLeastGroup = 4;

bool groupable(const SeqPair& p) {
    return p.first.size() <= kGroupedLength && p.second.size() <= kGroupedLength;
}

// The short pairs first, sorted so that a group's pairs are alike in both lengths (a group
// fills the longest seq1 by the longest seq2 for every lane) and cut into groups of
// pairs_per_group(); then the other pairs in input order, consecutive ones joined into tasks
// of about kTaskCells, a pair of that size or more being a task of its own. The pool claims
// the tasks in order. Throws bad_alloc.
Schedule plan(std::span<const SeqPair> pairs, const EnginePolicy& policy) {
    Schedule s;
    s.order.reserve(pairs.size());
    const bool grouping = policy.group_pairs;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (grouping && groupable(pairs[k])) s.order.push_back(k);
    }
    const std::size_t group = pairs_per_group(policy.kernel);
    // By the length of seq1, then in stripes of `stripe` pairs by the length of seq2: with
    // k groups to a stripe, a group spans about 1/k of the seq2 lengths and k / groups of
    // the seq1 lengths, both least with k = sqrt(groups).
    const auto by = [&](auto length) {
        return [&pairs, length](std::size_t x, std::size_t y) {
            return length(pairs[x]) < length(pairs[y]);
        };
    };
    std::stable_sort(s.order.begin(), s.order.end(),
                     by([](const SeqPair& p) { return p.first.size(); }));
    const std::size_t groups = (s.order.size() + group - 1) / group;
    std::size_t per_stripe = 1;
    while ((per_stripe + 1) * (per_stripe + 1) <= groups) ++per_stripe;
    const std::size_t stripe = per_stripe * group;
    for (std::size_t at = 0; at < s.order.size(); at += stripe) {
        const auto begin = s.order.begin() + static_cast<std::ptrdiff_t>(at);
        const auto end =
            s.order.begin() + static_cast<std::ptrdiff_t>(std::min(at + stripe, s.order.size()));
        std::stable_sort(begin, end, by([](const SeqPair& p) { return p.second.size(); }));
    }
    std::size_t first = 0;
    for (; first + kLeastGroup <= s.order.size(); first += group) {
        s.tasks.push_back({first, std::min(first + group, s.order.size()), TaskKind::Grouped});
    }
    first = std::min(first, s.order.size());
    // The few short pairs left over go with the rest, one by one and in input order.
    std::vector<std::size_t> rest(s.order.begin() + static_cast<std::ptrdiff_t>(first),
                                  s.order.end());
    s.order.resize(first);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (!(grouping && groupable(pairs[k]))) rest.push_back(k);
    }
    std::sort(rest.begin(), rest.end());
    s.order.insert(s.order.end(), rest.begin(), rest.end());
    std::uint64_t cells = 0;
    for (std::size_t at = first; at < s.order.size(); ++at) {
        const std::uint64_t c = pair_cells(pairs[s.order[at]]);
        if (c >= kTaskCells && at > first) {
            s.tasks.push_back({first, at, TaskKind::Pairwise});
            first = at;
            cells = 0;
        }
        cells = saturating_add(cells, c);
        if (cells >= kTaskCells) {
            s.tasks.push_back({first, at + 1, TaskKind::Pairwise});
            first = at + 1;
            cells = 0;
        }
    }
    if (first < s.order.size()) s.tasks.push_back({first, s.order.size(), TaskKind::Pairwise});
    return s;
}

// The large pairs' turn: one at a time, a thread that waits for it checking its Interruption
// every few milliseconds. In a forked child the thread that held it may not exist: the turn
// is then free again (the child's one thread runs whatever that one had begun).
class Turn {
  public:
    // False when the interruption stopped first.
    bool take(Interruption& interruption) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto free = [&] {
            if (fork_generation() != generation_) busy_ = false, generation_ = fork_generation();
            return !busy_;
        };
        if (!wait_polling(lock, released_, kPollInterval, free,
                          [&] { return interruption.poll(); }))
            return false;
        busy_ = true;
        return true;
    }

    void give_back() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
        }
        released_.notify_one();
    }

  private:
    std::mutex mutex_;
    Condition released_;
    bool busy_ = false;
    std::uint64_t generation_ = fork_generation();
};

// Gives a taken turn back when it goes out of scope.
class TurnHeld {
  public:
    explicit TurnHeld(Turn* turn) noexcept : turn_(turn) {}
    TurnHeld(const TurnHeld&) = delete;
    TurnHeld& operator=(const TurnHeld&) = delete;
    ~TurnHeld() {
        if (turn_) turn_->give_back();
    }

  private:
    Turn* turn_;
};

// One call's shared state: what every task reads, the results by input index and the
// lowest failure so far.
class BatchRun {
  public:
    BatchRun(std::span<SeqPair> pairs, const Schedule& schedule, const ScoreTable& table,
             const AlignmentOptions& options, const EnginePolicy& policy, std::size_t slots)
        : pairs_(pairs),
          schedule_(schedule),
          table_(table),
          options_(options),
          policy_(policy),
          workspaces_(std::make_unique<PairwiseWorkspace[]>(slots)),
          group_workspaces_(std::make_unique<GroupWorkspace[]>(slots)),
          results_(pairs.size()),
          done_(pairs.size()) {}

    // Task t on the thread of `slot`. A task may be run again after being stopped at a tick
    // (after a fork, see run_tasks): the pairs it had finished are done and not aligned again.
    void run(std::size_t t, std::size_t slot, Interruption& interruption) {
        const BatchTask& task = schedule_.tasks[t];
        switch (task.kind) {
            case TaskKind::Pairwise:
                align_pairs(task, workspaces_[slot], group_workspaces_[slot], interruption);
                return;
            case TaskKind::Grouped:
                if (!align_grouped(task, group_workspaces_[slot], interruption))
                    align_pairs(task, workspaces_[slot], group_workspaces_[slot], interruption);
                return;
        }
    }

    std::vector<PairwiseResult>& results() noexcept { return results_; }
    const std::optional<BatchFailure>& failure() const noexcept { return failure_; }

  private:
    // A pair above the lowest failure need not be aligned: that failure is the outcome.
    bool skipped(std::size_t k) const noexcept {
        return k > lowest_failure_.load(std::memory_order_relaxed);
    }

    void fail(std::size_t k, const EngineError& error) noexcept {
        std::lock_guard<std::mutex> lock(failure_mutex_);
        if (failure_ && failure_->pair < k) return;
        failure_ = BatchFailure{k, pairs_[k].first.size(), pairs_[k].second.size(), error};
        lowest_failure_.store(k, std::memory_order_relaxed);
    }

    // The results of pair k are stored and its strings released.
    void finish(std::size_t k, PairwiseResult&& result) {
        results_[k] = std::move(result);
        std::string().swap(pairs_[k].first);  // the pair's input is no longer needed
        std::string().swap(pairs_[k].second);
        done_[k] = 1;
    }

    // False, with nothing done, when align_group declines the pairs (their scores need
    // doubles, or its memory could not be had) or some of them are done already.
    bool align_grouped(const BatchTask& task, GroupWorkspace& workspace,
                       Interruption& interruption) {
        std::string_view seq1[kMaxGroup], seq2[kMaxGroup];
        const std::size_t count = task.last - task.first;
        bool any = false;
        for (std::size_t t = 0; t < count; ++t) {
            const std::size_t k = schedule_.order[task.first + t];
            if (done_[k]) return false;
            seq1[t] = pairs_[k].first;
            seq2[t] = pairs_[k].second;
            any = any || !skipped(k);
        }
        if (!any) return true;
        try {
            std::vector<Expected<PairwiseResult>> part(count, Expected(PairwiseResult{}));
            if (!align_group(seq1, seq2, count, table_, options_, policy_, workspace, interruption,
                             part.data()))
                return false;
            for (std::size_t t = 0; t < count; ++t) {
                const std::size_t k = schedule_.order[task.first + t];
                if (!part[t]) {
                    if (part[t].error().kind != ErrorKind::Interrupted) fail(k, part[t].error());
                    continue;
                }
                finish(k, std::move(*part[t]));
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    void align_pairs(const BatchTask& task, PairwiseWorkspace& workspace,
                     GroupWorkspace& group_workspace, Interruption& interruption) {
        for (std::size_t at = task.first; at < task.last; ++at) {
            const std::size_t k = schedule_.order[at];
            if (skipped(k) || done_[k]) continue;
            SeqPair& p = pairs_[k];
            // Each pair's preparation counts as work, so that many small pairs are checked
            // as often as one long one.
            if (interruption.tick(static_cast<std::int64_t>(p.first.size() + p.second.size()) +
                                  1)) {
                return;
            }
            const bool large = pair_cells(p) >= kExclusivePairCells;
            if (large && !large_turn_.take(interruption)) return;
            const TurnHeld held(large ? &large_turn_ : nullptr);
            if (skipped(k)) continue;  // a lower pair failed while this one waited
            PairwiseWorkspace& grid = large ? large_workspace_ : workspace;
            auto r = needleman_wunsch_core(p.first, p.second, table_, options_, policy_, grid,
                                           interruption);
            if (!r && r.error().kind == ErrorKind::Memory) {
                // The buffers this thread keeps from earlier pairs (a group's among them) may
                // be what is missing: give them back and try once more, so that a batch that
                // fits pair by pair never fails for what it cached.
                grid.release();
                group_workspace.release();
                r = needleman_wunsch_core(p.first, p.second, table_, options_, policy_, grid,
                                          interruption);
            }
            if (!r) {
                if (r.error().kind == ErrorKind::Interrupted) return;
                fail(k, r.error());
                continue;
            }
            finish(k, std::move(*r));
        }
    }

    std::span<SeqPair> pairs_;
    const Schedule& schedule_;
    const ScoreTable& table_;
    const AlignmentOptions& options_;
    const EnginePolicy& policy_;
    std::unique_ptr<PairwiseWorkspace[]> workspaces_;  // one per slot of the pool's job
    std::unique_ptr<GroupWorkspace[]> group_workspaces_;
    std::vector<PairwiseResult> results_;
    std::vector<std::uint8_t> done_;  // by input index: aligned, result stored

    std::atomic<std::size_t> lowest_failure_{kNoPair};
    std::mutex failure_mutex_;
    std::optional<BatchFailure> failure_;

    Turn large_turn_;                    // held while a large pair is aligned
    PairwiseWorkspace large_workspace_;  // the one grid of the large pairs
};

// Threads in all for this batch: one for a small batch, else what the policy asks, as far
// as memory allows. On t threads the batch holds at most t workspaces, each for the largest
// pair of below kExclusivePairCells (on the whole grid: pairs that small never checkpoint,
// and its figure includes room that covers a group's buffers too), and one large pair's grid.
int thread_count(std::span<const SeqPair> pairs, const EnginePolicy& policy) {
    if (pairs.size() < 2) return 1;
    std::uint64_t cells = 0;
    std::uint64_t small_n = 0, small_m = 0, large_n = 0, large_m = 0;
    bool any_large = false;
    for (const SeqPair& p : pairs) {
        const std::uint64_t c = pair_cells(p);
        cells = saturating_add(cells, c);
        const bool large = c >= kExclusivePairCells;
        any_large = any_large || large;
        std::uint64_t& n = large ? large_n : small_n;
        std::uint64_t& m = large ? large_m : small_m;
        n = std::max<std::uint64_t>(n, p.first.size());
        m = std::max<std::uint64_t>(m, p.second.size());
    }
    if (cells < kParallelBatchCells) return 1;
    const int wanted = policy.threads > 0 ? policy.threads : available_cpus();
    if (wanted <= 1) return 1;
    const std::uint64_t per_thread = pairwise_memory(small_n, small_m, policy).whole_grid;
    std::uint64_t shared = 0;
    if (any_large) {
        const PairwiseMemory large = pairwise_memory(large_n, large_m, policy);
        shared = std::min(large.whole_grid, large.checkpointed);
    }
    return affordable_threads(wanted, shared, per_thread, policy.memory_root);
}

}  // namespace

BatchOutcome align_batch(std::span<SeqPair> pairs, const ScoreTable& table,
                         const AlignmentOptions& options, const EnginePolicy& policy,
                         Interruption& interruption) {
    BatchOutcome outcome;
    try {
        const Schedule schedule = plan(pairs, policy);
        const int threads = thread_count(pairs, policy);
        const std::size_t slots =
            std::min(static_cast<std::size_t>(threads), schedule.tasks.size());
        BatchRun run(pairs, schedule, table, options, policy, std::max<std::size_t>(slots, 1));
        auto task = [&run](std::size_t t, std::size_t slot, Interruption& i) {
            run.run(t, slot, i);
        };
        run_tasks(schedule.tasks.size(), threads, task, interruption);
        if (interruption.stopped()) {
            outcome.failure = BatchFailure{kNoPair, 0, 0, kInterrupted};
        } else if (run.failure()) {
            outcome.failure = run.failure();
        } else {
            outcome.results = std::move(run.results());
        }
    } catch (const std::bad_alloc&) {  // the schedule, the records or the workspaces
        outcome.failure = BatchFailure{kNoPair, 0, 0, kOutOfMemory};
    }
    return outcome;
}

}  // namespace vorn
