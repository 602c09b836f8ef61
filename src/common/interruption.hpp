// Stopping a long engine run from outside: the engine counts its work and, every few
// million cells, asks a hook that its caller supplies whether it should stop. Plain C++.
#pragma once

#include <cstdint>

namespace vorn {

// Asked from inside a running engine; true means "stop now" (the caller then knows why).
struct InterruptHook {
    bool (*should_stop)(void* context);
    void* context;
};

// The countdown an engine ticks in its loops. Without a hook it only counts, so a call
// that cannot be interrupted pays one subtraction per diagonal or row.
//
// The hook may take the interpreter's lock back, and a thread that does so while the
// interpreter shuts down is ended there by a forced unwind of its stack. So tick, poll and
// every frame between them and the call's entry let exceptions pass: none is noexcept, and
// none catches everything without throwing it on.
class Interruption {
  public:
    // A few milliseconds of pairwise fill on the vector kernels, some tens on the
    // portable one.
    static constexpr std::int64_t kCellsPerCheck = std::int64_t{1} << 22;

    Interruption() noexcept = default;
    explicit Interruption(const InterruptHook* hook) noexcept : hook_(hook) {}
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // Counts `cells` of work; true once the engine must stop, and at every tick after.
    // (Always inlined, and check() out of line: kernel units built for other instruction
    // sets call it, and must not emit a copy of their own that the linker could pick.)
    [[gnu::always_inline]] bool tick(std::int64_t cells) {
        countdown_ -= cells;
        return countdown_ <= 0 && check();
    }
    [[gnu::always_inline]] bool stopped() const noexcept { return stopped_; }
    // Asks the hook now, whatever the countdown (for a thread that waits instead of
    // counting work); true once the engine must stop.
    bool poll() { return check(); }

  private:
    bool check();

    const InterruptHook* hook_ = nullptr;
    std::int64_t countdown_ = kCellsPerCheck;
    bool stopped_ = false;
};

}  // namespace vorn
