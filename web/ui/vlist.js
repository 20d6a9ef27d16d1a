// A list that puts in the document only the rows that can be seen, so that
// 200,000 entries cost no more than forty: the tree and the found entries
// are both drawn with it. Rows have one fixed height. The focus stays on the
// container; the active row is named by aria-activedescendant.
'use strict';
(function () {
  var UI = window.KestrunUI;
  // Browsers lay out no element much taller than this (Firefox stops near
  // 17.9 million pixels): past it the scroll range stands for the rows at a
  // scale, so that the millionth row can still be reached.
  var TALLEST = 8000000;

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
    this.spacer.style.height = Math.min(TALLEST, count * this.options.rowHeight) + 'px';
    if (this.active >= count) {
      this.active = count - 1;
    }
    this.draw();
  };

  // Rows seen at once, at least one.
  VirtualList.prototype.pageRows = function () {
    return Math.max(1, Math.floor(this.container.clientHeight / this.options.rowHeight));
  };

  // How many pixels of rows one pixel of scrolling stands for: 1 unless the
  // rows are taller than TALLEST.
  VirtualList.prototype.scale = function () {
    var view = this.container.clientHeight;
    var rows = this.count * this.options.rowHeight - view;
    var range = Math.min(TALLEST, this.count * this.options.rowHeight) - view;
    return range > 0 && rows > range ? rows / range : 1;
  };

  VirtualList.prototype.draw = function () {
    var height = this.options.rowHeight;
    var scrolled = this.container.scrollTop;
    var top = scrolled * this.scale();
    var first = Math.floor(top / height);
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
      el.style.top = scrolled + i * height - top + 'px';
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
      var scale = this.scale();
      var row = this.active * height;
      var view = this.container;
      var seen = view.scrollTop * scale;
      if (row < seen) {
        view.scrollTop = Math.floor(row / scale);
      } else if (row + height > seen + view.clientHeight) {
        view.scrollTop = Math.ceil((row + height - view.clientHeight) / scale);
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
