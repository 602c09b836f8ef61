// Overflow-checked size arithmetic and allocation that reports failure instead of
// aborting, so that an impossible grid becomes an error value before anything is touched.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace vorn {

// a * b, or false when the product does not fit.
inline bool checked_mul(std::uint64_t a, std::uint64_t b, std::uint64_t* out) noexcept {
    return !__builtin_mul_overflow(a, b, out);
}

// a + b and a * b, saturating at the largest value instead of wrapping.
inline constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return __builtin_add_overflow(a, b, &a) ? ~std::uint64_t{0} : a;
}
inline constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
    return __builtin_mul_overflow(a, b, &a) ? ~std::uint64_t{0} : a;
}

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

// The machine's physical memory in bytes (0 when unknown). A single request beyond it
// could only be granted by overcommitting and would end in the kernel killing the
// process once the engine touches it, so such requests fail instead.
inline std::uint64_t physical_memory() noexcept {
    static const std::uint64_t bytes = [] {
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        return (pages > 0 && page > 0)
                   ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page)
                   : std::uint64_t{0};
    }();
    return bytes;
}

inline constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
// Buffers from this size on are aligned to huge pages and advised to use them.
inline constexpr std::uint64_t kHugePageMinimum = std::uint64_t{16} << 20;

// Uninitialised storage for `count` elements, or null when the size overflows or the
// memory cannot be obtained.
template <class T>
Buffer<T> allocate(std::uint64_t count) noexcept {
    std::uint64_t bytes = 0;
    if (!checked_mul(count, sizeof(T), &bytes) || bytes > (std::uint64_t{1} << 47) ||
        (physical_memory() != 0 && bytes > physical_memory())) {
        return Buffer<T>();
    }
    if (bytes == 0) bytes = sizeof(T);
    if (bytes < kHugePageMinimum)
        return Buffer<T>(static_cast<T*>(std::malloc(static_cast<std::size_t>(bytes))));
    // A large buffer on huge-page boundaries, with the kernel asked to back it with huge
    // pages: far fewer page faults when the engine first touches it. Where that is not
    // supported the advice is ignored and ordinary pages serve.
    const std::uint64_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p =
        std::aligned_alloc(static_cast<std::size_t>(kHugePage), static_cast<std::size_t>(rounded));
#ifdef MADV_HUGEPAGE
    if (p) madvise(p, static_cast<std::size_t>(rounded), MADV_HUGEPAGE);
#endif
    return Buffer<T>(static_cast<T*>(p));
}

// A growable scratch buffer that keeps its storage between uses (the batch reuses one
// workspace for all its pairs).
template <class T>
class Scratch {
  public:
    using value_type = T;

    // At least `count` elements, contents unspecified; null on failure. A smaller buffer held
    // before is given back first, so that growing never needs both at once.
    T* reserve(std::uint64_t count) noexcept {
        if (count > capacity_ || !data_) {
            data_.reset();
            capacity_ = 0;
            data_ = allocate<T>(count);
            if (!data_) return nullptr;
            capacity_ = count;
        }
        return data_.get();
    }
    // What the last reserve gave (null before the first).
    T* get() const noexcept { return data_.get(); }

  private:
    Buffer<T> data_;
    std::uint64_t capacity_ = 0;
};

}  // namespace vorn
