// The upload page with script: files chosen or dropped on the page go up one after another in
// pieces, each piece a PATCH of a resumable upload, so that a dropped connection costs only a
// retry from where the server's bytes end. Without script the page's form posts the files.
'use strict';
(() => {
  const form = document.getElementById('upload-form');
  const list = document.getElementById('upload-list');
  if (!form || !list || !window.fetch || !window.XMLHttpRequest) return;
  const input = form.querySelector('input[type=file]');
  const note = document.getElementById('upload-limit');
  const base = form.dataset.resumable;
  const limit = Number(form.dataset.limit || 0);
  // A piece stays well within what a server holds of one request before it is whole.
  const PIECE = 16 * 1024 * 1024;
  const RETRIES = 8;
  const queue = [];
  let busy = false;

  form.querySelector('[type=submit]').hidden = true;
  note.textContent = (limit ? 'Files up to ' + size(limit) + ' are taken. ' : '') +
      'Choose files or drop them on this page: each goes up at once, with its progress below.';

  input.addEventListener('change', () => { add(input.files); input.value = ''; });
  form.addEventListener('submit', (e) => { e.preventDefault(); add(input.files); });
  const carriesFiles = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  for (const type of ['dragenter', 'dragover']) {
    document.addEventListener(type, (e) => {
      if (!carriesFiles(e)) return;
      e.preventDefault();
      document.body.classList.add('dropping');
    });
  }
  document.addEventListener('dragleave', (e) => {
    if (!e.relatedTarget) document.body.classList.remove('dropping');
  });
  document.addEventListener('drop', (e) => {
    document.body.classList.remove('dropping');
    if (!carriesFiles(e)) return;
    e.preventDefault();
    add(e.dataTransfer.files);
  });

  // A size as the server writes it: powers of 1000.
  function size(n) {
    if (n < 1000) return n + (n === 1 ? ' byte' : ' bytes');
    const units = ['kB', 'MB', 'GB', 'TB'];
    let i = 0;
    for (n /= 1000; n >= 1000 && i < units.length - 1; i++) n /= 1000;
    return (n < 10 ? n.toFixed(1) : Math.round(n)) + ' ' + units[i];
  }

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text) e.textContent = text;
    return e;
  }

  function add(files) {
    for (const file of files) {
      const row = element('li', 'upload');
      const job = {
        file, offset: 0, cancelled: false, xhr: null, url: null, samples: [],
        bar: element('progress'), state: element('span', 'upload-state', 'Waiting'),
        cancel: element('button', 'secondary', 'Cancel'),
      };
      job.bar.max = Math.max(file.size, 1);
      job.bar.value = 0;
      job.bar.setAttribute('aria-label', 'Progress of ' + file.name);
      job.cancel.type = 'button';
      job.cancel.addEventListener('click', () => stop(job));
      row.append(element('span', 'upload-name', file.name), job.bar, job.state, job.cancel);
      list.append(row);
      queue.push(job);
    }
    if (!busy) next();
  }

  async function next() {
    const job = queue.shift();
    if (!job) { busy = false; return; }
    busy = true;
    if (!job.cancelled) {
      try {
        await send(job);
      } catch (err) {
        if (!job.cancelled) finish(job, 'failed', err.message);
      }
    }
    next();
  }

  function stop(job) {
    if (job.cancelled || job.cancel.disabled) return;
    job.cancelled = true;
    if (job.xhr) job.xhr.abort();
    if (job.url) fetch(job.url, { method: 'DELETE', headers: { 'Tus-Resumable': '1.0.0' } });
    forget(job);
    finish(job, 'cancelled', 'Cancelled');
  }

  function finish(job, outcome, text) {
    job.state.textContent = text;
    job.state.parentNode.dataset.outcome = outcome;
    job.cancel.disabled = true;
    job.cancel.hidden = true;
  }

  // Where an upload of this very file was begun before, so that a page opened again goes on
  // with it.
  const key = (job) => 'vantry-upload ' + [job.file.name, job.file.size, job.file.lastModified].join(' ');
  const forget = (job) => { try { localStorage.removeItem(key(job)); } catch (e) { /* none kept */ } };

  async function send(job) {
    try { job.url = localStorage.getItem(key(job)); } catch (e) { job.url = null; }
    const held = job.url ? await offsetOf(job) : null;
    if (held === null || held === undefined) await create(job); else job.offset = held;
    job.started = performance.now();
    for (let tries = 0; job.offset < job.file.size && !job.cancelled;) {
      try {
        await patch(job);
        tries = 0;
      } catch (err) {
        if (job.cancelled || err.final || ++tries > RETRIES) throw err;
        const wait = Math.min(30, 2 ** (tries - 1));
        job.state.textContent = 'Connection lost: trying again in ' + wait + ' s';
        await new Promise((resolve) => setTimeout(resolve, wait * 1000));
        const offset = await offsetOf(job);
        if (offset === null) throw final('The server no longer has this upload.');
        // Still no answer: the next try waits longer.
        if (offset !== undefined) job.offset = offset;
      }
    }
  }

  function final(text) {
    const err = new Error(text);
    err.final = true;
    return err;
  }

  // The bytes the server holds of the upload; null when it has none, undefined when it could
  // not be asked.
  async function offsetOf(job) {
    try {
      const answer = await fetch(job.url, { method: 'HEAD', headers: { 'Tus-Resumable': '1.0.0' } });
      const offset = answer.headers.get('Upload-Offset');
      return answer.ok && offset !== null ? Number(offset) : null;
    } catch (e) {
      return undefined;
    }
  }

  async function create(job) {
    const name = new TextEncoder().encode(job.file.name);
    let binary = '';
    for (const byte of name) binary += String.fromCharCode(byte);
    const answer = await fetch(base, {
      method: 'POST',
      headers: {
        'Tus-Resumable': '1.0.0',
        'Upload-Length': String(job.file.size),
        'Upload-Metadata': 'filename ' + btoa(binary),
      },
    });
    if (answer.status === 413) throw final('Larger than this server takes' + (limit ? ' (' + size(limit) + ')' : ''));
    if (answer.status !== 201) throw final('The server refused it (' + answer.status + ')');
    job.url = answer.headers.get('Location');
    job.offset = 0;
    try { localStorage.setItem(key(job), job.url); } catch (e) { /* kept for this page only */ }
    if (job.file.size === 0) done(job, answer.headers.get('Upload-Stored-Name'));
  }

  // Sends the next piece; settles when the server has taken it, with the offset it holds.
  function patch(job) {
    return new Promise((resolve, reject) => {
      const xhr = new XMLHttpRequest();
      job.xhr = xhr;
      xhr.open('PATCH', job.url);
      xhr.setRequestHeader('Tus-Resumable', '1.0.0');
      xhr.setRequestHeader('Content-Type', 'application/offset+octet-stream');
      xhr.setRequestHeader('Upload-Offset', String(job.offset));
      xhr.upload.onprogress = (e) => progress(job, job.offset + e.loaded);
      xhr.onload = () => {
        const offset = Number(xhr.getResponseHeader('Upload-Offset'));
        if ((xhr.status === 204 || xhr.status === 409) && xhr.getResponseHeader('Upload-Offset') !== null) {
          job.offset = offset;
          progress(job, offset);
          if (offset === job.file.size) done(job, xhr.getResponseHeader('Upload-Stored-Name'));
          resolve();
        } else if (xhr.status === 404 || xhr.status === 413 || xhr.status === 403) {
          reject(final('The server refused it (' + xhr.status + ')'));
        } else {
          reject(new Error('The server answered ' + xhr.status));
        }
      };
      xhr.onerror = xhr.ontimeout = () => reject(new Error('The connection was lost'));
      xhr.onabort = () => reject(final('Cancelled'));
      xhr.send(job.file.slice(job.offset, Math.min(job.offset + PIECE, job.file.size)));
    });
  }

  function progress(job, sent) {
    job.bar.value = sent;
    const now = performance.now();
    job.samples.push([now, sent]);
    // The speed of the last few seconds.
    while (job.samples.length > 2 && now - job.samples[0][0] > 3000) job.samples.shift();
    const [t0, b0] = job.samples[0];
    const rate = now > t0 ? (sent - b0) * 1000 / (now - t0) : 0;
    job.state.textContent = size(sent) + ' of ' + size(job.file.size) +
        (rate > 0 ? ', ' + size(Math.round(rate)) + '/s' : '');
  }

  function done(job, storedName) {
    forget(job);
    job.bar.value = job.bar.max;
    const name = storedName ? decodeURIComponent(storedName) : job.file.name;
    // A speed says something only of a transfer that lasted.
    const seconds = job.started ? (performance.now() - job.started) / 1000 : 0;
    const rate = seconds >= 1 ? ', ' + size(Math.round(job.file.size / seconds)) + '/s' : '';
    finish(job, 'stored', 'Received ' + name + ', ' + size(job.file.size) + rate);
  }
})();
