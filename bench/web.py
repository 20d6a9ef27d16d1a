#!/usr/bin/env python3
"""The page's figures, in headless chromium on this machine:

- open: a package of 200,000 entries, from the file input to its tree on
  the screen (the first row of the page's tree, or of the bare page's list);
- filter: the same entries filtered by a member pattern (the worker's
  round trip) and by a part of a name (on the page's thread);
- read: the 4 x 256 MiB workload read through KestrunClient.read in 16 MiB
  pieces, against native kr_read (libkestrun through ctypes, same pieces)
  and against the browser's own reads of the File, with nothing done;
- memory: the worker's WebAssembly memory after opening each package,
  against its index, and the page's JavaScript heap with the entries.

    cmake --workflow --preset test     # build/release, with the page in build/release/web
    bench/web.py [--build build/release] [--runs 5] [--smoke]

A benchmark, not a test: it prints figures and fails on nothing slow.
"""

import argparse
import ctypes
import os
import pathlib
import statistics
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python" / "tests"))
from rbd_bytes import package  # noqa: E402

MIB = 1 << 20
PIECE = 16 * MIB

# Marks when the file input changes and when the first row of a tree or list
# is in the document; the page's own scripts see nothing of it.
WATCH = """
window.benchMarks = {};
document.getElementById('open').addEventListener('change', () => {
  window.benchMarks.chosen = performance.now();
  const seen = () => document.querySelector('[role=treeitem], #entries li');
  const observer = new MutationObserver(() => {
    if (seen()) {
      window.benchMarks.shown = performance.now();
      observer.disconnect();
    }
  });
  observer.observe(document.body, {childList: true, subtree: true});
}, true);
"""


def browser(profile):
    options = webdriver.ChromeOptions()
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-background-networking", "--disable-sync",
                     "--window-size=1280,900", "--enable-precise-memory-info",
                     "--js-flags=--expose-gc", "--user-data-dir=" + str(profile)):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(600)
    return driver


def call(driver, script, *args):
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "(" + script + ")(...Array.from(arguments).slice(0, -1)).then(done,"
        " (e) => done({error: String(e.message)}));", *args)


def open_to_screen(driver, page, path):
    driver.get(page.as_uri())
    driver.execute_script(WATCH)
    driver.find_element(By.ID, "open").send_keys(str(path))
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        marks = driver.execute_script("return window.benchMarks")
        if "shown" in marks:
            return marks["shown"] - marks["chosen"]
        time.sleep(0.01)
    raise RuntimeError("the tree never showed")


def many_entries(count):
    per_group = 1000
    return package([("files", f"g{g:03}", [(f"entry-{g:03}-{i:04}.dat", b"")
                                             for i in range(per_group)])
                    for g in range(count // per_group)])


def write_workload(path, entries, size):
    """`entries` entries of `size` bytes of a repeating pattern, written in
    pieces so that the script holds little."""
    names = [(f"part{i}.bin", b"", {"size": size}) for i in range(entries)]
    head = package([("files", "big", names)])
    first = len(head)
    fixed = package([("files", "big", [(n, b"", {"size": size, "offset": first + i * size})
                                       for i, (n, _, _) in enumerate(names)])])
    pattern = bytes(range(251)) * (MIB // 251 + 1)
    with open(path, "wb") as out:
        out.write(fixed)
        for _ in range(entries * size // MIB):
            out.write(pattern[:MIB])


def native_read(library, path, runs):
    lib = ctypes.CDLL(str(library))
    lib.kr_open.argtypes = [ctypes.c_char_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p),
                            ctypes.c_void_p]
    lib.kr_entry_count.argtypes = [ctypes.c_void_p]
    lib.kr_entry_count.restype = ctypes.c_uint32
    lib.kr_read.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint64, ctypes.c_void_p,
                            ctypes.c_size_t, ctypes.c_void_p]
    lib.kr_read.restype = ctypes.c_int64
    lib.kr_close.argtypes = [ctypes.c_void_p]
    pkg = ctypes.c_void_p()
    if lib.kr_open(str(path).encode(), 0, ctypes.byref(pkg), None) != 0:
        raise RuntimeError("kr_open failed")
    buffer = ctypes.create_string_buffer(PIECE)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        total = 0
        for index in range(lib.kr_entry_count(pkg)):
            offset = 0
            while True:
                got = lib.kr_read(pkg, index, offset, buffer, PIECE, None)
                if got <= 0:
                    break
                offset += got
            total += offset
        times.append(time.perf_counter() - start)
    lib.kr_close(pkg)
    return total, statistics.median(times)


BROWSER_READ = """async (runs) => {
  const c = KestrunClient.shared();
  const times = [];
  let total = 0;
  for (let run = 0; run < runs; ++run) {
    const start = performance.now();
    total = 0;
    for (const entry of c.entries) {
      for (let at = 0; at < entry.size; at += %d) {
        total += (await c.read(entry.index, at, Math.min(%d, entry.size - at))).length;
      }
    }
    times.push(performance.now() - start);
  }
  times.sort((a, b) => a - b);
  return [total, times[times.length >> 1]];
}""" % (PIECE, PIECE)

# The browser's own ceiling: the same pieces of the File read by
# FileReaderSync in a worker of their own, with nothing done with them.
RAW_READ = """async (runs) => {
  const file = document.getElementById('open').files[0];
  const source = 'onmessage = (e) => { const r = new FileReaderSync(); const f = e.data;' +
    ' const t = performance.now(); for (let a = 0; a < f.size; a += %d)' +
    ' r.readAsArrayBuffer(f.slice(a, a + %d)); postMessage(performance.now() - t); };';
  const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
  const times = [];
  for (let run = 0; run < runs; ++run) {
    times.push(await new Promise((done) => { worker.onmessage = (e) => done(e.data);
                                              worker.postMessage(file); }));
  }
  worker.terminate();
  times.sort((a, b) => a - b);
  return [file.size, times[times.length >> 1]];
}""" % (PIECE, PIECE)

FILTERS = """async (pattern, part, runs) => {
  const c = KestrunClient.shared();
  const matched = [], named = [];
  let counts = [];
  for (let run = 0; run < runs; ++run) {
    let start = performance.now();
    const found = await c.match(pattern);
    matched.push(performance.now() - start);
    start = performance.now();
    const lower = part.toLowerCase();
    const hits = c.entries.filter((e) => e.name.toLowerCase().includes(lower));
    named.push(performance.now() - start);
    counts = [found.length, hits.length];
  }
  const median = (a) => a.sort((x, y) => x - y)[a.length >> 1];
  return [median(matched), median(named), counts];
}"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build" / "release"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--smoke", action="store_true", help="tiny workloads, one run")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    page = build / "web" / "kestrun-web" / "index.html"
    runs = 1 if args.smoke else args.runs
    count, entries, size = (2000, 4, MIB) if args.smoke else (200000, 4, 256 * MIB)
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
        work = pathlib.Path(work)
        many = work / "many.rbd"
        many.write_bytes(many_entries(count))
        big = work / "big.rbd"
        write_workload(big, entries, size)
        driver = browser(work / "profile")
        try:
            opened = [open_to_screen(driver, page, many) for _ in range(runs)]
            driver.get(page.as_uri())
            driver.find_element(By.ID, "open").send_keys(str(many))
            call(driver, "() => KestrunClient.shared().open("
                         "document.getElementById('open').files[0])")
            memory_many = call(driver, "() => KestrunClient.shared().memory()")
            page_heap = driver.execute_script(
                "gc(); return performance.memory.usedJSHeapSize")
            matched, named, counts = call(driver, FILTERS, "g1?7/*-0?00.dat", "-0500", runs)
            driver.get(page.as_uri())
            driver.find_element(By.ID, "open").send_keys(str(big))
            call(driver, "() => KestrunClient.shared().open("
                         "document.getElementById('open').files[0])")
            memory_big = call(driver, "() => KestrunClient.shared().memory()")
            page_heap_big = driver.execute_script(
                "gc(); return performance.memory.usedJSHeapSize")
            browser_total, browser_ms = call(driver, BROWSER_READ, runs)
            raw_total, raw_ms = call(driver, RAW_READ, runs)
        finally:
            driver.quit()
        native_total, native_s = native_read(build / "libkestrun.so", big, runs)
    index_many = 1024 + 96 * (count + count // 1000)
    index_big = 1024 + 96 * (entries + 1)
    mib_s = lambda total, seconds: total / MIB / seconds
    print(f"open {count} entries to the tree on screen: median {statistics.median(opened):.0f} ms"
          f" (runs: {', '.join(f'{t:.0f}' for t in opened)}; target < 1000 ms)")
    print(f"filter by member pattern (worker round trip): {matched:.1f} ms, {counts[0]} found;"
          f" by part of a name: {named:.1f} ms, {counts[1]} found (target < 50 ms)")
    print(f"read {entries} x {size // MIB} MiB: page {mib_s(browser_total, browser_ms / 1000):.0f}"
          f" MiB/s, native kr_read {mib_s(native_total, native_s):.0f} MiB/s, ratio"
          f" {(browser_total / browser_ms * 1000) / (native_total / native_s):.2f}"
          " (target >= 0.33); the browser's File alone, by FileReaderSync:"
          f" {mib_s(raw_total, raw_ms / 1000):.0f} MiB/s")
    print(f"the page's JavaScript heap: {page_heap / MIB:.1f}"
          f" MiB with the {count} entries' objects, {page_heap_big / MIB:.1f} MiB with the"
          f" {entries * size // MIB} MiB package")
    for label, held, index in ((f"the {count}-entry package", memory_many, index_many),
                               (f"the {entries * size // MIB} MiB package", memory_big, index_big)):
        print(f"memory after opening {label}: worker module {held / MIB:.1f} MiB,"
              f" index {index / MIB:.1f} MiB, limit 2 x index + 16 MiB ="
              f" {(2 * index + 16 * MIB) / MIB:.1f} MiB")


if __name__ == "__main__":
    main()
