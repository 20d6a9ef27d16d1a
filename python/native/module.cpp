// The module kestrun._kestrun: opening packages, beginning new ones, and
// libkestrun's constants.
#include "native.h"

#include <string>

namespace {

// Opens with the GIL released: kr_open reads the whole index.
PyObject *Opened(int code, kr_package *pkg, const kr_error &err, PyObject *filename) {
    if (code != KR_OK) {
        return KrRaise(err, filename);
    }
    return KrHandleNew(pkg);
}

bool TakePartial(PyObject *arg, unsigned &flags) {
    int partial = PyObject_IsTrue(arg);
    if (partial < 0) {
        return false;
    }
    flags = partial ? KR_OPEN_PARTIAL : 0u;
    return true;
}

bool IsExceptionClass(PyObject *type) {
    return PyType_Check(type) &&
           PyType_IsSubtype(reinterpret_cast<PyTypeObject *>(type),
                            reinterpret_cast<PyTypeObject *>(PyExc_Exception));
}

// _set_exceptions(BadPackage, Changed)
PyObject *SetExceptions(PyObject * /*module*/, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2 || !IsExceptionClass(args[0]) || !IsExceptionClass(args[1])) {
        PyErr_SetString(PyExc_TypeError, "_set_exceptions(BadPackage, Changed): Exception classes");
        return nullptr;
    }
    Py_XSETREF(KrBadPackage, Py_NewRef(args[0]));
    Py_XSETREF(KrChanged, Py_NewRef(args[1]));
    Py_RETURN_NONE;
}

PyObject *Version(PyObject * /*module*/, PyObject * /*unused*/) {
    return PyUnicode_FromString(kr_version());
}

PyMethodDef module_methods[] = {
    {"open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrOpenPath)), METH_FASTCALL,
     "open(path: bytes, partial, filename) -> Handle; filename names the file in errors"},
    {"open_fd", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrOpenFd)),
     METH_FASTCALL, "open_fd(fd, partial) -> Handle; the caller keeps its descriptor"},
    {"begin", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrBegin)), METH_FASTCALL,
     "begin(base, path: bytes, exclusive, filename) -> Writer; base a Handle or None"},
    {"_set_exceptions", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(SetExceptions)),
     METH_FASTCALL,
     "Names the exception classes raised for a damaged or foreign package and for a file "
     "changed under a writer."},
    {"version", Version, METH_NOARGS, "version() -> libkestrun's version"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "kestrun._kestrun",
                          "The native layer of kestrun: libkestrun's calls, one for one.",
                          -1,
                          module_methods,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr};

struct Constant {
    const char *name;
    long value;
};

const Constant constants[] = {
    {"OK", KR_OK},
    {"INCOMPLETE", KR_INCOMPLETE},
    {"E_INVALID", KR_E_INVALID},
    {"E_IO", KR_E_IO},
    {"E_NOMEM", KR_E_NOMEM},
    {"E_NOT_RBD", KR_E_NOT_RBD},
    {"E_DAMAGED", KR_E_DAMAGED},
    {"E_NOT_FOUND", KR_E_NOT_FOUND},
    {"E_NO_DATA", KR_E_NO_DATA},
    {"E_UNSAFE", KR_E_UNSAFE},
    {"E_BUDGET", KR_E_BUDGET},
    {"E_CHANGED", KR_E_CHANGED},
    {"ENTRY_UNSAFE", KR_ENTRY_UNSAFE},
    {"ENTRY_NO_DATA", KR_ENTRY_NO_DATA},
    {"ENTRY_SHADOWED", KR_ENTRY_SHADOWED},
    {"ENTRY_UNSAFE_GROUP", KR_ENTRY_UNSAFE_GROUP},
};

} // namespace

PyObject *KrOpenPath(PyObject * /*module*/, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 3 || !PyBytes_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "open(path: bytes, partial, filename)");
        return nullptr;
    }
    const char *path = PyBytes_AS_STRING(args[0]);
    if (std::char_traits<char>::length(path) != static_cast<size_t>(PyBytes_GET_SIZE(args[0]))) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte in the path");
        return nullptr;
    }
    unsigned flags = 0;
    if (!TakePartial(args[1], flags)) {
        return nullptr;
    }
    kr_package *pkg = nullptr;
    kr_error err;
    int code = KR_OK;
    Py_BEGIN_ALLOW_THREADS;
    code = kr_open(path, flags, &pkg, &err);
    Py_END_ALLOW_THREADS;
    return Opened(code, pkg, err, args[2]);
}

PyObject *KrOpenFd(PyObject * /*module*/, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "open_fd(fd, partial)");
        return nullptr;
    }
    int fd = PyObject_AsFileDescriptor(args[0]);
    unsigned flags = 0;
    if (fd < 0 || !TakePartial(args[1], flags)) {
        return nullptr;
    }
    kr_package *pkg = nullptr;
    kr_error err;
    int code = KR_OK;
    Py_BEGIN_ALLOW_THREADS;
    code = kr_open_fd(fd, flags, &pkg, &err);
    Py_END_ALLOW_THREADS;
    return Opened(code, pkg, err, nullptr);
}

PyMODINIT_FUNC PyInit__kestrun(void) {
    PyObject *module = PyModule_Create(&module_def);
    if (module == nullptr) {
        return nullptr;
    }
    for (const Constant &constant : constants) {
        if (PyModule_AddIntConstant(module, constant.name, constant.value) < 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    if (!KrInitHandleType(module) || !KrInitWriterType(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
