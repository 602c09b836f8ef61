// Which thread runs Python's signal handlers: the main thread as the threading module
// knows it, found when the module is imported, and the forking thread in a forked child
// (Python makes it the child's main thread).
#include <pthread.h>

#include <atomic>

#include "arguments/gil.hpp"
#include "arguments/py_ref.hpp"

namespace vorn {

namespace {

std::atomic<unsigned long> g_signal_thread{0};

void forked_child() {
    g_signal_thread.store(PyThread_get_thread_ident(), std::memory_order_relaxed);
}

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
    static const bool registered = pthread_atfork(nullptr, nullptr, forked_child) == 0;
    (void)registered;
    return true;
}

bool on_signal_thread() {
    return PyThread_get_thread_ident() == g_signal_thread.load(std::memory_order_relaxed);
}

}  // namespace vorn
