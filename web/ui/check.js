// Checking: the SHA-256 of entries, hashed by the reader in pieces, and the
// list of them as `kestrun -l --sha256` prints it, for `sha256sum -c` run in
// the folder an extraction makes.
'use strict';
(function () {
  var UI = window.KestrunUI;

  // sha256sum's line: a backslash, line feed or carriage return in the path
  // is escaped, and then the line starts with a backslash.
  UI.checksumLine = function (hex, path) {
    var escaped = false;
    var name = path.replace(/[\\\n\r]/g, function (c) {
      escaped = true;
      return c === '\\' ? '\\\\' : c === '\n' ? '\\n' : '\\r';
    });
    return (escaped ? '\\' : '') + hex + '  ' + name + '\n';
  };

  // Whether extraction leaves this entry's bytes under its path: not refused,
  // not written over by a later entry.
  UI.isLeft = function (entry) {
    return (entry.flags & (UI.flags.UNSAFE | UI.flags.SHADOWED)) === 0;
  };

  // Hashes the entries of `indices` that extraction leaves, in index order.
  // `job` shows the progress and tells when to stop. Resolves with the
  // lines of the list, each entry's digest, the entries that could not be
  // read, and how many were passed over (refused or written over).
  UI.checkEntries = async function (client, entries, indices, job) {
    var chosen = indices.filter(function (i) { return UI.isLeft(entries[i]); });
    chosen.sort(function (a, b) { return a - b; });
    var total = chosen.reduce(function (sum, i) { return sum + entries[i].size; }, 0);
    var result = {
      lines: [], digests: new Map(), failed: [], passed_over: indices.length - chosen.length
    };
    var done = 0;
    job.begin('Checking ' + UI.formatCount(chosen.length, 'entry', 'entries'), total);
    for (var k = 0; k < chosen.length && !job.stopped; k++) {
      var entry = entries[chosen[k]];
      try {
        var hex = await client.sha256(entry.index, function (part) { job.show(done + part); });
        result.digests.set(entry.index, hex);
        result.lines.push(UI.checksumLine(hex, entry.path));
      } catch (error) {
        result.failed.push({path: entry.path, message: error.message});
      }
      done += entry.size;
      job.show(done);
    }
    return result;
  };
})();
