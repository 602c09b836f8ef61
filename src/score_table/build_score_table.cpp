// Reads score_matrix at the C level (PyDict_Next), so dict subclasses' overridden
// methods are never called, under a guard that detects the dict changing while it is
// read (only a value's __float__ or __index__ can do that).
#include "score_table/build_score_table.hpp"

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/py_ref.hpp"

namespace vorn {

namespace {

// Iterates one dict while holding a strong reference to it, so that a __float__ that
// drops the dict's last other reference cannot free it under us. Each step first
// checks that the size is unchanged and that no more items were produced than the
// dict had at the start.
class GuardedDictIter {
  public:
    explicit GuardedDictIter(PyObject* dict)
        : dict_(PyRef::borrow(dict)),
          size_at_start_(PyDict_Size(dict)),
          remaining_(size_at_start_) {}

    // 1: an item (new references); 0: the end; -1: the exception is set. An item
    // beyond the count the dict had at the start means its keys were replaced; it is
    // refused before anything looks at its key or value.
    int next(PyRef* key, PyRef* value) {
        if (PyDict_Size(dict_.get()) != size_at_start_) {
            size_at_start_ = -1;
            raise_internal("dictionary changed size during iteration");
            return -1;
        }
        PyObject *k = nullptr, *v = nullptr;
        if (!PyDict_Next(dict_.get(), &pos_, &k, &v)) return 0;
        if (remaining_ == 0) {
            size_at_start_ = -1;
            raise_internal("dictionary keys changed during iteration");
            return -1;
        }
        --remaining_;
        *key = PyRef::borrow(k);
        *value = PyRef::borrow(v);
        return 1;
    }

  private:
    PyRef dict_;
    Py_ssize_t pos_ = 0;
    Py_ssize_t size_at_start_;
    Py_ssize_t remaining_;
};

}  // namespace

bool extract_ascii_base(PyObject* key, std::uint8_t* out) {
    std::string_view text;
    if (!extract_str(key, &text)) return false;
    if (text.size() != 1) {
        PyErr_SetString(PyExc_ValueError, "score_matrix keys must be single characters");
        return false;
    }
    *out = upper_ascii(static_cast<std::uint8_t>(text[0]));
    return true;
}

bool build_score_table(PyObject* score_matrix, ScoreTable* table) {
    GuardedDictIter rows(score_matrix);
    PyRef row_key, row_value;
    for (int status; (status = rows.next(&row_key, &row_value)) != 0;) {
        if (status < 0) return false;
        std::uint8_t r = 0;
        if (!extract_ascii_base(row_key.get(), &r)) return false;
        if (!PyDict_Check(row_value.get())) {
            raise_cannot_convert(row_value.get(), "PyDict");
            return false;
        }
        GuardedDictIter cols(row_value.get());
        PyRef col_key, col_value;
        for (int inner; (inner = cols.next(&col_key, &col_value)) != 0;) {
            if (inner < 0) return false;
            std::uint8_t c = 0;
            if (!extract_ascii_base(col_key.get(), &c)) return false;
            const double score = PyFloat_AsDouble(col_value.get());
            if (score == -1.0 && PyErr_Occurred()) return false;
            if (!table->set(r, c, score)) {
                PyErr_NoMemory();
                return false;
            }
        }
    }
    return true;
}

}  // namespace vorn
