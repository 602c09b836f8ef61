// Argument matching and conversion for every callable. All message wording lives here;
// the entry points only hold parameter tables.
#include "binding/arguments.hpp"

#include <cstring>
#include <new>
#include <string>

#include "binding/errors.hpp"
#include "binding/py_ref.hpp"

namespace vorn {

namespace {

// The text of `o` for embedding in a message (new reference): a str as it is, anything
// else through str(). A failing str() is replaced by a description; nothing is printed.
PyObject* text_of(PyObject* o) {
    if (PyUnicode_Check(o)) {
        Py_INCREF(o);
        return o;
    }
    PyObject* text = PyObject_Str(o);
    if (text) return text;
    PyErr_Clear();
    return PyUnicode_FromString("<unprintable object>");
}

void raise_type_error(const std::string& message) {
    PyRef text = PyRef::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_TypeError, text.get());
}

std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) out += ',';
            out += (i == names.size() - 1) ? " and " : " ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

void raise_missing(const Signature& sig, const char* what, const std::vector<const char*>& names) {
    raise_type_error(std::string(sig.func) + "() missing " + std::to_string(names.size()) +
                     " required " + what + (names.size() == 1 ? " argument: " : " arguments: ") +
                     quoted_list(names));
}

int find_param(const Signature& sig, std::string_view name, int from, int to) {
    for (int i = from; i < to; ++i) {
        if (name == sig.params[i].name) return i;
    }
    return -1;
}

// A conversion of parameter `name` failed with the pending exception: an exception of
// exactly TypeError is replaced by "argument '{name}': {message}", keeping its cause.
void apply_argument_prefix(const char* name) {
    ensure_error_set();
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (type != PyExc_TypeError) {  // a subclass: unchanged
        PyErr_Restore(type, value, tb);
        return;
    }
    PyRef original = PyRef::steal(text_of(value));
    PyErr_Restore(type, value, tb);
    if (!original) return;
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, original.get()));
    if (!message) return;
    raise_caused_by_pending(PyExc_TypeError, message.get(), /*cause_of_pending=*/true);
}

bool is_exact_bool(PyObject* o) { return Py_IS_TYPE(o, &PyBool_Type); }

bool str_attr_equals(PyObject* owner, const char* attr, const char* expected) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(owner, attr));
    if (!value || !PyUnicode_Check(value.get())) {
        PyErr_Clear();
        return false;
    }
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value.get(), &n);
    if (!utf8) {
        PyErr_Clear();
        return false;
    }
    return std::string_view(utf8, static_cast<std::size_t>(n)) == expected;
}

// Strict booleans: True and False, plus numpy's boolean scalar through its __bool__.
bool convert_flag_raw(PyObject* o, bool* out) {
    if (is_exact_bool(o)) {
        *out = (o == Py_True);
        return true;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    const bool numpy_bool =
        str_attr_equals(type, "__module__", "numpy") &&
        (str_attr_equals(type, "__name__", "bool_") || str_attr_equals(type, "__name__", "bool"));
    if (!numpy_bool) {
        raise_cannot_convert(o, "PyBool");
        return false;
    }
    PyRef method = PyRef::steal(PyObject_GetAttrString(type, "__bool__"));
    if (!method) {
        PyErr_Clear();
        PyRef type_text = PyRef::steal(text_of(type));
        if (!type_text) return false;
        PyRef message = PyRef::steal(PyUnicode_FromFormat(
            "object of type '%U' does not define a '__bool__' conversion", type_text.get()));
        if (message) PyErr_SetObject(PyExc_TypeError, message.get());
        return false;
    }
    auto get =
        reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(method.get()), Py_tp_descr_get));
    if (get) {
        method = PyRef::steal(get(method.get(), o, type));
        if (!method) {
            ensure_error_set();
            return false;
        }
    }
    PyRef result = PyRef::steal(PyObject_CallNoArgs(method.get()));
    if (!result) {
        ensure_error_set();
        return false;
    }
    if (!is_exact_bool(result.get())) {
        raise_cannot_convert(result.get(), "PyBool");
        return false;
    }
    *out = (result.get() == Py_True);
    return true;
}

bool convert_float_raw(PyObject* o, double* out) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool convert_index_raw(PyObject* o, std::int64_t* out) {
    const long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    *out = static_cast<std::int64_t>(v);
    return true;
}

bool convert_dict_raw(PyObject* o, PyObject** out) {
    if (!PyDict_Check(o)) {
        raise_cannot_convert(o, "PyDict");
        return false;
    }
    *out = o;
    return true;
}

// A sequence of (str, str) tuples, copied out. Room is reserved from the reported
// length, but never more than a modest amount up front: a lying __len__ must not
// cost memory.
bool convert_seq_pairs_raw(PyObject* o, std::vector<SeqPair>* out) {
    if (PyUnicode_Check(o)) {
        raise_type_error("Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(o)) {
        raise_cannot_convert(o, "Sequence");
        return false;
    }
    const Py_ssize_t reported = PySequence_Size(o);
    if (reported < 0) {
        PyErr_Clear();
    } else {
        out->reserve(static_cast<std::size_t>(reported < 4096 ? reported : 4096));
    }
    PyRef iter = PyRef::steal(PyObject_GetIter(o));
    if (!iter) {
        ensure_error_set();
        return false;
    }
    for (;;) {
        PyRef item = PyRef::steal(PyIter_Next(iter.get()));
        if (!item) {
            if (PyErr_Occurred()) return false;
            return true;
        }
        if (!PyTuple_Check(item.get())) {
            raise_cannot_convert(item.get(), "PyTuple");
            return false;
        }
        const Py_ssize_t len = PyTuple_Size(item.get());
        if (len != 2) {
            PyErr_Format(PyExc_ValueError,
                         "expected tuple of length 2, but got tuple of length %zd", len);
            return false;
        }
        std::string_view first, second;
        if (!extract_str(PyTuple_GetItem(item.get(), 0), &first)) return false;  // borrowed
        std::string a(first);
        if (!extract_str(PyTuple_GetItem(item.get(), 1), &second)) return false;
        out->emplace_back(std::move(a), std::string(second));
    }
}

// The refused object's type name for messages: its type's __qualname__ (new reference).
PyObject* type_qualname_text(PyObject* o) {
    PyRef name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t n = 0;
        if (PyUnicode_AsUTF8AndSize(name.get(), &n)) return name.release();
    }
    PyErr_Clear();
    return PyUnicode_FromString("<failed to extract type name>");
}

}  // namespace

void raise_cannot_convert(PyObject* o, const char* target) {
    PyRef name = PyRef::steal(type_qualname_text(o));
    if (!name) return;
    PyRef message = PyRef::steal(
        PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", name.get(), target));
    if (!message) return;
    PyErr_SetObject(PyExc_TypeError, message.get());
}

bool extract_str(PyObject* o, std::string_view* out) {
    if (!PyUnicode_Check(o)) {
        raise_cannot_convert(o, "PyString");
        return false;
    }
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &n);
    if (!utf8) {
        ensure_error_set();
        return false;
    }
    *out = std::string_view(utf8, static_cast<std::size_t>(n));
    return true;
}

bool match_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyRef* slots) {
    for (int i = 0; i < sig.n_params; ++i) slots[i] = PyRef();
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    for (Py_ssize_t i = 0; i < given && i < sig.n_positional; ++i) {
        slots[i] =
            PyRef::borrow(PyTuple_GetItem(args, i));  // the item is borrowed; we keep our own
    }
    int required_positional = 0;
    while (required_positional < sig.n_positional && sig.params[required_positional].required) {
        ++required_positional;
    }
    if (given > sig.n_positional) {
        std::string text = std::string(sig.func) + "() takes ";
        if (required_positional != sig.n_positional) {
            text += "from " + std::to_string(required_positional) + " to ";
        }
        text += std::to_string(sig.n_positional) + " positional arguments but " +
                std::to_string(given) + (given == 1 ? " was given" : " were given");
        raise_type_error(text);
        return false;
    }
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            int index = -1;
            if (PyUnicode_Check(key)) {
                Py_ssize_t n = 0;
                const char* utf8 = PyUnicode_AsUTF8AndSize(key, &n);
                if (utf8) {
                    const std::string_view name(utf8, static_cast<std::size_t>(n));
                    index = find_param(sig, name, sig.n_positional, sig.n_params);
                    if (index < 0) index = find_param(sig, name, 0, sig.n_positional);
                } else {
                    PyErr_Clear();
                }
            }
            if (index < 0) {
                PyRef key_text = PyRef::steal(text_of(key));
                if (!key_text) return false;
                PyRef message = PyRef::steal(PyUnicode_FromFormat(
                    "%s() got an unexpected keyword argument '%U'", sig.func, key_text.get()));
                if (message) PyErr_SetObject(PyExc_TypeError, message.get());
                return false;
            }
            if (slots[index]) {
                raise_type_error(std::string(sig.func) + "() got multiple values for argument '" +
                                 sig.params[index].name + "'");
                return false;
            }
            // A strong reference at once: later conversions can run Python code that
            // replaces this entry of the dict.
            slots[index] = PyRef::borrow(value);
        }
    }
    if (given < required_positional) {
        std::vector<const char*> missing;
        for (int i = 0; i < required_positional; ++i) {
            if (!slots[i]) missing.push_back(sig.params[i].name);
        }
        if (!missing.empty()) {
            raise_missing(sig, "positional", missing);
            return false;
        }
    }
    std::vector<const char*> missing;
    for (int i = sig.n_positional; i < sig.n_params; ++i) {
        if (sig.params[i].required && !slots[i]) missing.push_back(sig.params[i].name);
    }
    if (!missing.empty()) {
        raise_missing(sig, "keyword", missing);
        return false;
    }
    return true;
}

bool convert_arguments(const Signature& sig, Converted* out) {
    for (int i = 0; i < sig.n_params; ++i) {
        const Param& p = sig.params[i];
        PyObject* o = out->held[i].get();
        Value& v = out->values[i];
        out->given[i] = (o != nullptr);
        bool ok = true;
        switch (p.kind) {
            case Kind::String:
                ok = !o || extract_str(o, &v.text);
                break;
            case Kind::Float:
                v.real = p.default_value;
                ok = !o || convert_float_raw(o, &v.real);
                break;
            case Kind::Flag:
                v.flag = p.default_value != 0.0;
                ok = !o || convert_flag_raw(o, &v.flag);
                break;
            case Kind::Index:
                ok = !o || convert_index_raw(o, &v.index);
                break;
            case Kind::Dict:
                ok = !o || convert_dict_raw(o, &out->dict);
                break;
            case Kind::Scaler:  // None is the same as leaving it out
                out->scaler.reset();
                ok = !o || o == Py_None || p.convert(o, out);
                break;
            case Kind::SeqPairs:
                try {  // copying the pairs out can run out of memory
                    ok = !o || convert_seq_pairs_raw(o, &out->pairs);
                } catch (const std::bad_alloc&) {
                    PyErr_NoMemory();
                    ok = false;
                }
                break;
        }
        if (!ok) {
            apply_argument_prefix(p.name);
            return false;
        }
    }
    return true;
}

std::string text_signature(const Signature& sig, const char* shown_name) {
    std::string text = std::string(shown_name ? shown_name : sig.func) + "(";
    for (int i = 0; i < sig.n_params; ++i) {
        const Param& p = sig.params[i];
        if (i != 0) text += ", ";
        if (i == sig.n_positional) text += "*, ";
        text += p.name;
        if (p.required) continue;
        switch (p.kind) {
            case Kind::Float:
                text += '=';
                text += p.shown;
                break;
            case Kind::Flag:
                text += p.default_value != 0.0 ? "=True" : "=False";
                break;
            case Kind::Scaler:
                text += "=None";
                break;
            case Kind::String:
            case Kind::Dict:
            case Kind::SeqPairs:
            case Kind::Index:
                break;  // no optional parameter of these kinds
        }
    }
    return text + ")\n--\n\n";
}

bool parse_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, Converted* out) {
    return match_arguments(sig, args, kwargs, out->held) && convert_arguments(sig, out);
}

}  // namespace vorn
