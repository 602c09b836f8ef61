// Raising one exception where the host reported failure, or because of another.
#include "binding/errors.hpp"

#include "binding/py_ref.hpp"

namespace vorn {

void ensure_error_set() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
}

void raise_caused_by_pending(PyObject* type, PyObject* message, bool cause_of_pending) {
    ensure_error_set();
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    PyRef pending_type = PyRef::steal(t), pending = PyRef::steal(v), trace = PyRef::steal(tb);
    PyRef fresh = PyRef::steal(PyObject_CallFunctionObjArgs(type, message, nullptr));
    if (!fresh) return;  // the failure to create it is pending instead
    PyObject* cause = cause_of_pending ? PyException_GetCause(pending.get())  // new ref or null
                                       : pending.release();
    PyException_SetCause(fresh.get(), cause);  // steals
    PyErr_SetObject(type, fresh.get());
}

}  // namespace vorn
