#!/usr/bin/env python3
"""Assembles the page's folder: web/ui/index.html with its scripts and styles
put inline, so that it works from file:// as from any static host:
- the Content-Security-Policy <meta> is the build's, put first in <head> (one
  the page has is replaced): it runs only the page's own scripts, by their
  hashes, starts the worker from blob:, and lets the page make no request;
- before the page's first <script src>: the worker's source (the WebAssembly
  module and web/src/worker.js) as <script type="text/plain"
  id="kestrun-worker">, then web/src/client.js and web/src/api.js;
- each <script src> and <link rel="stylesheet" href> is put inline: a name is
  looked for in web/ui/, then in web/vendor.txt, which maps a name to a file
  of web/node_modules/ (an npm library; its licence is copied to licenses/);
- %KESTRUN_VERSION% becomes the version, in the page and what it takes in.
"""

import argparse
import base64
import hashlib
import html
import pathlib
import re
import shutil
import sys

SCRIPT = re.compile(r'<script\s+src="([^"]+)"\s*>\s*</script>', re.I)
STYLE = re.compile(r'<link\s+rel="stylesheet"\s+href="([^"]+)"\s*/?>', re.I)
EXECUTED_SCRIPT = re.compile(r'<script(\s[^>]*)?>(.*?)</script>', re.I | re.S)


def fail(message):
    sys.exit("build_page.py: " + message)


CSP_META = re.compile(r'<meta\s+http-equiv="?Content-Security-Policy"?[^>]*>\n?', re.I)
OUR_SCRIPTS = ("client.js", "api.js")


def vendored(source):
    """web/vendor.txt: lines "NAME FILE", FILE below web/node_modules/."""
    names = {}
    listing = source / "vendor.txt"
    if listing.is_file():
        for line in listing.read_text(encoding="utf-8").splitlines():
            words = line.split("#")[0].split()
            if len(words) == 2:
                names[words[0]] = source / "node_modules" / words[1]
    return names


def find(source, name, vendor):
    path = (source / "ui" / name).resolve()
    if path.is_file():
        return path
    if name in vendor:
        if not vendor[name].is_file():
            fail(f'"{name}" is {vendor[name]}, which is missing: run "npm ci" in web/')
        return vendor[name]
    fail(f'the page names "{name}", found neither in web/ui/ nor in web/vendor.txt')


def inline_text(text, where):
    # Text inside <script> or <style> ends at the first "</script" or
    # "</style"; "<!--" changes how the rest is parsed.
    for bad in ("</script", "</style", "<!--"):
        if bad in text.lower():
            fail(f'{where} holds "{bad}", which can\'t be put inline in the page')
    return text


def policy(page):
    hashes = []
    for match in EXECUTED_SCRIPT.finditer(page):
        if match.group(1) and 'type="text/plain"' in match.group(1):
            continue
        digest = hashlib.sha256(match.group(2).encode()).digest()
        hashes.append("'sha256-" + base64.b64encode(digest).decode() + "'")
    return ("default-src 'none'; script-src 'wasm-unsafe-eval' " + " ".join(hashes) +
            "; worker-src blob:; style-src 'unsafe-inline'; img-src blob: data:; "
            "media-src blob: data:; connect-src 'none'; form-action 'none'; base-uri 'none'")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True, type=pathlib.Path)
    parser.add_argument("--module", required=True, type=pathlib.Path)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()
    source = args.source.resolve()
    # Comments say how the page is made, not what it is.
    page = re.sub(r"<!--.*?-->\n?", "", (source / "ui" / "index.html").read_text(encoding="utf-8"),
                  flags=re.S)
    page = CSP_META.sub("", page)
    vendor = vendored(source)
    licenses = {}

    def versioned(text):
        return text.replace("%KESTRUN_VERSION%", args.version)

    def script(match):
        if match.group(1) in OUR_SCRIPTS:
            path = source / "src" / match.group(1)
        else:
            path = find(source, match.group(1), vendor)
        if "node_modules" in path.parts:
            package = path.parts[path.parts.index("node_modules") + 1]
            licenses[package] = source / "node_modules" / package
        text = inline_text(versioned(path.read_text(encoding="utf-8")), path.name)
        return "<script>\n" + text + "\n</script>"

    def style(match):
        path = find(source, match.group(1), vendor)
        text = inline_text(versioned(path.read_text(encoding="utf-8")), path.name)
        return "<style>\n" + text + "\n</style>"

    worker = (args.module.read_text(encoding="utf-8") + "\n" +
              (source / "src" / "worker.js").read_text(encoding="utf-8"))
    worker = inline_text(worker, "the worker's source")
    page = versioned(page)
    first = SCRIPT.search(page)
    if first is None:
        fail("web/ui/index.html has no <script src>")
    ours = "".join(f'<script src="{name}"></script>\n' for name in OUR_SCRIPTS
                   if f'src="{name}"' not in page)
    page = (page[:first.start()] + '<script type="text/plain" id="kestrun-worker">\n' + worker +
            "\n</script>\n" + ours + page[first.start():])
    page = SCRIPT.sub(script, page)
    page = STYLE.sub(style, page)
    head = re.search(r"<head[^>]*>", page, re.I)
    if head is None:
        fail("web/ui/index.html has no <head>")
    meta = ('\n<meta http-equiv="Content-Security-Policy" content="' +
            html.escape(policy(page), quote=False) + '">')
    page = page[:head.end()] + meta + page[head.end():]

    if args.out.exists():
        shutil.rmtree(args.out)
    args.out.mkdir(parents=True)
    (args.out / "index.html").write_text(page, encoding="utf-8")
    for package, directory in sorted(licenses.items()):
        for name in ("LICENSE", "LICENSE.md", "LICENSE.txt", "LICENCE", "license"):
            if (directory / name).is_file():
                (args.out / "licenses").mkdir(exist_ok=True)
                shutil.copyfile(directory / name, args.out / "licenses" / (package + ".txt"))
                break
        else:
            fail(f"the npm package {package} has no licence file to ship with the page")


if __name__ == "__main__":
    main()
