// The page's Web Worker: libkestrun's reader in WebAssembly (KestrunModule,
// put before this file in the worker's source), reading the File by
// File.slice and FileReaderSync, so that a package is never read whole.
// Requests come as {id, op, args}; answers go back as {id, ok, result} or
// {id, ok: false, message, code}, and {id, progress: [done, total]} on the way.
'use strict';

// The worker makes no request: the module would otherwise fetch its own
// data: URL first, which the page's policy refuses (and it then decodes it).
self.fetch = undefined;

const KW_MOST_READ = 16 * 1024 * 1024; // the most one read may ask for
const KW_HASH_STEP = 4 * 1024 * 1024;
const reader = new FileReaderSync();
let packageFile = null;

// Called by the module (KW_ReadFile): `length` bytes at `offset` of the File
// into the module's memory, and how many there were; -1 when the browser
// refused (the file was moved or changed on disk).
self.kestrunReadFile = function (offset, heap, into, length) {
  if (packageFile === null) {
    return -1;
  }
  const end = Math.min(packageFile.size, offset + length);
  if (offset >= end) {
    return 0;
  }
  try {
    const bytes = new Uint8Array(reader.readAsArrayBuffer(packageFile.slice(offset, end)));
    heap.set(bytes, into);
    return bytes.length;
  } catch (error) {
    return -1;
  }
};

function failure(module, code) {
  const error = new Error(module.UTF8ToString(module._kw_error_text()));
  error.code = code;
  return error;
}

function withText(module, text, call) {
  const length = module.lengthBytesUTF8(text) + 1;
  const at = module._malloc(length);
  try {
    module.stringToUTF8(text, at, length);
    return call(at);
  } finally {
    module._free(at);
  }
}

function infoOf(module, name) {
  const at = module._kw_info() >> 2;
  const words = module.HEAPU32;
  const damaged = words[at + 6] !== 0;
  return {
    name: name,
    size: words[at] + words[at + 1] * 4294967296,
    records: words[at + 2],
    entries: words[at + 3],
    groups: words[at + 4],
    version: words[at + 5],
    damaged: damaged,
    damage: damaged ? {
      code: words[at + 7] | 0,
      record: words[at + 8],
      message: module.UTF8ToString(module._kw_damage_text()),
    } : null,
  };
}

const operations = {
  open(module, file) {
    packageFile = file;
    const code = module._kw_open(file.size);
    if (code < 0) {
      packageFile = null;
      throw failure(module, code);
    }
    const info = infoOf(module, typeof file.name === 'string' ? file.name : '');
    const lengthAt = module._malloc(4);
    try {
      const at = module._kw_pack_entries(lengthAt);
      if (at === 0) {
        throw new Error('no memory for the list of entries');
      }
      const packed = module.HEAPU8.slice(at, at + module.HEAPU32[lengthAt >> 2]).buffer;
      return [{info: info, packed: packed}, [packed]];
    } finally {
      module._kw_drop_packed();
      module._free(lengthAt);
    }
  },

  read(module, index, offset, length) {
    if (!(length >= 0 && length <= KW_MOST_READ)) {
      throw new Error('a read of ' + length + ' bytes: at most ' + KW_MOST_READ + ' at once');
    }
    const at = module._kw_read_buffer(length);
    if (at === 0 && length > 0) {
      throw new Error('no memory for a read of ' + length + ' bytes');
    }
    const got = module._kw_read(index, offset, length);
    if (got < 0) {
      throw failure(module, got);
    }
    const bytes = module.HEAPU8.slice(at, at + got);
    return [bytes, [bytes.buffer]];
  },

  sha256(module, index, size, id) {
    const begun = module._kw_sha_begin(index);
    if (begun < 0) {
      throw failure(module, begun);
    }
    let done = 0;
    let last = 0;
    do {
      done = module._kw_sha_step(KW_HASH_STEP);
      if (done < 0) {
        throw failure(module, done);
      }
      const now = Date.now();
      if (now - last > 100) {
        last = now;
        self.postMessage({id: id, progress: [done, size]});
      }
    } while (done < size);
    return [module.UTF8ToString(module._kw_sha_hex()), []];
  },

  match(module, pattern) {
    const count = withText(module, pattern, (at) => module._kw_match(at));
    const at = module._kw_matched() >> 2;
    const indices = module.HEAPU32.slice(at, at + count);
    return [indices, [indices.buffer]];
  },

  find(module, path) {
    const index = withText(module, path, (at) => module._kw_find(at));
    return [index < 0 ? null : index, []];
  },

  // The bytes the module's memory holds now: the open package's index and
  // the reader's buffers (it grows, never shrinks).
  memory(module) {
    return [module.HEAPU8.length, []];
  },

  close(module) {
    module._kw_close();
    packageFile = null;
    return [null, []];
  },
};

const moduleReady = KestrunModule();
moduleReady.then((module) => {
  self.postMessage({ready: true, version: module.UTF8ToString(module._kw_version())});
}, (error) => {
  self.postMessage({ready: false, message: 'the WebAssembly module did not start: ' + error});
});

self.onmessage = (event) => {
  const {id, op, args} = event.data;
  moduleReady.then((module) => {
    try {
      const extra = op === 'sha256' ? [id] : [];
      const [result, transfer] = operations[op](module, ...args, ...extra);
      self.postMessage({id: id, ok: true, result: result}, transfer);
    } catch (error) {
      self.postMessage({id: id, ok: false, message: String(error.message || error),
                        code: error.code});
    }
  });
};
