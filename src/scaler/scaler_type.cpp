// The RustScoreScaler class and its factory. The factor itself is computed by
// scale_factor(), which the pairwise engine shares.
#include "scaler/scaler_type.hpp"

#include <new>
#include <string>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/py_ref.hpp"
#include "scaler/scale_factor.hpp"

namespace vorn {

namespace {

struct ScalerObject {
    PyObject_HEAD double decay_exponent;
    double temperature;
};

enum class Construct { DecayExponent, Temperature };
constexpr Param kConstructParams[] = {
    {"decay_exponent", Kind::Float, false, 1.0, "1.0"},
    {"temperature", Kind::Float, false, 1.0, "1.0"},
};
static_assert(param_is(kConstructParams, Construct::DecayExponent, "decay_exponent") &&
              param_is(kConstructParams, Construct::Temperature, "temperature"));
constexpr Signature kNewSignature = make_signature("RustScoreScaler.__new__", kConstructParams, 2);
constexpr Signature kFactorySignature =
    make_signature("make_rust_score_scaler", kConstructParams, 2);

// The four indices, then the four flags, each in the order scale_factor takes them.
enum class Call {
    Seq1LeftIdx,
    Seq1RightIdx,
    Seq2LeftIdx,
    Seq2RightIdx,
    Seq1LeftFree,
    Seq1RightFree,
    Seq2LeftFree,
    Seq2RightFree,
};
constexpr Param kCallParams[] = {
    {"seq1_left_idx", Kind::Index, true}, {"seq1_right_idx", Kind::Index, true},
    {"seq2_left_idx", Kind::Index, true}, {"seq2_right_idx", Kind::Index, true},
    {"seq1_left_free", Kind::Flag, true}, {"seq1_right_free", Kind::Flag, true},
    {"seq2_left_free", Kind::Flag, true}, {"seq2_right_free", Kind::Flag, true},
};
static_assert(param_is(kCallParams, Call::Seq1LeftIdx, "seq1_left_idx") &&
              param_is(kCallParams, Call::Seq2RightIdx, "seq2_right_idx") &&
              param_is(kCallParams, Call::Seq1LeftFree, "seq1_left_free") &&
              param_is(kCallParams, Call::Seq2RightFree, "seq2_right_free"));
constexpr Signature kCallSignature = make_signature("RustScoreScaler.__call__", kCallParams, 8);

// Shared by the class call and the factory: convert, check the temperature, allocate.
PyObject* construct(PyTypeObject* type, const Signature& sig, PyObject* args, PyObject* kwargs) {
    Converted c;
    if (!parse_arguments(sig, args, kwargs, &c)) return nullptr;
    const double decay_exponent = c.real(Construct::DecayExponent);
    const double temperature = c.real(Construct::Temperature);
    if (c.was_given(Construct::Temperature) && temperature <= 0.0) {
        PyErr_SetString(PyExc_ValueError, "temperature must be > 0");
        return nullptr;
    }
    // A heap type always has tp_alloc (inherited from object when not given).
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
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
    const std::int64_t indices[4] = {c.index(Call::Seq1LeftIdx), c.index(Call::Seq1RightIdx),
                                     c.index(Call::Seq2LeftIdx), c.index(Call::Seq2RightIdx)};
    const bool flags[4] = {c.flag(Call::Seq1LeftFree), c.flag(Call::Seq1RightFree),
                           c.flag(Call::Seq2LeftFree), c.flag(Call::Seq2RightFree)};
    return PyFloat_FromDouble(scale_factor(obj->decay_exponent, obj->temperature, indices, flags));
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
    {Py_tp_doc, nullptr},  // the text signature, set before the type is created
    {0, nullptr},
};

// Not a base type: no subclassing, and no __dict__ or weak-reference slot.
PyType_Spec kSpec = {"vorn_rust_native.RustScoreScaler", sizeof(ScalerObject), 0,
                     Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* scaler_type() {
    static PyTypeObject* type = nullptr;  // never freed
    static std::string doc;               // the type keeps a copy; built once
    if (!type) {
        try {
            doc = text_signature(kNewSignature, "RustScoreScaler");
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return nullptr;
        }
        for (PyType_Slot& slot : kSlots) {
            if (slot.slot == Py_tp_doc) slot.pfunc = const_cast<char*>(doc.c_str());
        }
        type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
    }
    return type;
}

const Signature& make_rust_score_scaler_signature() { return kFactorySignature; }

bool convert_score_scaler(PyObject* o, Converted* out) {
    PyTypeObject* type = scaler_type();
    if (!type) return false;
    if (!Py_IS_TYPE(o, type)) {  // the class cannot be subclassed
        raise_cannot_convert(o, "RustScoreScaler");
        return false;
    }
    const auto* obj = reinterpret_cast<const ScalerObject*>(o);
    out->scaler = ScalerParams{obj->decay_exponent, obj->temperature};
    return true;
}

PyObject* make_rust_score_scaler(PyObject*, PyObject* args, PyObject* kwargs) {
    PyTypeObject* type = scaler_type();
    if (!type) return nullptr;
    return construct(type, kFactorySignature, args, kwargs);
}

}  // namespace vorn
