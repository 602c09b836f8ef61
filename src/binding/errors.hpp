// The module's errors: the internal-error exception, a host failure while building a result,
// an engine's error value raised as the Python exception the caller sees, and raising an
// exception caused by the pending one.
#pragma once

#include <Python.h>

#include <cstdint>

#include "common/expected.hpp"

namespace vorn {

// Sets SystemError "attempted to fetch exception but none was set" unless an exception
// is already pending. Call where the host reported failure.
void ensure_error_set();

// The internal-error exception: writes a short report to standard error, then raises.
void raise_internal(const char* message);
// The host failed to create a result object: print its error, then raise internally.
void raise_api_failure();

// Where an engine ran, for the messages of its errors: the function, the grid's sides
// (each length + 1) and, in a batch, the pair's index.
struct CallSite {
    const char* func;
    std::uint64_t sides[3];
    int n_sides;
    long long pair = -1;
};

// Raises an engine's error value as the matching Python exception. A MemoryError says
// how much memory the call needed and for which grid.
void raise_engine_error(const EngineError& e, const CallSite& site);

// Raises a new `type` exception with `message` whose __cause__ is the pending exception (or
// what the pending exception gives as its own cause, when `cause_of_pending`).
void raise_caused_by_pending(PyObject* type, PyObject* message, bool cause_of_pending = false);

}  // namespace vorn
