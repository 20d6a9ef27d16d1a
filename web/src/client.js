// KestrunClient: the page's way to libkestrun's reader, which runs in a Web
// Worker (started from a Blob URL, since a page opened from file:// may not
// load a worker script). One package is open at a time in a client. The
// worker's source is the text of the element #kestrun-worker, which the
// build puts in the page.
//
//   const c = KestrunClient.start();
//   c.open(file)            -> Promise<{info, entries}>
//   c.read(index, offset, length) -> Promise<Uint8Array>  (length <= 16 MiB)
//   c.sha256(index, onProgress?)  -> Promise<string>      (lower-case hex)
//   c.match(pattern)        -> Promise<Uint32Array>       (member pattern rules)
//   c.find(path)            -> Promise<number|null>       (kr_find)
//   c.memory()              -> Promise<number>            (the worker's module memory)
//   c.close()               -> Promise                    (gives the package back)
//
// KestrunClient.shared() is one client for the whole page, the one
// window.kestrunViewer uses too.
'use strict';

var KestrunClient = (function () {
  const MOST_READ = 16 * 1024 * 1024;
  const TWO_32 = 4294967296;
  // kr_entry.flags
  const flags = {UNSAFE: 1, NO_DATA: 2, SHADOWED: 4, UNSAFE_GROUP: 8};

  // The entries as the worker packs them (web/glue/kestrun_web.cpp): the
  // count, five 32-bit words each, then group, name and reason, each ending
  // in a zero byte. Names are bytes in no particular character set: shown as
  // UTF-8, where a byte that is none becomes U+FFFD.
  function unpackEntries(packed) {
    const count = new DataView(packed).getUint32(0, true);
    const words = new Uint32Array(packed, 4, count * 5);
    const texts = new TextDecoder('utf-8').decode(new Uint8Array(packed, 4 + count * 20))
      .split('\0');
    const entries = new Array(count);
    // The entries of a file table share one group string, as they do in the
    // library, rather than each keeping a copy of its own.
    let group = '';
    for (let i = 0, w = 0, t = 0; i < count; ++i, w += 5, t += 3) {
      if (texts[t] !== group) {
        group = texts[t];
      }
      const name = texts[t + 1];
      entries[i] = {
        index: i,
        path: group + name,
        group: group,
        name: name,
        size: words[w + 1] + words[w + 2] * TWO_32,
        offset: words[w + 3] + words[w + 4] * TWO_32,
        flags: words[w],
        reason: texts[t + 2] === '' ? null : texts[t + 2],
      };
    }
    return entries;
  }

  function workerSource() {
    const element = document.getElementById('kestrun-worker');
    if (element === null) {
      throw new Error('the page has no #kestrun-worker: it was not made by the build');
    }
    return element.textContent;
  }

  function Client() {
    const url = URL.createObjectURL(new Blob([workerSource()], {type: 'text/javascript'}));
    this.worker = new Worker(url);
    this.pending = new Map();
    this.nextId = 1;
    this.entries = null;
    this.version = null;
    this.ready = new Promise((resolve, reject) => {
      this.worker.onmessage = (event) => {
        const answer = event.data;
        if ('ready' in answer) {
          URL.revokeObjectURL(url);
          this.version = answer.version || null;
          answer.ready ? resolve(answer.version) : reject(new Error(answer.message));
          return;
        }
        const waiting = this.pending.get(answer.id);
        if (waiting === undefined) {
          return;
        }
        if ('progress' in answer) {
          if (waiting.onProgress) {
            waiting.onProgress(answer.progress[0], answer.progress[1]);
          }
          return;
        }
        this.pending.delete(answer.id);
        if (answer.ok) {
          waiting.resolve(answer.result);
        } else {
          const error = new Error(answer.message);
          error.code = answer.code;
          waiting.reject(error);
        }
      };
      this.worker.onerror = (event) => {
        const error = new Error('the reader stopped: ' + (event.message || 'unknown error'));
        reject(error);
        for (const waiting of this.pending.values()) {
          waiting.reject(error);
        }
        this.pending.clear();
      };
    });
  }

  Client.prototype.call = function (op, args, onProgress, transfer) {
    return this.ready.then(() => new Promise((resolve, reject) => {
      const id = this.nextId++;
      this.pending.set(id, {resolve: resolve, reject: reject, onProgress: onProgress});
      this.worker.postMessage({id: id, op: op, args: args}, transfer || []);
    }));
  };

  Client.prototype.entryAt = function (index) {
    if (this.entries === null || !(index >= 0 && index < this.entries.length)) {
      throw new Error('no entry ' + index + (this.entries === null ? ': no package is open' : ''));
    }
    return this.entries[index];
  };

  Client.prototype.open = function (file) {
    if (!(file instanceof Blob)) {
      return Promise.reject(new Error('open takes a File or a Blob'));
    }
    this.entries = null;
    return this.call('open', [file]).then((opened) => {
      this.entries = unpackEntries(opened.packed);
      return {info: opened.info, entries: this.entries};
    });
  };

  Client.prototype.read = function (index, offset, length) {
    try {
      this.entryAt(index);
    } catch (error) {
      return Promise.reject(error);
    }
    if (!(length >= 0 && length <= MOST_READ) || !(offset >= 0)) {
      return Promise.reject(new Error('a read of ' + length + ' bytes at ' + offset +
                                      ': at most ' + MOST_READ + ' bytes at once'));
    }
    return this.call('read', [index, offset, length]);
  };

  Client.prototype.sha256 = function (index, onProgress) {
    let entry;
    try {
      entry = this.entryAt(index);
    } catch (error) {
      return Promise.reject(error);
    }
    return this.call('sha256', [index, entry.size], onProgress);
  };

  Client.prototype.match = function (pattern) {
    return this.call('match', [String(pattern)]);
  };

  Client.prototype.find = function (path) {
    return this.call('find', [String(path)]);
  };

  // The size of the worker's WebAssembly memory, in bytes (for bench/web.py).
  Client.prototype.memory = function () {
    return this.call('memory', []);
  };

  Client.prototype.close = function () {
    this.entries = null;
    return this.call('close', []);
  };

  let shared = null;
  return {
    flags: flags,
    MOST_READ: MOST_READ,
    version: '%KESTRUN_VERSION%',
    start: () => new Client(),
    shared: () => (shared === null ? (shared = new Client()) : shared),
  };
})();
