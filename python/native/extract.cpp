// Extracting and testing: kr_extract and kr_test with the GIL released for
// the whole run. Outcomes are gathered in plain memory as they come, with no
// Python object touched, and turned into Python objects at the end; only a
// Python selection callable takes the GIL again, once for each entry.
#include "native.h"

#include <new>
#include <string>
#include <vector>

namespace {

struct Problem {
    uint32_t index;
    int code;
    int os_error;
    std::string message;
};

struct Run {
    // The selection: a bitmap of one byte for each entry, or a callable
    // given each entry's index, or neither (every entry).
    const char *bitmap = nullptr;
    Py_ssize_t bitmap_length = 0;
    PyObject *callable = nullptr;
    PyThreadState *released = nullptr; // while the GIL is released
    bool callable_failed = false;      // its exception is pending; take no more
    bool out_of_memory = false;
    std::vector<uint32_t> written;
    std::vector<Problem> problems;
};

int SelectEntry(void *ctx, const kr_entry *entry) {
    Run &run = *static_cast<Run *>(ctx);
    if (run.bitmap != nullptr) {
        return entry->index < run.bitmap_length && run.bitmap[entry->index] != 0;
    }
    if (run.callable == nullptr) {
        return 1;
    }
    if (run.callable_failed || run.out_of_memory) {
        return 0;
    }
    PyEval_RestoreThread(run.released);
    int chosen = 0;
    PyObject *answer =
        PyObject_CallFunction(run.callable, "k", static_cast<unsigned long>(entry->index));
    if (answer != nullptr) {
        chosen = PyObject_IsTrue(answer);
        Py_DECREF(answer);
    }
    if (answer == nullptr || chosen < 0) {
        run.callable_failed = true; // the exception stays set for the caller
        chosen = 0;
    }
    run.released = PyEval_SaveThread();
    return chosen;
}

void ReportEntry(void *ctx, const kr_entry *entry, int outcome, const kr_error *why) {
    Run &run = *static_cast<Run *>(ctx);
    try {
        if (outcome == KR_OK) {
            run.written.push_back(entry->index);
        } else {
            run.problems.push_back(
                Problem{entry->index, outcome, why ? why->os_error : 0, why ? why->message : ""});
        }
    } catch (const std::bad_alloc &) {
        run.out_of_memory = true;
    }
}

// (status, written, problems, stop) from a finished run.
PyObject *Outcome(const Run &run, int status, const kr_error &err) {
    PyObject *written = PyList_New(static_cast<Py_ssize_t>(run.written.size()));
    PyObject *problems = PyList_New(static_cast<Py_ssize_t>(run.problems.size()));
    if (written == nullptr || problems == nullptr) {
        Py_XDECREF(written);
        Py_XDECREF(problems);
        return nullptr;
    }
    for (size_t i = 0; i < run.written.size(); ++i) {
        PyObject *index = PyLong_FromUnsignedLong(run.written[i]);
        if (index == nullptr) {
            Py_DECREF(written);
            Py_DECREF(problems);
            return nullptr;
        }
        PyList_SET_ITEM(written, static_cast<Py_ssize_t>(i), index);
    }
    for (size_t i = 0; i < run.problems.size(); ++i) {
        const Problem &problem = run.problems[i];
        PyObject *item =
            Py_BuildValue("(kiiN)", static_cast<unsigned long>(problem.index), problem.code,
                          problem.os_error, PyUnicode_DecodeFSDefault(problem.message.c_str()));
        if (item == nullptr) {
            Py_DECREF(written);
            Py_DECREF(problems);
            return nullptr;
        }
        PyList_SET_ITEM(problems, static_cast<Py_ssize_t>(i), item);
    }
    PyObject *stop = Py_None;
    Py_INCREF(stop);
    if (status < 0) {
        Py_DECREF(stop);
        stop = Py_BuildValue("(iN)", err.code, PyUnicode_DecodeFSDefault(err.message));
        if (stop == nullptr) {
            Py_DECREF(written);
            Py_DECREF(problems);
            return nullptr;
        }
    }
    return Py_BuildValue("(iNNN)", status, written, problems, stop);
}

// Takes the selection argument into `run`; false with an exception set.
bool TakeSelection(PyObject *selection, Run &run) {
    if (selection == Py_None) {
        return true;
    }
    if (PyBytes_Check(selection)) {
        run.bitmap = PyBytes_AS_STRING(selection);
        run.bitmap_length = PyBytes_GET_SIZE(selection);
        return true;
    }
    if (PyCallable_Check(selection)) {
        run.callable = selection;
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "the selection is None, a bytes bitmap or a callable");
    return false;
}

} // namespace

// extract(dir, selection[, threads]) -> (status, written, problems, stop).
// `dir` (bytes) is the output root; None tests instead of writing. `threads`
// is kr_extract_options.threads (0, the default: as many as the processors). `status` is KR_OK,
// KR_INCOMPLETE or KR_E_BUDGET; `written` the indices of the entries
// written; `problems` (index, code, os_error, message) for each entry refused
// or failed; `stop` (code, message) when the budget ended the run, else None.
// Other failures raise.
PyObject *KrHandleExtract(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2 && nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "extract(dir, selection[, threads])");
        return nullptr;
    }
    unsigned long threads = 0;
    if (nargs == 3) {
        threads = PyLong_AsUnsignedLong(args[2]);
        if (PyErr_Occurred() != nullptr) {
            return nullptr;
        }
    }
    PyObject *dir = args[0];
    if (dir != Py_None && !PyBytes_Check(dir)) {
        PyErr_SetString(PyExc_TypeError, "the directory is bytes, or None to test");
        return nullptr;
    }
    if (dir != Py_None && std::char_traits<char>::length(PyBytes_AS_STRING(dir)) !=
                              static_cast<size_t>(PyBytes_GET_SIZE(dir))) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte in the directory");
        return nullptr;
    }
    Run run;
    if (!TakeSelection(args[1], run)) {
        return nullptr;
    }
    KrHandle *handle = reinterpret_cast<KrHandle *>(self);
    kr_package *pkg = KrUse(handle);
    if (pkg == nullptr) {
        return nullptr;
    }
    kr_extract_options options{};
    options.struct_size = sizeof options;
    options.select = SelectEntry;
    options.report = ReportEntry;
    options.ctx = &run;
    options.threads = threads > 1000000 ? 1000000 : static_cast<unsigned>(threads);
    kr_error err;
    int status = KR_OK;
    run.released = PyEval_SaveThread();
    if (dir == Py_None) {
        status = kr_test(pkg, &options, &err);
    } else {
        status = kr_extract(pkg, PyBytes_AS_STRING(dir), &options, &err);
    }
    PyEval_RestoreThread(run.released);
    KrDone(handle);
    if (run.callable_failed) {
        return nullptr;
    }
    if (run.out_of_memory) {
        return PyErr_NoMemory();
    }
    if (status != KR_OK && status != KR_INCOMPLETE && status != KR_E_BUDGET) {
        return KrRaise(err, dir == Py_None ? nullptr : dir);
    }
    return Outcome(run, status, err);
}
