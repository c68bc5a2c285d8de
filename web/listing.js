// sonvault-songs's listing of each chosen file, read as soon as the file is chosen, and read
// back into a table: the song list, the players and one row per song.

import { emit, state } from './state.js';
import { argument } from './files.js';
import { hasProgram, runTool } from './tool.js';
import { decoder, explain } from './words.js';

// A row: number, player, tracks, priority, then (in a listing with the Length column) a field of
// 10 characters: the time right-aligned in 5 (" 2:05", " long") and " loop" or 5 spaces, all
// spaces for a song without a length; then the header, the instruments, the bytes and the notes.
const rowEnd = '0x[0-9A-F]{8}  0x[0-9A-F]{8}   (\\d+|- \\((.*?)\\))((?:  empty)?)(?:  same header as song (\\d+))?$';
const rows = {
  withLength: new RegExp(`^ *(\\d+) +(\\d+) +(\\d+) +(\\d+)  (.{10})  ${rowEnd}`),
  without: new RegExp(`^ *(\\d+) +(\\d+) +(\\d+) +(\\d+)  ()${rowEnd}`),
};

// A time the page does not know reads as no length.
function parseLength(field) {
  const time = field.slice(0, 5).trim();
  const loops = field.slice(5) === ' loop';
  if (time === 'long') return { seconds: Infinity, loops };
  const clock = /^(\d+):(\d\d)$/.exec(time);
  return clock ? { seconds: Number(clock[1]) * 60 + Number(clock[2]), loops } : { seconds: null, loops: false };
}

export function parseListing(text) {
  const table = { list: null, count: 0, players: null, playersNote: '', songs: [], total: '', lengths: false };
  for (const line of text.split('\n')) {
    let match;
    if ((match = /^Song list at: (0x[0-9A-F]{8}) \((\d+) songs?\)$/.exec(line))) {
      table.list = match[1];
      table.count = Number(match[2]);
    } else if ((match = /^Players: \d+ \(table at (0x[0-9A-F]{8})\)$/.exec(line))) {
      table.players = [];
    } else if ((match = /^Players: (.*)$/.exec(line))) {
      table.playersNote = match[1];
    } else if ((match = /^ {2}player (\d+): (\d+) tracks?$/.exec(line)) && table.players) {
      table.players.push({ number: Number(match[1]), tracks: Number(match[2]) });
    } else if (/^ Song  Player  Tracks  Priority  Length /.test(line)) {
      table.lengths = true;
    } else if ((match = (table.lengths ? rows.withLength : rows.without).exec(line))) {
      table.songs.push({
        number: Number(match[1]),
        player: Number(match[2]),
        tracks: Number(match[3]),
        ...parseLength(match[5]),
        bytes: match[7] === undefined ? Number(match[6]) : null,
        error: match[7] ?? '',
        empty: match[8] !== '',
        sharesWith: match[9] === undefined ? null : Number(match[9]),
      });
    } else if (line.startsWith('Total: ')) {
      table.total = line;
    }
  }
  return table;
}

async function listOne(file) {
  const path = file.name;
  const result = await runTool('sonvault-songs', [{ path, blob: file }], [argument(path)], '\n', null, true);
  const transcript = decoder.decode(result.console);
  const table = parseListing(transcript);
  if (result.status !== 0 || !table.list) {
    const { said, last } = explain('sonvault-songs', transcript);
    const message = file.size === 0 ? 'The file is empty.' : said[0] || `“${last}”`;
    return { state: 'failed', transcript, message, empty: file.size === 0, last };
  }
  return { state: 'ok', table, transcript };
}

let listing = 0;
let targetRead = Promise.resolve();

// Runs sonvault-songs on the chosen files; 'songs' is announced as each list arrives.
export function listSongs() {
  const mine = ++listing;
  const { source, target } = state;
  state.sourceSongs = source && hasProgram('sonvault-songs') ? { state: 'reading' } : null;
  state.targetSongs = target && hasProgram('sonvault-songs') ? { state: 'reading' } : null;
  emit('songs');
  const read = (file, store) => listOne(file).then(store, (error) => store({
    state: 'failed', transcript: '', message: `The song list could not be read: ${error.message}`,
  }));
  if (state.sourceSongs) {
    read(source, (songs) => { if (mine === listing) { state.sourceSongs = songs; emit('songs'); } });
  }
  targetRead = state.targetSongs
    ? read(target, (songs) => { if (mine === listing) { state.targetSongs = songs; emit('songs'); } })
    : Promise.resolve();
}

// Settles once the target's list is read (or there is none to read).
export const targetListed = () => targetRead;

export const reading = () => [state.sourceSongs, state.targetSongs].some((songs) => songs?.state === 'reading');
