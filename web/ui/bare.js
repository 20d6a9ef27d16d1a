// The bare page's view: opens the chosen package and lists its first entries.
'use strict';

document.getElementById('open').addEventListener('change', (event) => {
  const file = event.target.files[0];
  const message = document.getElementById('message');
  const damage = document.getElementById('damage');
  const list = document.getElementById('entries');
  list.replaceChildren();
  damage.hidden = true;
  if (!file) {
    return;
  }
  window.kestrunViewer.open(file).then(({info, entries}) => {
    message.textContent = info.entries + ' entries';
    if (info.damaged) {
      damage.textContent = 'Damaged at record ' + info.damage.record + ': ' + info.damage.message;
      damage.hidden = false;
    }
    for (const entry of entries.slice(0, 1000)) {
      const item = document.createElement('li');
      item.textContent = entry.path + (entry.reason ? ' (' + entry.reason + ')' : '');
      list.append(item);
    }
  }, (error) => {
    message.textContent = error.message;
  });
});
