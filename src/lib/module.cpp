// The module definition: single-phase initialisation bound to one interpreter, the
// cached module object, and the registration of the class and functions in order.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>

#include "batch/entry.hpp"
#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/gil.hpp"
#include "binding/py_ref.hpp"
#include "pairwise/entry.hpp"
#include "scaler/scaler_type.hpp"
#include "three_way/entry.hpp"

namespace vorn {

namespace {

std::atomic<std::int64_t> g_interpreter{-1};  // the binding; never reset
PyObject* g_module = nullptr;                 // the cached module object; never released

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT, "vorn_rust_native", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// A function record: METH_VARARGS | METH_KEYWORDS entries take (module, args, kwargs).
PyMethodDef function(const char* name, PyObject* (*entry)(PyObject*, PyObject*, PyObject*)) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
            METH_VARARGS | METH_KEYWORDS, nullptr};
}

// The docstrings (text signatures) are generated from the parameter tables at start-up.
PyMethodDef g_functions[] = {
    function("make_rust_score_scaler", make_rust_score_scaler),
    function("needleman_wunsch", needleman_wunsch),
    function("needleman_wunsch_batch", needleman_wunsch_batch),
    function("needleman_wunsch_3d", needleman_wunsch_3d),
};

// Sets each function's docstring from its parameter table, in g_functions' order.
bool set_docstrings() {
    static std::string docs[std::size(g_functions)];  // kept for the life of the process
    const Signature* signatures[] = {
        &make_rust_score_scaler_signature(), &needleman_wunsch_signature(),
        &needleman_wunsch_batch_signature(), &needleman_wunsch_3d_signature()};
    static_assert(std::size(signatures) == std::size(g_functions));
    try {
        for (std::size_t k = 0; k < std::size(g_functions); ++k) {
            docs[k] = text_signature(*signatures[k]);
            g_functions[k].ml_doc = docs[k].c_str();
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// Appends `name` to the module's __all__ (creating the list if absent), then sets the
// attribute.
bool add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (!PyList_Check(all.get())) {
        raise_cannot_convert(all.get(), "PyList");
        return false;
    }
    if (PyList_Append(all.get(), name) < 0) return false;
    return PyObject_SetAttr(module, name, value) == 0;
}

bool module_body(PyObject* module) {
    if (!find_signal_thread()) return false;
    PyTypeObject* type = scaler_type();
    if (!type) {
        PyRef message = PyRef::steal(
            PyUnicode_FromString("An error occurred while initializing class RustScoreScaler"));
        if (message) raise_caused_by_pending(PyExc_RuntimeError, message.get());
        return false;
    }
    {
        PyObject* raw = PyUnicode_FromString("RustScoreScaler");
        if (!raw) return false;
        PyUnicode_InternInPlace(&raw);
        PyRef name = PyRef::steal(raw);
        if (!add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type))) return false;
    }
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name || !set_docstrings()) return false;
    for (PyMethodDef& def : g_functions) {
        PyRef function = PyRef::steal(PyCMethod_New(&def, module, module_name.get(), nullptr));
        if (!function) return false;
        PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) return false;
        if (!add_to_module(module, name.get(), function.get())) return false;
    }
    return true;
}

PyObject* init_module() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) {
        ensure_error_set();
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!g_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError, "vorn_rust_native does not support sub-interpreters");
        return nullptr;
    }
    if (g_module) {
        Py_INCREF(g_module);
        return g_module;
    }
    PyObject* module = PyModule_Create2(&g_definition, 3);
    if (!module) {
        ensure_error_set();
        return nullptr;
    }
    if (!module_body(module)) {
        ensure_error_set();
        Py_DECREF(module);
        return nullptr;
    }
    g_module = module;  // the cache keeps this reference
    Py_INCREF(module);
    return module;
}

}  // namespace

}  // namespace vorn

PyMODINIT_FUNC PyInit_vorn_rust_native(void) { return vorn::init_module(); }
