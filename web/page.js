// The page: wires the modules to its controls and keeps what it shows in step with the state.

import { $, movable, on, state } from './state.js';
import { initFiles } from './files.js';
import { listSongs } from './listing.js';
import { clearMoves, movesReady, renderMoves } from './moves.js';
import { closeQuestion, closeStale, reset } from './outcome.js';
import { initPlace } from './place.js';
import { initPlayer, stop } from './player.js';
import { answerPoint, point } from './point.js';
import { answerInsert, answerMove, extract, insert, moveSongs, start } from './runs.js';
import { refreshSongs, renderSongs } from './songs.js';
import { startTool, tool } from './tool.js';
import { bytesText } from './words.js';

const describe = (file) => `${file.name} (${bytesText(file.size)})`;

function refresh() {
  const { source, target, busy, question } = state;
  const run = $('run');
  run.textContent = target ? 'Insert' : 'Extract';
  run.disabled = !tool.ready || busy || !source;
  $('run-says').textContent = target
    ? 'Insert appends all the music of the source to a copy of the target; pointed at it, the ' +
      'game plays the source\'s music for every sound, sound effects included.'
    : 'Extract copies all the music and sound effects of the source into a sound bank file.';
  $('move-action').hidden = !movable();
  $('move').disabled = !tool.ready || busy || !movesReady();
  for (const id of ['proceed', 'cancel', 'point']) $(id).disabled = busy;
  $('source-name').textContent = source ? describe(source) : 'None chosen: choose one or drop it here.';
  $('target-name').textContent = target ? describe(target) : 'None: extract mode, the result is a sound bank file.';
  $('target-clear').hidden = !target;
  $('swap').hidden = !(source && target);
  const says = $('state');
  if (tool.unavailable) says.textContent = 'The tool is not available.';
  else if (busy) says.textContent = 'Running…';
  else if (!tool.ready) says.textContent = 'Loading the tool…';
  else if (!source) says.textContent = 'Choose a source image.';
  else if (question) says.textContent = 'The tool is waiting for your answer.';
  else says.textContent = target ? 'Ready to insert.' : 'Ready to extract.';
}

function choose(source, target, note = '') {
  const asked = Boolean(state.question);
  state.source = source;
  state.target = target;
  $('files-note').textContent = note;
  reset();
  stop('');
  clearMoves();
  listSongs();
  if (asked) {
    $('result').textContent = 'The question was closed, as the files changed after it was asked: nothing was changed.';
    $('result').className = 'neutral';
  }
  refresh();
}

function answer(proceed) {
  const asked = state.question;
  if (!asked || state.busy) return;
  closeQuestion();
  if (asked.kind === 'point') answerPoint(asked, proceed);
  else if (asked.kind === 'move') answerMove(asked, proceed);
  else if (asked.kind === 'insert') answerInsert(asked, proceed);
  else if (asked.kind === 'drop' && proceed) {
    reset();
    asked.run();
  }
  refresh();
}

on('songs', () => { renderSongs(true); renderMoves(); refresh(); });
on('moves', () => {
  // The question about moving no longer says what Proceed would do.
  if (state.question?.kind === 'move') closeStale('the moves changed');
  renderMoves();
  refreshSongs();
  refresh();
});
on('busy', refresh);

tool.onReady = refresh;
tool.onUnavailable = (message) => {
  $('result').textContent = message;
  $('result').className = 'error';
  refresh();
};
// A run that was waiting ends with an error of its own; an open question closes, though the
// inserted copy waiting to be pointed stays offered.
tool.onStopped = (message, hadRuns) => {
  if (!hadRuns && state.question) {
    if (state.question.kind === 'point') {
      closeQuestion();
      $('point').hidden = false;
    } else {
      reset();
    }
    $('result').textContent = 'The tool stopped before the end, most likely because the browser ' +
      'ran out of memory. It has been restarted: run it again, or close other tabs first.';
    $('result').className = 'error';
    $('status').textContent = `The run did not complete: ${message}`;
    $('result').focus();
  }
  refresh();
};

$('run').addEventListener('click', () => {
  if (!state.source || state.busy || !tool.ready) return;
  const target = Boolean(state.target);
  start(target ? 'Insert' : 'Extract', target ? insert : extract);
  refresh();
});
$('move').addEventListener('click', () => {
  if (state.busy || !movesReady()) return;
  start('Move', moveSongs);
  refresh();
});
$('proceed').addEventListener('click', () => answer(true));
$('cancel').addEventListener('click', () => answer(false));
$('point').addEventListener('click', point);
document.addEventListener('keydown', (event) => {
  if (!state.question || event.ctrlKey || event.metaKey || event.altKey) return;
  // Letters typed into a field are the field's.
  if (event.target instanceof HTMLInputElement || event.target instanceof HTMLSelectElement) return;
  const key = event.key.toLowerCase();
  if (key !== 'y' && key !== 'n' && key !== 'escape') return;
  event.preventDefault();
  answer(key === 'y');
});
$('download').addEventListener('click', () => { state.unsaved = false; });
// A link answers Enter only; it looks like a button, so it takes Space as well.
$('download').addEventListener('keydown', (event) => {
  if (event.key !== ' ') return;
  event.preventDefault();
  $('download').click();
});
// A reload or Back would drop the result: the browser asks first.
window.addEventListener('beforeunload', (event) => {
  if (!state.unsaved) return;
  event.preventDefault();
  event.returnValue = '';
});

initFiles(choose, () => state);
initPlace();
initPlayer(refreshSongs);
startTool();
refresh();
