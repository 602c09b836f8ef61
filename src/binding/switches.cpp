// Reading the test switches from the environment.
#include "binding/switches.hpp"

#include <Python.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "common/kernel_isa.hpp"

#if defined(__linux__)
#include <unistd.h>
#define VORN_ENVIRON_SCAN 1
#else
#define VORN_ENVIRON_SCAN 0
#endif

namespace vorn {

namespace {

constexpr const char* kKernelVariable = "VORN_RUST_NATIVE_KERNEL";
constexpr const char* kMemoryRootVariable = "VORN_RUST_NATIVE_MEMORY_ROOT";
constexpr const char* kThreeWayOuterVariable = "VORN_RUST_NATIVE_3D_OUTER";
constexpr const char* kTracebackVariable = "VORN_RUST_NATIVE_TRACEBACK";
constexpr const char* kIntervalVariable = "VORN_RUST_NATIVE_CHECKPOINT_INTERVAL";
constexpr const char* kCellTypeVariable = "VORN_RUST_NATIVE_CELL_TYPE";
constexpr const char* kGroupsVariable = "VORN_RUST_NATIVE_PAIR_GROUPS";
constexpr const char* kBandVariable = "VORN_RUST_NATIVE_BAND_ROWS";
constexpr const char* kDiagonalBandVariable = "VORN_RUST_NATIVE_DIAGONAL_BAND";
constexpr const char* kThreadsVariable = "VORN_RUST_NATIVE_NUM_THREADS";

// The values of the module's variables, found in one pass over the environment (a call
// reads about ten of them, and each getenv would scan the whole environment).
class Switches {
  public:
    Switches() {
#if VORN_ENVIRON_SCAN
        constexpr char kPrefix[] = "VORN_RUST_NATIVE_";
        for (char** entry = environ; entry && *entry; ++entry) {
            if (std::strncmp(*entry, kPrefix, sizeof kPrefix - 1) != 0) continue;
            const char* equals = std::strchr(*entry, '=');
            if (!equals) continue;
            if (count_ == kMax) {  // more than the module has: look each one up instead
                overflow_ = true;
                break;
            }
            found_[count_++] = {std::string_view(*entry, static_cast<std::size_t>(equals - *entry)),
                                equals + 1};
        }
#endif
    }
    // The value of `name`, or null when it is not set (the first one where it is set twice).
    const char* get(const char* name) const {
#if VORN_ENVIRON_SCAN
        if (overflow_) return std::getenv(name);
        for (int k = 0; k < count_; ++k) {
            if (found_[k].name == name) return found_[k].value;
        }
        return nullptr;
#else
        return std::getenv(name);
#endif
    }

  private:
    struct Found {
        std::string_view name;
        const char* value;
    };
    static constexpr int kMax = 32;
    Found found_[kMax];
    int count_ = 0;
    bool overflow_ = false;
};

// "double", "int32" or "int16" forces what the pairwise fill computes in; anything else
// leaves the choice to the engine.
void read_cell_type(const Switches& env, EnginePolicy* policy) {
    const char* type = env.get(kCellTypeVariable);
    if (!type) return;
    if (std::strcmp(type, "double") == 0) policy->cell_type = CellType::Double;
    if (std::strcmp(type, "int32") == 0) policy->cell_type = CellType::Int32;
    if (std::strcmp(type, "int16") == 0) policy->cell_type = CellType::Int16;
}

// "off" makes the batch align every pair on its own.
void read_pair_groups(const Switches& env, EnginePolicy* policy) {
    const char* groups = env.get(kGroupsVariable);
    if (groups && std::strcmp(groups, "off") == 0) policy->group_pairs = false;
}

// A positive whole number, or 0 for anything else.
long long positive_number(const char* text) {
    if (!text) return 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value > 0 ? value : 0;
}

// "full" or "checkpoint" forces the pairwise traceback path; anything else leaves the
// choice to the engine. A positive integer k sets the checkpointed path's block length, and
// another the rows of each block of rows of the pairwise fill.
void read_traceback_switches(const Switches& env, EnginePolicy* policy) {
    const char* path = env.get(kTracebackVariable);
    if (path && std::strcmp(path, "full") == 0) {
        policy->traceback = TracebackPath::Full;
    } else if (path && std::strcmp(path, "checkpoint") == 0) {
        policy->traceback = TracebackPath::Checkpoint;
    }
    policy->checkpoint_interval = positive_number(env.get(kIntervalVariable));
    policy->row_block = positive_number(env.get(kBandVariable));
}

// "off" fills the whole grid; a positive whole number forces the first half-width of the band
// of diagonals; anything else leaves the choice to the engine.
void read_diagonal_band(const Switches& env, EnginePolicy* policy) {
    const char* band = env.get(kDiagonalBandVariable);
    if (band && std::strcmp(band, "off") == 0) {
        policy->diagonal_band = -1;
    } else {
        policy->diagonal_band = positive_number(band);
    }
}

// "seq1", "seq2" or "seq3": the string the three-way fill runs outermost; -1 otherwise.
int three_way_outer(const char* value) {
    constexpr const char* kNames[] = {"seq1", "seq2", "seq3"};
    for (int k = 0; value && k < 3; ++k) {
        if (std::strcmp(value, kNames[k]) == 0) return k;
    }
    return -1;
}

// RuntimeError with `message`, whose bytes from the environment need not be UTF-8.
void raise_runtime_error(const std::string& message) {
    PyObject* text =
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (!text) return;
    PyErr_SetObject(PyExc_RuntimeError, text);
    Py_DECREF(text);
}

void raise_unrunnable_kernel(const char* kernel) {
    try {
        raise_runtime_error(std::string(kKernelVariable) + "='" + kernel +
                            "' names no kernel build this processor can run (it can run: " +
                            runnable_kernel_names() + ")");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

// Digits only, no sign or spaces, above zero; larger values than an int holds saturate.
// 0 when the text is anything else.
int positive_whole_number(const char* text) {
    long long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = std::min<long long>(value * 10 + (*c - '0'), INT_MAX);
    }
    return static_cast<int>(value);
}

}  // namespace

bool read_policy(EnginePolicy* policy) {
    const Switches env;
    const char* kernel = env.get(kKernelVariable);
    if (!kernel_isa_named(kernel, &policy->kernel)) {
        raise_unrunnable_kernel(kernel);
        return false;
    }
    try {
        const char* root = env.get(kMemoryRootVariable);
        policy->memory_root = root ? root : "";
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    policy->three_way_outer = three_way_outer(env.get(kThreeWayOuterVariable));
    read_traceback_switches(env, policy);
    read_diagonal_band(env, policy);
    read_cell_type(env, policy);
    read_pair_groups(env, policy);
    return true;
}

bool read_thread_count(EnginePolicy* policy) {
    const char* value = std::getenv(kThreadsVariable);
    if (!value || *value == '\0') return true;
    policy->threads = positive_whole_number(value);
    if (policy->threads > 0) return true;
    try {
        raise_runtime_error(std::string(kThreadsVariable) + "='" + value +
                            "' is not a positive whole number");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return false;
}

}  // namespace vorn
