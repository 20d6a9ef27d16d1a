// The Writer type: a kr_writer, its edits and its commit. A writer belongs
// to one thread at a time: every call takes its lock, so that calls from
// several threads run one after another, never at once. The GIL is
// released where the library may take long (beginning, which reads the
// base's index; large puts; files; commit), and kept for small puts, where
// giving it up would cost more than the call.
#include "native.h"

#include <cstring>

namespace {

// A put of at least this many bytes releases the GIL while it is spooled.
const Py_ssize_t kLongPut = 64 * 1024;

struct KrWriter {
    PyObject_HEAD kr_writer *writer; // null once committed or aborted
    KrHandle *base;                  // counted busy until then; null for a new package
    PyObject *filename;              // the package's name in errors
    PyThread_type_lock lock;
};

PyTypeObject *writer_type = nullptr;

KrWriter *AsWriter(PyObject *self) {
    return reinterpret_cast<KrWriter *>(self);
}

// Takes the writer's lock, waiting without the GIL when another thread has
// it; then the writer, or null with ValueError once it is done.
kr_writer *Lock(KrWriter *w) {
    if (PyThread_acquire_lock(w->lock, NOWAIT_LOCK) == 0) {
        Py_BEGIN_ALLOW_THREADS;
        PyThread_acquire_lock(w->lock, WAIT_LOCK);
        Py_END_ALLOW_THREADS;
    }
    if (w->writer == nullptr) {
        PyThread_release_lock(w->lock);
        PyErr_SetString(PyExc_ValueError, "the package is closed: it was committed or aborted");
    }
    return w->writer;
}

void Unlock(KrWriter *w) {
    PyThread_release_lock(w->lock);
}

// The writer is done with: its base may close.
void LetBaseGo(KrWriter *w) {
    w->writer = nullptr;
    if (w->base != nullptr) {
        KrDone(w->base);
        Py_CLEAR(w->base);
    }
}

// A path argument as the bytes the library takes: bytes as they are, str
// encoded as os.fsencode does. An ASCII str is its own bytes in every file
// system encoding (all hold ASCII), so its text is taken as it is, with
// nothing made: a put of a small entry costs a third less.
struct Path {
    PyObject *owner = nullptr; // holds `text`
    const char *text = nullptr;
};

// False with an exception set.
bool TakePath(PyObject *arg, Path &path) {
    Py_ssize_t size = 0;
    if (PyUnicode_Check(arg) && PyUnicode_IS_ASCII(arg)) {
        path.text = PyUnicode_AsUTF8AndSize(arg, &size);
        path.owner = Py_NewRef(arg);
    } else {
        if (PyUnicode_Check(arg)) {
            path.owner = PyUnicode_EncodeFSDefault(arg);
        } else if (PyBytes_Check(arg)) {
            path.owner = Py_NewRef(arg);
        } else {
            PyErr_Format(PyExc_TypeError, "a path is str or bytes, not %.100s",
                         Py_TYPE(arg)->tp_name);
            return false;
        }
        if (path.owner == nullptr) {
            return false;
        }
        path.text = PyBytes_AS_STRING(path.owner);
        size = PyBytes_GET_SIZE(path.owner);
    }
    if (std::strlen(path.text) != static_cast<size_t>(size)) {
        Py_CLEAR(path.owner);
        PyErr_SetString(PyExc_ValueError, "embedded null byte in the path");
        return false;
    }
    return true;
}

// None, or the exception of a failed call, naming `filename` (or nothing).
PyObject *Done(int code, const kr_error &err, PyObject *filename) {
    if (code != KR_OK) {
        return KrRaise(err, filename);
    }
    Py_RETURN_NONE;
}

// Runs `call(writer, &err)` on the writer, locked against the other
// threads' calls, with the GIL released when `release`; None, or the
// exception of a failed call naming `filename`; null when the writer is done.
template <typename Call>
PyObject *CallLocked(KrWriter *w, bool release, PyObject *filename, Call call) {
    kr_writer *writer = Lock(w);
    if (writer == nullptr) {
        return nullptr;
    }
    kr_error err;
    int code = KR_OK;
    if (release) {
        Py_BEGIN_ALLOW_THREADS;
        code = call(writer, &err);
        Py_END_ALLOW_THREADS;
    } else {
        code = call(writer, &err);
    }
    Unlock(w);
    return Done(code, err, filename);
}

// put(path, data): data is any contiguous buffer (bytes, bytearray,
// memoryview...), held while it is spooled.
PyObject *WriterPut(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "put(path, data)");
        return nullptr;
    }
    Path path;
    if (!TakePath(args[0], path)) {
        return nullptr;
    }
    Py_buffer data;
    if (PyObject_GetBuffer(args[1], &data, PyBUF_SIMPLE) < 0) {
        Py_DECREF(path.owner);
        return nullptr;
    }
    KrWriter *w = AsWriter(self);
    auto len = static_cast<size_t>(data.len);
    PyObject *done =
        CallLocked(w, data.len >= kLongPut, w->filename, [&](kr_writer *writer, kr_error *err) {
            return kr_writer_put(writer, path.text, data.buf, len, err);
        });
    PyBuffer_Release(&data);
    Py_DECREF(path.owner);
    return done;
}

// put_fd(path, fd): the file's bytes, read at commit (or copied now); the
// caller keeps its descriptor. Its errors name no file: most are the file's
// given, which the caller names.
PyObject *WriterPutFd(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "put_fd(path, fd)");
        return nullptr;
    }
    int fd = PyObject_AsFileDescriptor(args[1]);
    Path path;
    if (fd < 0 || !TakePath(args[0], path)) {
        return nullptr;
    }
    PyObject *done =
        CallLocked(AsWriter(self), true, nullptr, [&](kr_writer *writer, kr_error *err) {
            return kr_writer_put_fd(writer, path.text, fd, err);
        });
    Py_DECREF(path.owner);
    return done;
}

PyObject *WriterRemove(PyObject *self, PyObject *arg) {
    Path path;
    if (!TakePath(arg, path)) {
        return nullptr;
    }
    KrWriter *w = AsWriter(self);
    PyObject *done = CallLocked(w, false, w->filename, [&](kr_writer *writer, kr_error *err) {
        return kr_writer_remove(writer, path.text, err);
    });
    Py_DECREF(path.owner);
    return done;
}

PyObject *WriterRename(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "rename(old, new)");
        return nullptr;
    }
    Path from;
    Path to;
    if (!TakePath(args[0], from) || !TakePath(args[1], to)) {
        Py_XDECREF(from.owner);
        return nullptr;
    }
    KrWriter *w = AsWriter(self);
    PyObject *done = CallLocked(w, false, w->filename, [&](kr_writer *writer, kr_error *err) {
        return kr_writer_rename(writer, from.text, to.text, err);
    });
    Py_DECREF(from.owner);
    Py_DECREF(to.owner);
    return done;
}

PyObject *WriterCommit(PyObject *self, PyObject * /*unused*/) {
    KrWriter *w = AsWriter(self);
    kr_writer *writer = Lock(w);
    if (writer == nullptr) {
        return nullptr;
    }
    kr_error err;
    int code = KR_OK;
    Py_BEGIN_ALLOW_THREADS;
    code = kr_writer_commit(writer, &err);
    Py_END_ALLOW_THREADS;
    LetBaseGo(w);
    Unlock(w);
    return Done(code, err, w->filename);
}

// abort(): leaves the package as it was; nothing once done.
PyObject *WriterAbort(PyObject *self, PyObject * /*unused*/) {
    KrWriter *w = AsWriter(self);
    kr_writer *writer = Lock(w);
    if (writer == nullptr) {
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    Py_BEGIN_ALLOW_THREADS;
    kr_writer_abort(writer);
    Py_END_ALLOW_THREADS;
    LetBaseGo(w);
    Unlock(w);
    Py_RETURN_NONE;
}

// info() -> (entries, emptied): what the package would hold if committed now.
PyObject *WriterInfo(PyObject *self, PyObject * /*unused*/) {
    KrWriter *w = AsWriter(self);
    kr_writer *writer = Lock(w);
    if (writer == nullptr) {
        return nullptr;
    }
    kr_writer_info info{};
    kr_writer_get_info(writer, &info);
    Unlock(w);
    return Py_BuildValue("(kk)", static_cast<unsigned long>(info.entries),
                         static_cast<unsigned long>(info.emptied));
}

PyObject *WriterDone(PyObject *self, void * /*unused*/) {
    return PyBool_FromLong(AsWriter(self)->writer == nullptr);
}

void WriterDealloc(PyObject *self) {
    // No call can be running: each holds a reference to its writer.
    KrWriter *w = AsWriter(self);
    kr_writer_abort(w->writer);
    LetBaseGo(w);
    Py_CLEAR(w->filename);
    if (w->lock != nullptr) {
        PyThread_free_lock(w->lock);
    }
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

PyMethodDef writer_methods[] = {
    {"put", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(WriterPut)), METH_FASTCALL,
     "put(path, data): adds the entry, or replaces the data of the one at path in its place"},
    {"put_fd", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(WriterPutFd)),
     METH_FASTCALL, "put_fd(path, fd): the same with the file's bytes, read at commit"},
    {"remove", WriterRemove, METH_O, "remove(path): every entry of path; KeyError"},
    {"rename", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(WriterRename)),
     METH_FASTCALL, "rename(old, new): the entry at old; KeyError, ValueError"},
    {"commit", WriterCommit, METH_NOARGS, "commit(): writes the package and puts it in place"},
    {"abort", WriterAbort, METH_NOARGS, "abort(): leaves the package as it was"},
    {"info", WriterInfo, METH_NOARGS, "info() -> (entries, emptied)"},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef writer_getset[] = {
    {"done", WriterDone, nullptr, "True once committed or aborted", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot writer_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(WriterDealloc)},
    {Py_tp_methods, writer_methods},
    {Py_tp_getset, writer_getset},
    {Py_tp_doc, const_cast<char *>("A package being written by libkestrun; see kestrun.Package.")},
    {0, nullptr}};

PyType_Spec writer_spec = {"kestrun._kestrun.Writer", sizeof(KrWriter), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, writer_slots};

// A Writer around nothing yet, its base counted busy; null with an
// exception set.
KrWriter *NewWriter(PyObject *base, PyObject *filename) {
    KrWriter *w = PyObject_New(KrWriter, writer_type);
    if (w == nullptr) {
        return nullptr;
    }
    w->writer = nullptr;
    w->base = nullptr;
    w->filename = Py_NewRef(filename);
    w->lock = PyThread_allocate_lock();
    if (w->lock == nullptr) {
        Py_DECREF(w);
        PyErr_NoMemory();
        return nullptr;
    }
    if (base != Py_None) {
        auto *handle = reinterpret_cast<KrHandle *>(base);
        if (KrUse(handle) == nullptr) {
            Py_DECREF(w);
            return nullptr;
        }
        w->base = reinterpret_cast<KrHandle *>(Py_NewRef(base));
    }
    return w;
}

} // namespace

// begin(base, path: bytes, exclusive, filename) -> Writer. `base` is an open
// Handle, whose package the writer starts from, or None for a new package.
PyObject *KrBegin(PyObject * /*module*/, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 4 || !PyBytes_Check(args[1]) ||
        (args[0] != Py_None && !PyObject_TypeCheck(args[0], KrHandleType))) {
        PyErr_SetString(PyExc_TypeError, "begin(base: Handle | None, path: bytes, exclusive, "
                                         "filename)");
        return nullptr;
    }
    const char *path = PyBytes_AS_STRING(args[1]);
    if (std::strlen(path) != static_cast<size_t>(PyBytes_GET_SIZE(args[1]))) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte in the path");
        return nullptr;
    }
    int exclusive = PyObject_IsTrue(args[2]);
    if (exclusive < 0) {
        return nullptr;
    }
    KrWriter *w = NewWriter(args[0], args[3]);
    if (w == nullptr) {
        return nullptr;
    }
    const kr_package *base = w->base != nullptr ? w->base->pkg : nullptr;
    unsigned flags = exclusive ? KR_WRITER_EXCLUSIVE : 0u;
    kr_error err;
    int code = KR_OK;
    Py_BEGIN_ALLOW_THREADS;
    code = kr_writer_begin(base, path, flags, &w->writer, &err);
    Py_END_ALLOW_THREADS;
    if (code != KR_OK) {
        KrRaise(err, args[3]);
        Py_DECREF(w);
        return nullptr;
    }
    return reinterpret_cast<PyObject *>(w);
}

bool KrInitWriterType(PyObject *module) {
    PyObject *type = PyType_FromSpec(&writer_spec);
    if (type == nullptr) {
        return false;
    }
    writer_type = reinterpret_cast<PyTypeObject *>(type);
    Py_INCREF(type);
    if (PyModule_AddObject(module, "Writer", type) < 0) {
        Py_DECREF(type);
        return false;
    }
    return true;
}
