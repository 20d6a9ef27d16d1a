#include "emit.h"

#include "../hostkit/hostkit.h"
#include "../package/walk.h"
#include "record_window.h"

#include <cstring>
#include <vector>

namespace {

// Records are written in batches of this many bytes.
const size_t kIndexBatch = size_t{64} << 10;
// Data goes in pieces of at most this much, so that a waiting signal is
// seen within a fraction of a second.
const uint64_t kDataPiece = uint64_t{64} << 20;

bool Fail(RBDEmitFault &fault, RBDEmitProblem problem, int os_error, uint32_t entry = 0) {
    fault.problem = problem;
    fault.os_error = os_error;
    fault.entry = entry;
    return false;
}

// The header's count that is tried first: the base's, else the records'.
uint32_t FirstCount(const RBDWriteModel &model, const RBDLayout &layout) {
    if (model.base_fd >= 0) {
        return RBD_GetBig32(model.header + RBD_HEADER_COUNT_AT);
    }
    return layout.records;
}

void EncodeGroup(const RBDWriteModel &model, const RBDLayout &layout, uint32_t id,
                 unsigned char *out) {
    const RBDWriteGroup &group = model.groups[id];
    std::memcpy(out, group.record.bytes, RBD_RECORD_SIZE);
    uint32_t count = layout.counts[id];
    uint32_t was = RBD_GetBig32(out + RBD_GROUP_COUNT_AT);
    if (count == was) {
        return;
    }
    RBD_PutBig32(out + RBD_GROUP_COUNT_AT, count);
    // rbdpack gives a file group its number of files there too; a base
    // that did keeps doing so, any other value stays.
    if (group.kind == RBD_KIND_FILES && RBD_GetBig32(out + RBD_GROUP_FILES_AT) == was) {
        RBD_PutBig32(out + RBD_GROUP_FILES_AT, count);
    }
}

// The entry's record as written: its own bytes, its size and offset put in.
bool EncodeEntry(const RBDWriteModel &model, uint32_t id, uint32_t offset, RBDRecordWindow &window,
                 unsigned char *out) {
    const RBDRecordBytes *record = RBD_WindowRecord(window, model, id);
    if (record == nullptr) {
        return false;
    }
    std::memcpy(out, record->bytes, RBD_RECORD_SIZE);
    RBD_PutBig32(out + RBD_FILE_SIZE_AT, model.entries[id].size);
    RBD_PutBig32(out + RBD_FILE_OFFSET_AT, offset);
    return true;
}

bool EmitIndex(const RBDWriteModel &model, const RBDLayout &layout, int fd, RBDEmitFault &fault) {
    RBDRecordWindow window;
    RBD_StartWindow(window, model.base_fd);
    std::vector<unsigned char> batch;
    uint64_t index = RBD_RecordOffset(layout.records);
    batch.reserve(index < kIndexBatch ? static_cast<size_t>(index) : kIndexBatch + RBD_HEADER_SIZE);
    batch.insert(batch.end(), model.header, model.header + RBD_HEADER_SIZE);
    RBD_PutBig32(batch.data() + RBD_HEADER_COUNT_AT, FirstCount(model, layout));
    size_t entry = 0;
    for (uint32_t item : layout.order) {
        size_t at = batch.size();
        batch.resize(at + RBD_RECORD_SIZE);
        if ((item & RBD_GROUP_BIT) != 0) {
            EncodeGroup(model, layout, item & ~RBD_GROUP_BIT, batch.data() + at);
        } else if (!EncodeEntry(model, item, layout.offsets[entry++], window, batch.data() + at)) {
            return Fail(fault, RBD_EMIT_BASE_SHORT, hkErrorCode());
        }
        if (batch.size() >= kIndexBatch) {
            if (!hkWriteAll(fd, batch.data(), batch.size())) {
                return Fail(fault, RBD_EMIT_WRITE_FAILED, hkErrorCode());
            }
            batch.clear();
        }
    }
    if (!hkWriteAll(fd, batch.data(), batch.size())) {
        return Fail(fault, RBD_EMIT_WRITE_FAILED, hkErrorCode());
    }
    return true;
}

// A caller's file must still have the size it had when it was given.
bool SourceUnchanged(const RBDWriteModel &model, const RBDPiece &piece, RBDEmitFault &fault) {
    const RBDWriteData &data = model.data[model.entries[piece.entry].data];
    uint64_t size = 0;
    if (!hkFileSize(static_cast<int>(data.at), &size)) {
        return Fail(fault, RBD_EMIT_SOURCE_CHANGED, hkErrorCode(), piece.entry);
    }
    if (size != data.size) {
        fault.size_now = size;
        return Fail(fault, RBD_EMIT_SOURCE_CHANGED, 0, piece.entry);
    }
    return true;
}

int SourceFd(const RBDWriteModel &model, const RBDPiece &piece, const RBDEmitPlace &place) {
    switch (piece.source) {
    case RBD_DATA_BASE:
        return model.base_fd;
    case RBD_DATA_SPOOL:
        return place.spool_fd;
    default:
        return static_cast<int>(model.data[model.entries[piece.entry].data].at);
    }
}

bool ShortRead(const RBDWriteModel &model, const RBDPiece &piece, RBDEmitFault &fault) {
    int error = hkErrorCode();
    switch (piece.source) {
    case RBD_DATA_BASE:
        return Fail(fault, RBD_EMIT_BASE_SHORT, error);
    case RBD_DATA_SPOOL:
        return Fail(fault, RBD_EMIT_SPOOL_SHORT, error);
    default:
        // Shrunk while it was copied: its size says so.
        if (SourceUnchanged(model, piece, fault)) {
            return Fail(fault, RBD_EMIT_SOURCE_CHANGED, error, piece.entry);
        }
        return false;
    }
}

// Small pieces are gathered in a buffer, one read each, and written out a
// buffer at a time: a kernel copy of each would cost more in calls than in
// bytes (20,000 small entries put in no particular order make 20,000 pieces).
const uint64_t kSmallPiece = uint64_t{64} << 10;
const size_t kGatherBytes = size_t{1} << 20;

struct Gathered {
    std::vector<char> bytes;
    size_t used;
    size_t room; // what the buffer takes: kGatherBytes, or less for a small package
};

bool Interrupted(const RBDEmitPlace &place, RBDEmitFault &fault) {
    if (place.interrupted != nullptr && place.interrupted(place.context)) {
        return !Fail(fault, RBD_EMIT_INTERRUPTED, 0);
    }
    return false;
}

bool Flush(Gathered &gathered, const RBDEmitPlace &place, RBDEmitFault &fault) {
    if (gathered.used > 0 && !hkWriteAll(place.out_fd, gathered.bytes.data(), gathered.used)) {
        return Fail(fault, RBD_EMIT_WRITE_FAILED, hkErrorCode());
    }
    gathered.used = 0;
    return !Interrupted(place, fault);
}

// A small piece read into the buffer, which is written out first when it
// has no room left.
bool GatherPiece(const RBDWriteModel &model, const RBDPiece &piece, const RBDEmitPlace &place,
                 Gathered &gathered, RBDEmitFault &fault) {
    auto size = static_cast<size_t>(piece.size);
    if (gathered.used + size > gathered.room && !Flush(gathered, place, fault)) {
        return false;
    }
    if (gathered.bytes.empty()) {
        gathered.bytes.resize(gathered.room);
    }
    int64_t got = hkReadAt(SourceFd(model, piece, place), piece.offset,
                           gathered.bytes.data() + gathered.used, size);
    if (got != static_cast<int64_t>(size)) {
        return ShortRead(model, piece, fault);
    }
    gathered.used += size;
    return true;
}

// A large piece copied by the kernel, in pieces between which the caller
// may stop it.
bool CopyPiece(const RBDWriteModel &model, const RBDPiece &piece, const RBDEmitPlace &place,
               RBDEmitFault &fault) {
    int in_fd = SourceFd(model, piece, place);
    for (uint64_t done = 0; done < piece.size;) {
        if (Interrupted(place, fault)) {
            return false;
        }
        uint64_t size = piece.size - done < kDataPiece ? piece.size - done : kDataPiece;
        int copied = hkCopyFileRange(place.out_fd, in_fd, piece.offset + done, size);
        if (copied == HK_COPY_SHORT_READ) {
            return ShortRead(model, piece, fault);
        }
        if (copied != HK_COPY_DONE) {
            return Fail(fault, RBD_EMIT_WRITE_FAILED, hkErrorCode());
        }
        done += size;
    }
    return true;
}

bool EmitPiece(const RBDWriteModel &model, const RBDPiece &piece, const RBDEmitPlace &place,
               Gathered &gathered, RBDEmitFault &fault) {
    if (piece.source == RBD_DATA_FILE && !SourceUnchanged(model, piece, fault)) {
        return false;
    }
    bool small = piece.size <= kSmallPiece;
    if (small ? !GatherPiece(model, piece, place, gathered, fault)
              : !Flush(gathered, place, fault) || !CopyPiece(model, piece, place, fault)) {
        return false;
    }
    // A file that grew while it was copied would not be the one given.
    return piece.source != RBD_DATA_FILE || SourceUnchanged(model, piece, fault);
}

// True when the walk of the package at `fd` reads exactly the layout.
bool ReadsBack(const RBDWriteModel &model, const RBDLayout &layout, int fd) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, fd)) {
        return false;
    }
    size_t entry = 0;
    size_t item = 0;
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        if (event.kind == RBD_EVENT_DONE) {
            return entry == layout.offsets.size() && walk.next_record == layout.records &&
                   walk.groups_read == layout.groups;
        }
        if (event.kind == RBD_EVENT_FAILED) {
            return false;
        }
        if (event.kind != RBD_EVENT_ENTRY) {
            continue;
        }
        while (item < layout.order.size() && (layout.order[item] & RBD_GROUP_BIT) != 0) {
            ++item;
        }
        if (item == layout.order.size()) {
            return false;
        }
        const RBDWriteEntry &written = model.entries[layout.order[item++]];
        if (event.files->offset != layout.offsets[entry++] || event.files->size != written.size) {
            return false;
        }
    }
}

} // namespace

bool RBD_EmitPackage(const RBDWriteModel &model, const RBDLayout &layout, const RBDEmitPlace &place,
                     RBDEmitFault &fault) {
    fault = RBDEmitFault{};
    if (!EmitIndex(model, layout, place.out_fd, fault)) {
        return false;
    }
    uint64_t data = layout.size - RBD_RecordOffset(layout.records);
    Gathered gathered{{}, 0, data < kGatherBytes ? static_cast<size_t>(data) : kGatherBytes};
    for (const RBDPiece &piece : layout.pieces) {
        if (!EmitPiece(model, piece, place, gathered, fault)) {
            return false;
        }
    }
    return Flush(gathered, place, fault);
}

bool RBD_SettleCount(const RBDWriteModel &model, const RBDLayout &layout, int fd,
                     RBDEmitFault &fault) {
    const uint32_t tried = FirstCount(model, layout);
    const uint32_t counts[] = {tried, layout.records, layout.records + 1};
    for (size_t i = 0; i < 3; ++i) {
        if (i > 0 && (counts[i] == tried || counts[i] == counts[i - 1])) {
            continue;
        }
        unsigned char bytes[4];
        RBD_PutBig32(bytes, counts[i]);
        if (i > 0 && !hkWriteAt(fd, RBD_HEADER_COUNT_AT, bytes, sizeof bytes)) {
            return Fail(fault, RBD_EMIT_WRITE_FAILED, hkErrorCode());
        }
        if (ReadsBack(model, layout, fd)) {
            return true;
        }
    }
    return Fail(fault, RBD_EMIT_READ_BACK, 0);
}
