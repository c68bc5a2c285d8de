// The place of one source song in the target: a single field (the WAI-ARIA combobox pattern)
// that takes a target song number or "new", lists the places that match what is typed, and says
// what is there; a choice of player; and the button that makes it a move.

import { $, emit, state } from './state.js';
import { describePlayer, moves, proposal } from './moves.js';
import { lengthText, plural } from './words.js';

const shownOptions = 8;
let song = null;  // the source song being placed
let options = [];
let active = -1;

const input = $('place');
const list = $('place-options');
const player = $('place-player');

function about(target) {
  const length = lengthText(target);
  return `player ${target.player}, ${plural(target.tracks, 'track', 'tracks')}${length ? `, ${length}` : ''}` +
         `${target.empty ? ', empty' : ''}`;
}

// What the typed text names: 'new', a target song number, or null.
function parsePlace(text) {
  const typed = text.trim().toLowerCase();
  if (typed === 'new') return 'new';
  if (!/^\d+$/.test(typed)) return null;
  const number = Number(typed);
  return number < state.targetSongs.table.count ? number : null;
}

function optionText(place) {
  const { table } = state.targetSongs;
  if (place === 'new') return `new: added after the target's last song, as ${table.count} or later`;
  return `${place}: replaces ${about(table.songs[place])}`;
}

function drawOptions() {
  const typed = input.value.trim().toLowerCase();
  const { count } = state.targetSongs.table;
  options = [];
  if ('new'.startsWith(typed) || typed === '') options.push('new');
  if (/^\d+$/.test(typed)) {
    if (Number(typed) < count) options.push(Number(typed));
    // Then the numbers that begin with what is typed, nearest first.
    for (let scale = 10; options.length < shownOptions && Number(typed) * scale < count; scale *= 10) {
      for (let k = Number(typed) * scale; k < Math.min(count, (Number(typed) + 1) * scale) && options.length < shownOptions; k++) {
        if (k !== Number(typed)) options.push(k);
      }
    }
  } else if (typed === '') {
    for (let k = 0; k < Math.min(count, shownOptions - 1); k++) options.push(k);
  }
  active = Math.min(active, options.length - 1);
  list.replaceChildren(...options.map((place, index) => {
    const item = document.createElement('li');
    item.setAttribute('role', 'option');
    item.id = `place-option-${index}`;
    item.textContent = optionText(place);
    if (index === active) item.setAttribute('aria-selected', 'true');
    item.addEventListener('mousedown', (event) => {
      event.preventDefault();
      choose(place);
    });
    return item;
  }));
  if (active >= 0) input.setAttribute('aria-activedescendant', `place-option-${active}`);
  else input.removeAttribute('aria-activedescendant');
}

function open(expanded) {
  list.hidden = !expanded || options.length === 0;
  input.setAttribute('aria-expanded', String(!list.hidden));
}

// The line under the field: what is at the typed place, or why nothing is.
function drawShows() {
  const place = parsePlace(input.value);
  const { table } = state.targetSongs;
  const shows = $('place-shows');
  if (input.value.trim() === '') shows.textContent = 'Type a song number of the target to replace, or new to add it.';
  else if (place === 'new') shows.textContent = `It is added after the target's last song (${table.count - 1}).`;
  else if (place === null) {
    shows.textContent = `The target has no song ${input.value.trim()}: its songs are 0 to ${table.count - 1}, or type new.`;
  } else shows.textContent = `Song ${place} of ${state.target.name} is there: ${about(table.songs[place])}. It will be replaced.`;
  drawPlayers(place);
  $('place-add').disabled = place === null || !song || song.bytes === null;
}

// The target's players, the proposed one chosen unless the user chose another.
function drawPlayers(place) {
  const { players } = state.targetSongs.table;
  $('place-player-line').hidden = !players || players.length === 0 || place === null;
  if ($('place-player-line').hidden || !song) {
    $('place-proposal').textContent = '';
    return;
  }
  const proposed = proposal(song, place);
  const existing = moves.get(song.number);
  const chosen = existing && existing.place === place && existing.player !== null ? existing.player : proposed.player;
  player.replaceChildren(...players.map((each) => new Option(describePlayer(each.number), String(each.number))));
  player.value = String(chosen);
  $('place-proposal').textContent = proposed.missing
    ? `The target has no player ${proposed.wanted}: player ${proposed.player} is proposed, ` +
      `${proposed.big ? `the smallest that holds its ${plural(song.tracks, 'track', 'tracks')}` : 'the biggest it has, and still too small'}.`
    : '';
}

function choose(place) {
  input.value = String(place);
  active = -1;
  open(false);
  drawShows();
}

// Makes the typed place a move of the song; false when it names no place.
function commit() {
  const place = parsePlace(input.value);
  if (place === null || !song || song.bytes === null) return false;
  const proposed = proposal(song, place);
  const picked = $('place-player-line').hidden ? null : Number(player.value);
  moves.set(song.number, { place, player: proposed && picked !== proposed.player ? picked : null });
  emit('moves', { placed: song.number });
  return true;
}

// The source song whose place the field shows.
export function placeSong(next) {
  song = next;
  const panel = $('place-panel');
  panel.hidden = !song;
  if (!song) return;
  const length = lengthText(song);
  $('place-heading').textContent = `Song ${song.number} of ${state.source.name}`;
  $('place-song').textContent = song.bytes === null ? `It cannot be moved: ${song.error}.`
    : `Player ${song.player}, ${plural(song.tracks, 'track', 'tracks')}${length ? `, ${length}` : ''}.`;
  const existing = moves.get(song.number);
  input.value = existing ? String(existing.place) : '';
  active = -1;
  drawOptions();
  open(false);
  drawShows();
}

// A target song chosen in the target's grid: its number goes into the field.
export function offerPlace(number) {
  if (!song) return;
  input.value = String(number);
  active = -1;
  drawOptions();
  open(false);
  drawShows();
  input.focus();
}

export function focusPlace() {
  input.focus();
  input.select();
}

export function initPlace() {
  input.addEventListener('input', () => {
    active = -1;
    drawOptions();
    open(true);
    drawShows();
  });
  input.addEventListener('blur', () => open(false));
  input.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
      event.preventDefault();
      if (list.hidden) drawOptions();
      if (event.key === 'ArrowDown') active = active + 1 < options.length ? active + 1 : 0;
      else active = active > 0 ? active - 1 : options.length - 1;
      drawOptions();
      open(true);
    } else if (event.key === 'Enter') {
      event.preventDefault();
      if (!list.hidden && active >= 0) choose(options[active]);
      else if (commit()) open(false);
    } else if (event.key === 'Escape' && !list.hidden) {
      event.preventDefault();
      event.stopPropagation();
      open(false);
    }
  });
  player.addEventListener('change', () => {
    const existing = song && moves.get(song.number);
    if (existing && existing.place === parsePlace(input.value)) commit();
  });
  $('place-add').addEventListener('click', commit);
}
