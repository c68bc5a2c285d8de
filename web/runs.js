// The runs a button starts: extract, insert and moving songs. The tool cannot wait for a click,
// so a run that asks is made twice: answered "n" first, which shows what it would do and stops
// at the question; proceeding runs it again from the same files, answered "y".

import { $, emit, state } from './state.js';
import { changedName, bankName, commandLine, movedName } from './files.js';
import { reading, targetListed } from './listing.js';
import { chosenMoves, moveArguments, moveNotes } from './moves.js';
import { ask, conclude, concludeFailed, offerDownload, offeredName, reset, showConsole, showStopped } from './outcome.js';
import { play } from './player.js';
import { hasProgram, runTool } from './tool.js';
import { decoder, plural, questionLine } from './words.js';

export async function guarded(work) {
  const mine = ++state.generation;
  state.busy = true;
  // A sign of progress only for runs long enough to wonder about.
  const progressTimer = setTimeout(() => { $('progress').hidden = false; }, 250);
  emit('busy');
  try {
    await work(() => mine === state.generation);
  } catch (error) {
    if (mine === state.generation) {
      if (error.stopped) showStopped(error.message);
      else conclude(`The run did not complete: ${error.message}`, 'error', null);
    }
  } finally {
    state.busy = false;
    clearTimeout(progressTimer);
    $('progress').hidden = true;
    emit('busy');
  }
}

// Starts a run; a result not yet downloaded is dropped only once the user says so.
export function start(what, run) {
  if (!state.unsaved) {
    const open = state.question;
    reset();
    if (open) {
      $('result').textContent = `The question before was closed, as you pressed ${what}: ` +
        'nothing was changed by it.';
      $('result').className = 'neutral';
    }
    run();
    return;
  }
  const name = offeredName();
  ask({ kind: 'drop', run }, {
    title: `Drop ${name} without downloading it?`,
    where: [`${what} makes a new result in its place; ${name} has not been downloaded.`],
  });
}

// The failed run's sentence, or a plainer one when the source has no bytes at all.
function concludeFailedFrom(chosenSource, result) {
  if (chosenSource.size > 0) concludeFailed(result);
  else conclude(`The file is empty: ${chosenSource.name} holds no bytes, so there is no music to ` +
                'copy. Choose another source. Nothing is offered for download.', 'error', result);
}

export function extract() {
  const chosen = state.source;
  return guarded(async (current) => {
    const { files, args } = await commandLine(chosen, null);
    // The closing key press.
    const result = await runTool('sonvault', files, args, '\n', 'output.tbnk');
    if (!current()) return;
    showConsole(result);
    if (result.status !== 0 || !result.kept) {
      concludeFailedFrom(chosen, result);
      return;
    }
    const name = bankName(chosen.name);
    offerDownload(result.kept, name);
    conclude(`The sound bank is ready: ${name}, ${result.kept.length.toLocaleString('en')} bytes. It holds the ` +
             'music and sound effects of the source; choose it as the source, with a game as ' +
             'the target, to add them to that game.', 'ok', result);
  });
}

// A target whose song list cannot be found is no game the music can be pointed at: the insert is
// refused before it runs.
function noSongList() {
  const songs = state.targetSongs;
  return songs?.state === 'failed' && (songs.empty || songs.last === 'Could not locate audio data');
}

export function insert() {
  const chosenSource = state.source;
  const chosenTarget = state.target;
  return guarded(async (current) => {
    if (hasProgram('sonvault-songs') && reading()) await targetListed();
    if (!current()) return;
    if (noSongList()) {
      conclude(`Not inserted: ${chosenTarget.name} has no song list, so it is not a game whose music ` +
               'can be changed. Choose a game as the target, or remove the target to make a sound ' +
               'bank. Nothing was run, and nothing is offered for download.', 'error', null);
      return;
    }
    const { files, args } = await commandLine(chosenSource, chosenTarget);
    if (!current()) return;
    const declined = await runTool('sonvault', files, args, 'n\n\n', null);
    if (!current()) return;
    // The first key the tool waited for is the answer, right after the question. A run that
    // failed, or ended without asking, stopped before it.
    const asked = decoder.decode(declined.console.subarray(0, declined.firstRead));
    if (declined.status !== 0 || !asked.endsWith(questionLine)) {
      showConsole(declined);
      concludeFailedFrom(chosenSource, declined);
      return;
    }
    $('console').textContent = asked;
    ask({ kind: 'insert', files, args, targetName: chosenTarget.name, declined }, {
      title: `Insert all the music of ${chosenSource.name} into a copy of ${chosenTarget.name}?`,
      where: asked.split('\n').filter((line) => line.startsWith('Inserting')),
    });
  });
}

export function answerInsert(asked, proceed) {
  if (!proceed) {
    showConsole(asked.declined);
    conclude('Cancelled: nothing was added, and there is nothing to download. Your files are ' +
             'as they were.', 'neutral', asked.declined);
    return;
  }
  guarded(async (current) => {
    const accepted = await runTool('sonvault', asked.files, asked.args, 'y\n\n', asked.targetName);
    if (!current()) return;
    showConsole(accepted);
    if (accepted.status !== 0 || !accepted.kept) {
      concludeFailed(accepted);
      return;
    }
    const text = decoder.decode(accepted.console);
    const address = (/^Inserting audio data at: (0x[0-9A-Fa-f]+)$/m.exec(text) || [])[1];
    const name = asked.targetName;
    offerDownload(accepted.kept, changedName(name, false));
    state.inserted = { bytes: accepted.kept, name, address };
    const canPoint = Boolean(address) && hasProgram('sonvault-point');
    $('point').hidden = !canPoint;
    conclude(`The music was added to a copy of ${name}, its song list at ${address}. The game ` +
             'still plays its own music until it is pointed at that address. ' +
             `Your ${name} is unchanged; the copy is the download.`, 'ok', accepted);
  });
}

// As the insert: the first run shows the moves and the bytes to append and stops at the question.
export function moveSongs() {
  const chosenSource = state.source;
  const chosenTarget = state.target;
  const chosen = chosenMoves();
  const args = moveArguments();
  const notes = chosen.filter((move) => moveNotes(move).length > 0).map(({ song }) => song);
  guarded(async (current) => {
    const line = await commandLine(chosenSource, chosenTarget);
    if (!current()) return;
    line.args.push(...args);
    const declined = await runTool('sonvault-songs', line.files, line.args, 'n\n\n', null);
    if (!current()) return;
    const asked = decoder.decode(declined.console.subarray(0, Math.max(declined.firstRead, 0)));
    if (declined.status !== 0 || !asked.endsWith(questionLine)) {
      showConsole(declined);
      concludeFailed(declined, 'sonvault-songs');
      return;
    }
    // Moves changed while the first run ran: its question would be about the old ones.
    if (moveArguments().join(' ') !== args.join(' ')) {
      conclude('The moves changed while the tool read them, so nothing is asked: press Move again.', 'neutral', null);
      return;
    }
    $('console').textContent = asked;
    const lines = asked.split('\n');
    ask({ kind: 'move', files: line.files, args: line.args, targetName: chosenTarget.name, declined, notes }, {
      title: `Move ${plural(chosen.length, 'song', 'songs')} into a copy of ${chosenTarget.name}?`,
      where: lines.filter((each) => each.startsWith('Appending ') || each.startsWith('New song list at: ')),
      warning: notes.length === 0 ? ''
        : `The list of moves has a note on ${notes.length === 1 ? `song ${notes[0]}` : `songs ${notes.join(', ')}`}: read it before you proceed.`,
    });
  });
}

export function answerMove(asked, proceed) {
  if (!proceed) {
    showConsole(asked.declined);
    conclude('Cancelled: no song was moved, and there is nothing to download. Your files are ' +
             'as they were.', 'neutral', asked.declined);
    return;
  }
  guarded(async (current) => {
    const accepted = await runTool('sonvault-songs', asked.files, asked.args, 'y\n\n', asked.targetName);
    if (!current()) return;
    showConsole(accepted);
    if (accepted.status !== 0 || !accepted.kept) {
      concludeFailed(accepted, 'sonvault-songs');
      return;
    }
    const text = decoder.decode(accepted.console);
    const said = [];
    const places = [];
    for (const [, song, how, place] of text.matchAll(/^ {2}song (\d+) \(.*\) (replaces|is added as) song (\d+), /gm)) {
      said.push(how === 'replaces' ? `song ${song} replaced song ${place}` : `song ${song} was added as song ${place}`);
      places.push([song, Number(place)]);
    }
    const list = /^New song list at: (0x[0-9A-F]{8}) \((\d+) songs\)/m.exec(text);
    const name = asked.targetName;
    const copyName = movedName(name, Boolean(list));
    offerDownload(accepted.kept, copyName);
    offerMovedSongs(accepted.kept, copyName, places);
    const sentence = said.join(', ');
    const pointed = list ? ` The copy plays its new song list at ${list[1]}, of ${list[2]} songs.` : '';
    const unchanged = `Your ${name} is unchanged; the copy is the download.`;
    if (asked.notes.length === 0) {
      conclude(`The songs were moved into a copy of ${name}: ${sentence}.${pointed} ${unchanged}`, 'ok', accepted);
    } else {
      conclude(`Moved as you chose, despite the notes in the list of moves: ${sentence} in a copy of ` +
               `${name}.${pointed} ${unchanged}`, 'neutral', accepted);
    }
  });
}

// Each moved song, playable from the copy before it is downloaded.
function offerMovedSongs(bytes, name, places) {
  const copy = new File([bytes], name);
  $('moved-list').replaceChildren(...places.map(([song, place]) => {
    const item = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = `Play song ${place} of the copy`;
    button.setAttribute('aria-describedby', 'moved-heading');
    button.addEventListener('click', () => play(copy, name, place, `song ${place} of ${name} (song ${song} of the source)`));
    item.append(button);
    return item;
  }));
  $('moved-songs').hidden = places.length === 0 || !hasProgram('sonvault-songs');
}
