// Vector lanes for the kernels: GCC vector-extension types of KERNEL_LANES doubles and
// their basic operations, which the compiler maps onto the instruction set of the
// translation unit. Include only from a kernel translation unit with KERNEL_NS and
// KERNEL_LANES defined; everything is local to that unit, so builds for different
// instruction sets never share a definition.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vorn::KERNEL_NS {

namespace {

constexpr int kWidth = KERNEL_LANES;
// The engines' -inf (common/engine_input.hpp), repeated here on purpose: a kernel unit
// includes no shared header with inline functions, whose out-of-line copies built for
// this unit's instruction set could be picked by the linker for every other unit.
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

using VecD = double __attribute__((vector_size(kWidth * 8)));
using VecI = std::int64_t __attribute__((vector_size(kWidth * 8)));
using VecI32 = std::int32_t __attribute__((vector_size(kWidth * 4)));
using VecU32 = std::uint32_t __attribute__((vector_size(kWidth * 4)));
using VecU8 = std::uint8_t __attribute__((vector_size(kWidth)));

template <class V, class T>
inline V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T>
inline void store(T* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

inline VecD splat(double x) { return VecD{} + x; }

// The same vector width for other cell types: Lanes<T>::V holds kBytes / sizeof(T) cells,
// Mask is what comparing two of them gives (and holds a state number per lane), U16 holds
// one 16-bit table index per lane and U8 one pointer byte per lane.
constexpr int kBytes = kWidth * 8;
// A vector of `Bytes` bytes of T (the attribute needs a declaration of its own when T is a
// template parameter).
template <class T, int Bytes>
struct VectorType {
    typedef T type __attribute__((vector_size(Bytes)));
};
template <class T, int Bytes>
using Vector = typename VectorType<T, Bytes>::type;

template <class T>
struct Lanes {  // integer cells
    static constexpr int kCells = kBytes / static_cast<int>(sizeof(T));
    using V = Vector<T, kBytes>;
    using Mask = V;
    using Unsigned = Vector<std::make_unsigned_t<T>, kBytes>;
    using U16 = Vector<std::uint16_t, kCells * 2>;
    using U8 = Vector<std::uint8_t, kCells>;
};
template <>
struct Lanes<double> {
    using V = double __attribute__((vector_size(kBytes)));
    using Mask = std::int64_t __attribute__((vector_size(kBytes)));
    using U16 = std::uint16_t __attribute__((vector_size(kBytes / 4)));
    using U8 = std::uint8_t __attribute__((vector_size(kBytes / 8)));
};

}  // namespace

}  // namespace vorn::KERNEL_NS
