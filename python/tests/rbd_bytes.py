"""Writes RBD packages for the tests, every field under the test's control.

A tree is a list of groups, depth first:
    ("dir", name, [groups...])                a directory group
    ("files", name, [(name, data), ...])      a file group
A group may have a fourth element, {"count": n}, to set its record's count.
A file may be (name, data, {"size": n, "offset": n}) to set its record's
fields. Data follows the index, each file's in index order.
"""

import struct

COMMENT = b"Copyright 1998 Reality Bytes, Inc.  All rights reserved.\0"
DIRECTORY_GROUP = 0x01010000
FILE_GROUP = 0x01000000


def header(records):
    return struct.pack(">HHI8s1008s", 2, 0, records, b"", COMMENT)


def record(first, second, third, name):
    if isinstance(name, str):
        name = name.encode()
    return struct.pack(">III20sB63s", first, second, third, b"", len(name), name)


def _records(tree):
    """(kind, fields...) for each record, depth first."""
    for group in tree:
        kind, name, children = group[:3]
        count = group[3]["count"] if len(group) > 3 else len(children)
        if kind == "dir":
            yield ("group", DIRECTORY_GROUP, count, 0, name)
            yield from _records(children)
        else:
            yield ("group", FILE_GROUP, count, count, name)
            for file in children:
                yield ("file",) + tuple(file) + (({},) if len(file) == 2 else ())


def package(tree, records=None):
    """The package's bytes; `records` overrides the header's record count."""
    items = list(_records(tree))
    at = 1024 + 96 * len(items)
    index, data = [], []
    for item in items:
        if item[0] == "group":
            index.append(record(item[1], item[2], item[3], item[4]))
            continue
        _, name, content, fields = item
        index.append(record(0, fields.get("size", len(content)), fields.get("offset", at), name))
        data.append(content)
        at += len(content)
    count = len(items) if records is None else records
    return header(count) + b"".join(index) + b"".join(data)
