// Reading the test switches from the environment.
#include "arguments/switches.hpp"

#include <Python.h>

#include <cstdlib>
#include <string>

#include "common/kernel_isa.hpp"
#include "common/memory_budget.hpp"

namespace vorn {

namespace {

constexpr const char* kKernelVariable = "VORN_RUST_NATIVE_KERNEL";
constexpr const char* kMemoryRootVariable = "VORN_RUST_NATIVE_MEMORY_ROOT";

}  // namespace

bool apply_switches() {
    const char* kernel = std::getenv(kKernelVariable);
    if (!pin_kernel_isa(kernel)) {
        const std::string message = std::string(kKernelVariable) + "='" + kernel +
                                    "' names no kernel build this processor can run (it can run: " +
                                    runnable_kernel_names() + ")";
        PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
        if (text) {
            PyErr_SetObject(PyExc_RuntimeError, text);
            Py_DECREF(text);
        }
        return false;
    }
    set_memory_root(std::getenv(kMemoryRootVariable));
    return true;
}

}  // namespace vorn
