'use strict';

(() => {
  // Written in at build time (web/site.cmake): the worker script and the table of programs, each
  // file named after a hash of its contents.
  const build = __SONVAULT_BUILD__;

  // Every file goes out now, while the page is still loading, so nothing is fetched after the
  // load event. Browsers refuse them on a file:// address.
  async function fetched(name, text) {
    const response = await fetch(name);
    if (!response.ok) throw new Error(`${name}: HTTP ${response.status}`);
    return text ? response.text() : response.arrayBuffer();
  }
  const loading = Promise.all([
    fetched(build.worker, true),
    Promise.all(build.programs.map((program) =>
      Promise.all([fetched(program.script, true), fetched(program.wasm, false)]))),
  ]);
  const notServed = 'The tool could not be started. Open this page through a web server ' +
                    '(for example python3 -m http.server in its folder), not as a local file.';

  const $ = (id) => document.getElementById(id);
  const ui = {
    sourceInput: $('source-input'),
    sourceChoose: $('source-choose'),
    sourceName: $('source-name'),
    sourceZone: $('source-zone'),
    targetInput: $('target-input'),
    targetChoose: $('target-choose'),
    targetName: $('target-name'),
    targetZone: $('target-zone'),
    targetClear: $('target-clear'),
    filesNote: $('files-note'),
    run: $('run'),
    swap: $('swap'),
    state: $('state'),
    progress: $('progress'),
    question: $('question'),
    questionWarning: $('question-warning'),
    questionWhere: $('question-where'),
    proceed: $('proceed'),
    cancel: $('cancel'),
    result: $('result'),
    point: $('point'),
    download: $('download'),
    status: $('status'),
    console: $('console'),
    pointHeading: $('point-heading'),
    pointConsole: $('point-console'),
    songs: $('songs'),
    songsHeading: $('songs-heading'),
    songsState: $('songs-state'),
    players: $('players'),
    songsHint: $('songs-hint'),
    songsBox: $('songs-box'),
    songsCaption: $('songs-caption'),
    songsRows: $('songs-rows'),
    songsSorted: $('songs-sorted'),
    placeHeading: $('place-heading'),
    moves: $('moves'),
    movesNone: $('moves-none'),
    movesList: $('moves-list'),
    movesWarning: $('moves-warning'),
    move: $('move'),
    songsConsole: $('songs-console'),
  };
  const decoder = new TextDecoder();
  const bytesText = (count) => `${count.toLocaleString('en')} bytes`;
  const questionLine = 'Are you sure you wish to proceed? (y/n)\n';

  // What sonvault-point prints before its question when nothing is amiss; any other line is
  // news for the user, who then answers the question.
  const usualPointLines = [
    /^Sonvault Point, Release /,
    /^Image File: /,
    /^Song list now at: 0x[0-9A-F]{8} \(\d+ songs?\)$/,
    /^New song list at: 0x[0-9A-F]{8} \(\d+ songs?\)$/,
    /^References to the song list: \d+$/,
    /^ {2}at 0x[0-9A-F]{8}: 0x[0-9A-F]{8} -> 0x[0-9A-F]{8}( \(inside the list\))?$/,
    /^Are you sure you wish to proceed\? \(y\/n\)$/,
  ];

  // What each error line of a program means, and what to do about it.
  const explanations = {
    sonvault: {
      'Error opening input file':
        'The source could not be read: choose it again.',
      'Could not locate audio data':
        'No music was found in the source: it is not a game with the usual sound engine, or the ' +
        'image is damaged. Choose another source.',
      'Error opening output file':
        'The result could not be written inside the browser: reload the page and try again.',
      'Error: output exceeds the 32 MiB cartridge space':
        'The result would not fit in a 32 MiB cartridge: choose a smaller target, or a source ' +
        'with less music.',
      'Error: too many distinct blocks (more than 1024)':
        'The source has more songs or instruments than the tool can copy (over 1024 of one ' +
        'kind), so its music cannot be moved.',
      'Error: track data runs past the end of the input file':
        'A song in the source is cut off by the end of the file: the image is incomplete or ' +
        'damaged. Try a complete copy of it.',
      'Error writing output file':
        'Writing the result failed, most likely because the browser ran out of memory: close ' +
        'other tabs and try again.',
      'Error: the target image could not be restored':
        'The copy of the target could not be put back as it was; it is not offered.',
    },
    'sonvault-point': {
      'Error opening image file': 'The copy could not be opened for pointing: insert again.',
      'Error reading image file': 'The copy could not be read for pointing: insert again.',
      'Could not locate audio data':
        'The game\'s own song list was not found, so the game cannot be pointed at the new one.',
      'Error: the address lies outside the image': 'The new song list lies outside the game.',
      'Error: the address is not a multiple of 4; the sound engine cannot read a song list there':
        'The new song list does not start on a multiple of 4, where the game cannot read it.',
      'Error: no song list there: its first entry is not a song':
        'What lies at the new address is not a song list.',
      'Error: no reference to the current song list found':
        'The game\'s code does not name its song list in a way this tool can change, so it ' +
        'cannot be pointed here.',
      'Error: too many references to the current song list (more than 1024)':
        'The game names its song list in more places than this tool can change (over 1024).',
      'Error writing image file':
        'Writing the pointed copy failed, most likely because the browser ran out of memory.',
      'Error: the image could not be restored': 'The pointed copy could not be put back as it was.',
    },
    'sonvault-songs': {
      'Error opening input file': 'The source could not be read: choose it again.',
      'Could not locate audio data':
        'No song list was found in the source: it is not a game with the usual sound engine, or ' +
        'the image is damaged.',
      'Could not locate audio data in the target':
        'No song list was found in the target, so no song can be moved into it.',
      'Error: output exceeds the 32 MiB cartridge space':
        'The result would not fit in a 32 MiB cartridge: move fewer songs, or choose a smaller target.',
      'Error: no reference to the target\'s song list found, so added songs cannot be reached':
        'The target\'s code does not name its song list in a way this tool can change, so songs ' +
        'cannot be added to it; replacing its songs still works.',
      'Error writing output file':
        'Writing the result failed, most likely because the browser ran out of memory: close ' +
        'other tabs and try again.',
      'Error: the target image could not be restored':
        'The copy of the target could not be put back as it was; it is not offered.',
    },
  };

  // sonvault-point's lines the user is asked about, in plain words.
  function plainWarning(line) {
    const fewer = /^Warning: the new list has (\d+) songs?, the current one (\d+): the game may start songs past its end$/.exec(line);
    if (!fewer) return `sonvault-point says: “${line}”`;
    const [, added, own] = fewer;
    return `The inserted music has ${added} song${added === '1' ? '' : 's'}, the game's own list ` +
           `${own}: where the game starts a song past the ${added === '1' ? 'first' : `first ${added}`}, ` +
           'it reads beyond the end of the new list and may play noise or stop working.';
  }

  // The track warning of sonvault-songs, in plain words.
  function plainTrackWarning(line) {
    const cut = /^Warning: song (\d+) has (\d+) tracks and player (\d+) plays (\d+): the game plays only the first \d+$/.exec(line);
    if (!cut) return `sonvault-songs says: “${line}”`;
    const [, song, tracks, player, plays] = cut;
    return `Song ${song} has ${tracks} tracks, but player ${player}, which plays it in the target, ` +
           `has ${plays}: the game will play only its first ${plays === '1' ? 'track' : `${plays} tracks`}, ` +
           'and the song may sound thin.';
  }

  let source = null;
  let target = null;
  let busy = false;
  // Bumped whenever the files change or a run starts; a result for an older one is dropped.
  let generation = 0;
  // The insert run waiting for an answer: its files, command line and the declined transcript.
  let question = null;
  // The last successful insert, for the pointing step.
  let inserted = null;
  let downloadUrl = null;
  // A result offered and not yet downloaded: leaving the page asks first.
  let unsaved = false;
  let progressTimer = null;
  // The song lists of the chosen files, as sonvault-songs prints them: { state: 'reading' | 'ok'
  // | 'failed', table, transcript, message }.
  let sourceSongs = null;
  let targetSongs = null;
  // Bumped whenever the files change; a song list for older files is dropped.
  let listing = 0;
  // Source song number -> its place in the target: 'new' or a target song number as text.
  const places = new Map();
  let songOrder = { key: 'number', direction: 'ascending' };

  // ---- the worker ----

  let workerUrl = null;
  let wasms = [];
  let worker = null;
  // Settles once the current worker has compiled every program, or could not; runs wait for it.
  let workerReady = null;
  let markFailed = () => {};
  let ready = false;
  let unavailable = false;
  let nextRunId = 1;
  // Settles once the first worker exists: a listing may be asked for before.
  let markStarted;
  let markNotStarted;
  const started = new Promise((resolve, reject) => { markStarted = resolve; markNotStarted = reject; });
  started.catch(() => {});
  const pendingRuns = new Map();

  function startWorker() {
    const current = new Worker(workerUrl);
    worker = current;
    let up = false;
    let markReady;
    workerReady = new Promise((resolve, reject) => {
      markReady = resolve;
      markFailed = reject;
    });
    workerReady.catch(() => {});
    current.onmessage = ({ data }) => {
      if (data.type === 'ready') {
        up = true;
        ready = true;
        markReady();
        refresh();
        return;
      }
      if (data.type === 'broken') {
        cannotStart(`The tool could not be started: ${data.message}`);
        return;
      }
      const pending = pendingRuns.get(data.id);
      if (!pending) return;
      if (data.type === 'crashed') {
        stopped(data.message);
        return;
      }
      pendingRuns.delete(data.id);
      pending.resolve(data);
    };
    current.onerror = (event) => {
      event.preventDefault();
      const message = event.message || 'unknown error';
      if (up) stopped(message);
      else cannotStart(`The tool could not be started: ${message}`);
    };
    current.postMessage({
      type: 'load',
      programs: build.programs.map(({ name, factory }, index) => ({ name, factory, bytes: wasms[index] })),
    });
  }

  // The tool failed while running or waiting (an instance that could not be created, memory
  // that ran out): every run in it ends, an open question closes, and a fresh worker takes over.
  function stopped(message) {
    worker.terminate();
    ready = false;
    const runs = [...pendingRuns.values()];
    pendingRuns.clear();
    startWorker();
    const error = new Error(message);
    error.stopped = true;
    for (const run of runs) run.reject(error);
    if (runs.length === 0 && question) {
      // The inserted copy waiting to be pointed stays offered.
      if (question.point) {
        closeQuestion();
        ui.point.hidden = false;
      } else {
        reset();
      }
      showStopped(message);
    }
    refresh();
  }

  function cannotStart(message) {
    unavailable = true;
    ready = false;
    if (worker) worker.terminate();
    markFailed(new Error(message));
    for (const pending of pendingRuns.values()) pending.reject(new Error(message));
    pendingRuns.clear();
    ui.result.textContent = message;
    ui.result.className = 'error';
    refresh();
  }

  // One run of a program: files laid into its working directory, argv[1..], the characters typed
  // at its console (then end of input), and the file to hand back when it succeeds.
  // A listing is a run the page starts on its own when files are chosen.
  async function runTool(program, files, args, input, keep, listing = false) {
    await started;
    await workerReady;
    const id = nextRunId++;
    return new Promise((resolve, reject) => {
      pendingRuns.set(id, { resolve, reject });
      worker.postMessage({ type: 'run', id, program, files, args, input, keep, listing });
    });
  }

  const hasProgram = (name) => build.programs.some((program) => program.name === name);

  // ---- what is on the page ----

  function describe(file) {
    return `${file.name} (${bytesText(file.size)})`;
  }

  function refresh() {
    ui.run.textContent = target ? 'Insert' : 'Extract';
    ui.run.disabled = !ready || busy || !source;
    ui.proceed.disabled = busy;
    ui.cancel.disabled = busy;
    ui.point.disabled = busy;
    refreshMoves();
    ui.sourceName.textContent = source ? describe(source) : 'None chosen: choose one or drop it here.';
    ui.targetName.textContent = target ? describe(target)
                                       : 'None: extract mode, the result is a sound bank file.';
    ui.targetClear.hidden = !target;
    ui.swap.hidden = !(source && target);
    if (unavailable) ui.state.textContent = 'The tool is not available.';
    else if (busy) ui.state.textContent = 'Running…';
    else if (!ready) ui.state.textContent = 'Loading the tool…';
    else if (!source) ui.state.textContent = 'Choose a source image.';
    else if (question) ui.state.textContent = 'The tool is waiting for your answer.';
    else ui.state.textContent = target ? 'Ready to insert.' : 'Ready to extract.';
  }

  function withdrawDownload() {
    if (downloadUrl) URL.revokeObjectURL(downloadUrl);
    downloadUrl = null;
    ui.download.removeAttribute('href');
    ui.download.hidden = true;
    unsaved = false;
  }

  function offerDownload(bytes, name) {
    withdrawDownload();
    downloadUrl = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    ui.download.href = downloadUrl;
    ui.download.download = name;
    ui.download.textContent = `Download ${name} (${bytesText(bytes.length)})`;
    ui.download.hidden = false;
    unsaved = true;
  }

  function splitName(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 ? [name.slice(0, dot), name.slice(dot)] : [name, ''];
  }

  // A bank is named after its source; a changed game can never be taken for the original.
  function bankName(sourceName) {
    const [stem, extension] = splitName(sourceName);
    return extension.toLowerCase() === '.tbnk' ? `${stem} (copy).tbnk` : `${stem}.tbnk`;
  }

  function movedName(targetName, added) {
    const [stem, extension] = splitName(targetName);
    return `${stem} (songs ${added ? 'added' : 'replaced'})${extension}`;
  }

  function changedName(targetName, pointed) {
    const [stem, extension] = splitName(targetName);
    return `${stem} (music added${pointed ? ', pointed' : ''})${extension}`;
  }

  // The plain line above the console at the end of a run, with the exit status and time in
  // small print; focus goes to it.
  function conclude(line, tone, result) {
    ui.result.textContent = line;
    ui.result.className = tone;
    const ms = result ? Math.round(result.milliseconds) : 0;
    ui.status.textContent = result
      ? `Exit status ${result.status}, ran for ${ms < 1000 ? `${ms} ms` : `${(ms / 1000).toFixed(2)} s`}.` : '';
    ui.result.focus();
  }

  function concludeFailed(result, program = 'sonvault', after = 'Nothing is offered for download.') {
    const meaning = explanations[program];
    const lines = decoder.decode(result.console).split('\n');
    const said = lines.filter((line) => Object.hasOwn(meaning, line)).map((line) => meaning[line]);
    if (said.length === 0) {
      const last = lines.filter((line) => line !== '').pop() || '';
      said.push(`The run ended with an error: “${last}”.`);
    }
    conclude(`${said.join(' ')} ${after}`, 'error', result);
  }

  // The failed run's sentence, or a plainer one when the source has no bytes at all.
  function concludeFailedFrom(chosenSource, result) {
    if (chosenSource.size > 0) concludeFailed(result);
    else conclude(`The file is empty: ${chosenSource.name} holds no bytes, so there is no music to ` +
                  'copy. Choose another source. Nothing is offered for download.', 'error', result);
  }

  function showStopped(message) {
    ui.result.textContent = 'The tool stopped before the end, most likely because the browser ' +
      'ran out of memory. It has been restarted: run it again, or close other tabs first.';
    ui.result.className = 'error';
    ui.status.textContent = `The run did not complete: ${message}`;
    ui.result.focus();
  }

  // Leaves the page as it is before any run: no transcript, no question, nothing to download.
  function reset() {
    generation++;
    withdrawDownload();
    closeQuestion();
    inserted = null;
    ui.point.hidden = true;
    ui.console.textContent = '';
    ui.pointConsole.textContent = '';
    ui.pointConsole.hidden = true;
    ui.pointHeading.hidden = true;
    ui.result.textContent = '';
    ui.result.className = '';
    ui.status.textContent = '';
  }

  function choose(newSource, newTarget, note = '') {
    source = newSource;
    target = newTarget;
    ui.filesNote.textContent = note;
    reset();
    listSongs();
    refresh();
  }

  // The question of a program, asked on the page: focus goes to it, y and n answer it.
  function ask(where, warning = '') {
    ui.questionWhere.textContent = where;
    ui.questionWarning.textContent = warning;
    ui.questionWarning.hidden = !warning;
    ui.question.setAttribute('aria-describedby',
                             `${warning ? 'question-warning ' : ''}question-where question-keys`);
    ui.question.hidden = false;
    ui.question.focus();
  }

  function closeQuestion() {
    question = null;
    ui.question.hidden = true;
  }

  // ---- runs ----

  // A name starting with "-" could be read as an option (--help): such a file is named through
  // its folder, as the programs' help says. The page's own text keeps the user's names.
  const argument = (filePath) => (filePath.startsWith('-') ? `./${filePath}` : filePath);

  async function sameBytes(a, b) {
    if (a.size !== b.size) return false;
    const [x, y] = await Promise.all([a.arrayBuffer(), b.arrayBuffer()]);
    const words = Math.floor(x.byteLength / 8);
    const wx = new BigUint64Array(x, 0, words);
    const wy = new BigUint64Array(y, 0, words);
    for (let i = 0; i < words; i++) if (wx[i] !== wy[i]) return false;
    const tx = new Uint8Array(x, words * 8);
    const ty = new Uint8Array(y, words * 8);
    return tx.every((byte, i) => byte === ty[i]);
  }

  // Where each file goes in the tool's working directory and what the command line says. The
  // same image chosen twice is inserted onto itself, as `sonvault game.gba game.gba` does; two
  // different files of one name cannot share a folder, so the source then goes into source/.
  async function commandLine(chosenSource, chosenTarget) {
    if (!chosenTarget) {
      return { files: [{ path: chosenSource.name, blob: chosenSource }], args: [argument(chosenSource.name)] };
    }
    let sourcePath = chosenSource.name;
    if (chosenTarget.name === chosenSource.name) {
      if (await sameBytes(chosenSource, chosenTarget)) {
        return { files: [{ path: chosenTarget.name, blob: chosenTarget }], args: [argument(sourcePath), argument(sourcePath)] };
      }
      sourcePath = `source/${chosenSource.name}`;
    }
    return {
      files: [{ path: sourcePath, blob: chosenSource }, { path: chosenTarget.name, blob: chosenTarget }],
      args: [argument(sourcePath), argument(chosenTarget.name)],
    };
  }

  async function guarded(work) {
    const mine = ++generation;
    busy = true;
    // A sign of progress only for runs long enough to wonder about.
    progressTimer = setTimeout(() => { ui.progress.hidden = false; }, 250);
    refresh();
    try {
      await work(() => mine === generation);
    } catch (error) {
      if (mine === generation) {
        if (error.stopped) showStopped(error.message);
        else conclude(`The run did not complete: ${error.message}`, 'error', null);
      }
    } finally {
      busy = false;
      clearTimeout(progressTimer);
      ui.progress.hidden = true;
      refresh();
    }
  }

  function showConsole(result) {
    ui.console.textContent = decoder.decode(result.console);
  }

  function extract() {
    const chosen = source;
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
      conclude(`The sound bank is ready: ${name}, ${bytesText(result.kept.length)}. It holds the ` +
               'music and sound effects of the source; choose it as the source, with a game as ' +
               'the target, to add them to that game.', 'ok', result);
    });
  }

  // The tool cannot wait for a click, so a first run is answered "n": it shows where the data
  // would land and stops at the question. Proceeding runs it again from the same files,
  // answered "y"; the transcript shown in the end is that of the run given the chosen answer.
  function insert() {
    const chosenSource = source;
    const targetName = target.name;
    const chosenTarget = target;
    return guarded(async (current) => {
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
      ui.console.textContent = asked;
      question = { files, args, targetName, declined };
      ask(asked.split('\n').find((line) => line.startsWith('Inserting')) || '');
    });
  }

  function answer(proceed) {
    const asked = question;
    if (!asked || busy) return;
    closeQuestion();
    if (asked.point) {
      answerPoint(asked, proceed);
      return;
    }
    if (asked.move) {
      answerMove(asked, proceed);
      return;
    }
    if (!proceed) {
      showConsole(asked.declined);
      conclude('Cancelled: nothing was added, and there is nothing to download. Your files are ' +
               'as they were.', 'neutral', asked.declined);
      refresh();
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
      inserted = { bytes: accepted.kept, name, address };
      const canPoint = Boolean(address) && hasProgram('sonvault-point');
      ui.point.hidden = !canPoint;
      conclude(`The music was added to a copy of ${name}, its song list at ${address}. The game ` +
               'still plays its own music until it is pointed at that address' +
               (canPoint ? ': press “Point the game at the new music”. ' : '. ') +
               `Your ${name} is unchanged; the copy is the download.`, 'ok', accepted);
    });
  }

  // The second program of the flow: it replaces the game's references to its song list by the
  // address the insert printed. The click is the answer to its question as long as the program
  // says nothing unusual before it: a first run answered "n" shows what it says, and a warning
  // turns into the page's question, so the user answers it.
  function point() {
    const from = inserted;
    if (!from || busy) return;
    ui.point.hidden = true;
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
      question = { point: true, from, file, args, declined, unusual };
      ask(lines.find((line) => line.startsWith('New song list at')) || '',
          unusual.map(plainWarning).join(' '));
    });
  }

  function answerPoint(asked, proceed) {
    const { from } = asked;
    if (!proceed) {
      showPointConsole(decoder.decode(asked.declined.console));
      ui.point.hidden = false;
      conclude(`Not pointed: the copy of ${from.name} with the music added still plays its own ` +
               'music, and it is still the download. Your ' + `${from.name} is unchanged.`,
               'neutral', asked.declined);
      refresh();
      return;
    }
    guarded(async (current) => {
      const accepted = await runTool('sonvault-point', [asked.file], asked.args, 'y\n\n', from.name);
      if (current()) finishPoint(from, accepted, asked.unusual);
    });
  }

  function showPointConsole(text) {
    ui.pointConsole.textContent = text;
    ui.pointConsole.hidden = false;
    ui.pointHeading.hidden = false;
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
    inserted = null;
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

  // ---- the songs of the source, and moving them ----

  // sonvault-songs's listing, read back: the song list, the players and one row per song.
  function parseListing(text) {
    const table = { list: null, count: 0, players: null, playersNote: '', songs: [], total: '' };
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
      } else if ((match = /^ *(\d+) +(\d+) +(\d+) +(\d+) +0x[0-9A-F]{8} +0x[0-9A-F]{8} +(\d+|- \((.*)\))((?: {2}empty)?)(?: {2}same header as song (\d+))?$/.exec(line))) {
        table.songs.push({
          number: Number(match[1]),
          player: Number(match[2]),
          tracks: Number(match[3]),
          bytes: match[6] === undefined ? Number(match[5]) : null,
          error: match[6] ?? '',
          empty: match[7] !== '',
          sharesWith: match[8] === undefined ? null : Number(match[8]),
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
      const meaning = explanations['sonvault-songs'];
      const lines = transcript.split('\n');
      const said = lines.filter((line) => Object.hasOwn(meaning, line)).map((line) => meaning[line]);
      const last = lines.filter((line) => line !== '').pop() || '';
      const message = file.size === 0 ? 'The file is empty.' : said[0] || `“${last}”`;
      return { state: 'failed', transcript, message, empty: file.size === 0, last };
    }
    return { state: 'ok', table, transcript };
  }

  // Runs sonvault-songs on the chosen files, as soon as they are chosen.
  function listSongs() {
    const mine = ++listing;
    places.clear();
    songOrder = { key: 'number', direction: 'ascending' };
    ui.songsSorted.textContent = '';
    sourceSongs = source && hasProgram('sonvault-songs') ? { state: 'reading' } : null;
    targetSongs = source && target && sourceSongs ? { state: 'reading' } : null;
    renderSongs();
    const read = (file, store) => listOne(file).then(store, (error) => store({
      state: 'failed', transcript: '', message: `The song list could not be read: ${error.message}`,
    }));
    if (sourceSongs) read(source, (songs) => { if (mine === listing) { sourceSongs = songs; renderSongs(); } });
    if (targetSongs) read(target, (songs) => { if (mine === listing) { targetSongs = songs; renderSongs(); } });
  }

  const plural = (count, one, many) => `${count.toLocaleString('en')} ${count === 1 ? one : many}`;

  function renderSongs() {
    ui.songs.hidden = !sourceSongs;
    // For whoever waits on the lists (the page's test).
    ui.songs.dataset.state = [sourceSongs, targetSongs].some((songs) => songs?.state === 'reading') ? 'reading' : 'done';
    if (!sourceSongs) return;
    const ok = sourceSongs.state === 'ok';
    ui.songsHeading.textContent = `Songs of ${source.name}`;
    ui.songsConsole.textContent = sourceSongs.transcript || '';
    ui.songsBox.hidden = !ok;
    ui.players.replaceChildren();
    if (sourceSongs.state === 'reading') {
      ui.songsState.textContent = 'Reading the song list…';
    } else if (!ok) {
      ui.songsState.textContent = `No songs to show: ${sourceSongs.message}`;
    } else {
      const { table } = sourceSongs;
      ui.songsState.textContent = `${plural(table.count, 'song', 'songs')}, the song list at ${table.list}. ` +
                                  table.total.replace(/^Total: [^;]*; m/, 'M').replace(/\d+ bytes$/, (bytes) => bytesText(parseInt(bytes, 10))) + '.';
      ui.songsCaption.textContent = `The songs of ${source.name}`;
      ui.players.append(playersText(table, 'It has'));
    }
    ui.placeHeading.hidden = !movable();
    const targetFailed = ok && targetSongs?.state === 'failed';
    ui.songsHint.hidden = !movable() && !targetFailed;
    ui.songsHint.textContent = targetFailed
      ? `No song can be moved into ${target.name}: ${targetSongs.empty ? 'the file is empty.'
        : targetSongs.last === 'Could not locate audio data' ? 'no song list was found in it.' : targetSongs.message}`
      : 'To move songs into the target, give each a place in the last column: a song of the ' +
        'target it replaces, or a new number after the target\'s last song.';
    if (ok) renderRows();
    renderMoves();
  }

  // The players and their track counts, or why there are none.
  function playersText(table, opening) {
    const paragraph = document.createElement('p');
    if (!table.players) {
      paragraph.textContent = table.playersNote.startsWith('none')
        ? 'Players: none, as a sound bank holds no player table.'
        : 'Players: no player table was found.';
      return paragraph;
    }
    paragraph.textContent = `${opening} ${plural(table.players.length, 'player', 'players')}: ` +
      table.players.map((player) => `player ${player.number} plays ${plural(player.tracks, 'track', 'tracks')}`).join(', ') + '.';
    return paragraph;
  }

  const movable = () => sourceSongs?.state === 'ok' && targetSongs?.state === 'ok';

  function sortedSongs() {
    const songs = [...sourceSongs.table.songs];
    const sign = songOrder.direction === 'ascending' ? 1 : -1;
    const size = (song) => (song.bytes === null ? Infinity : song.bytes);
    songs.sort((a, b) => (songOrder.key === 'bytes' ? sign * (size(a) - size(b)) || a.number - b.number
                                                    : sign * (a.number - b.number)));
    return songs;
  }

  function renderRows() {
    for (const header of document.querySelectorAll('#songs-table th[data-sort]')) {
      if (header.dataset.sort === songOrder.key) header.setAttribute('aria-sort', songOrder.direction);
      else header.removeAttribute('aria-sort');
    }
    const rows = sortedSongs().map((song) => {
      const row = document.createElement('tr');
      const cell = (content, tag = 'td') => {
        const element = document.createElement(tag);
        element.append(content);
        row.append(element);
        return element;
      };
      cell(String(song.number), 'th').scope = 'row';
      cell(String(song.player));
      cell(String(song.tracks));
      cell(song.bytes === null ? '–' : song.bytes.toLocaleString('en'));
      const notes = [];
      if (song.empty) notes.push('empty');
      if (song.sharesWith !== null) notes.push(`same header as song ${song.sharesWith}`);
      if (song.bytes === null) notes.push(`cannot be moved: ${song.error}`);
      cell(notes.join('; '));
      if (movable()) cell(placeSelect(song));
      return row;
    });
    ui.songsRows.replaceChildren(...rows);
  }

  function placeSelect(song) {
    const select = document.createElement('select');
    select.setAttribute('aria-label', `Place in the target for song ${song.number}`);
    select.dataset.song = String(song.number);
    const option = (value, label) => {
      const element = document.createElement('option');
      element.value = value;
      element.textContent = label;
      select.append(element);
    };
    option('', 'Not moved');
    option('new', `New song (${targetSongs.table.count} or later)`);
    for (const place of targetSongs.table.songs) {
      option(String(place.number), `Replaces ${place.number} (player ${place.player}, ` +
             `${plural(place.tracks, 'track', 'tracks')}${place.empty ? ', empty' : ''})`);
    }
    select.value = places.get(song.number) || '';
    select.disabled = song.bytes === null;
    select.addEventListener('change', () => {
      if (select.value) places.set(song.number, select.value);
      else places.delete(song.number);
      renderMoves();
      refreshMoves();
    });
    return select;
  }

  // The moves in the order they go to the program: by source song number.
  function chosenMoves() {
    return [...places.entries()].sort(([a], [b]) => a - b).map(([song, place]) => ({ song, place }));
  }

  // What the target's player, which is to play a moved song, holds, when its table is known.
  function playerTracks(player) {
    const players = targetSongs.table.players;
    const found = players ? players.find((each) => each.number === player) : null;
    return found ? found.tracks : null;
  }

  function renderMoves() {
    ui.moves.hidden = !movable();
    if (!movable()) return;
    const moves = chosenMoves();
    ui.movesNone.hidden = moves.length > 0;
    let next = targetSongs.table.count;
    const warnings = [];
    const items = moves.map(({ song, place }) => {
      const moved = sourceSongs.table.songs.find((each) => each.number === song);
      const item = document.createElement('li');
      let player;
      let where;
      if (place === 'new') {
        player = moved.player;
        where = `is added as song ${next++}`;
      } else {
        const replaced = targetSongs.table.songs[Number(place)];
        player = replaced.player;
        where = `replaces song ${place} of the target`;
      }
      const tracks = playerTracks(player);
      item.textContent = `Song ${song} (${plural(moved.tracks, 'track', 'tracks')}, ` +
        `${plural(moved.bytes, 'byte', 'bytes')} alone) ${where}, played by player ${player}` +
        `${tracks === null ? '' : ` (${plural(tracks, 'track', 'tracks')})`}.`;
      if (tracks !== null && moved.tracks > tracks) {
        warnings.push(plainTrackWarning(`Warning: song ${song} has ${moved.tracks} tracks and player ` +
                                        `${player} plays ${tracks}: the game plays only the first ${tracks}`));
      }
      return item;
    });
    ui.movesList.replaceChildren(...items);
    const twice = [...new Set(moves.map(({ place }) => place).filter((place, index, all) =>
      place !== 'new' && all.indexOf(place) !== index))];
    for (const place of twice) warnings.push(`Song ${place} of the target is given two songs: choose one.`);
    ui.movesWarning.textContent = warnings.join(' ');
    ui.movesWarning.hidden = warnings.length === 0;
  }

  function refreshMoves() {
    const values = [...places.values()].filter((place) => place !== 'new');
    ui.move.disabled = !ready || busy || !movable() || places.size === 0 || new Set(values).size < values.length;
  }

  function sortBy(key) {
    songOrder = {
      key,
      direction: songOrder.key === key && songOrder.direction === 'ascending' ? 'descending' : 'ascending',
    };
    renderRows();
    const [what, up, down] = key === 'number' ? ['song number', 'lowest', 'highest']
                                              : ['size', 'smallest', 'largest'];
    ui.songsSorted.textContent = `Sorted by ${what}, ${songOrder.direction === 'ascending' ? up : down} first.`;
  }

  // As the insert: a first run answered "n" shows the moves, any warning and the bytes to append,
  // and stops at the question; proceeding runs it again answered "y".
  function moveSongs() {
    const chosenSource = source;
    const chosenTarget = target;
    const moves = chosenMoves().map(({ song, place }) => `${song}=${place}`);
    if (moves.length === 0 || busy) return;
    reset();
    guarded(async (current) => {
      const { files, args } = await commandLine(chosenSource, chosenTarget);
      if (!current()) return;
      args.push(...moves);
      const declined = await runTool('sonvault-songs', files, args, 'n\n\n', null);
      if (!current()) return;
      const asked = decoder.decode(declined.console.subarray(0, Math.max(declined.firstRead, 0)));
      if (declined.status !== 0 || !asked.endsWith(questionLine)) {
        showConsole(declined);
        concludeFailed(declined, 'sonvault-songs');
        return;
      }
      ui.console.textContent = asked;
      const lines = asked.split('\n');
      const warnings = lines.filter((line) => line.startsWith('Warning: ')).map(plainTrackWarning);
      question = { move: true, files, args, targetName: chosenTarget.name, declined, warnings };
      ask(lines.filter((line) => line.startsWith('Appending ') || line.startsWith('New song list at: ')).join(' '),
          warnings.join(' '));
    });
  }

  function answerMove(asked, proceed) {
    if (!proceed) {
      showConsole(asked.declined);
      conclude('Cancelled: no song was moved, and there is nothing to download. Your files are ' +
               'as they were.', 'neutral', asked.declined);
      refresh();
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
      for (const [, song, how, place] of text.matchAll(/^ {2}song (\d+) \(.*\) (replaces|is added as) song (\d+), /gm)) {
        said.push(how === 'replaces' ? `song ${song} replaced song ${place}` : `song ${song} was added as song ${place}`);
      }
      const list = /^New song list at: (0x[0-9A-F]{8}) \((\d+) songs\)/m.exec(text);
      const name = asked.targetName;
      offerDownload(accepted.kept, movedName(name, Boolean(list)));
      const sentence = said.join(', ');
      const pointed = list ? ` The copy plays its new song list at ${list[1]}, of ${list[2]} songs.` : '';
      const unchanged = `Your ${name} is unchanged; the copy is the download.`;
      if (asked.warnings.length === 0) {
        conclude(`The songs were moved into a copy of ${name}: ${sentence}.${pointed} ${unchanged}`, 'ok', accepted);
      } else {
        conclude(`Moved as you chose, despite the warning: ${sentence} in a copy of ${name}.${pointed} ` +
                 `${asked.warnings.join(' ')} ${unchanged}`, 'neutral', accepted);
      }
    });
  }

  ui.run.addEventListener('click', () => {
    if (!source || busy || !ready) return;
    reset();
    refresh();
    if (target) insert();
    else extract();
  });
  ui.proceed.addEventListener('click', () => answer(true));
  ui.cancel.addEventListener('click', () => answer(false));
  ui.point.addEventListener('click', point);
  ui.move.addEventListener('click', moveSongs);
  for (const header of document.querySelectorAll('#songs-table th[data-sort]')) {
    header.querySelector('button').addEventListener('click', () => sortBy(header.dataset.sort));
  }
  document.addEventListener('keydown', (event) => {
    if (!question || event.ctrlKey || event.metaKey || event.altKey) return;
    const key = event.key.toLowerCase();
    if (key !== 'y' && key !== 'n' && key !== 'escape') return;
    event.preventDefault();
    answer(key === 'y');
  });
  // A link answers Enter only; it looks like a button, so it takes Space as well.
  ui.download.addEventListener('click', () => { unsaved = false; });
  // A reload or Back would drop the result: the browser asks first.
  window.addEventListener('beforeunload', (event) => {
    if (!unsaved) return;
    event.preventDefault();
    event.returnValue = '';
  });
  ui.download.addEventListener('keydown', (event) => {
    if (event.key !== ' ') return;
    event.preventDefault();
    ui.download.click();
  });

  // ---- choosing files ----

  ui.sourceChoose.addEventListener('click', () => ui.sourceInput.click());
  ui.targetChoose.addEventListener('click', () => ui.targetInput.click());
  ui.sourceInput.addEventListener('change', () => {
    if (ui.sourceInput.files.length > 0) choose(ui.sourceInput.files[0], target);
    ui.sourceInput.value = '';
  });
  ui.targetInput.addEventListener('change', () => {
    if (ui.targetInput.files.length > 0) choose(source, ui.targetInput.files[0]);
    ui.targetInput.value = '';
  });
  ui.targetClear.addEventListener('click', () => choose(source, null));
  ui.swap.addEventListener('click', () =>
    choose(target, source, `Swapped: ${target.name} is the source, ${source.name} the target.`));

  const isBank = (file) => file.name.toLowerCase().endsWith('.tbnk');
  const zoneOf = (node) => (node instanceof Element ? node.closest('.zone') : null);
  function highlight(zone) {
    for (const each of [ui.sourceZone, ui.targetZone]) each.classList.toggle('over', each === zone);
  }

  // Without dragenter's and dragover's default prevented, the browser opens a dropped file
  // itself and never tells the page.
  for (const type of ['dragenter', 'dragover']) {
    document.addEventListener(type, (event) => {
      event.preventDefault();
      if (event.dataTransfer) event.dataTransfer.dropEffect = 'copy';
      highlight(zoneOf(event.target));
    });
  }
  document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) highlight(null);
  });
  // One file goes to the box it was dropped on, or to the source anywhere else; two or more
  // fill both boxes.
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    highlight(null);
    const files = event.dataTransfer ? [...event.dataTransfer.files] : [];
    if (files.length === 0) return;
    if (files.length === 1) {
      if (zoneOf(event.target) === ui.targetZone) choose(source, files[0]);
      else choose(files[0], target);
      return;
    }
    let [first, second] = files;
    if (isBank(second) && !isBank(first)) [first, second] = [second, first];
    const others = files.length - 2;
    const left = others === 0 ? ''
      : others === 1 ? ' The other one dropped with them was left out.'
        : ` The other ${others} dropped with them were left out.`;
    choose(first, second,
           `Two files dropped: ${first.name} is the source, ${second.name} the target.${left}`);
  });

  loading.then(([workerScript, modules]) => {
    wasms = modules.map(([, wasm]) => wasm);
    const scripts = modules.map(([script]) => `${script}\n`);
    workerUrl = URL.createObjectURL(new Blob([...scripts, workerScript], { type: 'text/javascript' }));
    startWorker();
    markStarted();
  }).catch((error) => {
    markNotStarted(error);
    cannotStart(location.protocol === 'file:' ? notServed : `The tool could not be loaded: ${error.message}`);
  });
  refresh();
})();
