// Saving entries: one as a download, many into a folder the user picks
// (where the browser has the File System Access API) or into a .zip made by
// client-zip as the bytes stream through. Extraction's rules hold either
// way: no name leads outside the folder, unsafe entries are left out and
// reported, and of several entries with one path the last one is written.
// Bytes go through in pieces of 4 MiB, so memory stays bounded.
'use strict';
(function () {
  var UI = window.KestrunUI;
  var PIECE = 4 * 1024 * 1024;

  // A path every part of which is a plain name: not empty, "." or "..", no
  // backslash or zero byte, no drive ("C:"). The reader flags such entries
  // unsafe already; this is the page's own guard before it writes.
  function isPlainPath(path) {
    return path.split('/').every(function (part) {
      return part !== '' && part !== '.' && part !== '..' && !/[\\\u0000]/.test(part) &&
             !/^[a-z]:/i.test(part);
    });
  }

  // What saving `indices` writes, in index order, and what it leaves out.
  UI.planSave = function (entries, indices) {
    var sorted = indices.slice().sort(function (a, b) { return a - b; });
    var last = new Map();
    var refused = [];
    sorted.forEach(function (i) {
      var entry = entries[i];
      if ((entry.flags & UI.flags.UNSAFE) || !isPlainPath(entry.path)) {
        var why = entry.reason || 'its name could lead outside the folder';
        refused.push({path: entry.path, why: why});
      } else {
        last.set(entry.path, i);
      }
    });
    var write = sorted.filter(function (i) { return last.get(entries[i].path) === i; });
    var empty = write.filter(function (i) { return entries[i].flags & UI.flags.NO_DATA; })
      .map(function (i) {
        var why = entries[i].reason || 'its data runs past the package\'s end: saved empty';
        return {path: entries[i].path, why: why};
      });
    return {write: write, refused: refused, empty: empty, bytes: write.reduce(function (sum, i) {
      return sum + (entries[i].flags & UI.flags.NO_DATA ? 0 : entries[i].size);
    }, 0)};
  };

  // The bytes of `entry` as a stream read piece by piece when asked for;
  // `job` counts them and can stop the stream.
  UI.entryStream = function (client, entry, job) {
    var at = 0;
    var size = entry.flags & UI.flags.NO_DATA ? 0 : entry.size;
    return new ReadableStream({
      pull: function (controller) {
        if (job.stopped) {
          controller.error(new Error('stopped by the user'));
          return undefined;
        }
        if (at >= size) {
          controller.close();
          return undefined;
        }
        return client.read(entry.index, at, Math.min(PIECE, size - at)).then(function (bytes) {
          if (bytes.length === 0) {
            throw new Error('the package ended before the entry did');
          }
          at += bytes.length;
          job.add(bytes.length);
          controller.enqueue(bytes);
        });
      }
    }, {highWaterMark: 1});
  };

  // Where the browser lets the page write a file the user names, the bytes
  // stream into it; else they are gathered in a Blob, which the browser may
  // keep on disk, and handed over as a download.
  function pickFile(name, description) {
    if (!window.showSaveFilePicker) {
      return Promise.resolve(null);
    }
    var types = description ? [description] : undefined;
    return window.showSaveFilePicker({suggestedName: name, types: types});
  }

  function deliver(stream, handle, name, type) {
    if (handle) {
      return handle.createWritable().then(function (writable) { return stream.pipeTo(writable); });
    }
    return new Response(stream).blob().then(function (blob) {
      UI.download(new Blob([blob], {type: type}), name);
    });
  }

  UI.saveEntry = function (client, entry, job) {
    var name = UI.downloadName(entry.name, 'entry-' + entry.index);
    return pickFile(name, null).then(function (handle) {
      job.begin('Saving ' + UI.shown(entry.path), entry.size);
      return deliver(UI.entryStream(client, entry, job), handle, name, 'application/octet-stream');
    });
  };

  UI.canSaveToFolder = function () {
    return typeof window.showDirectoryPicker === 'function';
  };

  // The folder for group path `group` below `root`, made where missing.
  function folderFor(root, group, folders) {
    if (folders.has(group)) {
      return folders.get(group);
    }
    var parts = group.split('/').filter(Boolean);
    var made = Promise.resolve(root);
    var path = '';
    parts.forEach(function (part) {
      path += part + '/';
      var known = folders.get(path);
      if (known) {
        made = known;
      } else {
        made = made.then(function (parent) {
          return parent.getDirectoryHandle(part, {create: true});
        });
        folders.set(path, made);
      }
    });
    return made;
  }

  function writeInto(folder, client, entry, job) {
    return folder.getFileHandle(entry.name, {create: true}).then(function (file) {
      return file.createWritable();
    }).then(function (writable) {
      return UI.entryStream(client, entry, job).pipeTo(writable);
    });
  }

  // Writes the plan's entries into a folder the user picks. Resolves with
  // the plan, and the entries that failed and why.
  UI.saveToFolder = async function (client, entries, plan, job) {
    var root = await window.showDirectoryPicker({mode: 'readwrite'});
    var folders = new Map([['', Promise.resolve(root)]]);
    var failed = [];
    job.begin('Saving ' + UI.formatCount(plan.write.length, 'entry', 'entries') + ' into "' +
              UI.shown(root.name) + '"', plan.bytes);
    for (var k = 0; k < plan.write.length && !job.stopped; k++) {
      var entry = entries[plan.write[k]];
      try {
        await writeInto(await folderFor(root, entry.group, folders), client, entry, job);
      } catch (error) {
        failed.push({path: entry.path, why: error.message});
      }
    }
    return {failed: failed, folder: root.name};
  };

  // Streams the plan's entries into a .zip named `name`.
  UI.saveZip = function (client, entries, plan, job, name, lastModified) {
    return pickFile(name, {description: 'Zip archive', accept: {'application/zip': ['.zip']}})
      .then(function (handle) {
        job.begin('Saving ' + UI.formatCount(plan.write.length, 'entry', 'entries') +
                  ' into ' + name,
                  plan.bytes);
        var files = {};
        files[Symbol.iterator] = function* () {
          for (var k = 0; k < plan.write.length; k++) {
            var entry = entries[plan.write[k]];
            var size = entry.flags & UI.flags.NO_DATA ? 0 : entry.size;
            yield {name: entry.path, size: size, lastModified: lastModified,
                   input: UI.entryStream(client, entry, job)};
          }
        };
        var zip = window.downloadZip(files);
        return deliver(zip.body, handle, name, 'application/zip');
      });
  };
})();
