#include "web/web_page.h"

namespace qb {
namespace {

WebResponse Asset(const char* type, std::string body) {
  WebResponse response;
  response.contentType = type;
  response.body = std::move(body);
  return response;
}

constexpr char kSignIn[] = R"(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Quillbox</title>
<link rel="stylesheet" href="/app.css"></head>
<body><main class="notice"><h1>Quillbox</h1>
<p>This page is open to members of the receiver's group only.</p>
<p>Open the address that <code>quillbox-config web-url</code> prints.</p>
</main></body></html>
)";

constexpr char kDashboardHead[] = R"(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Quillbox</title>
<meta name="csrf-token" content=")";

constexpr char kDashboardBody[] = R"(">
<link rel="stylesheet" href="/app.css"><script src="/app.js" defer></script></head>
<body>
<header><h1>Quillbox</h1><span id="receiver" data-testid="receiver">…</span>
<nav><button data-tab="dashboard" class="active">Dashboard</button><button data-tab="destinations">Destinations</button><button data-tab="settings">Settings</button><button data-tab="log">Receive log</button></nav></header>
<section id="dashboard" class="tab">
 <div class="columns">
  <div><h2>Printers connected now</h2><ul id="printers" data-testid="printers"></ul>
   <h2>Destinations</h2><ul id="disk" data-testid="disk"></ul></div>
  <div><h2>Received documents</h2><ul id="documents" data-testid="documents"></ul></div>
 </div>
</section>
<section id="destinations" class="tab" hidden>
 <h2>Destinations</h2><table id="dest-table"><thead><tr><th>No.</th><th>Folder</th><th>Description</th><th>Code</th><th>Extension</th></tr></thead><tbody></tbody></table>
 <h3>Add or change a destination</h3>
 <form id="dest-form" data-testid="dest-form">
  <label>Number <input name="number" required inputmode="numeric"></label>
  <label>Folder <input name="folder" placeholder="/srv/scans"></label>
  <label>Description <input name="description"></label>
  <label>Access code <input name="code" inputmode="numeric" placeholder="up to 8 digits"></label>
  <label>Extension library <input name="extension"></label>
  <div><button name="action" value="add">Add</button> <button name="action" value="set">Change</button> <button name="action" value="remove">Remove</button></div>
 </form>
 <p id="dest-result" data-testid="dest-result" role="status"></p>
</section>
<section id="settings" class="tab" hidden>
 <h2>Settings</h2><p id="setting-result" data-testid="setting-result" role="status"></p>
 <table id="setting-table"><thead><tr><th>Setting</th><th>Value</th><th>Range</th><th>Takes effect</th><th></th></tr></thead><tbody></tbody></table>
</section>
<section id="log" class="tab" hidden>
 <h2>Receive log</h2><input id="log-search" type="search" placeholder="Search sender, file, folder">
 <table id="log-table"><thead><tr><th>When</th><th>Sender</th><th>File</th><th>Files</th><th>Folder</th></tr></thead><tbody></tbody></table>
</section>
</body></html>
)";

constexpr char kScript[] = R"JS('use strict';
const csrf = document.querySelector('meta[name="csrf-token"]').content;

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const child of children) node.append(child instanceof Node ? child : String(child));
  return node;
}

function bytes(n) {
  if (n === null || n === undefined) return 'unknown';
  const units = ['B', 'KB', 'MB', 'GB', 'TB'];
  let i = 0;
  while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
  return n.toFixed(i ? 1 : 0) + ' ' + units[i];
}

async function getJson(path) {
  const response = await fetch(path, {credentials: 'same-origin'});
  if (!response.ok) throw new Error(path + ': ' + response.status);
  return response.json();
}

async function post(path, fields) {
  const response = await fetch(path, {
    method: 'POST', credentials: 'same-origin',
    headers: {'Content-Type': 'application/x-www-form-urlencoded', 'X-CSRF-Token': csrf},
    body: new URLSearchParams(fields).toString()});
  return response.json();
}

let lastState = '';
function renderState(state) {
  const text = JSON.stringify(state);
  if (text === lastState) return;
  lastState = text;
  const mode = state.receiver.mode;
  document.getElementById('receiver').textContent =
      mode === 'none' ? 'No receiver running' : 'Receiver running (' + mode + ' mode)';
  const printers = document.getElementById('printers');
  printers.replaceChildren(...(state.printers.length ? state.printers.map(p =>
      el('li', {}, (p.name ? p.name + ' ' : '') + p.address)) : [el('li', {className: 'quiet'}, 'none')]));
  document.getElementById('disk').replaceChildren(...state.destinations.map(d =>
      el('li', {className: d.usable ? 'ok' : 'bad'}, d.number + ': ' + d.folder + ' — ' +
         (d.usable ? bytes(d.freeBytes) + ' free (' + d.diskState + ')' : d.reason))));
  document.getElementById('documents').replaceChildren(...state.documents.map(doc => {
    const item = el('li', {className: 'document'});
    item.dataset.file = doc.file;
    item.dataset.thumb = doc.thumb;
    if (doc.thumb === 'ready') {
      item.append(el('img', {className: 'thumb', alt: 'first page of ' + doc.file,
                             src: '/thumb?id=' + encodeURIComponent(doc.id)}));
    } else {
      item.append(el('div', {className: 'thumb placeholder'}, doc.thumb === 'pending' ? '…' : ''));
    }
    const name = doc.openable ? el('a', {href: '/file?id=' + encodeURIComponent(doc.id)}, doc.file)
                              : el('span', {}, doc.file);
    item.append(el('div', {className: 'about'}, name,
        el('div', {}, 'from ' + (doc.sender || 'a printer without a name') + ', ' + doc.when),
        el('div', {className: 'quiet'},
           (doc.destination ? 'destination ' + doc.destination + ' · ' : '') +
           (doc.folder || 'several files') +
           (doc.pages ? ' · ' + doc.pages + (doc.pages === 1 ? ' page' : ' pages')
                      : ' · ' + doc.files + (doc.files === 1 ? ' file' : ' files')))));
    return item;
  }));
}

async function refresh() {
  try {
    renderState(await getJson('/api/state'));
  } catch (error) {
    document.getElementById('receiver').textContent = 'Page not reachable: ' + error.message;
  }
}

async function loadDestinations() {
  const list = await getJson('/api/destinations');
  document.querySelector('#dest-table tbody').replaceChildren(...list.map(d => el('tr', {},
      el('td', {}, d.number), el('td', {}, d.folder), el('td', {}, d.description),
      el('td', {}, d.hasCode ? 'set' : ''), el('td', {}, d.extension))));
}

async function loadSettings() {
  const list = await getJson('/api/settings');
  document.querySelector('#setting-table tbody').replaceChildren(...list.map(s => {
    const input = el('input', {value: s.value, title: s.description});
    input.dataset.setting = s.name;
    const save = el('button', {}, 'Save');
    save.addEventListener('click', async () => {
      const result = await post('/api/settings', {name: s.name, value: input.value});
      document.getElementById('setting-result').textContent = result.ok
          ? s.key + ' saved.' + (result.restartNeeded ? ' It counts after a restart: ' + result.advice : '')
          : s.key + ': ' + result.reason;
    });
    return el('tr', {}, el('td', {title: s.description}, s.key), el('td', {}, input),
              el('td', {}, s.range), el('td', {}, s.nextStart ? 'next start' : 'at once'), el('td', {}, save));
  }));
}

async function loadLog() {
  const query = document.getElementById('log-search').value;
  const lines = await getJson('/api/log?q=' + encodeURIComponent(query));
  document.querySelector('#log-table tbody').replaceChildren(...lines.map(l => el('tr', {},
      el('td', {}, l.when), el('td', {}, l.sender), el('td', {}, l.file), el('td', {}, l.files),
      el('td', {}, l.folder))));
}

function showTab(name) {
  for (const section of document.querySelectorAll('section.tab')) section.hidden = section.id !== name;
  for (const button of document.querySelectorAll('nav button')) {
    button.classList.toggle('active', button.dataset.tab === name);
  }
  if (name === 'destinations') loadDestinations();
  if (name === 'settings') loadSettings();
  if (name === 'log') loadLog();
}

for (const button of document.querySelectorAll('nav button')) {
  button.addEventListener('click', () => showTab(button.dataset.tab));
}
document.getElementById('log-search').addEventListener('input', loadLog);
document.getElementById('dest-form').addEventListener('submit', async event => {
  event.preventDefault();
  const fields = Object.fromEntries(new FormData(event.target));
  fields.action = event.submitter ? event.submitter.value : 'add';
  for (const key of Object.keys(fields)) if (fields[key] === '' && key !== 'number') delete fields[key];
  const result = await post('/api/destinations', fields);
  const status = document.getElementById('dest-result');
  status.className = result.ok ? 'ok' : 'bad';
  status.textContent = result.ok ? 'Saved.' : result.reason + (result.fix ? ' — ' + result.fix : '');
  loadDestinations();
  refresh();
});

refresh();
setInterval(refresh, 1500);
)JS";

constexpr char kStyle[] = R"CSS(body{font-family:system-ui,sans-serif;margin:0;color:#1d2733;background:#f5f7fa}
header{display:flex;gap:1.5em;align-items:center;padding:.6em 1.2em;background:#24394f;color:#fff}
header h1{font-size:1.3em;margin:0}nav{margin-left:auto}nav button{background:none;border:0;color:#cfe0f0;padding:.5em .8em;cursor:pointer;font-size:1em}
nav button.active{color:#fff;border-bottom:2px solid #7fc1ff}section{padding:1em 1.5em}
.columns{display:grid;grid-template-columns:minmax(16em,1fr) 2fr;gap:2em}ul{list-style:none;padding:0}
li.document{display:flex;gap:1em;align-items:flex-start;background:#fff;border:1px solid #dde3ea;border-radius:6px;padding:.6em;margin-bottom:.6em}
.thumb{width:80px;height:110px;object-fit:contain;background:#fff;border:1px solid #ccd4dd}.placeholder{display:flex;align-items:center;justify-content:center;color:#99a}
.quiet{color:#6b7785}.ok{color:#17662f}.bad{color:#a2231d}table{border-collapse:collapse;background:#fff}
td,th{border:1px solid #dde3ea;padding:.3em .6em;text-align:left}form label{display:block;margin:.4em 0}
form input{margin-left:.5em;min-width:20em}.notice{max-width:36em;margin:4em auto;background:#fff;padding:2em;border-radius:8px}
)CSS";

}  // namespace

WebResponse SignInPage() { return Asset("text/html; charset=utf-8", kSignIn); }

WebResponse DashboardPage(const std::string& csrfToken) {
  // The token is hex: nothing in it needs escaping in an attribute.
  return Asset("text/html; charset=utf-8", std::string(kDashboardHead) + csrfToken + kDashboardBody);
}

WebResponse PageScript() { return Asset("text/javascript; charset=utf-8", kScript); }
WebResponse PageStyle() { return Asset("text/css; charset=utf-8", kStyle); }

}  // namespace qb
