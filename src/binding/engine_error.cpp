// Turning an engine's error value into the Python exception the caller sees.
#include <Python.h>

#include <cstdio>
#include <new>
#include <string>

#include "binding/errors.hpp"

namespace vorn {

namespace {

// "40.0 GB" (decimal units, as memory is usually quoted).
std::string size_text(std::uint64_t bytes) {
    char text[64];
    if (bytes >= 1000000000ull) {
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    } else {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    }
    return text;
}

// "needleman_wunsch needs 40.0 GB for a 200001 × 200001 grid", the batch adding the pair.
std::string memory_message(const EngineError& e, const CallSite& site) {
    std::string grid;
    for (int k = 0; k < site.n_sides; ++k) {
        if (k != 0) grid += " \u00d7 ";
        grid += std::to_string(site.sides[k]);
    }
    std::string text = site.func;
    text += e.bytes != 0 ? " needs " + size_text(e.bytes) : " ran out of memory";
    if (site.n_sides == 0) return text;
    text += " for ";
    if (site.pair >= 0) text += "pair " + std::to_string(site.pair) + ", ";
    return text + "a " + grid + " grid";
}

void raise_memory(const EngineError& e, const CallSite& site) {
    try {
        const std::string message = memory_message(e, site);
        PyObject* text =
            PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
        if (!text) return;  // the host's MemoryError is pending
        PyErr_SetObject(PyExc_MemoryError, text);
        Py_DECREF(text);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

}  // namespace

void raise_engine_error(const EngineError& e, const CallSite& site) {
    switch (e.kind) {
        case ErrorKind::Value:
            PyErr_SetString(PyExc_ValueError, e.message);
            return;
        case ErrorKind::Internal:
            raise_internal(e.message);
            return;
        case ErrorKind::Memory:
            raise_memory(e, site);
            return;
        case ErrorKind::ForcedCellType:
            PyErr_SetString(PyExc_RuntimeError,
                            "the integer cell type forced by VORN_RUST_NATIVE_CELL_TYPE cannot "
                            "compute this call exactly");
            return;
        case ErrorKind::Interrupted:  // a signal handler's exception is already set
            if (!PyErr_Occurred()) raise_internal("stopped without an exception");
            return;
    }
}

}  // namespace vorn
