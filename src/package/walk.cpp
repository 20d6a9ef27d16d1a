#include "walk.h"

#include "../byteorder.h"
#include "../hostkit/hostkit.h"
#include "group_path.h"
#include "safe_name.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// The walk is over: the last file table's memory goes back at once, as a
// caller may go on to build large things of its own.
void Finish(RBDWalk &walk) {
    walk.finished = true;
    std::vector<RBDFileHeader>().swap(walk.files);
}

bool Fail(RBDWalk &walk, RBDWalkProblem problem, uint32_t record, int os_error = 0) {
    walk.error.problem = problem;
    walk.error.record = record;
    walk.error.os_error = os_error;
    Finish(walk);
    return false;
}

// The counter never wraps: a package claiming more than 4G records would
// otherwise send the walk round again.
void CountIndices(RBDWalk &walk, uint32_t count) {
    walk.counter = count > UINT32_MAX - walk.counter ? UINT32_MAX : walk.counter + count;
}

uint64_t RecordOffset(uint32_t record) {
    return RBD_HEADER_SIZE + uint64_t{record} * RBD_RECORD_SIZE;
}

// The header in one read. A pipe can't be read at an offset; it is read as a
// stream, and measuring it then fails.
int64_t ReadHeaderBytes(const RBDPackageSource &source, RBDHeader &header, int *os_error) {
    int64_t got = RBD_SourceReadAt(source, 0, &header, sizeof header, os_error);
#ifndef _WIN32
    if (got < 0 && source.fd >= 0 && *os_error == ESPIPE) {
        got = 0;
        auto *bytes = reinterpret_cast<char *>(&header);
        while (got < static_cast<int64_t>(sizeof header)) {
            ssize_t read_now =
                read(source.fd, bytes + got, sizeof header - static_cast<size_t>(got));
            if (read_now < 0 && errno == EINTR) {
                continue;
            }
            if (read_now <= 0) {
                *os_error = read_now < 0 ? errno : 0;
                return read_now < 0 ? -1 : got;
            }
            got += read_now;
        }
    }
#endif
    return got;
}

// The checks run in this order, so that a header with both a zero index
// count and a wrong version reports the count.
bool CheckHeader(RBDWalk &walk) {
    RBDHeader &header = walk.header;
    std::memset(&header, 0, sizeof header);
    int os_error = 0;
    int64_t got = ReadHeaderBytes(walk.source, header, &os_error);
    if (got != static_cast<int64_t>(sizeof header)) {
        return Fail(walk, RBD_PROBLEM_HEADER_SHORT, 0, os_error);
    }
    header.num_indices = ntohl(header.num_indices);
    if (header.num_indices == 0) {
        return Fail(walk, RBD_PROBLEM_NO_INDICES, 0);
    }
    header.version = ntohs(header.version);
    if (header.version != RBD_VERSION) {
        walk.error.version = header.version;
        return Fail(walk, RBD_PROBLEM_VERSION, 0);
    }
    if (std::strncmp(header.comments, header_msg, sizeof header_msg) != 0) {
        size_t length = strnlen(header.comments, sizeof header.comments);
        std::memcpy(walk.error.text, header.comments, length);
        walk.error.text[length] = '\0';
        return Fail(walk, RBD_PROBLEM_COMMENT, 0);
    }
    return true;
}

// Back in the enclosing directory group (or at top level) once the group in
// hand holds nothing more.
void EndGroup(RBDWalk &walk) {
    walk.group_path[walk.group_start] = '\0';
    walk.normal_path[walk.normal_start] = '\0';
    walk.step = RBD_STEP_NEXT_GROUP;
}

// Reads the next group record into walk.group and forms its path. False
// after setting the error.
bool ReadGroup(RBDWalk &walk) {
    uint32_t record = walk.next_record;
    int os_error = 0;
    int64_t got = RBD_SourceReadAt(walk.source, RecordOffset(record), &walk.group,
                                   sizeof walk.group, &os_error);
    if (got != static_cast<int64_t>(sizeof walk.group)) {
        return Fail(walk, RBD_PROBLEM_GROUP_SHORT, record, os_error);
    }
    ++walk.next_record;
    ++walk.groups_read;
    RBDGroupHeader &group = walk.group;
    // A name field without a zero byte is cut at its last byte.
    group.name[sizeof group.name - 1] = '\0';
    walk.group_start = std::strlen(walk.group_path);
    if (!RBD_AppendGroupName(walk.group_path, walk.group_start, group.name)) {
        return Fail(walk, RBD_PROBLEM_PATH_TOO_LONG, record);
    }
    walk.normal_start = std::strlen(walk.normal_path);
    RBD_AppendNormalName(walk.normal_path, walk.normal_start, group.name);
    bool parent_safe = walk.open_groups.empty() || walk.open_groups.back().safe;
    walk.group_safe = parent_safe && IsSafeName(group.name);
    group.flags = ntohl(group.flags);
    group.num_indices = ntohl(group.num_indices);
    group.num_files = ntohl(group.num_files);
    return true;
}

// Reads the file table of the group in hand in one read, after checking that
// the package holds that many records, so that no count it claims can make
// us allocate what it lacks.
bool ReadFileTable(RBDWalk &walk) {
    uint32_t count = walk.group.num_indices;
    uint32_t first = walk.next_record;
    uint64_t start = RecordOffset(first);
    uint64_t wanted = uint64_t{count} * RBD_RECORD_SIZE;
    if (start > walk.package_size || wanted > walk.package_size - start) {
        uint64_t whole =
            start > walk.package_size ? 0 : (walk.package_size - start) / RBD_RECORD_SIZE;
        return Fail(walk, RBD_PROBLEM_TABLE_SHORT, first + static_cast<uint32_t>(whole));
    }
    walk.files.clear();
    // Where memory is addressed in 32 bits (WebAssembly), a table the
    // package can hold may still be more than any allocation can be.
    if (wanted > static_cast<uint64_t>(PTRDIFF_MAX)) {
        return Fail(walk, RBD_PROBLEM_TABLE_NOMEM, first);
    }
    try {
        walk.files.resize(count);
    } catch (const std::bad_alloc &) {
        return Fail(walk, RBD_PROBLEM_TABLE_NOMEM, first);
    }
    int os_error = 0;
    int64_t got = count == 0 ? 0
                             : RBD_SourceReadAt(walk.source, start, walk.files.data(),
                                                static_cast<size_t>(wanted), &os_error);
    if (got != static_cast<int64_t>(wanted)) {
        uint64_t whole = got < 0 ? 0 : static_cast<uint64_t>(got) / RBD_RECORD_SIZE;
        return Fail(walk, RBD_PROBLEM_TABLE_SHORT, first + static_cast<uint32_t>(whole), os_error);
    }
    walk.next_record += count;
    walk.first_file_record = first;
    CountIndices(walk, count);
    for (RBDFileHeader &file : walk.files) {
        file.name[sizeof file.name - 1] = '\0';
        file.size = ntohl(file.size);
        file.offset = ntohl(file.offset);
    }
    walk.next_file = 0;
    return true;
}

void GroupEvent(RBDWalk &walk, RBDWalkEvent &event, RBDWalkEventKind kind) {
    event.kind = kind;
    event.depth = walk.open_groups.size();
    event.group = &walk.group;
    event.group_path = walk.group_path;
    event.normal_group_path = walk.normal_path;
}

// After a group record: what its kind makes of the walk's next steps.
void BeginGroup(RBDWalk &walk) {
    if (walk.group.flags == RBD_DIRECTORY_GROUP) {
        RBDOpenGroup open{};
        open.children_left = walk.group.num_indices;
        open.path_length = walk.group_start;
        open.normal_length = walk.normal_start;
        open.safe = walk.group_safe;
        std::memcpy(open.name, walk.group.name, sizeof open.name);
        walk.open_groups.push_back(open);
        walk.step = RBD_STEP_NEXT_GROUP;
    } else if (walk.group.flags == RBD_FILE_GROUP) {
        walk.step = RBD_STEP_READ_TABLE;
    } else {
        // A group of unknown kind holds nothing the walk can tell; the next
        // record is read as a group record.
        EndGroup(walk);
    }
}

// The step that reads the next group record, or finds that there is none.
// False when the walk moved on without an event (a directory group ended).
bool NextGroup(RBDWalk &walk, RBDWalkEvent &event) {
    if (walk.open_groups.empty()) {
        if (walk.header.num_indices < walk.counter) {
            // A file group overran the count: the walk ends quietly.
            Finish(walk);
            event.kind = RBD_EVENT_DONE;
            return true;
        }
    } else {
        RBDOpenGroup &open = walk.open_groups.back();
        if (open.children_left == 0) {
            walk.group_start = open.path_length;
            walk.normal_start = open.normal_length;
            walk.open_groups.pop_back();
            EndGroup(walk);
            return false;
        }
        --open.children_left;
    }
    CountIndices(walk, 1);
    if (walk.counter >= walk.header.num_indices) {
        walk.step = RBD_STEP_AT_END;
        event.kind = RBD_EVENT_END_OF_INDEX;
        return true;
    }
    uint32_t record = walk.next_record;
    if (!ReadGroup(walk)) {
        event.kind = RBD_EVENT_FAILED;
        return true;
    }
    GroupEvent(walk, event, RBD_EVENT_GROUP);
    event.record = record;
    // The group is handed up at the depth it was read at, its children's
    // depth one more.
    BeginGroup(walk);
    return true;
}

// After the end of the index was found: complete at top level, damage inside
// a directory group that still owes a child.
void AfterEnd(RBDWalk &walk, RBDWalkEvent &event) {
    Finish(walk);
    if (walk.open_groups.empty()) {
        event.kind = RBD_EVENT_DONE;
        return;
    }
    const RBDOpenGroup &open = walk.open_groups.back();
    std::memcpy(walk.error.text, open.name, sizeof open.name);
    Fail(walk, RBD_PROBLEM_CHILD_MISSING, walk.next_record);
    event.kind = RBD_EVENT_FAILED;
}

} // namespace

bool RBD_IsHeaderProblem(RBDWalkProblem problem) {
    return problem == RBD_PROBLEM_HEADER_SHORT || problem == RBD_PROBLEM_NO_INDICES ||
           problem == RBD_PROBLEM_VERSION || problem == RBD_PROBLEM_COMMENT;
}

uint64_t RBD_RecordsHeld(const RBDWalk &walk) {
    uint64_t records = walk.package_size > RBD_HEADER_SIZE
                           ? (walk.package_size - RBD_HEADER_SIZE) / RBD_RECORD_SIZE
                           : 0;
    return records < walk.header.num_indices ? records : walk.header.num_indices;
}

bool RBD_StartWalk(RBDWalk &walk, int fd) {
    return RBD_StartWalkOn(walk, RBD_FileSource(fd));
}

bool RBD_StartWalkOn(RBDWalk &walk, const RBDPackageSource &source) {
    walk.source = source;
    walk.package_size = 0;
    walk.counter = 0;
    walk.groups_read = 0;
    walk.next_record = 0;
    walk.open_groups.clear();
    walk.group_path[0] = '\0';
    walk.group_start = 0;
    walk.normal_path[0] = '\0';
    walk.normal_start = 0;
    walk.files.clear();
    walk.next_file = 0;
    walk.step = RBD_STEP_NEXT_GROUP;
    walk.finished = false;
    walk.error = RBDWalkError{};
    if (!CheckHeader(walk)) {
        return false;
    }
    int os_error = 0;
    if (!RBD_SourceSize(source, &walk.package_size, &os_error)) {
        return Fail(walk, RBD_PROBLEM_SIZE, 0, os_error);
    }
    return true;
}

void RBD_NextEvent(RBDWalk &walk, RBDWalkEvent &event) {
    event = RBDWalkEvent{};
    if (walk.finished) {
        event.kind = walk.error.problem == RBD_PROBLEM_NONE ? RBD_EVENT_DONE : RBD_EVENT_FAILED;
        return;
    }
    for (;;) {
        switch (walk.step) {
        case RBD_STEP_NEXT_GROUP:
            if (NextGroup(walk, event)) {
                return;
            }
            break;
        case RBD_STEP_READ_TABLE:
            if (!ReadFileTable(walk)) {
                event.kind = RBD_EVENT_FAILED;
                return;
            }
            GroupEvent(walk, event, RBD_EVENT_FILE_TABLE);
            event.files = walk.files.data();
            event.file_count = static_cast<uint32_t>(walk.files.size());
            walk.step = RBD_STEP_ENTRIES;
            return;
        case RBD_STEP_ENTRIES:
            if (walk.next_file < walk.files.size()) {
                size_t i = walk.next_file++;
                event.kind = RBD_EVENT_ENTRY;
                event.record = walk.first_file_record + static_cast<uint32_t>(i);
                event.files = &walk.files[i];
                event.file_count = 1;
                event.group_path = walk.group_path;
                event.normal_group_path = walk.normal_path;
                event.safe_group = walk.group_safe;
                return;
            }
            EndGroup(walk);
            break;
        case RBD_STEP_AT_END:
            AfterEnd(walk, event);
            return;
        }
    }
}
