// kestrun._kestrun: the thin native layer of the Python module. It hands
// libkestrun's calls to Python one for one; the zipfile-shaped API is built
// on it in Python (python/kestrun/__init__.py).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kestrun/kestrun.h"

// An open package. Every call that uses it counts itself in `busy` while it
// runs (with the GIL released around reads and extraction), so that close()
// from another thread, or from a callback, never frees what a running call
// still reads: the last call to finish closes it. `busy` and `closing` are
// touched only while holding the GIL.
struct KrHandle {
    PyObject_HEAD kr_package *pkg;
    int busy;
    bool closing;
};

// The Handle type, made when the module is first imported.
extern PyTypeObject *KrHandleType;

// Wraps an open package; closes it and returns null when that fails.
PyObject *KrHandleNew(kr_package *pkg);

// The package of `handle` for a call that may release the GIL: counts the
// call in. Null, with ValueError set, when the handle is closed.
kr_package *KrUse(KrHandle *handle);

// Counts the call out again; closes the package when close() came meanwhile.
void KrDone(KrHandle *handle);

// Raises the Python exception for a failed call: OSError (with errno and
// `filename` when not null) for KR_E_IO, BadPackage for a damaged or foreign
// package and for data past its end, Changed (with `filename`) for
// KR_E_CHANGED, KeyError for KR_E_NOT_FOUND, MemoryError, and ValueError for
// the rest. Returns null.
PyObject *KrRaise(const kr_error &err, PyObject *filename);

// The exception classes BadPackage and Changed, defined by the Python side
// and handed over by _set_exceptions() on import.
extern PyObject *KrBadPackage;
extern PyObject *KrChanged;

// The methods of Handle, in the files that implement them.
PyObject *KrHandleRead(PyObject *self, PyObject *const *args, Py_ssize_t nargs);
PyObject *KrHandleReadInto(PyObject *self, PyObject *const *args, Py_ssize_t nargs);
PyObject *KrHandleExtract(PyObject *self, PyObject *const *args, Py_ssize_t nargs);

// Module-level functions: opening a package by path or descriptor, and
// beginning one to write (writer.cpp).
PyObject *KrOpenPath(PyObject *module, PyObject *const *args, Py_ssize_t nargs);
PyObject *KrOpenFd(PyObject *module, PyObject *const *args, Py_ssize_t nargs);
PyObject *KrBegin(PyObject *module, PyObject *const *args, Py_ssize_t nargs);

// Make the Handle and Writer types; false with an exception set on failure.
bool KrInitHandleType(PyObject *module);
bool KrInitWriterType(PyObject *module);
