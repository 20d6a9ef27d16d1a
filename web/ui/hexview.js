// The bytes of an entry in pages of 4 KiB, from its first byte: each line
// gives its offset in the package, sixteen bytes in hex, and those bytes
// as text where they are printable. Only the page shown is read.
'use strict';
(function () {
  var UI = window.KestrunUI;
  var PAGE = 4096;

  function hex(value, width) {
    var text = value.toString(16);
    return text.length >= width ? text : '0'.repeat(width - text.length) + text;
  }

  // The lines for `bytes`, whose first lies at `at` in the package.
  UI.hexLines = function (bytes, at, width) {
    var lines = [];
    for (var line = 0; line < bytes.length; line += 16) {
      var codes = [];
      var text = '';
      for (var k = 0; k < 16; k++) {
        if (line + k < bytes.length) {
          var b = bytes[line + k];
          codes.push(hex(b, 2));
          text += b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.';
        } else {
          codes.push('  ');
        }
      }
      lines.push(hex(at + line, width) + '  ' + codes.slice(0, 8).join(' ') + '  ' +
                 codes.slice(8).join(' ') + '  ' + text);
    }
    return lines.join('\n');
  };

  // parts: first, prev, next, last, where, go, lines (elements); read(index,
  // offset, length) -> Promise<Uint8Array>.
  function HexView(parts, read) {
    this.parts = parts;
    this.read = read;
    this.entry = null;
    this.page = 0;
    this.asked = 0;
    var view = this;
    parts.first.addEventListener('click', function () { view.turn(0); });
    parts.prev.addEventListener('click', function () { view.turn(view.page - 1); });
    parts.next.addEventListener('click', function () { view.turn(view.page + 1); });
    parts.last.addEventListener('click', function () { view.turn(view.pages() - 1); });
    parts.go.addEventListener('keydown', function (event) {
      if (event.key === 'Enter') {
        var text = parts.go.value.trim();
        var at = /^0x[0-9a-f]+$/i.test(text) ? parseInt(text, 16) :
                 /^[0-9]+$/.test(text) ? parseInt(text, 10) : NaN;
        if (isNaN(at)) {
          parts.where.textContent = 'Not an offset: give a number, or hex with 0x';
          return;
        }
        view.turn(Math.floor(at / PAGE));
      }
    });
    parts.lines.addEventListener('keydown', function (event) {
      var to = {PageDown: view.page + 1, PageUp: view.page - 1, Home: 0, End: view.pages() - 1};
      if (event.key in to) {
        event.preventDefault();
        view.turn(to[event.key]);
      }
    });
  }

  HexView.prototype.pages = function () {
    return Math.max(1, Math.ceil(this.entry.size / PAGE));
  };

  HexView.prototype.show = function (entry) {
    this.entry = entry;
    this.page = -1;
    this.turn(0);
  };

  HexView.prototype.clear = function () {
    this.entry = null;
    this.asked++;
    this.parts.lines.textContent = '';
    this.parts.where.textContent = '';
  };

  HexView.prototype.turn = function (page) {
    if (!this.entry) {
      return;
    }
    page = Math.max(0, Math.min(this.pages() - 1, page));
    var entry = this.entry;
    var asked = ++this.asked;
    var view = this;
    var start = page * PAGE;
    var length = Math.min(PAGE, entry.size - start);
    this.page = page;
    var width = Math.max(8, (entry.offset + entry.size).toString(16).length);
    this.parts.where.textContent = entry.size === 0 ? 'empty' :
      'bytes ' + start.toLocaleString('en') + '–' + (start + length - 1).toLocaleString('en') +
      ' of ' + entry.size.toLocaleString('en') + ' · page ' + (page + 1).toLocaleString('en') +
      ' of ' + this.pages().toLocaleString('en');
    if (length <= 0) {
      this.parts.lines.textContent = '';
      return;
    }
    this.read(entry.index, start, length).then(function (bytes) {
      if (asked === view.asked) {
        view.parts.lines.textContent = UI.hexLines(bytes, entry.offset + start, width);
      }
    }, function (error) {
      if (asked === view.asked) {
        view.parts.lines.textContent = 'Could not read these bytes: ' + error.message;
      }
    });
  };

  UI.HexView = HexView;
})();
