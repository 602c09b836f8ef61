// The RustScoreScaler class and its factory. The factor itself is computed by
// scale_factor(), which the pairwise engine shares.
#include "scaler/scaler_type.hpp"

#include "arguments/arguments.hpp"
#include "arguments/py_ref.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

namespace {

struct ScalerObject {
    PyObject_HEAD
    double decay_exponent;
    double temperature;
};

constexpr Param kConstructParams[] = {
    {"decay_exponent", Kind::Float, false, 1.0},
    {"temperature", Kind::Float, false, 1.0},
};
constexpr Signature kNewSignature{"RustScoreScaler.__new__", kConstructParams, 2, 2};
constexpr Signature kFactorySignature{"make_rust_score_scaler", kConstructParams, 2, 2};

constexpr Param kCallParams[] = {
    {"seq1_left_idx", Kind::Index, true},   {"seq1_right_idx", Kind::Index, true},
    {"seq2_left_idx", Kind::Index, true},   {"seq2_right_idx", Kind::Index, true},
    {"seq1_left_free", Kind::Flag, true},   {"seq1_right_free", Kind::Flag, true},
    {"seq2_left_free", Kind::Flag, true},   {"seq2_right_free", Kind::Flag, true},
};
constexpr Signature kCallSignature{"RustScoreScaler.__call__", kCallParams, 8, 8};

// Shared by the class call and the factory: convert, check the temperature, allocate.
PyObject* construct(PyTypeObject* type, const Signature& sig, PyObject* args, PyObject* kwargs) {
    Converted c;
    if (!parse_arguments(sig, args, kwargs, &c)) return nullptr;
    const double decay_exponent = c.reals[0];
    const double temperature = c.reals[1];
    if (c.given[1] && temperature <= 0.0) {
        PyErr_SetString(PyExc_ValueError, "temperature must be > 0");
        return nullptr;
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc ? alloc(type, 0) : PyType_GenericAlloc(type, 0);
    if (!self) {
        ensure_error_set();
        return nullptr;
    }
    auto* obj = reinterpret_cast<ScalerObject*>(self);
    obj->decay_exponent = decay_exponent;
    obj->temperature = temperature;
    return self;
}

PyObject* scaler_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return construct(type, kNewSignature, args, kwargs);
}

PyObject* scaler_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    Converted c;
    if (!parse_arguments(kCallSignature, args, kwargs, &c)) return nullptr;
    const auto* obj = reinterpret_cast<const ScalerObject*>(self);
    return PyFloat_FromDouble(scale_factor(obj->decay_exponent, obj->temperature, c.indices, c.flags));
}

void scaler_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto release = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    release(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));  // instances of a heap type own a reference to it
}

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(scaler_new)},
    {Py_tp_call, reinterpret_cast<void*>(scaler_call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(scaler_dealloc)},
    {Py_tp_doc, const_cast<char*>("RustScoreScaler(decay_exponent=1.0, temperature=1.0)\n--\n\n")},
    {0, nullptr},
};

// Not a base type: no subclassing, and no __dict__ or weak-reference slot.
PyType_Spec kSpec = {"vorn_rust_native.RustScoreScaler", sizeof(ScalerObject), 0, Py_TPFLAGS_DEFAULT,
                     kSlots};

}  // namespace

PyTypeObject* scaler_type() {
    static PyTypeObject* type = nullptr;  // never freed
    if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
    return type;
}

ScalerParams scaler_params(PyObject* scaler) {
    const auto* obj = reinterpret_cast<const ScalerObject*>(scaler);
    return {obj->decay_exponent, obj->temperature};
}

PyObject* make_rust_score_scaler(PyObject*, PyObject* args, PyObject* kwargs) {
    PyTypeObject* type = scaler_type();
    if (!type) return nullptr;
    return construct(type, kFactorySignature, args, kwargs);
}

}  // namespace vorn
