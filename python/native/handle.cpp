// The Handle type: an open package, what it holds, and its closing.
#include "native.h"

#include <cstring>

PyTypeObject *KrHandleType = nullptr;

kr_package *KrUse(KrHandle *handle) {
    if (handle->pkg == nullptr || handle->closing) {
        PyErr_SetString(PyExc_ValueError, "the package is closed");
        return nullptr;
    }
    ++handle->busy;
    return handle->pkg;
}

void KrDone(KrHandle *handle) {
    if (--handle->busy == 0 && handle->closing) {
        kr_close(handle->pkg);
        handle->pkg = nullptr;
        handle->closing = false;
    }
}

PyObject *KrHandleNew(kr_package *pkg) {
    KrHandle *handle = PyObject_New(KrHandle, KrHandleType);
    if (handle == nullptr) {
        kr_close(pkg);
        return nullptr;
    }
    handle->pkg = pkg;
    handle->busy = 0;
    handle->closing = false;
    return reinterpret_cast<PyObject *>(handle);
}

namespace {

KrHandle *AsHandle(PyObject *self) {
    return reinterpret_cast<KrHandle *>(self);
}

// The package for a call that keeps the GIL throughout, so that nothing can
// close it meanwhile.
const kr_package *Open(PyObject *self) {
    KrHandle *handle = AsHandle(self);
    if (handle->pkg == nullptr || handle->closing) {
        PyErr_SetString(PyExc_ValueError, "the package is closed");
        return nullptr;
    }
    return handle->pkg;
}

void HandleDealloc(PyObject *self) {
    // No call can be running: each holds a reference to its handle.
    KrHandle *handle = AsHandle(self);
    kr_close(handle->pkg);
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

PyObject *HandleClose(PyObject *self, PyObject * /*unused*/) {
    KrHandle *handle = AsHandle(self);
    if (handle->pkg != nullptr && !handle->closing) {
        if (handle->busy == 0) {
            kr_close(handle->pkg);
            handle->pkg = nullptr;
        } else {
            handle->closing = true; // the last running call closes it
        }
    }
    Py_RETURN_NONE;
}

PyObject *HandleClosed(PyObject *self, void * /*unused*/) {
    KrHandle *handle = AsHandle(self);
    return PyBool_FromLong(handle->pkg == nullptr || handle->closing);
}

PyObject *HandleInfo(PyObject *self, PyObject * /*unused*/) {
    const kr_package *pkg = Open(self);
    if (pkg == nullptr) {
        return nullptr;
    }
    kr_info info;
    kr_get_info(pkg, &info);
    PyObject *damage = Py_None;
    Py_INCREF(damage);
    if (info.damaged) {
        Py_DECREF(damage);
        PyObject *record = info.damage.record == KR_NO_RECORD
                               ? Py_NewRef(Py_None)
                               : PyLong_FromUnsignedLong(info.damage.record);
        damage = Py_BuildValue("(iNN)", info.damage.code, record,
                               PyUnicode_DecodeFSDefault(info.damage.message));
        if (damage == nullptr) {
            return nullptr;
        }
    }
    return Py_BuildValue(
        "(IkkkKON)", static_cast<unsigned>(info.version), static_cast<unsigned long>(info.records),
        static_cast<unsigned long>(info.entries), static_cast<unsigned long>(info.groups),
        static_cast<unsigned long long>(info.package_size), info.damaged ? Py_True : Py_False,
        damage);
}

PyObject *HandleCount(PyObject *self, PyObject * /*unused*/) {
    const kr_package *pkg = Open(self);
    if (pkg == nullptr) {
        return nullptr;
    }
    return PyLong_FromUnsignedLong(kr_entry_count(pkg));
}

// entry(index) -> (index, flags, offset, size, group, name, path, path_bytes),
// the texts decoded as os.fsdecode does.
PyObject *HandleEntry(PyObject *self, PyObject *arg) {
    const kr_package *pkg = Open(self);
    if (pkg == nullptr) {
        return nullptr;
    }
    unsigned long index = PyLong_AsUnsignedLong(arg);
    if (PyErr_Occurred()) {
        return nullptr;
    }
    kr_entry entry;
    if (index > UINT32_MAX || kr_entry_at(pkg, static_cast<uint32_t>(index), &entry) != KR_OK) {
        PyErr_Format(PyExc_IndexError, "no entry %lu", index);
        return nullptr;
    }
    return Py_BuildValue(
        "(kkKKNNNy)", static_cast<unsigned long>(entry.index),
        static_cast<unsigned long>(entry.flags), static_cast<unsigned long long>(entry.offset),
        static_cast<unsigned long long>(entry.size), PyUnicode_DecodeFSDefault(entry.group),
        PyUnicode_DecodeFSDefault(entry.name), PyUnicode_DecodeFSDefault(entry.path), entry.path);
}

// names() -> every entry's path, in index order.
PyObject *HandleNames(PyObject *self, PyObject * /*unused*/) {
    const kr_package *pkg = Open(self);
    if (pkg == nullptr) {
        return nullptr;
    }
    uint32_t count = kr_entry_count(pkg);
    PyObject *names = PyList_New(static_cast<Py_ssize_t>(count));
    if (names == nullptr) {
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) {
        kr_entry entry;
        kr_entry_at(pkg, i, &entry);
        PyObject *name = PyUnicode_DecodeFSDefault(entry.path);
        if (name == nullptr) {
            Py_DECREF(names);
            return nullptr;
        }
        PyList_SET_ITEM(names, static_cast<Py_ssize_t>(i), name);
    }
    return names;
}

// find(path) -> the index of the last entry of `path` (str or bytes). A path
// that no package can hold (a zero byte, a character os.fsencode refuses) is
// simply not found.
PyObject *HandleFind(PyObject *self, PyObject *path) {
    const kr_package *pkg = Open(self);
    if (pkg == nullptr) {
        return nullptr;
    }
    PyObject *bytes = nullptr;
    if (PyBytes_Check(path)) {
        bytes = Py_NewRef(path);
    } else if (PyUnicode_Check(path)) {
        bytes = PyUnicode_EncodeFSDefault(path);
        if (bytes == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
                return nullptr;
            }
            PyErr_Clear();
        }
    } else {
        PyErr_Format(PyExc_TypeError, "a path is str or bytes, not %.100s", Py_TYPE(path)->tp_name);
        return nullptr;
    }
    uint32_t index = 0;
    int found = KR_E_NOT_FOUND;
    if (bytes != nullptr) {
        const char *text = PyBytes_AS_STRING(bytes);
        if (std::strlen(text) == static_cast<size_t>(PyBytes_GET_SIZE(bytes))) {
            found = kr_find(pkg, text, &index);
        }
        Py_DECREF(bytes);
    }
    if (found != KR_OK) {
        PyErr_SetObject(PyExc_KeyError, path);
        return nullptr;
    }
    return PyLong_FromUnsignedLong(index);
}

PyMethodDef handle_methods[] = {
    {"close", HandleClose, METH_NOARGS,
     "Closes the package once no running call uses it. Closing twice does nothing."},
    {"info", HandleInfo, METH_NOARGS,
     "info() -> (version, records, entries, groups, package_size, damaged, damage)"},
    {"count", HandleCount, METH_NOARGS, "count() -> the number of entries"},
    {"entry", HandleEntry, METH_O,
     "entry(index) -> (index, flags, offset, size, group, name, path, path_bytes)"},
    {"names", HandleNames, METH_NOARGS, "names() -> every entry's path, in index order"},
    {"find", HandleFind, METH_O, "find(path) -> the index of the last entry of path; KeyError"},
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrHandleRead)),
     METH_FASTCALL, "read(index, offset, size) -> bytes; size < 0 reads to the entry's end"},
    {"readinto", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrHandleReadInto)),
     METH_FASTCALL, "readinto(index, offset, buffer) -> the number of bytes read"},
    {"extract", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(KrHandleExtract)),
     METH_FASTCALL, "extract(dir, selection) -> (status, written, problems, stop); dir None tests"},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef handle_getset[] = {
    {"closed", HandleClosed, nullptr, "True once close() was called", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot handle_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(HandleDealloc)},
    {Py_tp_methods, handle_methods},
    {Py_tp_getset, handle_getset},
    {Py_tp_doc, const_cast<char *>("An open package of libkestrun; see kestrun.Package.")},
    {0, nullptr}};

PyType_Spec handle_spec = {"kestrun._kestrun.Handle", sizeof(KrHandle), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, handle_slots};

} // namespace

bool KrInitHandleType(PyObject *module) {
    PyObject *type = PyType_FromSpec(&handle_spec);
    if (type == nullptr) {
        return false;
    }
    KrHandleType = reinterpret_cast<PyTypeObject *>(type);
    Py_INCREF(type);
    if (PyModule_AddObject(module, "Handle", type) < 0) {
        Py_DECREF(type);
        return false;
    }
    return true;
}
