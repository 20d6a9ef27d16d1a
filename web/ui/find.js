// Finding entries: by a piece of the path, case aside, or by a member
// pattern with kestrun's own rules (the reader matches those). The entries
// found replace the tree in a list of their own while the box holds text.
'use strict';
(function () {
  var UI = window.KestrunUI;

  // parts: input, mode, count, results, tree (elements); handlers: match(pattern)
  // -> Promise<Uint32Array>, onShow(index), onOpen(index), choose(indices, on).
  function Find(parts, selection, handlers) {
    this.parts = parts;
    this.selection = selection;
    this.handlers = handlers;
    this.entries = [];
    this.found = new Uint32Array(0);
    this.asked = 0;
    this.millis = 0;
    this.matching = false;
    this.waiting = null;
    var find = this;
    this.list = new UI.VirtualList(parts.results, {
      rowHeight: 24, idPrefix: 'found-', role: 'option',
      render: function (row, i) { find.render(row, i); },
      onKey: function (event, i) { return find.key(event, i); },
      onMove: function (i) { handlers.onShow(find.found[i]); },
      onClick: function (event, i) { find.click(event, i); }
    });
    parts.results.addEventListener('dblclick', function () {
      if (find.list.active >= 0) {
        handlers.onOpen(find.found[find.list.active]);
      }
    });
    parts.input.addEventListener('input', function () { find.run(); });
    parts.mode.addEventListener('change', function () { find.run(); });
    parts.input.addEventListener('keydown', function (event) {
      if ((event.key === 'ArrowDown' || event.key === 'Enter') && find.found.length) {
        event.preventDefault();
        parts.results.focus();
        find.list.setActive(0, true);
        handlers.onShow(find.found[0]);
      } else if (event.key === 'Escape') {
        parts.input.value = '';
        find.run();
      }
    });
  }

  Find.prototype.setPackage = function (entries) {
    this.entries = entries;
    this.parts.input.value = '';
    this.run();
  };

  Find.prototype.show = function (found, note) {
    this.found = found;
    this.parts.count.textContent = note !== undefined ? note :
      UI.formatCount(found.length, 'entry', 'entries') + ' of ' +
      this.entries.length.toLocaleString('en');
    this.list.active = found.length ? 0 : -1;
    this.parts.results.scrollTop = 0;
    this.list.setCount(found.length);
  };

  // A piece of the path, case aside: a regular expression with the text
  // escaped, which costs no copy of the paths in lower case.
  Find.prototype.byName = function (text) {
    var piece = new RegExp(text.replace(/[\\^$.*+?()[\]{}|]/g, '\\$&'), 'i');
    var entries = this.entries;
    var out = new Uint32Array(entries.length);
    var n = 0;
    for (var i = 0; i < entries.length; i++) {
      if (piece.test(entries[i].path)) {
        out[n++] = i;
      }
    }
    return out.slice(0, n);
  };

  Find.prototype.run = function () {
    var text = this.parts.input.value;
    var asked = ++this.asked;
    var searching = text !== '';
    this.parts.tree.hidden = searching;
    this.parts.results.hidden = !searching;
    if (!searching) {
      this.parts.count.textContent = '';
      this.found = new Uint32Array(0);
      this.list.setCount(0);
      return;
    }
    var started = performance.now();
    var find = this;
    if (this.parts.mode.value === 'name') {
      this.show(this.byName(text));
      this.millis = performance.now() - started;
      return;
    }
    this.matchLatest(text, asked, started);
  };

  // One pattern at a time goes to the reader: typing faster than it answers
  // would queue a match for every key, and the last answer would come late.
  // The text typed meanwhile is matched once the reader is free.
  Find.prototype.matchLatest = function (text, asked, started) {
    if (this.matching) {
      this.waiting = {text: text, asked: asked, started: started};
      return;
    }
    this.matching = true;
    var find = this;
    var settle = function () {
      find.matching = false;
      var next = find.waiting;
      find.waiting = null;
      if (next && next.asked === find.asked) {
        find.matchLatest(next.text, next.asked, next.started);
      }
    };
    this.handlers.match(text).then(function (found) {
      if (asked === find.asked) {
        find.show(found);
        find.millis = performance.now() - started;
      }
      settle();
    }, function (error) {
      if (asked === find.asked) {
        find.show(new Uint32Array(0), UI.shown(error.message));
      }
      settle();
    });
  };

  Find.prototype.render = function (row, i) {
    if (!row.firstChild) {
      row.append(UI.el('span', 'name'), UI.el('span', 'marks'), UI.el('span', 'size'));
    }
    var index = this.found[i];
    var entry = this.entries[index];
    var marks = UI.marksOf(entry);
    row.className = 'vlist-row file' + (marks.length ? ' flagged' : '') +
                    (i === this.list.active ? ' active' : '');
    row.setAttribute('aria-selected', String(this.selection.has(index)));
    row.setAttribute('aria-posinset', String(i + 1));
    row.setAttribute('aria-setsize', String(this.found.length));
    row.children[0].textContent = UI.shown(entry.path);
    row.children[1].textContent = marks.join(', ');
    row.children[2].textContent = UI.formatSize(entry.size);
  };

  Find.prototype.toggle = function (index) {
    this.handlers.choose([index], !this.selection.has(index));
  };

  Find.prototype.key = function (event, i) {
    if (i < 0) {
      return false;
    }
    if (event.key === 'Enter') {
      this.handlers.onOpen(this.found[i]);
      return true;
    }
    if (event.key === ' ') {
      this.toggle(this.found[i]);
      return true;
    }
    if (event.key === 'Escape') {
      this.parts.input.focus();
      return true;
    }
    return false;
  };

  Find.prototype.click = function (event, i) {
    if (event.ctrlKey || event.metaKey) {
      this.toggle(this.found[i]);
    } else {
      this.handlers.onShow(this.found[i]);
    }
  };

  Find.prototype.redraw = function () {
    this.list.draw();
  };

  UI.Find = Find;
})();
