// The one place where the converter multiplies and adds sizes. A header may
// claim any width, height, depth or count; on the 32-bit converter a product
// that wraps would allocate a small buffer and then be read or written as a
// large one. Every size taken from a file, a setting or a fit goes through
// these before it reaches an allocation or an index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace CheckedSize {

// a * b into `out`; false, with `out` untouched, when it does not fit size_t.
inline bool Mul(uint64_t a, uint64_t b, size_t& out) {
    size_t result;
    if (a > SIZE_MAX || b > SIZE_MAX) return false;
    if (__builtin_mul_overflow(static_cast<size_t>(a), static_cast<size_t>(b), &result)) return false;
    out = result;
    return true;
}

// a + b into `out`; false, with `out` untouched, when it does not fit size_t.
inline bool Add(uint64_t a, uint64_t b, size_t& out) {
    size_t result;
    if (a > SIZE_MAX || b > SIZE_MAX) return false;
    if (__builtin_add_overflow(static_cast<size_t>(a), static_cast<size_t>(b), &result)) return false;
    out = result;
    return true;
}

// The product of all factors (for example width, height and bytes a pixel).
inline bool Product(std::initializer_list<uint64_t> factors, size_t& out) {
    size_t result = 1;
    for (uint64_t factor : factors)
        if (!Mul(result, factor, result)) return false;
    out = result;
    return true;
}

// a * b + c, the usual shape of "rows times stride plus header".
inline bool MulAdd(uint64_t a, uint64_t b, uint64_t c, size_t& out) {
    size_t product;
    return Mul(a, b, product) && Add(product, c, out);
}

}  // namespace CheckedSize
