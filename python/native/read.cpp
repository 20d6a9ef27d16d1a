// Reading entries: positional reads with the GIL released, so that threads
// reading one package run side by side.
#include "native.h"

namespace {

// The index and offset arguments, checked; false with an exception set.
bool TakeIndexAndOffset(PyObject *const *args, uint32_t &index, uint64_t &offset) {
    unsigned long long number = PyLong_AsUnsignedLongLong(args[0]);
    if (PyErr_Occurred()) {
        return false;
    }
    if (number > UINT32_MAX) {
        PyErr_Format(PyExc_IndexError, "no entry %llu", number);
        return false;
    }
    index = static_cast<uint32_t>(number);
    offset = PyLong_AsUnsignedLongLong(args[1]);
    return !PyErr_Occurred();
}

// kr_read of `len` bytes into `buf` with the GIL released. The number read,
// or -1 with an exception set.
Py_ssize_t ReadReleased(KrHandle *handle, uint32_t index, uint64_t offset, void *buf, size_t len) {
    kr_package *pkg = KrUse(handle);
    if (pkg == nullptr) {
        return -1;
    }
    kr_error err;
    int64_t got = 0;
    Py_BEGIN_ALLOW_THREADS;
    got = kr_read(pkg, index, offset, buf, len, &err);
    Py_END_ALLOW_THREADS;
    KrDone(handle);
    if (got < 0) {
        KrRaise(err, nullptr);
        return -1;
    }
    return static_cast<Py_ssize_t>(got);
}

// How many bytes of entry `index` lie from `offset` on, at most `wanted`
// (all of them when `wanted` is negative); -1 with an exception set. Data
// past the package's end is refused here, before any memory is set aside.
Py_ssize_t BytesLeft(KrHandle *handle, uint32_t index, uint64_t offset, long long wanted) {
    kr_package *pkg = KrUse(handle);
    if (pkg == nullptr) {
        return -1;
    }
    kr_entry entry;
    int found = kr_entry_at(pkg, index, &entry);
    KrDone(handle);
    if (found != KR_OK) {
        PyErr_Format(PyExc_IndexError, "no entry %lu", static_cast<unsigned long>(index));
        return -1;
    }
    if ((entry.flags & KR_ENTRY_NO_DATA) != 0) {
        kr_error err;
        err.code = KR_E_NO_DATA;
        err.os_error = 0;
        err.record = KR_NO_RECORD;
        PyOS_snprintf(err.message, sizeof err.message,
                      "%s: its data runs past the end of the package", entry.path);
        KrRaise(err, nullptr);
        return -1;
    }
    uint64_t left = offset < entry.size ? entry.size - offset : 0;
    if (wanted >= 0 && static_cast<unsigned long long>(wanted) < left) {
        left = static_cast<uint64_t>(wanted);
    }
    if (left > static_cast<uint64_t>(PY_SSIZE_T_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "the entry is too large for this system");
        return -1;
    }
    return static_cast<Py_ssize_t>(left);
}

} // namespace

// read(index, offset, size) -> bytes: up to `size` bytes from `offset`
// within the entry; a negative size reads to its end.
PyObject *KrHandleRead(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "read(index, offset, size)");
        return nullptr;
    }
    uint32_t index = 0;
    uint64_t offset = 0;
    if (!TakeIndexAndOffset(args, index, offset)) {
        return nullptr;
    }
    long long wanted = PyLong_AsLongLong(args[2]);
    if (wanted == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    KrHandle *handle = reinterpret_cast<KrHandle *>(self);
    Py_ssize_t length = BytesLeft(handle, index, offset, wanted);
    if (length < 0) {
        return nullptr;
    }
    PyObject *bytes = PyBytes_FromStringAndSize(nullptr, length);
    if (bytes == nullptr || length == 0) {
        return bytes;
    }
    Py_ssize_t got =
        ReadReleased(handle, index, offset, PyBytes_AS_STRING(bytes), static_cast<size_t>(length));
    if (got < 0) {
        Py_DECREF(bytes);
        return nullptr;
    }
    if (got < length && _PyBytes_Resize(&bytes, got) < 0) {
        return nullptr;
    }
    return bytes;
}

// readinto(index, offset, buffer) -> the number of bytes read into the
// writable buffer, 0 at or past the entry's end.
PyObject *KrHandleReadInto(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "readinto(index, offset, buffer)");
        return nullptr;
    }
    uint32_t index = 0;
    uint64_t offset = 0;
    if (!TakeIndexAndOffset(args, index, offset)) {
        return nullptr;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(args[2], &view, PyBUF_WRITABLE) < 0) {
        return nullptr;
    }
    Py_ssize_t got = 0;
    if (view.len > 0) {
        got = ReadReleased(reinterpret_cast<KrHandle *>(self), index, offset, view.buf,
                           static_cast<size_t>(view.len));
    }
    PyBuffer_Release(&view);
    return got < 0 ? nullptr : PyLong_FromSsize_t(got);
}
