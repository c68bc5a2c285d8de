// The moves: which source song goes to which place of the target, played by which player; the
// command line they make, and what the page says about each before any run.

import { $, emit, movable, state } from './state.js';
import { lengthText, plural, trackWarning } from './words.js';

// Source song number -> { place: 'new' | target song number, player: chosen player or null }.
export const moves = new Map();

export function clearMoves() {
  moves.clear();
}

const sourceSong = (number) => state.sourceSongs.table.songs[number];
const targetSong = (number) => state.targetSongs.table.songs[number];
const targetPlayers = () => state.targetSongs.table.players;

// The player the console gives the song at place when none is named: a replaced song's, or the
// added song's own.
const consolePlayer = (song, place) => (place === 'new' ? song.player : targetSong(place).player);

// The player the page proposes: the console's, unless the target lacks it; then the target's
// smallest player that holds all the song's tracks, or its biggest when none does.
// { player, missing, big } or null when the target has no player table.
export function proposal(song, place) {
  const players = targetPlayers();
  if (!players || players.length === 0) return null;
  const wanted = consolePlayer(song, place);
  if (wanted < players.length) return { player: wanted, missing: false, big: true };
  const holding = players.filter((each) => each.tracks >= song.tracks);
  const pick = holding.length > 0
    ? holding.reduce((a, b) => (b.tracks < a.tracks ? b : a))
    : players.reduce((a, b) => (b.tracks > a.tracks ? b : a));
  return { player: pick.number, missing: true, big: holding.length > 0, wanted };
}

// The player a move plays on: the one chosen, else the proposal.
export function playerOf(number, move) {
  if (move.player !== null) return move.player;
  const proposed = proposal(sourceSong(number), move.place);
  return proposed ? proposed.player : consolePlayer(sourceSong(number), move.place);
}

// In source song order, each with the place an added song gets.
export function chosenMoves() {
  let next = state.targetSongs.table.count;
  return [...moves.entries()].sort(([a], [b]) => a - b).map(([song, move]) => ({
    song,
    ...move,
    player: playerOf(song, move),
    at: move.place === 'new' ? next++ : move.place,
  }));
}

// The console's move arguments: 3=5, 3=new, and :P where the player is not the console's own.
export function moveArguments() {
  return chosenMoves().map(({ song, place, player }) => {
    const named = targetPlayers() && player !== consolePlayer(sourceSong(song), place) ? `:${player}` : '';
    return `${song}=${place}${named}`;
  });
}

// Target places given two songs.
export function clashes() {
  const places = [...moves.values()].map(({ place }) => place).filter((place) => place !== 'new');
  return [...new Set(places.filter((place, index) => places.indexOf(place) !== index))];
}

// What the page says about a move before it runs: the proposal and the track warning.
export function moveNotes({ song, place, player }) {
  const moved = sourceSong(song);
  const players = targetPlayers();
  const notes = [];
  const proposed = proposal(moved, place);
  if (proposed?.missing && player === proposed.player && moves.get(song)?.player === null) {
    notes.push(`The target has no player ${proposed.wanted}, the source's player of song ${song}: ` +
               `player ${player} is proposed, ${proposed.big ? `the smallest that holds its ${plural(moved.tracks, 'track', 'tracks')}`
                 : 'the biggest it has'}.`);
  }
  if (players && player < players.length && moved.tracks > players[player].tracks) {
    const biggest = Math.max(...players.map((each) => each.tracks));
    notes.push(trackWarning(song, moved.tracks, player, players[player].tracks, biggest));
  }
  return notes;
}

export function describePlayer(player) {
  const players = state.targetSongs.table.players;
  return players && player < players.length
    ? `player ${player} (${plural(players[player].tracks, 'track', 'tracks')})` : `player ${player}`;
}

// The list of moves, each with its words and a Remove button.
export function renderMoves() {
  $('moves').hidden = !movable();
  if (!movable()) return;
  const chosen = chosenMoves();
  $('moves-none').hidden = chosen.length > 0;
  const items = chosen.map((move) => {
    const moved = sourceSong(move.song);
    const item = document.createElement('li');
    const where = move.place === 'new' ? `is added as song ${move.at}`
      : `replaces song ${move.place} of the target`;
    const length = lengthText(moved);
    const line = document.createElement('span');
    line.textContent = `Song ${move.song} (${plural(moved.tracks, 'track', 'tracks')}` +
      `${length ? `, ${length}` : ''}, ${plural(moved.bytes, 'byte', 'bytes')} alone) ${where}, ` +
      `played by ${describePlayer(move.player)}.`;
    item.append(line);
    for (const note of moveNotes(move)) {
      const said = document.createElement('span');
      said.className = 'warning';
      said.textContent = ` ${note}`;
      item.append(said);
    }
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.className = 'small-button';
    remove.textContent = 'Remove';
    remove.setAttribute('aria-label', `Remove the move of song ${move.song}`);
    remove.addEventListener('click', () => {
      moves.delete(move.song);
      emit('moves', { removed: move.song });
    });
    item.append(' ', remove);
    return item;
  });
  $('moves-list').replaceChildren(...items);
  const twice = clashes().map((place) => `Song ${place} of the target is given two songs: remove one.`);
  $('moves-warning').textContent = twice.join(' ');
  $('moves-warning').hidden = twice.length === 0;
}

export const movesReady = () => movable() && moves.size > 0 && clashes().length === 0;
