// Overflow-checked size arithmetic and allocation that reports failure instead of
// aborting, so that an impossible grid becomes an error value before anything is touched.
#pragma once

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

inline bool checked_add(std::uint64_t a, std::uint64_t b, std::uint64_t* out) noexcept {
    return !__builtin_add_overflow(a, b, out);
}

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

// Uninitialised storage for `count` elements, or null when the size overflows or the
// memory cannot be obtained. The largest request we make is capped well below the
// address space so that a hostile length fails here rather than inside the allocator.
template <class T>
Buffer<T> allocate(std::uint64_t count) noexcept {
    std::uint64_t bytes = 0;
    if (!checked_mul(count, sizeof(T), &bytes) || bytes > (std::uint64_t{1} << 47)) {
        return Buffer<T>();
    }
    if (bytes == 0) bytes = sizeof(T);
    return Buffer<T>(static_cast<T*>(std::malloc(static_cast<std::size_t>(bytes))));
}

// A growable scratch buffer that keeps its storage between uses (the batch reuses one
// workspace for all its pairs).
template <class T>
class Scratch {
  public:
    // At least `count` elements, contents unspecified; null on failure.
    T* reserve(std::uint64_t count) noexcept {
        if (count > capacity_ || !data_) {
            Buffer<T> fresh = allocate<T>(count);
            if (!fresh) return nullptr;
            data_ = std::move(fresh);
            capacity_ = count;
        }
        return data_.get();
    }
    T* data() const noexcept { return data_.get(); }

  private:
    Buffer<T> data_;
    std::uint64_t capacity_ = 0;
};

}  // namespace vorn
