// Reading the test switches from the environment.
#include "arguments/switches.hpp"

#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"
#include "three_way/core.hpp"

namespace vorn {

namespace {

constexpr const char* kKernelVariable = "VORN_RUST_NATIVE_KERNEL";
constexpr const char* kMemoryRootVariable = "VORN_RUST_NATIVE_MEMORY_ROOT";
constexpr const char* kThreeWayOuterVariable = "VORN_RUST_NATIVE_3D_OUTER";

// "seq1", "seq2" or "seq3": the string the three-way fill runs outermost; -1 otherwise.
int three_way_outer(const char* value) {
    constexpr const char* kNames[] = {"seq1", "seq2", "seq3"};
    for (int k = 0; value && k < 3; ++k) {
        if (std::strcmp(value, kNames[k]) == 0) return k;
    }
    return -1;
}

void raise_unrunnable_kernel(const char* kernel) {
    try {
        const std::string message = std::string(kKernelVariable) + "='" + kernel +
                                    "' names no kernel build this processor can run (it can run: " +
                                    runnable_kernel_names() + ")";
        PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
        if (!text) return;
        PyErr_SetObject(PyExc_RuntimeError, text);
        Py_DECREF(text);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

}  // namespace

bool apply_switches() {
    const char* kernel = std::getenv(kKernelVariable);
    if (!pin_kernel_isa(kernel)) {
        raise_unrunnable_kernel(kernel);
        return false;
    }
    set_memory_root(std::getenv(kMemoryRootVariable));
    force_three_way_outer(three_way_outer(std::getenv(kThreeWayOuterVariable)));
    return true;
}

}  // namespace vorn
