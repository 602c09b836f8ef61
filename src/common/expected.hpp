// Result-or-error values returned by the engines. The engines never throw and never
// touch the interpreter; the entry points turn an EngineError into a Python exception.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>

namespace vorn {

enum class ErrorKind {
    Value,           // ValueError with the message
    Internal,        // the module's internal-error exception with the message
    Memory,          // MemoryError: working memory could not be obtained
    Interrupted,     // stopped through its Interruption: the caller already holds the reason
    ForcedCellType,  // RuntimeError: the cell type the call's policy forces cannot compute it
                     // exactly (the boundary words it, naming the switch that forced it)
};

struct EngineError {
    ErrorKind kind;
    const char* message;      // a fixed text with static lifetime
    std::uint64_t bytes = 0;  // Memory: the working memory the call needed (0: unknown)
};

template <class T>
class Expected {
  public:
    Expected(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
    Expected(EngineError error) : v_(error) {}   // NOLINT: implicit by design

    explicit operator bool() const noexcept { return v_.index() == 0; }
    T& operator*() noexcept { return std::get<0>(v_); }
    const T& operator*() const noexcept { return std::get<0>(v_); }
    T* operator->() noexcept { return &std::get<0>(v_); }
    const EngineError& error() const noexcept { return std::get<1>(v_); }

  private:
    std::variant<T, EngineError> v_;
};

inline constexpr EngineError kCapacityOverflow{ErrorKind::Internal, "capacity overflow"};
inline constexpr EngineError kOutOfMemory{ErrorKind::Memory, "out of memory"};
inline constexpr EngineError kInterrupted{ErrorKind::Interrupted, "interrupted"};
inline constexpr EngineError kForcedCellTypeInexact{ErrorKind::ForcedCellType,
                                                    "forced cell type cannot compute this exactly"};

// MemoryError for a call whose working memory is `bytes`.
inline constexpr EngineError memory_error(std::uint64_t bytes) noexcept {
    return EngineError{ErrorKind::Memory, "out of memory", bytes};
}

}  // namespace vorn
