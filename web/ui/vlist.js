// A list that puts in the document only the rows that can be seen, so that
// 200,000 entries cost no more than forty: the tree and the found entries
// are both drawn with it. Rows have one fixed height. The focus stays on the
// container; the active row is named by aria-activedescendant.
'use strict';
(function () {
  var UI = window.KestrunUI;

  // options: rowHeight, idPrefix, role (of a row), render(row, i),
  // onKey(event, i) -> true when it took the key, onClick(event, i).
  function VirtualList(container, options) {
    this.container = container;
    this.options = options;
    this.count = 0;
    this.active = -1;
    this.pool = [];
    this.spacer = UI.el('div', 'vlist-spacer');
    container.appendChild(this.spacer);
    var list = this;
    var queued = false;
    container.addEventListener('scroll', function () {
      if (!queued) {
        queued = true;
        requestAnimationFrame(function () { queued = false; list.draw(); });
      }
    });
    container.addEventListener('keydown', function (event) { list.key(event); });
    container.addEventListener('click', function (event) {
      var row = event.target.closest('[data-row]');
      if (row) {
        var i = Number(row.dataset.row);
        list.setActive(i, false);
        options.onClick(event, i);
      }
    });
    if (window.ResizeObserver) {
      new ResizeObserver(function () { list.draw(); }).observe(container);
    }
  }

  VirtualList.prototype.setCount = function (count) {
    this.count = count;
    this.spacer.style.height = count * this.options.rowHeight + 'px';
    if (this.active >= count) {
      this.active = count - 1;
    }
    this.draw();
  };

  // Rows seen at once, at least one.
  VirtualList.prototype.pageRows = function () {
    return Math.max(1, Math.floor(this.container.clientHeight / this.options.rowHeight));
  };

  VirtualList.prototype.draw = function () {
    var height = this.options.rowHeight;
    var first = Math.floor(this.container.scrollTop / height);
    var shown = Math.min(this.pageRows() + 2, Math.max(0, this.count - first));
    while (this.pool.length < shown) {
      var row = UI.el('div', 'vlist-row');
      row.setAttribute('role', this.options.role);
      this.pool.push(row);
      this.container.appendChild(row);
    }
    for (var k = 0; k < this.pool.length; k++) {
      var el = this.pool[k];
      if (k >= shown) {
        el.hidden = true;
        el.removeAttribute('id');
        continue;
      }
      var i = first + k;
      el.hidden = false;
      el.id = this.options.idPrefix + i;
      el.dataset.row = String(i);
      el.style.top = i * height + 'px';
      el.classList.toggle('active', i === this.active);
      this.options.render(el, i);
    }
    this.name();
  };

  // Names the active row for assistive technology, when it is drawn.
  VirtualList.prototype.name = function () {
    if (this.active >= 0 && document.getElementById(this.options.idPrefix + this.active)) {
      this.container.setAttribute('aria-activedescendant', this.options.idPrefix + this.active);
    } else {
      this.container.removeAttribute('aria-activedescendant');
    }
  };

  VirtualList.prototype.setActive = function (i, scroll) {
    if (this.count === 0) {
      this.active = -1;
      this.draw();
      return;
    }
    this.active = Math.max(0, Math.min(this.count - 1, i));
    if (scroll) {
      var height = this.options.rowHeight;
      var top = this.active * height;
      var view = this.container;
      if (top < view.scrollTop) {
        view.scrollTop = top;
      } else if (top + height > view.scrollTop + view.clientHeight) {
        view.scrollTop = top + height - view.clientHeight;
      }
    }
    this.draw();
  };

  VirtualList.prototype.key = function (event) {
    var moves = {
      ArrowDown: 1, ArrowUp: -1, PageDown: this.pageRows(), PageUp: -this.pageRows()
    };
    var i = this.active;
    if (this.options.onKey(event, i)) {
      event.preventDefault();
      return;
    }
    if (event.key in moves) {
      this.setActive(i < 0 ? 0 : i + moves[event.key], true);
    } else if (event.key === 'Home') {
      this.setActive(0, true);
    } else if (event.key === 'End') {
      this.setActive(this.count - 1, true);
    } else {
      return;
    }
    event.preventDefault();
    if (this.options.onMove) {
      this.options.onMove(this.active);
    }
  };

  UI.VirtualList = VirtualList;
})();
