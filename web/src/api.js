// window.kestrunViewer: the page's API for scripts and tests, on the shared
// KestrunClient (the one the page's own view uses).
//
//   kestrunViewer.open(file)   -> Promise<{info, entries}>: every entry in index order,
//                                 shadowed and unsafe ones included, each with its
//                                 path, size and flags (KR_ENTRY_* bits) and more
//   kestrunViewer.read(path)   -> Promise<Uint8Array>: the bytes of the entry kr_find gives
//   kestrunViewer.sha256(path) -> Promise<string>: its SHA-256, lower-case hex
//
// Calls wait until the WebAssembly module is ready. open rejects with the
// library's message; a damaged package opens with info.damaged set.
'use strict';

window.kestrunViewer = (function () {
  function client() {
    return KestrunClient.shared();
  }

  function entryOf(path) {
    return client().find(path).then((index) => {
      if (index === null) {
        throw new Error('no entry has the path "' + path + '"');
      }
      return client().entryAt(index);
    });
  }

  // The whole entry, in reads the worker allows.
  async function readWhole(entry) {
    const bytes = new Uint8Array(entry.size);
    for (let done = 0; done < entry.size;) {
      const piece = await client().read(entry.index, done,
                                        Math.min(KestrunClient.MOST_READ, entry.size - done));
      if (piece.length === 0) {
        throw new Error('entry "' + entry.path + '" ended after ' + done + ' bytes');
      }
      bytes.set(piece, done);
      done += piece.length;
    }
    return bytes;
  }

  return {
    version: KestrunClient.version,
    flags: KestrunClient.flags,
    open: (file) => client().open(file),
    read: (path) => entryOf(path).then(readWhole),
    sha256: (path) => entryOf(path).then((entry) => client().sha256(entry.index)),
  };
})();
