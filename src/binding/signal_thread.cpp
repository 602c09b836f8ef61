// Which thread runs Python's signal handlers: the main thread as the threading module knows
// it, found when the module is imported and again in a forked child, where Python makes the
// forking thread the main one.
#include <unistd.h>

#include <atomic>

#include "binding/gil.hpp"
#include "binding/py_ref.hpp"

namespace vorn {

namespace {

std::atomic<unsigned long> g_signal_thread{0};
std::atomic<pid_t> g_found_in{0};  // the process that found it

}  // namespace

bool find_signal_thread() {
    PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
    if (!threading) return false;
    PyRef main = PyRef::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    if (!main) return false;
    PyRef ident = PyRef::steal(PyObject_GetAttrString(main.get(), "ident"));
    if (!ident) return false;
    const unsigned long value = PyLong_AsUnsignedLong(ident.get());
    if (value == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    g_signal_thread.store(value, std::memory_order_relaxed);
    g_found_in.store(getpid(), std::memory_order_relaxed);
    return true;
}

bool on_signal_thread() {
    if (g_found_in.load(std::memory_order_relaxed) != getpid() && !find_signal_thread()) {
        PyErr_Clear();  // not found: no thread of this call answers signals
        return false;
    }
    return PyThread_get_thread_ident() == g_signal_thread.load(std::memory_order_relaxed);
}

}  // namespace vorn
