// The status page's script: it reads the JSON API and shows it. Every text
// from the server goes in as text, never as markup.
'use strict';

const csrf = () => document.querySelector('meta[name="csrf-token"]').content;

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (key === 'class') node.className = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) {
    if (child === null || child === undefined) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

function byId(id) { return document.getElementById(id); }
function setText(id, text) { byId(id).textContent = text; }

async function getJson(url) {
  const reply = await fetch(url, {credentials: 'same-origin', cache: 'no-store'});
  if (reply.status === 401) { location.href = '/login'; throw new Error('log in'); }
  if (!reply.ok) throw new Error((await reply.json().catch(() => ({}))).error || reply.statusText);
  return reply.json();
}

function when(iso) {
  if (!iso) return '–';
  const d = new Date(iso);
  if (isNaN(d)) return iso;
  const pad = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}`;
}

function age(seconds) {
  if (seconds === null || seconds === undefined) return 'none';
  if (seconds < 120) return `${seconds} s`;
  if (seconds < 7200) return `${Math.floor(seconds / 60)} min`;
  if (seconds < 172800) return `${Math.floor(seconds / 3600)} h`;
  return `${Math.floor(seconds / 86400)} days`;
}

function badge(text) { return el('span', {class: 'badge ' + text}, text); }
function jobLink(job) { return el('a', {href: '/jobs/' + job.id}, String(job.id)); }

function fillBody(table, rows) {
  const body = byId(table).tBodies[0];
  body.replaceChildren(...rows);
}

function every(ms, step) {
  let timer = null;
  const run = async () => {
    try { await step(); } catch (e) { console.warn(e); }
    timer = setTimeout(run, ms);
  };
  run();
  return () => clearTimeout(timer);
}

// Overview.
function overview() {
  every(3000, async () => {
    const s = await getJson('/api/status');
    const verdict = byId('verdict');
    verdict.className = 'verdict ' + (s.ok ? 'ok' : 'bad');
    setText('headline', s.headline);
    byId('also').replaceChildren(...s.wrong.slice(1).map((w) => el('li', {}, w)));
    setText('spooled', s.server.spooled_files);
    setText('lprqueue', s.server.lpr_queue);
    for (const light of ['spool', 'convert', 'print', 'lpr']) {
      const color = s.server.lights[light];
      byId('light-' + light).className = 'light ' + color;
      setText('light-' + light + '-text', color === 'off' ? '(off)' : `(${color === 'green' ? 'working' : 'fault'})`);
    }
    setText('lasttick', s.last_tick ? when(s.last_tick) : 'never');
    setText('printsystem', s.print_system_up ? 'answers' : 'does not answer');
    setText('oldest', s.spool_folder.oldest
      ? `${s.spool_folder.oldest}, waiting ${age(s.spool_folder.oldest_age_seconds)}` : 'none waiting');
    setText('failedfiles', s.failed_files);
    setText('version', s.server.version);
    setText('done', s.today.done);
    setText('failed', s.today.failed);
    setText('warned', s.today.with_warnings);
    fillBody('lastjobs', s.last_jobs.map((j) => el('tr', {},
      el('td', {}, jobLink(j)), el('td', {}, j.reqcode || '–'), el('td', {}, j.request),
      el('td', {}, badge(j.state)), el('td', {}, when(j.updated)))));
    fillBody('waiting', s.waiting.length ? s.waiting.map((j) => el('tr', {},
      el('td', {}, jobLink(j)), el('td', {}, j.request),
      el('td', {}, j.waits_for_subject ? 'waits for ' + j.waits_for_subject : 'attempt ' + (j.attempts + 1) + ' at ' + when(j.next_attempt)),
      el('td', {}, j.reason))) : [el('tr', {}, el('td', {colspan: '4'}, 'No job waits.'))]);
    setText('updated', 'Updated ' + when(s.now));
  });
}

// Jobs.
function jobs() {
  const params = new URLSearchParams(location.search);
  const form = byId('filters');
  for (const name of ['since', 'until', 'reqcode', 'state']) form.elements[name].value = params.get(name) || '';
  let page = Math.max(1, parseInt(params.get('page') || '1', 10) || 1);
  const perPage = 50;
  const show = async () => {
    const query = new URLSearchParams();
    for (const name of ['since', 'until', 'reqcode', 'state'])
      if (form.elements[name].value) query.set(name, form.elements[name].value);
    if (page > 1) query.set('page', page);
    history.replaceState(null, '', '/jobs' + (query.toString() ? '?' + query : ''));
    query.set('per_page', perPage);
    const list = await getJson('/api/jobs?' + query);
    fillBody('jobs', list.map((j) => el('tr', {},
      el('td', {class: 'num'}, jobLink(j)), el('td', {}, when(j.taken)), el('td', {}, j.request),
      el('td', {}, j.reqcode || '–'), el('td', {}, badge(j.state)), el('td', {class: 'num'}, j.attempts),
      el('td', {}, j.printer || '–'),
      el('td', {}, (j.outputs.join(', ') || '–') + (j.warnings ? ` (${j.warnings} warning${j.warnings > 1 ? 's' : ''})` : '')))));
    byId('empty').hidden = list.length > 0;
    byId('newer').disabled = page <= 1;
    byId('older').disabled = list.length < perPage;
    setText('pageno', 'Page ' + page);
  };
  form.addEventListener('submit', (e) => { e.preventDefault(); page = 1; show(); });
  byId('newer').addEventListener('click', () => { page = Math.max(1, page - 1); show(); });
  byId('older').addEventListener('click', () => { page += 1; show(); });
  show();
}

// One job.
function job() {
  const id = location.pathname.split('/').pop();
  const fact = (name, value) => el('div', {}, el('dt', {}, name), el('dd', {}, value));
  const show = async () => {
    let j;
    try {
      j = await getJson('/api/jobs/' + id);
    } catch (e) {
      byId('missing').hidden = false;
      setText('missing', String(e.message));
      return;
    }
    setText('title', `Job ${j.id}: ${j.request}`);
    document.title = `Job ${j.id} - PrintORB`;
    // replaceChildren writes a null as the text "null": the facts a job lacks are left out first.
    byId('facts').replaceChildren(...[
      fact('State', badge(j.state)),
      fact('Request code', j.reqcode || '–'), fact('Procedure', j.proccode || '–'),
      fact('Kind', j.kind), fact('Attempts', j.attempts),
      fact('Taken', when(j.taken)), fact('Last change', when(j.updated)),
      j.next_attempt ? fact('Next attempt', when(j.next_attempt)) : null,
      j.waiting_for ? fact('Waits for', j.waiting_for) : null,
      fact('Printer', j.printer || '–'), j.overlay ? fact('Overlay', j.overlay) : null,
      fact('Output', j.summary.replace(/^output: /, '')),
      j.reason ? fact('Reason', j.reason) : null,
      fact('Size', `${j.size} bytes`)].filter((f) => f !== null));
    byId('story').replaceChildren(...j.story.map((s) => el('li', {}, el('time', {datetime: s.at}, when(s.at)), el('span', {}, s.what))));
    byId('warn-box').hidden = j.warning_list.length === 0;
    byId('warnings').replaceChildren(...j.warning_list.map((w) => el('li', {}, w.what)));
    byId('resubmit-box').hidden = j.state !== 'failed' && j.state !== 'unprintable';
  };
  byId('resubmit').addEventListener('click', async () => {
    const button = byId('resubmit');
    button.disabled = true;
    const reply = await fetch(`/api/jobs/${id}/resubmit`, {
      method: 'POST', credentials: 'same-origin', headers: {'X-CSRF-Token': csrf()}});
    const said = await reply.json().catch(() => ({}));
    setText('resubmit-said', reply.ok ? said.message : 'Not sent again: ' + (said.error || reply.statusText));
    if (!reply.ok) button.disabled = false;
    show();
  });
  show();
}

// Log.
function log() {
  let last = 0;
  const lines = byId('lines');
  const filter = () => {
    const text = byId('text').value.toLowerCase();
    for (const li of lines.children) {
      const wanted = byId('sev-' + li.dataset.severity).checked;
      li.hidden = !wanted || (text && !li.textContent.toLowerCase().includes(text));
    }
  };
  byId('logfilter').addEventListener('submit', (e) => e.preventDefault());
  byId('logfilter').addEventListener('input', filter);
  every(2000, async () => {
    if (!byId('live').checked && last > 0) return;
    const got = await getJson('/api/log?since=' + last);
    for (const line of got) {
      last = Math.max(last, line.seq);
      lines.prepend(el('li', {class: line.severity, 'data-severity': line.severity}, line.text));
    }
    while (lines.children.length > 1000) lines.lastElementChild.remove();
    filter();
  });
}

// Printers.
function printers() {
  every(10000, async () => {
    const list = await getJson('/api/printers');
    byId('noprinters').hidden = list.length > 0;
    fillBody('printers', list.map((p) => el('tr', {},
      el('td', {}, p.default ? 'default' : p.number), el('td', {}, p.name || '–'),
      el('td', {}, badge(p.known ? p.state : 'unknown')),
      el('td', {}, p.known ? badge(p.accepting ? 'yes' : 'no') : '–'),
      el('td', {}, p.host || '–'), el('td', {}, p.message || (p.known ? '' : 'the print system does not know it')))));
    byId('overlays').replaceChildren(...list.filter((p) => !p.default).map((p) => el('div', {class: 'overlay-list'},
      el('h3', {}, `${p.number}: ${p.name || '–'}`),
      p.overlays.length
        ? el('table', {}, el('thead', {}, el('tr', {}, el('th', {scope: 'col'}, 'Overlay'), el('th', {scope: 'col'}, 'Description'))),
            el('tbody', {}, ...p.overlays.map((o) => el('tr', {}, el('td', {}, o.number), el('td', {}, o.description)))))
        : el('p', {}, 'No overlay for this printer.'))));
  });
}

const pages = {overview, jobs, job, log, printers};
const page = pages[document.body.dataset.page];
if (page) page();
