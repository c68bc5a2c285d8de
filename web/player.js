// Hearing a song: sonvault-songs --wav renders it in the worker, as on the console, and a native
// audio element plays the file, with a stop and a download of it. One song at a time.

import { $ } from './state.js';
import { argument, splitName } from './files.js';
import { hasProgram, runTool } from './tool.js';
import { bytesText, decoder, explain } from './words.js';

const audio = $('audio');
let playing = null;  // { key, url, name }
let asked = 0;  // bumped by every play and stop: a render that is no longer wanted is dropped
let onChange = () => {};

const say = (text) => { $('listen-state').textContent = text; };

// The key a play control compares with the song playing: the file and the song number.
export const playKey = (file, number) => `${file.name}\u0000${file.size}\u0000${file.lastModified ?? ''}\u0000${number}`;

export const playingKey = () => (playing && !playing.ended ? playing.key : null);
export const canPlay = () => hasProgram('sonvault-songs');

function withdraw() {
  audio.pause();
  audio.removeAttribute('src');
  audio.load();
  if (playing) URL.revokeObjectURL(playing.url);
  playing = null;
  $('listen-download').hidden = true;
  $('listen-download').removeAttribute('href');
  $('listen-stop').hidden = true;
}

export function stop(said = 'Stopped.') {
  asked++;
  withdraw();
  say(said);
  onChange();
}

// Renders song number of file (a File or a Blob with a name), then plays it. label names it.
export async function play(file, name, number, label) {
  const mine = ++asked;
  withdraw();
  $('listen').hidden = false;
  const key = playKey(file, number);
  playing = { key, url: null, name: null, rendering: true };
  say(`Rendering ${label}…`);
  onChange();
  const [stem] = splitName(name);
  const wav = `${stem}-${number}.wav`;
  let result;
  try {
    result = await runTool('sonvault-songs', [{ path: name, blob: file }], [argument(name), '--wav', String(number)],
                           '\n', wav);
  } catch (error) {
    if (mine === asked) {
      playing = null;
      say(`${label} could not be rendered: ${error.message}`);
      onChange();
    }
    return;
  }
  if (mine !== asked) return;
  const transcript = decoder.decode(result.console);
  if (result.status !== 0 || !result.kept) {
    playing = null;
    const { said, last } = explain('sonvault-songs', transcript);
    say(`${label} could not be rendered: ${said[0] || `“${last}”`}`);
    onChange();
    return;
  }
  const url = URL.createObjectURL(new Blob([result.kept], { type: 'audio/wav' }));
  playing = { key, url, name: wav };
  audio.src = url;
  const download = $('listen-download');
  download.href = url;
  download.download = wav;
  download.textContent = `Download ${wav} (${bytesText(result.kept.length)})`;
  download.hidden = false;
  $('listen-stop').hidden = false;
  // The console's line for the song: its length and whether it loops.
  const line = transcript.split('\n').find((each) => each.includes(wav)) || '';
  say(`Playing ${label}.${line ? ` ${line.trim()}` : ''}`);
  onChange();
  audio.play().catch((error) => {
    if (mine === asked) say(`${label} is ready, but the browser did not start it (${error.message}): press play below.`);
  });
}

export function initPlayer(changed) {
  onChange = changed;
  $('listen-stop').addEventListener('click', () => stop());
  // Played to the end: its control offers to play it again; the file stays to download.
  audio.addEventListener('ended', () => {
    if (playing) playing.ended = true;
    $('listen-stop').hidden = true;
    onChange();
  });
  audio.addEventListener('play', () => {
    if (!playing || !playing.ended) return;
    playing.ended = false;
    $('listen-stop').hidden = false;
    onChange();
  });
  // A link answers Enter only; it looks like a button, so it takes Space as well.
  $('listen-download').addEventListener('keydown', (event) => {
    if (event.key !== ' ') return;
    event.preventDefault();
    $('listen-download').click();
  });
}
