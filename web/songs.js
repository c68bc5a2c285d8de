// The songs of the source and of the target, each as a grid with a play control per song; the
// focused source song is the one the place field places.

import { $, movable, state } from './state.js';
import { SongGrid } from './grid.js';
import { moves } from './moves.js';
import { focusPlace, offerPlace, placeSong } from './place.js';
import { play, playKey, playingKey, stop } from './player.js';
import { bytesText, lengthText, plural } from './words.js';

function playCell(which) {
  return (song) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.tabIndex = -1;
    button.className = 'play';
    const file = state[which];
    const on = file && playingKey() === playKey(file, song.number);
    button.textContent = on ? 'Stop' : 'Play';
    button.setAttribute('aria-label', `${on ? 'Stop' : 'Play'} song ${song.number}`);
    return button;
  };
}

const notes = (song) => {
  const said = [];
  if (song.empty) said.push('empty');
  if (song.sharesWith !== null) said.push(`same header as song ${song.sharesWith}`);
  if (song.bytes === null) said.push(`cannot be moved: ${song.error}`);
  return said.join('; ');
};

function columns(which) {
  const list = [
    { label: 'Song', sort: 'number', cell: (song) => String(song.number) },
    { label: 'Play', action: 'play', cell: playCell(which) },
    { label: 'Player', cell: (song) => String(song.player) },
    { label: 'Tracks', sort: 'tracks', cell: (song) => String(song.tracks) },
    { label: 'Length', sort: 'length', cell: (song) => lengthText(song) },
    { label: 'Size (bytes)', sort: 'bytes', cell: (song) => (song.bytes === null ? '–' : song.bytes.toLocaleString('en')) },
    { label: 'Notes', cell: notes },
  ];
  if (which === 'source') {
    list.push({ label: 'Place', cell: (song) => { const move = moves.get(song.number); return move ? `→ ${move.place}` : ''; } });
  } else {
    list.push({ label: 'Gets', cell: (song) => {
      const from = [...moves.entries()].filter(([, move]) => move.place === song.number).map(([number]) => number);
      return from.length ? `song ${from.join(', ')}` : '';
    } });
  }
  return list.map((column) => ({ ...column, cell: (song) => { const made = column.cell(song); return typeof made === 'string' ? document.createTextNode(made) : made; } }));
}

const sortWords = { number: ['song number', 'lowest', 'highest'], tracks: ['tracks', 'fewest', 'most'],
                    length: ['length', 'shortest', 'longest'], bytes: ['size', 'smallest', 'largest'] };

function makeGrid(which) {
  const file = () => state[which];
  const grid = new SongGrid({
    box: $(`${which}-box`),
    table: $(`${which}-table`),
    columns: columns(which),
    prefix: which,
    onMove: (song) => { if (which === 'source' && movable()) placeSong(song); },
    onEnter: (song, column) => {
      if (column.action === 'play') {
        if (playingKey() === playKey(file(), song.number)) stop();
        else play(file(), file().name, song.number, `song ${song.number} of ${file().name}`);
        return;
      }
      if (!movable()) return;
      if (which === 'source') {
        placeSong(song);
        focusPlace();
      } else {
        offerPlace(song.number);
      }
    },
    onSort: (key, direction) => {
      const [what, up, down] = sortWords[key];
      $(`${which}-sorted`).textContent = `Sorted by ${what}, ${direction === 'ascending' ? up : down} first.`;
    },
  });
  // Header cells: the label, as a button for a mouse where the column sorts.
  for (const [index, column] of grid.columns.entries()) {
    const cell = grid.head.cells[index];
    cell.replaceChildren();
    if (!column.sort) cell.append(column.label);
    else {
      const button = document.createElement('button');
      button.type = 'button';
      button.tabIndex = -1;
      button.textContent = column.label;
      cell.append(button);
    }
  }
  return grid;
}

let grids = null;

// The players and their track counts, or why there are none.
function playersText(table, opening) {
  if (!table.players) {
    return table.playersNote.startsWith('none') ? 'Players: none, as a sound bank holds no player table.'
      : 'Players: no player table was found.';
  }
  return `${opening} ${plural(table.players.length, 'player', 'players')}: ` +
    table.players.map((player) => `player ${player.number} plays ${plural(player.tracks, 'track', 'tracks')}`).join(', ') + '.';
}

function summary(table) {
  return `${plural(table.count, 'song', 'songs')}, the song list at ${table.list}. ` +
    table.total.replace(/^Total: [^;]*; m/, 'M').replace(/\d+ bytes$/, (bytes) => bytesText(parseInt(bytes, 10))) + '.';
}

function renderList(which, songs, file) {
  const ok = songs?.state === 'ok';
  $(`${which}-box`).hidden = !ok;
  $(`${which}-after`).hidden = !ok;
  if (!songs) return;
  const stateLine = $(`${which}-songs-state`);
  if (songs.state === 'reading') stateLine.textContent = 'Reading the song list…';
  else if (!ok) stateLine.textContent = `No songs to show: ${songs.message}`;
  else stateLine.textContent = summary(songs.table);
  $(`${which}-players`).textContent = ok ? playersText(songs.table, 'It has') : '';
  if (ok) {
    $(`${which}-caption`).textContent = `The songs of ${file.name}`;
    const grid = grids[which];
    if (grid.shown !== songs) {
      grid.reset();
      $(`${which}-sorted`).textContent = '';
    }
    grid.shown = songs;
    grid.show(songs.table.songs);
  }
}

export function renderSongs(listsChanged) {
  grids ||= { source: makeGrid('source'), target: makeGrid('target') };
  const { sourceSongs, targetSongs, source, target } = state;
  $('songs').hidden = !sourceSongs && !targetSongs;
  $('songs').dataset.state = [sourceSongs, targetSongs].some((songs) => songs?.state === 'reading') ? 'reading' : 'done';
  $('source-songs').hidden = !sourceSongs;
  $('target-songs').hidden = !targetSongs;
  if (sourceSongs) $('songs-heading').textContent = `Songs of ${source.name}`;
  if (targetSongs) $('target-heading').textContent = `Songs of ${target.name}, the target`;
  $('songs-console').textContent = sourceSongs?.transcript || '';
  if (listsChanged) {
    renderList('source', sourceSongs, source);
    renderList('target', targetSongs, target);
  }
  const targetFailed = sourceSongs?.state === 'ok' && targetSongs?.state === 'failed';
  $('songs-hint').hidden = !movable() && !targetFailed;
  $('songs-hint').textContent = targetFailed
    ? `No song can be moved into ${target.name}: ${targetSongs.empty ? 'the file is empty.'
      : targetSongs.last === 'Could not locate audio data' ? 'no song list was found in it.' : targetSongs.message}`
    : 'To move a song, go to its row and press Enter (or click it), then type its place in the ' +
      'target: a song number it replaces, or new; Enter on a row of the target\'s songs puts ' +
      'that number in. Digits typed in a table jump to that song.';
  if (!movable()) placeSong(null);
  else if (listsChanged) placeSong(grids.source.focusedSong());
}

// Redraws the cells that show moves and what plays, without reading anything again.
export function refreshSongs() {
  if (!grids) return;
  if (state.sourceSongs?.state === 'ok') grids.source.refresh();
  if (state.targetSongs?.state === 'ok') grids.target.refresh();
}
