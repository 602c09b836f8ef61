// The argument layer shared by every callable of the module: matching positional and
// keyword arguments against a parameter table, converting each parameter by its kind,
// and the conventions of their errors (exact messages, the "argument '{name}': " prefix).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/py_ref.hpp"
#include "common/engine_input.hpp"

namespace vorn {

enum class Kind : std::uint8_t { String, Float, Flag, Dict, Scaler, SeqPairs, Index };

struct Converted;

struct Param {
    const char* name;
    Kind kind;
    bool required;
    double default_value = 0.0;   // Float: the default; Flag: nonzero is True
    const char* shown = nullptr;  // Float: the default as the text signature shows it
    // Scaler: converts an object other than None into `out->scaler`, or raises the
    // TypeError of the kind (the scaler's own module supplies it, so that this layer does
    // not depend on the class it converts).
    bool (*convert)(PyObject* o, Converted* out) = nullptr;
};

inline constexpr int kMaxParams = 16;

struct Signature {
    const char* func;  // the name used in messages, without "()"
    const Param* params;
    int n_positional;  // positional-or-keyword parameters come first
    int n_params;
};

// A signature over a whole parameter table; the count comes from the table.
template <std::size_t N>
constexpr Signature make_signature(const char* func, const Param (&params)[N], int n_positional) {
    static_assert(N <= kMaxParams, "raise kMaxParams");
    return Signature{func, params, n_positional, static_cast<int>(N)};
}

// Whether parameter `p` of `params` (an enumerator naming a position) is called `name`;
// each entry checks its enum against its table with this at compile time.
template <class P, std::size_t N>
constexpr bool param_is(const Param (&params)[N], P p, std::string_view name) {
    return static_cast<std::size_t>(p) < N &&
           std::string_view(params[static_cast<std::size_t>(p)].name) == name;
}

// One converted parameter; the member of its kind is set.
struct Value {
    std::string_view text;   // String: into the str object held by the call
    double real = 0.0;       // Float
    bool flag = false;       // Flag
    std::int64_t index = 0;  // Index
};

// The converted values of one call, by parameter position; read them by the callable's
// parameter enum, e.g. `c.real(Param::GapOpen)`.
//
// `held` keeps a strong reference to every matched argument until the call returns. The
// caller's keyword dict can be shared (another thread, or a conversion callback such as a
// `__float__`, may replace its entries), so nothing read from an argument may depend on
// the dict still holding it: the string views point into the str objects held here,
// which stay alive (and immutable) while an engine reads them without the lock.
struct Converted {
    PyRef held[kMaxParams];
    bool given[kMaxParams] = {};  // whether the caller supplied the parameter
    Value values[kMaxParams];
    PyObject* dict = nullptr;  // the Dict parameter, kept alive by `held`
    std::optional<ScalerParams> scaler;
    std::vector<SeqPair> pairs;

    template <class P>
    std::string_view text(P p) const {
        return values[static_cast<int>(p)].text;
    }
    template <class P>
    double real(P p) const {
        return values[static_cast<int>(p)].real;
    }
    template <class P>
    bool flag(P p) const {
        return values[static_cast<int>(p)].flag;
    }
    template <class P>
    std::int64_t index(P p) const {
        return values[static_cast<int>(p)].index;
    }
    template <class P>
    bool was_given(P p) const {
        return given[static_cast<int>(p)];
    }

    // Lets go of the held references without releasing them: for a thread that is being ended
    // without the interpreter lock, which must not touch a reference count.
    void abandon() noexcept {
        for (PyRef& ref : held) (void)ref.release();
        dict = nullptr;
    }
};

// Fills `slots` with a strong reference to each matched argument (empty when absent) or
// raises the matching TypeError.
bool match_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyRef* slots);

// Converts every parameter in table order, stopping at the first failure (raised).
// The values are read from `out->held`, filled by match_arguments.
bool convert_arguments(const Signature& sig, Converted* out);

// match_arguments followed by convert_arguments.
bool parse_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, Converted* out);

// The docstring that gives a callable its text signature: "func(a, b, *, c=...)" then
// "\n--\n\n". `shown_name` replaces the function name (a class shows its own).
std::string text_signature(const Signature& sig, const char* shown_name = nullptr);

// Single conversions, also used by the score table and the batch.
bool extract_str(PyObject* o, std::string_view* out);  // str -> UTF-8 bytes, raises
// "'{type}' object cannot be converted to '{target}'" as a TypeError.
void raise_cannot_convert(PyObject* o, const char* target);

}  // namespace vorn
