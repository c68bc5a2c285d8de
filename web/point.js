// The second program of the insert: sonvault-point replaces the game's references to its song
// list by the address the insert printed. The click is the answer to its question as long as the
// program says nothing unusual before it: a first run answered "n" shows what it says, and a
// warning turns into the page's question, so the user answers it.

import { $, state } from './state.js';
import { argument, changedName } from './files.js';
import { ask, conclude, concludeFailed, offerDownload, showPointConsole } from './outcome.js';
import { guarded } from './runs.js';
import { runTool } from './tool.js';
import { decoder, plainWarning, questionLine, usualPointLines } from './words.js';

export function point() {
  const from = state.inserted;
  if (!from || state.busy) return;
  $('point').hidden = true;
  guarded(async (current) => {
    const file = { path: from.name, blob: new Blob([from.bytes]) };
    const args = [argument(from.name), from.address];
    const declined = await runTool('sonvault-point', [file], args, 'n\n\n', null);
    if (!current()) return;
    const asked = decoder.decode(declined.console.subarray(0, Math.max(declined.firstRead, 0)));
    if (declined.status !== 0 || !asked.endsWith(questionLine)) {
      finishPoint(from, declined, []);
      return;
    }
    const lines = asked.split('\n').filter((line) => line !== '');
    const unusual = lines.filter((line) => !usualPointLines.some((usual) => usual.test(line)));
    if (unusual.length === 0) {
      const accepted = await runTool('sonvault-point', [file], args, 'y\n\n', from.name);
      if (current()) finishPoint(from, accepted, []);
      return;
    }
    showPointConsole(asked);
    ask({ kind: 'point', from, file, args, declined, unusual }, {
      title: `Point the copy of ${from.name} at the new music, despite the warning?`,
      where: lines.filter((line) => line.startsWith('New song list at')),
      warning: unusual.map(plainWarning).join(' '),
    });
  });
}

export function answerPoint(asked, proceed) {
  const { from } = asked;
  if (!proceed) {
    showPointConsole(decoder.decode(asked.declined.console));
    $('point').hidden = false;
    conclude(`Not pointed: the copy of ${from.name} with the music added still plays its own ` +
             `music, and it is still the download. Your ${from.name} is unchanged.`,
             'neutral', asked.declined);
    return;
  }
  guarded(async (current) => {
    const accepted = await runTool('sonvault-point', [asked.file], asked.args, 'y\n\n', from.name);
    if (current()) finishPoint(from, accepted, asked.unusual);
  });
}

// unusual: the lines the user was asked about; the result line never calls the run done over
// them.
function finishPoint(from, result, unusual) {
  const text = decoder.decode(result.console);
  showPointConsole(text);
  const finished = text.endsWith('Finished\n');
  if (result.status !== 0 || (finished && !result.kept)) {
    concludeFailed(result, 'sonvault-point',
                   'The copy with the music added, not pointed, is still the download.');
    return;
  }
  if (!finished) {
    conclude(`The copy of ${from.name} already plays from ${from.address}: nothing was ` +
             'changed, and the copy with the music added is still the download.', 'ok', result);
    return;
  }
  state.inserted = null;
  offerDownload(result.kept, changedName(from.name, true));
  const unchanged = `Your ${from.name} is unchanged; the pointed copy is the download.`;
  if (unusual.length === 0) {
    conclude(`Done: the copy of ${from.name} now plays the inserted music, from its song list at ` +
             `${from.address}. ${unchanged}`, 'ok', result);
  } else {
    conclude(`Pointed as you chose, despite the warning: the copy of ${from.name} now plays from ` +
             `the song list at ${from.address}. ${unusual.map(plainWarning).join(' ')} ${unchanged}`,
             'neutral', result);
  }
}
