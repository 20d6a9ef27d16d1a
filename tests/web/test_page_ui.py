"""The page's own view in a real browser, held against the command line: the
tree marks what extraction refuses and shows hostile names as text, the
checksum list is `kestrun -l --sha256`'s, the .zip holds what extraction
writes, and the hex view pages from an entry's first byte. The browser and
the helpers are test_page.py's.
"""

import functools
import hashlib
import http.server
import subprocess
import threading
import time
import zipfile

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from test_page import (KESTRUN, PAGE, browser, call, choose, made,  # noqa: F401
                       package, through_input, work)

HOSTILE = [
    ("dir", "<em>art", [
        ("files", "gfx", [("<img src=x onerror=window.hit=1>.txt", b"<i>not markup</i>\n")]),
    ]),
    ("files", "text", [("line\nfeed.txt", b"lf\n"), ("carriage\rreturn", b"cr\n"),
                       ("evil\u202egpj.exe", b"!"),
                       ("dup.txt", b"first\n"), ("dup.txt", b"second\n"),
                       ("cut.bin", b"xyz", {"size": 10**6}), ("..", b"up\n"),
                       ("latin1.txt", "Caf\xe9 cr\xe8me\n".encode("latin-1")),
                       ("bytes.bin", bytes(range(256)) * 20)]),
    ("files", "..", [("escape.txt", b"out\n")]),
]


def wait(browser, test, seconds=20):
    return WebDriverWait(browser, seconds).until(lambda b: test(b))


def opened(browser, path):
    through_input(browser, path)
    wait(browser, lambda b: b.find_elements(By.CSS_SELECTOR, "#tree [role=treeitem]"))


def every_row(browser):
    """Opens every folder with the keyboard, as a user would, and gives each
    row as (aria-level, text), read as it becomes the active one (only the
    rows on screen are in the page)."""
    tree = browser.find_element(By.ID, "tree")
    tree.send_keys(Keys.HOME)
    rows = []
    seen = None
    while tree.get_attribute("aria-activedescendant") != seen:
        seen = tree.get_attribute("aria-activedescendant")
        row = browser.find_element(By.ID, seen)
        if row.get_attribute("aria-expanded") == "false":
            tree.send_keys(Keys.ARROW_RIGHT)
        rows.append((int(row.get_attribute("aria-level")), row.text.replace("\n", " ")))
        tree.send_keys(Keys.ARROW_DOWN)
    return rows


def downloaded(folder, name, seconds=20):
    path = folder / name
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if path.exists() and not list(folder.glob("*.crdownload")):
            return path.read_bytes()
        time.sleep(0.1)
    raise AssertionError(f"{name} was not downloaded")


def test_the_tree_marks_refused_entries_and_shows_names_as_text(browser, work):
    # Control characters and the marks that turn text around are shown
    # escaped, as the command line shows them on a terminal.
    path = made(work, "hostile.rbd", package(HOSTILE))
    opened(browser, path)
    # Folders with their counts and sizes; refused entries stand apart, under
    # their full path, in the command line's words.
    assert every_row(browser) == [
        (1, "▾ hostile/ 9 entries · 982 KiB"),
        (2, "▾ <em>art/ 1 entry · 18 B"),
        (3, "▾ gfx/ 1 entry · 18 B"),
        (4, "<img src=x onerror=window.hit=1>.txt 18 B"),
        (2, "▾ text/ 8 entries · 982 KiB"),
        (3, "line\\x0afeed.txt 3 B"),
        (3, "carriage\\x0dreturn 3 B"),
        (3, "evil\\xe2\\x80\\xaegpj.exe 1 B"),
        (3, "dup.txt shadowed 6 B"),
        (3, "dup.txt 7 B"),
        (3, "cut.bin Failed to read in data past the end 977 KiB"),
        (3, "latin1.txt 11 B"),
        (3, "bytes.bin 5.0 KiB"),
        (1, "▾ Left out by extraction 2 entries · 7 B"),
        (2, 'text/.. Refusing unsafe path, "text/.." unsafe 3 B'),
        (2, '../escape.txt Refusing unsafe path, "../escape.txt" unsafe 4 B'),
    ]
    assert browser.execute_script(
        "return [document.querySelectorAll('#tree img, #tree b, #tree i').length, window.hit]"
    ) == [0, None]
    # The focused tree names its active row, a folder row says whether it is open.
    tree = browser.find_element(By.ID, "tree")
    tree.send_keys(Keys.HOME)
    active = browser.find_element(By.ID, tree.get_attribute("aria-activedescendant"))
    assert (active.get_attribute("aria-level"),
            active.get_attribute("aria-expanded")) == ("1", "true")


def test_checksums_and_the_zip_are_what_extraction_leaves(browser, work):
    path = made(work, "hostile.rbd", package(HOSTILE))
    downloads = work / "downloads"
    downloads.mkdir()
    browser.execute_cdp_cmd("Browser.setDownloadBehavior",
                            {"behavior": "allow", "downloadPath": str(downloads)})
    opened(browser, path)
    browser.find_element(By.ID, "check-all").click()
    save_list = browser.find_element(By.ID, "save-list")
    wait(browser, lambda b: save_list.is_enabled())
    save_list.click()
    listed = subprocess.run([KESTRUN, "-l", "--sha256", str(path)], capture_output=True)
    assert downloaded(downloads, "hostile.sha256") == listed.stdout
    assert "1 could not be read" in browser.find_element(By.ID, "report").text

    # Without a file picker the .zip is a download, made as it streams.
    browser.execute_script("window.showSaveFilePicker = undefined;")
    browser.find_element(By.ID, "save-zip").click()
    archive = downloads / "hostile.zip"
    downloaded(downloads, "hostile.zip")
    with zipfile.ZipFile(archive) as opened_zip:
        assert opened_zip.testzip() is None
        names = opened_zip.namelist()
        zipped = {name: opened_zip.read(name) for name in names}
    assert len(names) == len(zipped)
    extracted = work / "extracted"
    subprocess.run([KESTRUN, "-q", "-d", str(extracted), str(path)], capture_output=True)
    written = {str(file.relative_to(extracted)): file.read_bytes()
               for file in extracted.rglob("*") if file.is_file()}
    assert zipped == written
    report = wait(browser, lambda b: b.find_element(By.ID, "report").is_displayed() and
                  "hostile.zip" in b.find_element(By.ID, "report").text and
                  b.find_element(By.ID, "report").text)
    assert 'Left out: ../escape.txt: Refusing unsafe path, "../escape.txt"' in report


def extracted_digests(work, path):
    """What `kestrun -d` writes: each file's path and SHA-256."""
    out = work / ("extracted-" + path.name)
    subprocess.run([KESTRUN, "-q", "-d", str(out), str(path)], capture_output=True)
    return sorted((str(file.relative_to(out)), hashlib.sha256(file.read_bytes()).hexdigest())
                  for file in out.rglob("*") if file.is_file())


# The folder a user would pick is the page's private one (navigator.storage),
# which a page has only from a web origin: the page is served on loopback.
SAVE_INTO_PRIVATE_FOLDER = """async () => {
  const root = await navigator.storage.getDirectory();
  for await (const [name] of root.entries()) await root.removeEntry(name, {recursive: true});
  window.showDirectoryPicker = async () => root;
  document.getElementById('save-folder').click();
  const report = document.getElementById('report');
  while (report.hidden) await new Promise((wake) => setTimeout(wake, 50));
  const files = [];
  const walk = async (folder, prefix) => {
    for await (const [name, handle] of folder.entries()) {
      if (handle.kind === 'directory') {
        await walk(handle, prefix + name + '/');
      } else {
        const bytes = await (await handle.getFile()).arrayBuffer();
        const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
        const hex = Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
        files.push([prefix + name, hex]);
      }
    }
  };
  await walk(root, '');
  return {files: files, report: report.textContent};
}"""


def test_a_folder_gets_what_extraction_writes(browser, work):
    served = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0),
        functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(PAGE.parent)))
    threading.Thread(target=served.serve_forever, daemon=True).start()
    try:
        path = made(work, "hostile.rbd", package(HOSTILE))
        browser.get(f"http://127.0.0.1:{served.server_address[1]}/{PAGE.name}")
        browser.find_element(By.ID, "open").send_keys(str(path))
        wait(browser, lambda b: b.find_elements(By.CSS_SELECTOR, "#tree [role=treeitem]"))
        saved = call(browser, SAVE_INTO_PRIVATE_FOLDER)
    finally:
        served.shutdown()
        served.server_close()
    assert sorted(tuple(file) for file in saved["files"]) == extracted_digests(work, path)
    assert 'Left out: text/..: Refusing unsafe path, "text/.."' in saved["report"]
    assert "Saved empty: text/cut.bin" in saved["report"]


def test_previews_fall_back_to_latin1_and_hex_pages_from_the_first_byte(browser, work):
    path = made(work, "hostile.rbd", package(HOSTILE))
    opened(browser, path)
    choose(browser, "latin1.txt")
    wait(browser, lambda b: "Café crème" in b.find_element(By.ID, "preview").text)
    assert "Latin-1" in browser.find_element(By.ID, "preview").text

    choose(browser, "bytes.bin")
    entry = call(browser, """(p) => KestrunClient.shared().find(p)
        .then((i) => KestrunClient.shared().entryAt(i))""", "text/bytes.bin")
    browser.find_element(By.ID, "tab-hex").click()
    lines = browser.find_element(By.ID, "hex-lines")
    first = (f"{entry['offset']:08x}  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f"
             "  ................")
    wait(browser, lambda b: lines.text.startswith(first))
    assert len(lines.text.splitlines()) == 256
    browser.find_element(By.ID, "hex-next").click()
    second = f"{entry['offset'] + 4096:08x}  00 01 02 03"
    wait(browser, lambda b: lines.text.startswith(second))
    assert browser.find_element(By.ID, "hex-where").text == \
        "bytes 4,096–5,119 of 5,120 · page 2 of 2"
    assert len(lines.text.splitlines()) == 64


def test_chosen_entries_alone_are_saved(browser, work):
    path = made(work, "hostile.rbd", package(HOSTILE))
    downloads = work / "chosen"
    downloads.mkdir()
    browser.execute_cdp_cmd("Browser.setDownloadBehavior",
                            {"behavior": "allow", "downloadPath": str(downloads)})
    opened(browser, path)
    # Space chooses in the list of entries found, as in the tree.
    choose(browser, "t/dup.txt")
    results = browser.find_element(By.ID, "results")
    results.send_keys(Keys.SPACE, Keys.ARROW_DOWN, Keys.SPACE)
    choose(browser, "latin1")
    results.send_keys(Keys.SPACE)
    assert browser.find_element(By.ID, "scope").text == "3 entries chosen"
    browser.execute_script("window.showSaveFilePicker = undefined;")
    browser.find_element(By.ID, "save-zip").click()
    downloaded(downloads, "hostile.zip")
    with zipfile.ZipFile(downloads / "hostile.zip") as archive:
        # Of the two entries of one path, the later is what extraction leaves.
        assert {name: archive.read(name) for name in archive.namelist()} == {
            "text/dup.txt": b"second\n", "text/latin1.txt": "Café crème\n".encode("latin-1")}


# The page's scripts with inputs the packages above don't reach.
EDGES = """return [
  KestrunUI.decodeText(new Uint8Array([0x61, 0xc3, 0xa9, 0x62, 0xc3])),
  KestrunUI.decodeText(new Uint8Array([0x61, 0xe9, 0x62])),
  [[71, 73, 70, 56, 57, 97], [255, 216, 255, 224], [79, 103, 103, 83], [73, 68, 51, 3],
   [66, 77], [66, 77].concat(new Array(30).fill(0)), [255, 251, 144, 0]]
    .map((head) => KestrunUI.mediaType(new Uint8Array(head), 'a.bin')),
  KestrunUI.mediaType(new Uint8Array([255, 251, 144, 0]), 'song.MP3'),
  [KestrunUI.looksLikeText(new TextEncoder().encode('a\\tb\\r\\n')),
   KestrunUI.looksLikeText(new Uint8Array([65, 0, 66]))],
  KestrunUI.hexLines(new Uint8Array([1, 2, 3]), 2 ** 32 + 16, 9),
  KestrunUI.shown('a\\\\b\\u0085c\\u2066d'),
  KestrunUI.formatSize(1048575) + ' | ' + KestrunUI.formatSize(10188),
  (() => {
    const entries = [
      {index: 0, path: 'a/b/c/1', group: 'a/b/c/', name: '1', size: 5, flags: 0},
      {index: 1, path: 'a/2', group: 'a/', name: '2', size: 7, flags: 0},
      {index: 2, path: 'x/../3', group: 'x/../', name: '3', size: 1, flags: 1}];
    const model = KestrunUI.buildTree(entries, 'p');
    const chosen = new Set();
    KestrunUI.choose(model, chosen, [0, 1, 1], true);
    KestrunUI.choose(model, chosen, [1], false);
    return model.folders.map((f) => [f.name, f.path, f.count, f.size, f.files,
                                     model.chosen[f.id]]);
  })(),
  (() => {
    const entries = [
      {index: 0, path: 'C:/x', group: 'C:/', name: 'x', size: 1, flags: 0, reason: null},
      {index: 1, path: 'd/y', group: 'd/', name: 'y', size: 2, flags: 0, reason: null},
      {index: 2, path: 'd/y', group: 'd/', name: 'y', size: 3, flags: 2, reason: null}];
    return KestrunUI.planSave(entries, [2, 0, 1]);
  })()];"""


def test_the_page_logic_at_its_edges(browser):
    browser.get(PAGE.as_uri())
    (cut, latin1, media, mp3, text, hex_line, shown, sizes, folders,
     plan) = browser.execute_script(EDGES)
    # A bounded read that ends inside a character is still UTF-8.
    assert cut == {"text": "aéb", "encoding": "UTF-8"}
    assert latin1 == {"text": "aéb", "encoding": "Latin-1"}
    assert media == ["image/gif", "image/jpeg", "audio/ogg", "audio/mpeg", None, "image/bmp",
                     None]
    assert mp3 == "audio/mpeg" and text == [True, False]
    assert hex_line == "100000010  01 02 03" + " " * 40 + "  ..."
    assert shown == "a\\\\b\\xc2\\x85c\\xe2\\x81\\xa6d"
    assert sizes == "1.0 MiB | 9.9 KiB"
    # Folders are made for a group's missing parents, and count what is below
    # them, and how much of it is chosen.
    assert folders == [["p", "", 2, 12, [], 1], ["Left out by extraction", None, 1, 1, [2], 0],
                       ["a", "a/", 2, 12, [1], 1], ["b", "a/b/", 1, 5, [], 1],
                       ["c", "a/b/c/", 1, 5, [0], 1]]
    # A drive is refused by the page itself; of one path the last is written,
    # empty where its data runs past the end.
    assert plan["write"] == [2] and plan["bytes"] == 0
    assert [r["path"] for r in plan["refused"]] == ["C:/x"]
    assert [r["path"] for r in plan["empty"]] == ["d/y"]


# Two million rows in a list 240 pixels high: each one reached can be seen.
TALL_LIST = """
const view = document.createElement('div');
view.style.cssText = 'position: relative; overflow: auto; height: 240px';
document.body.appendChild(view);
const list = new KestrunUI.VirtualList(view, {
  rowHeight: 24, idPrefix: 'tall-', role: 'option',
  render: (row, i) => { row.textContent = 'row ' + i; },
  onKey: () => false, onClick: () => {}});
list.setCount(2000000);
return [0, 1234567, 1999999, 3].map((i) => {
  list.setActive(i, true);
  const row = document.getElementById('tall-' + i);
  return [row.textContent, row.offsetTop - view.scrollTop];
});"""


def test_a_list_of_two_million_rows_reaches_every_row(browser):
    browser.get(PAGE.as_uri())
    seen = browser.execute_script(TALL_LIST)
    assert [text for text, _ in seen] == ["row 0", "row 1234567", "row 1999999", "row 3"]
    assert all(0 <= top <= 240 - 24 for _, top in seen), seen
