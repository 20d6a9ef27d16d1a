// libkestrun's errors as Python exceptions.
#include "native.h"

PyObject *KrBadPackage = nullptr;
PyObject *KrChanged = nullptr;

namespace {

// Raises `type(*args)` built by the format, keeping the exception's own class
// (OSError(ENOENT, ...) is a FileNotFoundError).
PyObject *RaiseBuilt(PyObject *type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    PyObject *arguments = Py_VaBuildValue(format, args);
    va_end(args);
    if (arguments == nullptr) {
        return nullptr;
    }
    PyObject *exception = PyObject_CallObject(type, arguments);
    Py_DECREF(arguments);
    if (exception != nullptr) {
        PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(exception)), exception);
        Py_DECREF(exception);
    }
    return nullptr;
}

// The message as text: it may hold a package's names, in no character set,
// and may be cut inside a character, so it is decoded as os.fsdecode does.
PyObject *Message(const kr_error &err) {
    return PyUnicode_DecodeFSDefault(err.message);
}

PyObject *RaiseBadPackage(const kr_error &err) {
    if (KrBadPackage == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "kestrun._kestrun is used without kestrun");
        return nullptr;
    }
    if (err.record == KR_NO_RECORD) {
        return RaiseBuilt(KrBadPackage, "(NiO)", Message(err), err.code, Py_None);
    }
    return RaiseBuilt(KrBadPackage, "(Nik)", Message(err), err.code,
                      static_cast<unsigned long>(err.record));
}

// Changed(message, filename): a lost update refused.
PyObject *RaiseChanged(const kr_error &err, PyObject *filename) {
    if (KrChanged == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "kestrun._kestrun is used without kestrun");
        return nullptr;
    }
    return RaiseBuilt(KrChanged, "(NO)", Message(err), filename ? filename : Py_None);
}

} // namespace

PyObject *KrRaise(const kr_error &err, PyObject *filename) {
    switch (err.code) {
    case KR_E_IO:
        if (filename != nullptr) {
            return RaiseBuilt(PyExc_OSError, "(iNO)", err.os_error, Message(err), filename);
        }
        return RaiseBuilt(PyExc_OSError, "(iN)", err.os_error, Message(err));
    case KR_E_NOT_RBD:
    case KR_E_DAMAGED:
    case KR_E_NO_DATA:
        return RaiseBadPackage(err);
    case KR_E_CHANGED:
        return RaiseChanged(err, filename);
    case KR_E_NOT_FOUND:
        return RaiseBuilt(PyExc_KeyError, "(N)", Message(err));
    case KR_E_NOMEM:
        return RaiseBuilt(PyExc_MemoryError, "(N)", Message(err));
    default:
        return RaiseBuilt(PyExc_ValueError, "(N)", Message(err));
    }
}
