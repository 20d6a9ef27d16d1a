"""The page in a real browser: headless chromium, driven by selenium, opens
build/web/kestrun-web/index.html from file:// and packages made here, and
what it shows is held against the command line's own answers.

KESTRUN_PAGE is the built index.html, KESTRUN_BIN the kestrun program.
The page's elements used: the file input #open, the line #message, the
damage line #damage; where the page has them, the find box #find (where
the down arrow shows the first entry found), its results #results (rows
[role=option]) and the preview #preview.
"""

import hashlib
import json
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "python" / "tests"))
from rbd_bytes import package  # noqa: E402

PAGE = pathlib.Path(os.environ.get("KESTRUN_PAGE", "build/web/kestrun-web/index.html")).resolve()
KESTRUN = os.environ.get("KESTRUN_BIN", "kestrun")
UNSAFE, NO_DATA, SHADOWED = 1, 2, 4


def wav(samples):
    data = bytes(samples)
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt " +
            struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data)


TEXT = "Grüße from the package\n".encode()
MIXED = [
    ("dir", "data", [
        ("files", "txt", [("readme.txt", TEXT), ("dup", b"first"), ("dup", b"second")]),
        ("files", "snd", [("beep.wav", wav(range(0, 256, 3)))]),
    ]),
    ("files", "odd", [("..", b"up"), ("big", b"abc", {"size": 10**7}), ("a\x1bb", b"esc"),
                      ("in/side", b"a slash in a name")]),
]


@pytest.fixture(scope="module")
def work():
    with tempfile.TemporaryDirectory() as directory:
        yield pathlib.Path(directory)


@pytest.fixture(scope="module")
def browser(work):
    options = webdriver.ChromeOptions()
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + str(work / "profile")):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(60)
    yield driver
    # The page must not have broken its own policy or failed a script.
    problems = [entry["message"] for entry in driver.get_log("browser")
                if entry["level"] == "SEVERE"]
    driver.quit()
    assert problems == []


def made(work, name, data):
    path = work / name
    path.write_bytes(data)
    return path


def through_input(browser, path):
    """Loads the page afresh and opens `path` through its file input."""
    browser.get(PAGE.as_uri())
    browser.find_element(By.ID, "open").send_keys(str(path))


def call(browser, script, *args):
    """Runs `script`, whose promise is `run(...)`; its value or {error}."""
    return browser.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "const run = " + script + ";"
        "run(...Array.from(arguments).slice(0, -1)).then(done,"
        " (e) => done({error: e.message, isError: e instanceof Error}));", *args)


OPEN_CHOSEN = """() => kestrunViewer.open(document.getElementById('open').files[0])
    .then(({info, entries}) => ({info, entries: entries.map(
        (e) => ({path: e.path, size: e.size, offset: e.offset, flags: e.flags,
                 reason: e.reason}))}))"""


def kestrun_json(path, *members):
    run = subprocess.run([KESTRUN, "--json", str(path), *members], capture_output=True)
    return [json.loads(line) for line in run.stdout.decode("utf-8", "replace").splitlines()]


def test_the_tree_is_what_kestrun_lists(browser, work):
    path = made(work, "mixed.rbd", package(MIXED))
    through_input(browser, path)
    opened = call(browser, OPEN_CHOSEN)
    listed = kestrun_json(path)
    summary = listed.pop()
    assert [(e["path"], e["size"], e["offset"]) for e in opened["entries"]] == \
        [(e["path"], e["size"], e["offset"]) for e in listed]
    info = opened["info"]
    assert (info["entries"], info["groups"], info["size"], info["damaged"]) == \
        (summary["entries"], summary["groups"], summary["package_size"], False)
    flags = {e["path"]: (e["flags"], e["reason"]) for e in opened["entries"]}
    assert flags["odd/.."] == (UNSAFE, 'Refusing unsafe path, "odd/.."')
    assert flags["odd/big"] == (NO_DATA, "Failed to read in data")
    assert opened["entries"][1]["flags"] == SHADOWED and flags["data/txt/dup"] == (0, None)
    # Member patterns choose what the command line chooses.
    for pattern in ("data", "*/d?p", "odd/[!.]*", "./data/snd/", "odd/in"):
        chosen = call(browser, "(p) => KestrunClient.shared().match(p).then(Array.from)", pattern)
        want = [e["path"] for e in kestrun_json(path, pattern)[:-1]]
        assert [opened["entries"][i]["path"] for i in chosen] == want, pattern


def test_reads_and_digests_are_the_bytes_even_past_2_gib(browser, work):
    # A sparse package: the index up front, one entry's data 3 GiB in.
    far = 3 << 30
    tail = bytes(range(256)) * 4096
    index = package([("files", "g", [("near.txt", TEXT), ("far.bin", b"", {"offset": far,
                                                                           "size": len(tail)})])])
    path = work / "sparse.rbd"
    with open(path, "wb") as out:
        out.write(index)
        out.seek(far)
        out.write(tail)
    through_input(browser, path)
    opened = call(browser, OPEN_CHOSEN)
    assert [e["flags"] for e in opened["entries"]] == [0, 0]
    for name, data in (("g/near.txt", TEXT), ("g/far.bin", tail)):
        got = call(browser, "(p) => kestrunViewer.read(p).then((b) => Array.from(b))", name)
        assert bytes(got) == data, name
        file = made(work, "entry", data)
        summed = subprocess.run(["sha256sum", str(file)], capture_output=True, text=True)
        assert call(browser, "(p) => kestrunViewer.sha256(p)", name) == summed.stdout.split()[0]
    # Lengths around SHA-256's 64-byte blocks and its padding.
    sizes = (0, 1, 55, 56, 63, 64, 65, 119, 120, 1000)
    path = made(work, "lengths.rbd", package([("files", "n", [
        (f"{n}", bytes((i * 7) % 256 for i in range(n))) for n in sizes])]))
    through_input(browser, path)
    call(browser, OPEN_CHOSEN)
    for n in sizes:
        want = hashlib.sha256(bytes((i * 7) % 256 for i in range(n))).hexdigest()
        assert call(browser, "(p) => kestrunViewer.sha256(p)", f"n/{n}") == want, n
    missing = call(browser, "(p) => kestrunViewer.read(p)", "g/none")
    assert missing["isError"] and "g/none" in missing["error"]


def test_damage_and_a_non_package_say_what_is_wrong(browser, work):
    whole = package([("files", "a", [("1", b"one")]), ("files", "b", [("2", b"two")])])
    cut = made(work, "cut.rbd", whole[:1024 + 96 * 3 + 10])
    through_input(browser, cut)
    damage = WebDriverWait(browser, 20).until(
        lambda b: b.find_element(By.ID, "damage").is_displayed() and b.find_element(By.ID, "damage"))
    assert "3" in damage.text
    opened = call(browser, OPEN_CHOSEN)
    assert opened["info"]["damaged"] and opened["info"]["damage"]["record"] == 3
    assert [e["path"] for e in opened["entries"]] == ["a/1"]

    text = made(work, "notes.rbd", b"not a package at all\n" * 100)
    through_input(browser, text)
    refused = call(browser, OPEN_CHOSEN)
    assert refused["isError"] and "not an RBD package" in refused["error"]
    message = WebDriverWait(browser, 20).until(
        lambda b: refused["error"] in b.find_element(By.ID, "message").text and
        b.find_element(By.ID, "message"))
    assert "\n" not in message.text


def choose(browser, path):
    """Finds `path` by name in the page's find box and goes down to the
    first entry found, as a keyboard user does."""
    field = browser.find_element(By.ID, "find")
    field.clear()
    field.send_keys(path)
    WebDriverWait(browser, 20).until(
        lambda b: [row for row in b.find_elements(By.CSS_SELECTOR, "#results [role=option]")
                   if path in row.text])
    field.send_keys(Keys.ARROW_DOWN)


def test_previews_show_text_and_give_audio_a_source(browser, work):
    through_input(browser, made(work, "mixed.rbd", package(MIXED)))
    if not browser.find_elements(By.ID, "find"):
        pytest.skip("the page has no find box and previews: the bare page was built")
    WebDriverWait(browser, 20).until(lambda b: b.find_elements(By.CSS_SELECTOR, "[role=treeitem]"))
    choose(browser, "readme.txt")
    # textContent: the preview may lie outside a small window.
    WebDriverWait(browser, 20).until(lambda b: "Grüße from the package" in b.execute_script(
        "return document.getElementById('preview').textContent"))
    choose(browser, "beep.wav")
    audio = WebDriverWait(browser, 20).until(
        lambda b: b.find_elements(By.CSS_SELECTOR, "#preview audio"))[0]
    WebDriverWait(browser, 20).until(
        lambda b: (audio.get_attribute("src") or "").startswith("blob:"))


def test_two_hundred_thousand_entries_open(browser, work):
    groups = [("files", f"g{g:03}", [(f"entry-{g:03}-{i:04}.dat", b"") for i in range(1000)])
              for g in range(200)]
    path = made(work, "many.rbd", package(groups))
    through_input(browser, path)
    counted = call(browser, """() => kestrunViewer.open(document.getElementById('open').files[0])
        .then(({info, entries}) => [info.entries, entries.length, entries[199999].path])""")
    assert counted == [200000, 200000, "g199/entry-199-0999.dat"]
    chosen = call(browser, "(p) => KestrunClient.shared().match(p).then((a) => a.length)",
                  "g1?7/*-0?00.dat")
    assert chosen == 100
