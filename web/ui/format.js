// Small shared helpers of the page: sizes and counts as text, the entry
// flags, elements built with text only (a package's names are never HTML).
'use strict';
var KestrunUI = window.KestrunUI || {};
window.KestrunUI = KestrunUI;

KestrunUI.flags = {UNSAFE: 1, NO_DATA: 2, SHADOWED: 4, UNSAFE_GROUP: 8};

// Sizes as people read them; the exact byte count goes in a title.
KestrunUI.formatSize = function (bytes) {
  if (bytes < 1024) {
    return bytes + ' B';
  }
  var units = ['KiB', 'MiB', 'GiB', 'TiB'];
  var value = bytes / 1024;
  var unit = 0;
  // 1023.7 KiB shows as 1.0 MiB, not as "1024 KiB".
  while (value >= 1023.5 && unit < units.length - 1) {
    value /= 1024;
    unit++;
  }
  return (value < 9.95 ? value.toFixed(1) : Math.round(value)) + ' ' + units[unit];
};

KestrunUI.formatCount = function (count, one, many) {
  return count.toLocaleString('en') + ' ' + (count === 1 ? one : many);
};

// A name as the page shows it, by the rule the command line follows on a
// terminal: every control character as \xHH, one per byte of its UTF-8
// (C0, DEL, U+0080 to U+009F), and every backslash doubled, so that no name
// can pass for another. The page adds the marks that turn text around
// (U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), with which a name
// could show its end first: "gpj.exe" as "exe.jpg".
var HIDDEN = /[\\\u0000-\u001f\u007f-\u009f\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
KestrunUI.shown = function (text) {
  return String(text).replace(HIDDEN, function (c) {
    if (c === '\\') {
      return '\\\\';
    }
    return Array.from(new TextEncoder().encode(c), function (b) {
      return '\\x' + (b < 16 ? '0' : '') + b.toString(16);
    }).join('');
  });
};

// An element with the given class and text; text only, never markup.
KestrunUI.el = function (tag, className, text) {
  var node = document.createElement(tag);
  if (className) {
    node.className = className;
  }
  if (text !== undefined && text !== null) {
    node.textContent = String(text);
  }
  return node;
};

// The short marks an entry carries in the tree and the lists.
KestrunUI.marksOf = function (entry) {
  var f = KestrunUI.flags;
  var marks = [];
  if (entry.flags & f.UNSAFE) {
    marks.push('unsafe');
  }
  if (entry.flags & f.SHADOWED) {
    marks.push('shadowed');
  }
  if (entry.flags & f.NO_DATA) {
    marks.push('past the end');
  }
  return marks;
};

// A file name for a download: the entry's own name, or a stand-in when it
// has none the browser could use.
KestrunUI.downloadName = function (name, fallback) {
  var plain = String(name).replace(/[\\/:*?"<>|\u0000-\u001f]/g, '_');
  return plain === '' || plain === '.' || plain === '..' ? fallback : plain;
};

// Hands `blob` to the browser as a download named `name`.
KestrunUI.download = function (blob, name) {
  var url = URL.createObjectURL(blob);
  var link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  // The browser has taken the blob once the click is handled.
  setTimeout(function () { URL.revokeObjectURL(url); }, 60000);
};
