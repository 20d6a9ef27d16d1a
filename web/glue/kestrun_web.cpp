// What the page's Web Worker calls: libkestrun's reader over the browser's
// File, entries handed over packed, bounded reads, SHA-256 in steps, and the
// command line's member patterns. One package is open at a time; this module
// is the worker's alone, so its state is one record here.
#include "../../src/cli/hash/sha256.h"
#include "kestrun/kestrun.h"

#include <emscripten/emscripten.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Reads of the File, by File.slice and FileReaderSync in the worker: the
// bytes go straight into the module's memory. Offsets travel as doubles,
// exact below 2^53, which no File reaches.
// clang-format off
EM_JS(int, KW_ReadFile, (double offset, unsigned char *into, int length), {
    return kestrunReadFile(offset, HEAPU8, into, length);
});
// clang-format on

// Small reads (a group record, a file table) come from a window read ahead,
// so that walking an index of many groups does not cost one File.slice each.
const size_t kWindow = 1 << 20;

struct KWState {
    kr_package *pkg = nullptr;
    kr_error error{};
    std::vector<unsigned char> window;
    uint64_t window_start = 0;
    size_t window_length = 0;
    std::vector<unsigned char> packed; // the entries, as kw_pack_entries gives them
    std::vector<unsigned char> buffer; // kw_read's bytes
    std::vector<uint32_t> matched;     // kw_match's indices
    RBDSha256 *sha = nullptr;
    uint32_t sha_entry = 0;
    uint64_t sha_done = 0;
    uint64_t sha_size = 0;
    char sha_hex[2 * RBD_SHA256_SIZE + 1] = "";
    uint32_t info[12] = {};
    char damage[sizeof(kr_error::message)] = "";
};

KWState state;

int64_t ReadDirect(uint64_t offset, void *buf, size_t len) {
    size_t most = len > 0x40000000 ? 0x40000000 : len;
    int got = KW_ReadFile(static_cast<double>(offset), static_cast<unsigned char *>(buf),
                          static_cast<int>(most));
    return got < 0 ? -EIO : got;
}

int64_t ReadPackage(void * /*ctx*/, uint64_t offset, void *buf, size_t len) {
    if (len >= kWindow / 4) {
        return ReadDirect(offset, buf, len);
    }
    bool inside = offset >= state.window_start && offset - state.window_start < state.window_length;
    if (!inside) {
        state.window.resize(kWindow);
        int64_t got = ReadDirect(offset, state.window.data(), kWindow);
        if (got <= 0) {
            state.window_length = 0;
            return got;
        }
        state.window_start = offset;
        state.window_length = static_cast<size_t>(got);
    }
    size_t at = static_cast<size_t>(offset - state.window_start);
    size_t give = state.window_length - at < len ? state.window_length - at : len;
    std::memcpy(buf, state.window.data() + at, give);
    return static_cast<int64_t>(give);
}

void Append32(std::vector<unsigned char> &out, uint32_t value) {
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4); // WebAssembly is little-endian, as the page reads it
    out.insert(out.end(), bytes, bytes + 4);
}

void AppendText(std::vector<unsigned char> &out, const char *text) {
    out.insert(out.end(), text, text + std::strlen(text) + 1);
}

// The command line's words for why extraction would not write the entry
// below a directory of the user's, or "" when it would.
void ReasonOf(const kr_entry &entry, char *text, size_t size) {
    text[0] = '\0';
    int verdict = kr_entry_verdict(state.pkg, entry.index, "");
    if (verdict > KR_OUTCOME_WRITTEN) {
        kr_outcome_text(state.pkg, entry.index, "", verdict, text, size);
    } else if ((entry.flags & KR_ENTRY_NO_DATA) != 0) {
        kr_outcome_text(state.pkg, entry.index, "", KR_OUTCOME_NO_DATA, text, size);
    }
}

void EndHash() {
    RBD_FreeSha256(state.sha);
    state.sha = nullptr;
}

} // namespace

extern "C" {

// Opens the worker's File of `size` bytes (closing the package before);
// damage to the index opens the entries before it. KR_OK or a KR_E_* code,
// with kw_error_text saying why.
EMSCRIPTEN_KEEPALIVE int kw_open(double size) {
    kr_close(state.pkg);
    state.pkg = nullptr;
    EndHash();
    state.window_length = 0;
    kr_source source{sizeof(kr_source), static_cast<uint64_t>(size), ReadPackage, nullptr};
    return kr_open_source(&source, KR_OPEN_PARTIAL, &state.pkg, &state.error);
}

EMSCRIPTEN_KEEPALIVE const char *kw_error_text() {
    return state.error.message;
}

EMSCRIPTEN_KEEPALIVE void kw_close() {
    kr_close(state.pkg);
    state.pkg = nullptr;
    EndHash();
    state.window_length = 0;
    std::vector<unsigned char>().swap(state.window);
}

// kr_get_info as 32-bit words: package size (low, high), records, entries,
// groups, version, damaged, the damage's code and record.
EMSCRIPTEN_KEEPALIVE const uint32_t *kw_info() {
    kr_info info{};
    if (kr_get_info(state.pkg, &info) != KR_OK) {
        return nullptr;
    }
    uint32_t words[] = {static_cast<uint32_t>(info.package_size),
                        static_cast<uint32_t>(info.package_size >> 32),
                        info.records,
                        info.entries,
                        info.groups,
                        info.version,
                        static_cast<uint32_t>(info.damaged != 0),
                        static_cast<uint32_t>(info.damage.code),
                        info.damage.record};
    std::memcpy(state.info, words, sizeof words);
    return state.info;
}

EMSCRIPTEN_KEEPALIVE const char *kw_damage_text() {
    kr_info info{};
    kr_get_info(state.pkg, &info);
    std::memcpy(state.damage, info.damage.message, sizeof state.damage);
    return state.damage;
}

// Every entry, packed for one transfer: the count, then per entry its flags,
// size (low, high) and offset (low, high) as 32-bit words, then for each its
// group, name and reason (empty for none), each ending in a zero byte. Its
// length in `*length`; null when the memory can't be had.
EMSCRIPTEN_KEEPALIVE const unsigned char *kw_pack_entries(uint32_t *length) {
    std::vector<unsigned char> &out = state.packed;
    out.clear();
    uint32_t count = kr_entry_count(state.pkg);
    try {
        out.reserve(4 + size_t{count} * 40);
        Append32(out, count);
        kr_entry entry{};
        for (uint32_t i = 0; i < count; ++i) {
            kr_entry_at(state.pkg, i, &entry);
            Append32(out, entry.flags);
            Append32(out, static_cast<uint32_t>(entry.size));
            Append32(out, static_cast<uint32_t>(entry.size >> 32));
            Append32(out, static_cast<uint32_t>(entry.offset));
            Append32(out, static_cast<uint32_t>(entry.offset >> 32));
        }
        char reason[1024]; // a path is at most 258 bytes, the words far fewer
        for (uint32_t i = 0; i < count; ++i) {
            kr_entry_at(state.pkg, i, &entry);
            AppendText(out, entry.group);
            AppendText(out, entry.name);
            ReasonOf(entry, reason, sizeof reason);
            AppendText(out, reason);
        }
    } catch (const std::bad_alloc &) {
        std::vector<unsigned char>().swap(out);
        return nullptr;
    }
    *length = static_cast<uint32_t>(out.size());
    return out.data();
}

// The memory of the packed entries goes back once the page has its copy.
EMSCRIPTEN_KEEPALIVE void kw_drop_packed() {
    std::vector<unsigned char>().swap(state.packed);
}

// A buffer of `length` bytes for kw_read (the page bounds reads to 16 MiB).
EMSCRIPTEN_KEEPALIVE unsigned char *kw_read_buffer(uint32_t length) {
    try {
        state.buffer.resize(length);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return state.buffer.data();
}

// kr_read into kw_read_buffer's bytes; the message in kw_error_text.
EMSCRIPTEN_KEEPALIVE double kw_read(uint32_t index, double offset, uint32_t length) {
    if (length > state.buffer.size()) {
        return KR_E_INVALID;
    }
    return static_cast<double>(kr_read(state.pkg, index, static_cast<uint64_t>(offset),
                                       state.buffer.data(), length, &state.error));
}

EMSCRIPTEN_KEEPALIVE int kw_find(const char *path) {
    uint32_t index = 0;
    return kr_find(state.pkg, path, &index) == KR_OK ? static_cast<int>(index) : -1;
}

// The entries that the member pattern chooses, as `kestrun PACKAGE pattern`
// would: their count, the indices in kw_matched.
EMSCRIPTEN_KEEPALIVE uint32_t kw_match(const char *given) {
    state.matched.clear();
    kr_entry entry{};
    for (uint32_t i = 0; i < kr_entry_count(state.pkg); ++i) {
        kr_entry_at(state.pkg, i, &entry);
        if (kr_member_match(given, entry.path) != 0) {
            state.matched.push_back(i);
        }
    }
    return static_cast<uint32_t>(state.matched.size());
}

EMSCRIPTEN_KEEPALIVE const uint32_t *kw_matched() {
    return state.matched.data();
}

// SHA-256 of entry `index`, in steps so that the worker can tell progress.
EMSCRIPTEN_KEEPALIVE int kw_sha_begin(uint32_t index) {
    EndHash();
    kr_entry entry{};
    if (kr_entry_at(state.pkg, index, &entry) != KR_OK) {
        std::snprintf(state.error.message, sizeof state.error.message, "no entry %u", index);
        return KR_E_INVALID;
    }
    state.sha = RBD_NewSha256();
    if (state.sha == nullptr) {
        return KR_E_NOMEM;
    }
    state.sha_entry = index;
    state.sha_done = 0;
    state.sha_size = entry.size;
    return KR_OK;
}

// Hashes up to `most` more bytes through kw_read_buffer's memory: the bytes
// hashed so far, or a KR_E_* code. Once they reach the entry's size,
// kw_sha_hex has the digest.
EMSCRIPTEN_KEEPALIVE double kw_sha_step(uint32_t most) {
    if (state.sha == nullptr || kw_read_buffer(most) == nullptr) {
        return KR_E_INVALID;
    }
    int64_t got = kr_read(state.pkg, state.sha_entry, state.sha_done, state.buffer.data(), most,
                          &state.error);
    if (got < 0) {
        EndHash();
        return static_cast<double>(got);
    }
    RBD_AddToSha256(state.sha, state.buffer.data(), static_cast<size_t>(got));
    state.sha_done += static_cast<uint64_t>(got);
    if (static_cast<uint32_t>(got) < most || state.sha_done >= state.sha_size) {
        unsigned char digest[RBD_SHA256_SIZE];
        RBD_EndSha256(state.sha, digest);
        for (size_t i = 0; i < RBD_SHA256_SIZE; ++i) {
            std::snprintf(state.sha_hex + 2 * i, 3, "%02x", digest[i]);
        }
        EndHash();
    }
    return static_cast<double>(state.sha_done);
}

EMSCRIPTEN_KEEPALIVE const char *kw_sha_hex() {
    return state.sha_hex;
}

EMSCRIPTEN_KEEPALIVE const char *kw_version() {
    return kr_version();
}

} // extern "C"
