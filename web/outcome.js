// What a run leaves on the page: the question it asks, the plain line above the console with
// the exit status in small print, the console, and the file offered for download.

import { $, state } from './state.js';
import { bytesText, decoder, explain } from './words.js';

let downloadUrl = null;

export function withdrawDownload() {
  if (downloadUrl) URL.revokeObjectURL(downloadUrl);
  downloadUrl = null;
  $('download').removeAttribute('href');
  $('download').hidden = true;
  $('moved-songs').hidden = true;
  $('moved-list').replaceChildren();
  state.unsaved = false;
}

export function offerDownload(bytes, name) {
  withdrawDownload();
  downloadUrl = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const download = $('download');
  download.href = downloadUrl;
  download.download = name;
  download.textContent = `Download ${name} (${bytesText(bytes.length)})`;
  download.hidden = false;
  state.unsaved = true;
}

export const offeredName = () => $('download').download;

// The plain line above the console at the end of a run, with the exit status and time in small
// print; focus goes to it.
export function conclude(line, tone, result) {
  const said = $('result');
  said.textContent = line;
  said.className = tone;
  const ms = result ? Math.round(result.milliseconds) : 0;
  $('status').textContent = result
    ? `Exit status ${result.status}, ran for ${ms < 1000 ? `${ms} ms` : `${(ms / 1000).toFixed(2)} s`}.` : '';
  said.focus();
}

export function concludeFailed(result, program = 'sonvault', after = 'Nothing is offered for download.') {
  const { said, last } = explain(program, decoder.decode(result.console));
  if (said.length === 0) said.push(`The run ended with an error: “${last}”.`);
  conclude(`${said.join(' ')} ${after}`, 'error', result);
}

export function showStopped(message) {
  $('result').textContent = 'The tool stopped before the end, most likely because the browser ' +
    'ran out of memory. It has been restarted: run it again, or close other tabs first.';
  $('result').className = 'error';
  $('status').textContent = `The run did not complete: ${message}`;
  $('result').focus();
}

export function showConsole(result) {
  $('console').textContent = decoder.decode(result.console);
}

export function showPointConsole(text) {
  $('point-console').textContent = text;
  $('point-console').hidden = false;
  $('point-heading').hidden = false;
}

// Leaves the page as it is before any run: no transcript, no question, nothing to download.
export function reset() {
  state.generation++;
  withdrawDownload();
  closeQuestion();
  state.inserted = null;
  $('point').hidden = true;
  $('console').textContent = '';
  $('point-console').textContent = '';
  $('point-console').hidden = true;
  $('point-heading').hidden = true;
  $('result').textContent = '';
  $('result').className = '';
  $('status').textContent = '';
}

// A question, asked on the page: its title says what will happen, each line of where is a
// console line; focus goes to it, y and n answer it.
export function ask(question, { title, where = [], warning = '' }) {
  state.question = question;
  $('question-title').textContent = title;
  $('question-where').textContent = where.join('\n');
  $('question-where').hidden = where.length === 0;
  $('question-warning').textContent = warning;
  $('question-warning').hidden = !warning;
  $('question').setAttribute('aria-describedby',
                             `${warning ? 'question-warning ' : ''}${where.length ? 'question-where ' : ''}question-keys`);
  $('question').hidden = false;
  $('question').focus();
}

export function closeQuestion() {
  state.question = null;
  $('question').hidden = true;
}

// An open question whose grounds changed is closed, and the result line says why.
export function closeStale(why) {
  if (!state.question) return;
  closeQuestion();
  conclude(`The question was closed, as ${why} after it was asked: nothing was changed. ` +
           'Press the button again to be asked about what is chosen now.', 'neutral', null);
}
