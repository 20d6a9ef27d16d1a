// The tree of what extraction writes: the output root NAME/, its groups as
// folders (with the count and size of what lies below), their entries; the
// entries extraction refuses go in a folder of their own, under their full
// path. Only the rows on screen are drawn (vlist.js).
'use strict';
(function () {
  var UI = window.KestrunUI;

  function newFolder(model, name, path, parent) {
    var folder = {
      id: model.folders.length, name: name, path: path, parent: parent,
      folders: [], files: [], count: 0, size: 0, expanded: false, special: false
    };
    model.folders.push(folder);
    if (parent) {
      parent.folders.push(folder);
    }
    return folder;
  }

  // The folder of group path `group` ("a/b/"), made with its missing parents.
  function folderOf(model, group) {
    var found = model.byGroup.get(group);
    if (found) {
      return found;
    }
    var missing = [];
    var path = group;
    while (!model.byGroup.has(path)) {
      missing.push(path);
      path = path.slice(0, path.lastIndexOf('/', path.length - 2) + 1);
    }
    var parent = model.byGroup.get(path);
    for (var k = missing.length - 1; k >= 0; k--) {
      var p = missing[k];
      var name = p.slice(p.lastIndexOf('/', p.length - 2) + 1, p.length - 1);
      parent = newFolder(model, name, p, parent);
      model.byGroup.set(p, parent);
    }
    return parent;
  }

  // The folders and where each entry sits; `rootName` names the output root.
  UI.buildTree = function (entries, rootName) {
    var model = {folders: [], byGroup: new Map(), entryFolder: new Int32Array(entries.length)};
    model.root = newFolder(model, rootName, '', null);
    model.root.expanded = true;
    model.byGroup.set('', model.root);
    model.leftOut = newFolder(model, 'Left out by extraction', null, null);
    model.leftOut.special = true;
    for (var i = 0; i < entries.length; i++) {
      var entry = entries[i];
      var folder = entry.flags & UI.flags.UNSAFE ? model.leftOut : folderOf(model, entry.group);
      folder.files.push(i);
      model.entryFolder[i] = folder.id;
      for (var f = folder; f; f = f.parent) {
        f.count++;
        f.size += entry.size;
      }
    }
    model.chosen = new Uint32Array(model.folders.length);
    return model;
  };

  // Puts the entries of `indices` in the set of chosen ones (`on`) or takes
  // them out, and keeps each folder's count of chosen entries below it, so
  // that a folder shows at once whether all of it is chosen.
  UI.choose = function (model, selection, indices, on) {
    for (var k = 0; k < indices.length; k++) {
      var i = indices[k];
      if (selection.has(i) === on) {
        continue;
      }
      if (on) {
        selection.add(i);
      } else {
        selection.delete(i);
      }
      for (var f = model.folders[model.entryFolder[i]]; f; f = f.parent) {
        model.chosen[f.id] += on ? 1 : -1;
      }
    }
  };

  UI.chooseNone = function (model, selection) {
    selection.clear();
    model.chosen.fill(0);
  };

  // Every entry index at or below `folder`.
  UI.entriesBelow = function (folder) {
    var out = [];
    var stack = [folder];
    while (stack.length) {
      var f = stack.pop();
      for (var k = 0; k < f.files.length; k++) {
        out.push(f.files[k]);
      }
      for (var j = f.folders.length - 1; j >= 0; j--) {
        stack.push(f.folders[j]);
      }
    }
    return out;
  };

  // The visible rows, depth first: a folder is -(id + 1), an entry its index;
  // with each, its depth and its place among its siblings (for ARIA).
  function flatten(model) {
    var rows = [];
    var depths = [];
    var places = [];
    var top = model.leftOut.count ? 2 : 1;
    var stack = [];
    if (model.leftOut.count) {
      stack.push({folder: model.leftOut, depth: 0, files: false, place: 2, of: top});
    }
    stack.push({folder: model.root, depth: 0, files: false, place: 1, of: top});
    while (stack.length) {
      var item = stack.pop();
      var folder = item.folder;
      var siblings = folder.folders.length + folder.files.length;
      if (item.files) {
        for (var k = 0; k < folder.files.length; k++) {
          rows.push(folder.files[k]);
          depths.push(item.depth);
          places.push(folder.folders.length + k + 1, siblings);
        }
        continue;
      }
      rows.push(-(folder.id + 1));
      depths.push(item.depth);
      places.push(item.place, item.of);
      if (folder.expanded) {
        stack.push({folder: folder, depth: item.depth + 1, files: true});
        for (var j = folder.folders.length - 1; j >= 0; j--) {
          stack.push({folder: folder.folders[j], depth: item.depth + 1, files: false,
                      place: j + 1, of: siblings});
        }
      }
    }
    return {rows: Int32Array.from(rows), depths: Uint16Array.from(depths),
            places: Uint32Array.from(places)};
  }

  // handlers: onShow(item) when a row becomes the active one, onOpen(item)
  // on Enter or a double click, choose(indices, on) on Space or a
  // Ctrl-click; item is {folder} or {entry: index}.
  // `selection` is the shared set of chosen entry indices.
  function Tree(container, selection, handlers) {
    this.selection = selection;
    this.handlers = handlers;
    this.model = null;
    this.entries = [];
    this.rows = new Int32Array(0);
    this.depths = new Uint16Array(0);
    this.places = new Uint32Array(0);
    var tree = this;
    this.list = new UI.VirtualList(container, {
      rowHeight: 24, idPrefix: 'tree-row-', role: 'treeitem',
      render: function (row, i) { tree.render(row, i); },
      onKey: function (event, i) { return tree.key(event, i); },
      onMove: function (i) { handlers.onShow(tree.itemAt(i)); },
      onClick: function (event, i) { tree.click(event, i); }
    });
    container.addEventListener('dblclick', function () {
      if (tree.list.active >= 0) {
        handlers.onOpen(tree.itemAt(tree.list.active));
      }
    });
  }

  Tree.prototype.setPackage = function (entries, model) {
    this.entries = entries;
    this.model = model;
    this.list.active = 0;
    this.list.container.scrollTop = 0;
    this.reflow();
  };

  Tree.prototype.reflow = function () {
    var flat = this.model ? flatten(this.model) :
      {rows: new Int32Array(0), depths: new Uint16Array(0), places: new Uint32Array(0)};
    this.rows = flat.rows;
    this.depths = flat.depths;
    this.places = flat.places;
    this.list.setCount(this.rows.length);
  };

  Tree.prototype.itemAt = function (i) {
    var code = this.rows[i];
    return code < 0 ? {folder: this.model.folders[-code - 1]} : {entry: code};
  };

  Tree.prototype.render = function (row, i) {
    if (!row.firstChild) {
      row.append(UI.el('span', 'twisty'), UI.el('span', 'name'), UI.el('span', 'note'),
                 UI.el('span', 'marks'), UI.el('span', 'size'));
    }
    var parts = row.children;
    var code = this.rows[i];
    var depth = this.depths[i];
    row.style.paddingLeft = 0.5 + depth * 1.1 + 'em';
    row.setAttribute('aria-level', String(depth + 1));
    row.setAttribute('aria-posinset', String(this.places[2 * i]));
    row.setAttribute('aria-setsize', String(this.places[2 * i + 1]));
    if (code < 0) {
      var folder = this.model.folders[-code - 1];
      row.className = 'vlist-row folder' + (folder.special ? ' special' : '') +
                      (i === this.list.active ? ' active' : '');
      row.setAttribute('aria-expanded', String(folder.expanded));
      var chosen = this.model.chosen[folder.id];
      row.setAttribute('aria-selected', String(chosen > 0 && chosen === folder.count));
      row.classList.toggle('partly', chosen > 0 && chosen < folder.count);
      parts[0].textContent = folder.expanded ? '▾' : '▸';
      parts[1].textContent = folder.special ? folder.name : UI.shown(folder.name) + '/';
      parts[2].textContent = '';
      parts[3].textContent = '';
      parts[4].textContent = UI.formatCount(folder.count, 'entry', 'entries') + ' · ' +
                             UI.formatSize(folder.size);
      parts[4].title = folder.size.toLocaleString('en') + ' bytes';
      return;
    }
    var entry = this.entries[code];
    var marks = UI.marksOf(entry);
    row.className = 'vlist-row file' + (marks.length ? ' flagged' : '') +
                    (i === this.list.active ? ' active' : '');
    row.removeAttribute('aria-expanded');
    row.setAttribute('aria-selected', String(this.selection.has(code)));
    parts[0].textContent = '';
    parts[1].textContent = UI.shown(entry.flags & UI.flags.UNSAFE ? entry.path : entry.name);
    parts[2].textContent = entry.reason ? UI.shown(entry.reason) : '';
    parts[3].textContent = marks.join(', ');
    parts[4].textContent = UI.formatSize(entry.size);
    parts[4].title = entry.size.toLocaleString('en') + ' bytes';
  };

  Tree.prototype.toggle = function (folder, open) {
    if (folder.expanded !== open) {
      folder.expanded = open;
      this.reflow();
    }
  };

  // The row of a folder, or -1 when it is not shown.
  Tree.prototype.rowOfFolder = function (folder) {
    return this.rows.indexOf(-(folder.id + 1));
  };

  Tree.prototype.key = function (event, i) {
    if (i < 0) {
      return false;
    }
    var item = this.itemAt(i);
    var folder = item.folder;
    var parent = folder ? folder.parent : this.model.folders[this.model.entryFolder[item.entry]];
    if (event.key === 'ArrowRight' && folder) {
      if (!folder.expanded) {
        this.toggle(folder, true);
      } else if (i + 1 < this.rows.length && this.depths[i + 1] > this.depths[i]) {
        this.move(i + 1);
      }
      return true;
    }
    if (event.key === 'ArrowLeft') {
      if (folder && folder.expanded) {
        this.toggle(folder, false);
      } else if (parent) {
        this.move(this.rowOfFolder(parent));
      }
      return true;
    }
    if (event.key === 'Enter') {
      this.handlers.onOpen(item);
      return true;
    }
    if (event.key === ' ') {
      this.choose(item);
      return true;
    }
    return false;
  };

  Tree.prototype.move = function (i) {
    this.list.setActive(i, true);
    this.handlers.onShow(this.itemAt(i));
  };

  // Space or a Ctrl-click: the entry, or all below the folder, in or out of
  // the selection.
  Tree.prototype.choose = function (item) {
    var indices = item.folder ? UI.entriesBelow(item.folder) : [item.entry];
    var all = item.folder ? this.model.chosen[item.folder.id] === item.folder.count :
                            this.selection.has(item.entry);
    this.handlers.choose(indices, !all);
  };

  Tree.prototype.click = function (event, i) {
    var item = this.itemAt(i);
    if (event.ctrlKey || event.metaKey) {
      this.choose(item);
      return;
    }
    if (item.folder && event.target.classList.contains('twisty')) {
      this.toggle(item.folder, !item.folder.expanded);
    }
    this.handlers.onShow(item);
  };

  // Opens the folders down to entry `index` and makes it the active row.
  Tree.prototype.reveal = function (index) {
    var changed = false;
    for (var f = this.model.folders[this.model.entryFolder[index]]; f; f = f.parent) {
      changed = changed || !f.expanded;
      f.expanded = true;
    }
    if (changed) {
      this.reflow();
    }
    this.list.setActive(this.rows.indexOf(index), true);
  };

  Tree.prototype.redraw = function () {
    this.list.draw();
  };

  UI.Tree = Tree;
})();
