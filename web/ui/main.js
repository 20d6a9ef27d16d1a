// The page: opens a package (picker or drop), shows its info, damage, tree
// and the chosen entry, and runs one check or save at a time with a
// progress bar. The reader itself is KestrunClient (web/src/client.js).
'use strict';
(function () {
  var UI = window.KestrunUI;
  var NO_RECORD = 4294967295;

  function $(id) {
    return document.getElementById(id);
  }

  var state = {
    client: null, file: null, info: null, entries: [], model: null, rootName: '',
    selection: new Set(), current: null, digests: new Map(), lines: null, opened: 0
  };
  UI.state = state;

  function client() {
    // The shared client is window.kestrunViewer's too: a script's read(path)
    // reads the package the page shows.
    if (!state.client) {
      state.client = window.KestrunClient.shared();
    }
    return state.client;
  }

  function say(text, kind) {
    var line = $('message');
    line.textContent = text;
    line.className = 'message' + (kind ? ' ' + kind : '');
    line.hidden = !text;
  }

  // ---- the job: one check or save at a time, with its progress bar ----

  var job = {
    stopped: false, running: false, total: 0, done: 0,
    begin: function (label, total) {
      this.total = total;
      this.done = 0;
      $('job-label').textContent = label;
      $('job-bar').max = Math.max(1, total);
      $('job-bar').value = 0;
      $('job-done').textContent = '';
      $('job').hidden = false;
    },
    show: function (done) {
      this.done = done;
      $('job-bar').value = Math.min(done, this.total);
      $('job-done').textContent = UI.formatSize(Math.min(done, this.total)) + ' of ' +
                                  UI.formatSize(this.total);
    },
    add: function (bytes) {
      this.show(this.done + bytes);
    }
  };

  // Runs `work(job)` unless another job runs; shows what it reports.
  function runJob(work) {
    if (job.running) {
      say('Wait for the running job to end, or stop it.', 'warn');
      return;
    }
    job.running = true;
    job.stopped = false;
    setButtons();
    var opened = state.opened;
    var run;
    try {
      run = Promise.resolve(work(job));
    } catch (error) {
      run = Promise.reject(error);
    }
    run.then(function (report) {
      if (report && opened === state.opened) {
        showReport(report.title, report.lines || []);
      }
    }, function (error) {
      if (error && error.name === 'AbortError') {
        say('Nothing saved: no place was chosen.');
      } else if (opened === state.opened) {
        // A stopped save delivers nothing: the .zip or the file is never
        // handed over half made.
        say(job.stopped ? 'Stopped: nothing was saved.' : 'Failed: ' + UI.shown(error.message),
            job.stopped ? 'warn' : 'error');
      }
    }).then(function () {
      job.running = false;
      $('job').hidden = true;
      setButtons();
    });
  }

  function showReport(title, lines) {
    $('report-title').textContent = title;
    var list = $('report-lines');
    list.textContent = '';
    lines.slice(0, 500).forEach(function (line) { list.appendChild(UI.el('li', '', line)); });
    if (lines.length > 500) {
      list.appendChild(UI.el('li', 'muted', 'and ' + (lines.length - 500) + ' more'));
    }
    $('report').hidden = false;
  }

  // ---- opening ----

  // The output root's name, as extraction names it: the file name less its
  // last four characters, taken to be the extension. Where that leaves no
  // usable name ("", "." or ".."), the page names the root after the file.
  function rootNameOf(name) {
    var root = name.slice(0, -4);
    return name.length < 4 || root === '' || root === '.' || root === '..' ? name : root;
  }

  function open(file) {
    job.stopped = true;
    var opened = ++state.opened;
    say('Opening "' + UI.shown(file.name) + '"…');
    return client().open(file).then(function (result) {
      if (opened === state.opened) {
        showPackage(file, result);
        say('');
      }
      return result;
    }, function (error) {
      if (opened === state.opened) {
        closePackage();
        say('"' + UI.shown(file.name) + '" could not be opened: ' + UI.shown(error.message),
            'error');
      }
      throw error;
    });
  }

  function closePackage() {
    $('package').hidden = true;
    $('report').hidden = true;
    state.entries = [];
    state.model = null;
    state.selection.clear();
    state.digests = new Map();
    state.lines = null;
    state.current = null;
    preview.clear();
    hexview.clear();
  }

  function infoRow(list, term, value, title) {
    list.appendChild(UI.el('dt', '', term));
    var dd = UI.el('dd', '', value);
    if (title) {
      dd.title = title;
    }
    list.appendChild(dd);
  }

  function showInfo(file, info) {
    $('package-name').textContent = UI.shown(file.name);
    var list = $('info');
    list.textContent = '';
    infoRow(list, 'Size', UI.formatSize(info.size), info.size.toLocaleString('en') + ' bytes');
    infoRow(list, 'Records', info.records.toLocaleString('en'));
    infoRow(list, 'Entries', info.entries.toLocaleString('en'));
    infoRow(list, 'Groups', info.groups.toLocaleString('en'));
    // As -i prints it, in hex.
    infoRow(list, 'Version', info.version.toString(16).toUpperCase());
    var damage = $('damage');
    damage.hidden = !info.damaged;
    if (info.damaged && info.damage) {
      // The library's message names the record at fault, as a rule; where
      // it does not, the record is added.
      var record = info.damage.record;
      var message = info.damage.message;
      var known = record !== null && record !== undefined && record !== NO_RECORD;
      var named = !known || message.indexOf('record ' + record) !== -1;
      damage.textContent = UI.shown(message.charAt(0).toUpperCase() + message.slice(1)) +
        (named ? '' : ' (record ' + record + ')') + '. Shown: the ' +
        UI.formatCount(info.entries, 'entry', 'entries') + ' before the damage.';
    }
  }

  function showPackage(file, result) {
    closePackage();
    state.file = file;
    state.info = result.info;
    state.entries = result.entries;
    state.rootName = rootNameOf(file.name);
    state.model = UI.buildTree(result.entries, state.rootName);
    showInfo(file, result.info);
    $('package').hidden = false;
    tree.setPackage(result.entries, state.model);
    find.setPackage(result.entries);
    showDetails({folder: state.model.root});
    setButtons();
    $('tree').focus();
  }

  // ---- the chosen entry ----

  var showTimer = 0;

  function detailRow(list, term, value) {
    list.appendChild(UI.el('dt', '', term));
    list.appendChild(UI.el('dd', '', value));
  }

  function button(text, action) {
    var b = UI.el('button', '', text);
    b.type = 'button';
    b.addEventListener('click', action);
    return b;
  }

  function showDetails(item) {
    state.current = item;
    var pane = $('details');
    pane.textContent = '';
    var list = UI.el('dl');
    if (item.folder) {
      var folder = item.folder;
      pane.appendChild(UI.el('h3', '', folder.special ? folder.name : UI.shown(folder.name) + '/'));
      detailRow(list, 'Holds', UI.formatCount(folder.count, 'entry', 'entries'));
      detailRow(list, 'Size', sizeText(folder.size));
      pane.appendChild(list);
      pane.appendChild(button('Choose all in it', function () { tree.choose(item); }));
      $('preview-tabs').hidden = true;
      preview.clear();
      hexview.clear();
      selectTab(false);
      return;
    }
    var entry = state.entries[item.entry];
    pane.appendChild(UI.el('h3', '', UI.shown(entry.name)));
    detailRow(list, 'Path', UI.shown(entry.path));
    detailRow(list, 'Size', sizeText(entry.size));
    detailRow(list, 'In the package at',
              entry.offset.toLocaleString('en') + ' (0x' + entry.offset.toString(16) + ')');
    var marks = UI.marksOf(entry);
    if (marks.length) {
      var why = entry.reason ? ': ' + UI.shown(entry.reason) : '';
      detailRow(list, 'Marked', marks.join(', ') + why);
    }
    var digest = state.digests.get(entry.index);
    detailRow(list, 'SHA-256', digest || 'not worked out yet');
    pane.appendChild(list);
    var hashCell = list.lastChild;
    hashCell.className = 'digest';
    if (!digest) {
      pane.appendChild(button('SHA-256', function () { hashOne(entry, hashCell); }));
    }
    pane.appendChild(button('Save this entry', function () {
      runJob(function (j) {
        return UI.saveEntry(client(), entry, j).then(function () {
          say('Saved ' + UI.shown(entry.path) + '.');
        });
      });
    }));
    $('preview-tabs').hidden = false;
    clearTimeout(showTimer);
    // Moving through the list with the keys reads only where it stops.
    showTimer = setTimeout(function () {
      if (state.current === item) {
        preview.show(entry);
        if (!$('hex').hidden) {
          hexview.show(entry);
        } else {
          hexview.entry = entry;
          hexview.page = -1;
        }
      }
    }, 80);
  }

  function hashOne(entry, cell) {
    var digests = state.digests;
    runJob(function (j) {
      j.begin('SHA-256 of ' + UI.shown(entry.path), entry.size);
      return client().sha256(entry.index, function (done) { j.show(done); }).then(function (hex) {
        digests.set(entry.index, hex);
        if (digests === state.digests && state.current && state.current.entry === entry.index) {
          cell.textContent = hex;
        }
      });
    });
  }

  function selectTab(hex) {
    $('tab-preview').setAttribute('aria-selected', String(!hex));
    $('tab-hex').setAttribute('aria-selected', String(hex));
    $('preview').hidden = hex;
    $('hex').hidden = !hex;
    if (hex && hexview.entry && hexview.page < 0) {
      hexview.show(hexview.entry);
    }
  }

  // ---- check and save, of the chosen entries or of all ----

  function scope() {
    if (state.selection.size) {
      return Array.from(state.selection);
    }
    return state.entries.map(function (e, i) { return i; });
  }

  function setButtons() {
    var n = state.selection.size;
    $('scope').textContent = n ? UI.formatCount(n, 'entry', 'entries') + ' chosen' :
      'All entries (Space or Ctrl-click chooses some)';
    $('unchoose').hidden = n === 0;
    $('check-all').disabled = job.running || !state.entries.length;
    $('save-zip').disabled = job.running || !state.entries.length;
    $('save-folder').disabled = job.running || !state.entries.length;
    $('save-folder').hidden = !UI.canSaveToFolder();
    $('save-list').disabled = job.running || !state.lines;
  }

  function sizeText(bytes) {
    return UI.formatSize(bytes) + ' (' + bytes.toLocaleString('en') + ' bytes)';
  }

  // A line of a report: what happened, to which entry, and why.
  function reportLine(what, path, why) {
    return what + ': ' + UI.shown(path) + ': ' + UI.shown(why);
  }

  function notes(plan) {
    return plan.refused.map(function (r) { return reportLine('Left out', r.path, r.why); })
      .concat(plan.empty.map(function (r) { return reportLine('Saved empty', r.path, r.why); }));
  }

  function checkAll() {
    // A package opened meanwhile has digests of its own: this check's are
    // dropped.
    var digests = state.digests;
    runJob(function (j) {
      return UI.checkEntries(client(), state.entries, scope(), j).then(function (result) {
        if (digests !== state.digests) {
          return null;
        }
        result.digests.forEach(function (hex, i) { state.digests.set(i, hex); });
        state.lines = result.lines;
        if (state.current) {
          showDetails(state.current);
        }
        var lines = result.failed.map(function (f) {
          return reportLine('Could not read', f.path, f.message);
        });
        return {
          title: (j.stopped ? 'Stopped after ' : 'Checked ') +
            UI.formatCount(result.lines.length, 'entry', 'entries') +
            (result.passed_over ? '; ' + result.passed_over +
              ' passed over, refused or written over by a later entry' : '') +
            (result.failed.length ? '; ' + result.failed.length + ' could not be read' : '') + '.',
          lines: lines
        };
      });
    });
  }

  function saveList() {
    var blob = new Blob(state.lines, {type: 'text/plain'});
    UI.download(blob, UI.downloadName(state.rootName, 'package') + '.sha256');
  }

  function saveFolder() {
    var plan = UI.planSave(state.entries, scope());
    runJob(function (j) {
      return UI.saveToFolder(client(), state.entries, plan, j).then(function (done) {
        var lines = notes(plan).concat(done.failed.map(function (f) {
          return reportLine('Failed', f.path, f.why);
        }));
        return {
          title: (j.stopped ? 'Stopped while saving into "' : 'Saved into "') +
            UI.shown(done.folder) + '": ' +
            UI.formatCount(plan.write.length - done.failed.length, 'entry', 'entries') +
            (plan.refused.length ? '; ' + plan.refused.length + ' left out' : '') +
            (done.failed.length ? '; ' + done.failed.length + ' failed' : '') + '.',
          lines: lines
        };
      });
    });
  }

  function saveZip() {
    var plan = UI.planSave(state.entries, scope());
    var name = UI.downloadName(state.rootName, 'package') + '.zip';
    runJob(function (j) {
      return UI.saveZip(client(), state.entries, plan, j, name, new Date(state.file.lastModified))
        .then(function () {
          return {
            title: 'Saved ' + name + ': ' + UI.formatCount(plan.write.length, 'entry', 'entries') +
              (plan.refused.length ? '; ' + plan.refused.length + ' left out' : '') + '.',
            lines: notes(plan)
          };
        });
    });
  }

  // ---- the parts of the page ----

  var handlers = {
    onShow: function (item) { showDetails(item); },
    onOpen: function (item) {
      if (item.folder) {
        tree.toggle(item.folder, !item.folder.expanded);
      } else {
        showDetails(item);
      }
    },
    choose: choose
  };
  function choose(indices, on) {
    UI.choose(state.model, state.selection, indices, on);
    tree.redraw();
    find.redraw();
    setButtons();
  }

  var tree = new UI.Tree($('tree'), state.selection, handlers);
  var find = new UI.Find({
    input: $('find'), mode: $('find-mode'), count: $('find-count'), results: $('results'),
    tree: $('tree')
  }, state.selection, {
    match: function (pattern) { return client().match(pattern); },
    onShow: function (index) { showDetails({entry: index}); },
    onOpen: function (index) {
      $('find').value = '';
      find.run();
      tree.reveal(index);
      $('tree').focus();
      showDetails({entry: index});
    },
    choose: choose
  });
  var read = function (index, offset, length) { return client().read(index, offset, length); };
  var preview = new UI.Preview($('preview'), read);
  var hexview = new UI.HexView({
    first: $('hex-first'), prev: $('hex-prev'), next: $('hex-next'), last: $('hex-last'),
    where: $('hex-where'), go: $('hex-goto'), lines: $('hex-lines')
  }, read);
  UI.tree = tree;
  UI.find = find;
  UI.open = open;

  $('open').addEventListener('change', function () {
    var file = $('open').files[0];
    if (file) {
      open(file).catch(function () {});
    }
  });
  $('tree').addEventListener('keydown', function (event) {
    if (event.key === 'Escape') {
      $('find').focus();
    }
  });
  $('tab-preview').addEventListener('click', function () { selectTab(false); });
  $('tab-hex').addEventListener('click', function () { selectTab(true); });
  $('preview-tabs').addEventListener('keydown', function (event) {
    if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
      var hex = $('hex').hidden;
      selectTab(hex);
      $(hex ? 'tab-hex' : 'tab-preview').focus();
    }
  });
  $('unchoose').addEventListener('click', function () {
    UI.chooseNone(state.model, state.selection);
    tree.redraw();
    find.redraw();
    setButtons();
  });
  $('check-all').addEventListener('click', checkAll);
  $('save-list').addEventListener('click', saveList);
  $('save-folder').addEventListener('click', saveFolder);
  $('save-zip').addEventListener('click', saveZip);
  $('job-cancel').addEventListener('click', function () { job.stopped = true; });
  $('report-close').addEventListener('click', function () { $('report').hidden = true; });

  // Dropping a package anywhere on the page opens it.
  var dragging = 0;
  function carriesFiles(event) {
    var types = event.dataTransfer ? event.dataTransfer.types : [];
    return Array.prototype.indexOf.call(types, 'Files') !== -1;
  }
  window.addEventListener('dragenter', function (event) {
    if (carriesFiles(event)) {
      dragging++;
      $('drop').hidden = false;
    }
  });
  window.addEventListener('dragleave', function () {
    dragging = Math.max(0, dragging - 1);
    $('drop').hidden = dragging > 0;
  });
  window.addEventListener('dragover', function (event) {
    if (carriesFiles(event)) {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'copy';
    }
  });
  window.addEventListener('drop', function (event) {
    event.preventDefault();
    dragging = 0;
    $('drop').hidden = true;
    var files = event.dataTransfer ? event.dataTransfer.files : [];
    if (files.length) {
      open(files[0]).then(function () {
        if (files.length > 1) {
          say('One package at a time: "' + UI.shown(files[0].name) + '" is open.');
        }
      }, function () {});
    }
  });

  setButtons();
})();
