// What an entry holds, shown as the browser can: text (UTF-8, else
// Latin-1), a picture, a sound. Bounded: text shows its first 2 MiB, and a
// picture or a sound is read only up to 64 MiB; past that the hex view still
// pages through the bytes.
'use strict';
(function () {
  var UI = window.KestrunUI;
  var HEAD = 64 * 1024;
  var TEXT_LIMIT = 2 * 1024 * 1024;
  var MEDIA_LIMIT = 64 * 1024 * 1024;
  var PIECE = 16 * 1024 * 1024;

  function startsWith(bytes, text, at) {
    at = at || 0;
    if (bytes.length < at + text.length) {
      return false;
    }
    for (var k = 0; k < text.length; k++) {
      if (bytes[at + k] !== text.charCodeAt(k)) {
        return false;
      }
    }
    return true;
  }

  // The media type of a picture or a sound the browser can take, from the
  // entry's first bytes (and, for MPEG audio without a tag, its name).
  UI.mediaType = function (head, name) {
    if (startsWith(head, '\x89PNG\r\n\x1a\n')) return 'image/png';
    if (startsWith(head, '\xff\xd8\xff')) return 'image/jpeg';
    if (startsWith(head, 'GIF87a') || startsWith(head, 'GIF89a')) return 'image/gif';
    if (startsWith(head, 'BM') && head.length >= 26) return 'image/bmp';
    if (startsWith(head, 'RIFF') && startsWith(head, 'WEBP', 8)) return 'image/webp';
    if (startsWith(head, 'RIFF') && startsWith(head, 'WAVE', 8)) return 'audio/wav';
    if (startsWith(head, 'OggS')) return 'audio/ogg';
    if (startsWith(head, 'fLaC')) return 'audio/flac';
    if (startsWith(head, 'ID3')) return 'audio/mpeg';
    if (head.length > 1 && head[0] === 0xff && (head[1] & 0xe0) === 0xe0 && /\.mp3$/i.test(name)) {
      return 'audio/mpeg';
    }
    return null;
  };

  // Whether the bytes read as text: no zero byte, few control bytes.
  UI.looksLikeText = function (head) {
    var control = 0;
    for (var k = 0; k < head.length; k++) {
      var b = head[k];
      if (b === 0) {
        return false;
      }
      if (b < 0x20 && b !== 9 && b !== 10 && b !== 13 && b !== 12 && b !== 27) {
        control++;
      }
    }
    return control * 20 <= head.length;
  };

  // Text from UTF-8, or, where the bytes are not UTF-8, from Latin-1. A
  // character cut at the end of a bounded read is left out, not an error.
  UI.decodeText = function (bytes) {
    try {
      return {text: new TextDecoder('utf-8', {fatal: true}).decode(bytes, {stream: true}),
              encoding: 'UTF-8'};
    } catch (error) {
      var parts = [];
      for (var at = 0; at < bytes.length; at += 8192) {
        parts.push(String.fromCharCode.apply(null, bytes.subarray(at, at + 8192)));
      }
      return {text: parts.join(''), encoding: 'Latin-1'};
    }
  };

  // The first `length` bytes of entry `index`, in pieces the reader allows.
  function readPieces(read, index, length) {
    var pieces = [];
    function next(at) {
      if (at >= length) {
        return Promise.resolve(pieces);
      }
      return read(index, at, Math.min(PIECE, length - at)).then(function (bytes) {
        pieces.push(bytes);
        return bytes.length ? next(at + bytes.length) : pieces;
      });
    }
    return next(0);
  }

  function Preview(container, read) {
    this.container = container;
    this.read = read;
    this.url = null;
    this.asked = 0;
  }

  Preview.prototype.clear = function () {
    this.asked++;
    if (this.url) {
      URL.revokeObjectURL(this.url);
      this.url = null;
    }
    this.container.textContent = '';
  };

  Preview.prototype.say = function (text) {
    this.container.appendChild(UI.el('p', 'muted', text));
  };

  Preview.prototype.show = function (entry) {
    this.clear();
    if (entry.flags & UI.flags.NO_DATA) {
      this.say('Its data runs past the end of the package: there is nothing to show.');
      return Promise.resolve();
    }
    if (entry.size === 0) {
      this.say('An empty entry.');
      return Promise.resolve();
    }
    var asked = this.asked;
    var preview = this;
    return this.read(entry.index, 0, Math.min(HEAD, entry.size)).then(function (head) {
      if (asked !== preview.asked) {
        return null;
      }
      var type = UI.mediaType(head, entry.name);
      if (type) {
        return preview.media(entry, type, asked);
      }
      if (UI.looksLikeText(head)) {
        return preview.text(entry, asked);
      }
      preview.say('Not text, nor a picture or a sound this page knows: see its bytes in Hex.');
      return 'binary';
    }).catch(function (error) {
      if (asked === preview.asked) {
        preview.say('Could not read it: ' + error.message);
      }
    });
  };

  Preview.prototype.text = function (entry, asked) {
    var preview = this;
    var length = Math.min(TEXT_LIMIT, entry.size);
    return readPieces(this.read, entry.index, length).then(function (pieces) {
      if (asked !== preview.asked) {
        return null;
      }
      var bytes = pieces.length === 1 ? pieces[0] : new Uint8Array(length);
      if (pieces.length !== 1) {
        var at = 0;
        pieces.forEach(function (p) { bytes.set(p, at); at += p.length; });
      }
      var decoded = UI.decodeText(bytes);
      var note = 'Text, read as ' + decoded.encoding;
      if (length < entry.size) {
        note += '; the first ' + UI.formatSize(length) + ' of ' + UI.formatSize(entry.size);
      }
      preview.say(note + '.');
      preview.container.appendChild(UI.el('pre', 'text', decoded.text));
      return 'text';
    });
  };

  Preview.prototype.media = function (entry, type, asked) {
    if (entry.size > MEDIA_LIMIT) {
      this.say('This ' + type + ' is ' + UI.formatSize(entry.size) + ', too large to show ' +
               'here (the limit is ' + UI.formatSize(MEDIA_LIMIT) + '): save it, or see its ' +
               'bytes in Hex.');
      return Promise.resolve('large');
    }
    var preview = this;
    return readPieces(this.read, entry.index, entry.size).then(function (pieces) {
      if (asked !== preview.asked) {
        return null;
      }
      preview.url = URL.createObjectURL(new Blob(pieces, {type: type}));
      var shown;
      if (type.indexOf('image/') === 0) {
        shown = UI.el('img', 'picture');
        shown.alt = UI.shown(entry.name);
        shown.addEventListener('error', function () {
          preview.say('The browser could not decode this ' + type + '.');
        });
      } else {
        shown = UI.el('audio', 'sound');
        shown.controls = true;
        shown.preload = 'metadata';
      }
      shown.src = preview.url;
      preview.say(type + ', ' + UI.formatSize(entry.size) + '.');
      preview.container.appendChild(shown);
      return type;
    });
  };

  UI.Preview = Preview;
})();
