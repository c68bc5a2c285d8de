'use strict';

(() => {
  // Both requests go out while the page is still loading: the worker is the tool's own script
  // and the .wasm is compiled once inside it, so nothing is fetched after the load event.
  // Browsers refuse both on a file:// address.
  let worker = null;
  try {
    worker = new Worker('sonvault.js');
  } catch {
    worker = null;
  }
  const wasm = fetch('sonvault.wasm').then((response) => {
    if (!response.ok) throw new Error(`sonvault.wasm: HTTP ${response.status}`);
    return response.arrayBuffer();
  });
  const notServed = 'The tool could not be started. Open this page through a web server ' +
                    '(for example python3 -m http.server in its folder), not as a local file.';

  const $ = (id) => document.getElementById(id);
  const ui = {
    sourceInput: $('source-input'),
    sourceName: $('source-name'),
    sourceZone: $('source-zone'),
    targetInput: $('target-input'),
    targetName: $('target-name'),
    targetZone: $('target-zone'),
    targetClear: $('target-clear'),
    run: $('run'),
    state: $('state'),
    question: $('question'),
    questionWhere: $('question-where'),
    proceed: $('proceed'),
    cancel: $('cancel'),
    console: $('console'),
    status: $('status'),
    downloadBox: $('download-box'),
    download: $('download'),
  };
  const targetNoneHtml = ui.targetName.innerHTML;
  const decoder = new TextDecoder();

  let ready = false;
  let workerUp = false;
  let busy = false;
  let source = null;
  let target = null;
  // Bumped whenever the files change or a run starts; a result for an older one is dropped.
  let generation = 0;
  let downloadUrl = null;
  // The insert run waiting for an answer: its files, command line and the declined transcript.
  let question = null;

  // ---- the worker ----

  let nextRunId = 1;
  const pendingRuns = new Map();

  function listen() {
    worker.onmessage = ({ data }) => {
      if (data.type === 'ready') {
        workerUp = true;
        ready = true;
        refresh();
        return;
      }
      if (data.type === 'broken') {
        fail(`The tool could not be started: ${data.message}`);
        return;
      }
      const pending = pendingRuns.get(data.id);
      if (!pending) return;
      pendingRuns.delete(data.id);
      if (data.type === 'result') pending.resolve(data);
      else pending.reject(new Error(data.message));
    };
    worker.onerror = (event) => {
      event.preventDefault();
      fail(workerUp ? `The tool stopped: ${event.message || 'unknown error'}` : notServed);
    };
    wasm.then((bytes) => worker.postMessage({ type: 'wasm', bytes }, [bytes]))
      .catch((error) => fail(location.protocol === 'file:' ? notServed
                                                           : `The tool could not be loaded: ${error.message}`));
  }

  // One run of the tool: files laid into its working directory, argv[1..], the characters typed
  // at its console (then end of input), and the file to hand back when it succeeds.
  function runTool(files, args, input, keep) {
    const id = nextRunId++;
    return new Promise((resolve, reject) => {
      pendingRuns.set(id, { resolve, reject });
      worker.postMessage({ type: 'run', id, files, args, input, keep });
    });
  }

  // ---- what is on the page ----

  function fail(message) {
    ready = false;
    for (const pending of pendingRuns.values()) pending.reject(new Error(message));
    pendingRuns.clear();
    ui.state.textContent = message;
    ui.state.classList.add('error');
    refresh();
  }

  function describe(file) {
    return `${file.name} (${file.size.toLocaleString('en')} bytes)`;
  }

  function refresh() {
    ui.run.textContent = target ? 'Insert' : 'Extract';
    ui.run.disabled = !ready || busy || !source;
    ui.proceed.disabled = busy;
    ui.cancel.disabled = busy;
    ui.sourceName.textContent = source ? describe(source) : 'None chosen: choose one or drop it here.';
    if (target) ui.targetName.textContent = describe(target);
    else ui.targetName.innerHTML = targetNoneHtml;
    ui.targetClear.hidden = !target;
    if (ui.state.classList.contains('error')) return;
    if (busy) ui.state.textContent = 'Running…';
    else if (!ready) ui.state.textContent = 'Loading the tool…';
    else if (!source) ui.state.textContent = 'Choose a source image.';
    else if (!ui.question.hidden) ui.state.textContent = 'The tool is waiting for your answer.';
    else ui.state.textContent = target ? 'Ready to insert.' : 'Ready to extract.';
  }

  function withdrawDownload() {
    if (downloadUrl) URL.revokeObjectURL(downloadUrl);
    downloadUrl = null;
    ui.download.removeAttribute('href');
    ui.downloadBox.hidden = true;
  }

  function offerDownload(bytes, name) {
    withdrawDownload();
    downloadUrl = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    ui.download.href = downloadUrl;
    ui.download.download = name;
    ui.download.textContent = `Download ${name} (${bytes.length.toLocaleString('en')} bytes)`;
    ui.downloadBox.hidden = false;
  }

  function showTranscript(bytes) {
    ui.console.textContent = decoder.decode(bytes);
  }

  function showStatus(result) {
    const seconds = (result.milliseconds / 1000).toFixed(2);
    ui.status.textContent = `Exit status ${result.status} (the tool ran for ${seconds} s)` +
      (result.status === 0 ? '' : ': nothing to download.');
    ui.status.className = result.status === 0 ? 'ok' : 'error';
  }

  // Leaves the page as it is before any run: no transcript, no question, nothing to download.
  function reset() {
    generation++;
    withdrawDownload();
    question = null;
    ui.question.hidden = true;
    ui.console.textContent = '';
    ui.status.textContent = '';
    ui.status.className = '';
  }

  function setSource(file) {
    source = file;
    reset();
    refresh();
  }

  function setTarget(file) {
    target = file;
    reset();
    refresh();
  }

  // ---- runs ----

  // Where each file goes in the tool's working directory and what the command line says. Two
  // files of one name cannot share a folder, so the source then goes into source/.
  function commandLine() {
    const files = [];
    const sourcePath = target && target.name === source.name ? `source/${source.name}` : source.name;
    files.push({ path: sourcePath, blob: source });
    if (target) files.push({ path: target.name, blob: target });
    return { files, args: files.map((file) => file.path) };
  }

  async function guarded(work) {
    const mine = ++generation;
    busy = true;
    refresh();
    try {
      await work(() => mine === generation);
    } catch (error) {
      if (mine === generation) {
        ui.status.textContent = `The run did not complete: ${error.message}`;
        ui.status.className = 'error';
      }
    } finally {
      busy = false;
      refresh();
    }
  }

  function extract() {
    const { files, args } = commandLine();
    return guarded(async (current) => {
      // The closing key press.
      const result = await runTool(files, args, '\n', 'output.tbnk');
      if (!current()) return;
      showTranscript(result.console);
      showStatus(result);
      if (result.status === 0 && result.kept) offerDownload(result.kept, 'output.tbnk');
    });
  }

  // The tool cannot wait for a click, so a first run is answered "n": it shows where the data
  // would land and stops at the question. Proceeding runs it again from the same files,
  // answered "y"; the transcript shown in the end is that of the run given the chosen answer.
  function insert() {
    const { files, args } = commandLine();
    const targetName = target.name;
    return guarded(async (current) => {
      const declined = await runTool(files, args, 'n\n\n', null);
      if (!current()) return;
      // Status 0 after answering "n" is "Aborted": the question was asked, and the first key
      // the tool waited for was the answer, right after it. Anything else failed before it.
      if (declined.status !== 0) {
        showTranscript(declined.console);
        showStatus(declined);
        return;
      }
      const asked = declined.console.subarray(0, declined.firstRead);
      showTranscript(asked);
      const lines = decoder.decode(asked).split('\n');
      ui.questionWhere.textContent = lines.find((line) => line.startsWith('Inserting')) || '';
      question = { files, args, targetName, declined };
      ui.question.hidden = false;
    });
  }

  function answer(proceed) {
    const asked = question;
    if (!asked || busy) return;
    question = null;
    ui.question.hidden = true;
    if (!proceed) {
      showTranscript(asked.declined.console);
      showStatus(asked.declined);
      refresh();
      return;
    }
    guarded(async (current) => {
      const accepted = await runTool(asked.files, asked.args, 'y\n\n', asked.targetName);
      if (!current()) return;
      showTranscript(accepted.console);
      showStatus(accepted);
      if (accepted.status === 0 && accepted.kept) offerDownload(accepted.kept, asked.targetName);
    });
  }

  ui.run.addEventListener('click', () => {
    if (!source || busy || !ready) return;
    reset();
    if (target) insert();
    else extract();
  });
  ui.proceed.addEventListener('click', () => answer(true));
  ui.cancel.addEventListener('click', () => answer(false));

  // ---- choosing files ----

  ui.sourceInput.addEventListener('change', () => {
    if (ui.sourceInput.files.length > 0) setSource(ui.sourceInput.files[0]);
    ui.sourceInput.value = '';
  });
  ui.targetInput.addEventListener('change', () => {
    if (ui.targetInput.files.length > 0) setTarget(ui.targetInput.files[0]);
    ui.targetInput.value = '';
  });
  ui.targetClear.addEventListener('click', () => setTarget(null));

  function acceptDrops(zone, take) {
    zone.addEventListener('dragover', (event) => {
      event.preventDefault();
      zone.classList.add('over');
    });
    zone.addEventListener('dragleave', () => zone.classList.remove('over'));
    zone.addEventListener('drop', (event) => {
      event.preventDefault();
      event.stopPropagation();
      zone.classList.remove('over');
      const files = event.dataTransfer ? event.dataTransfer.files : [];
      if (files.length > 0) take(files[0]);
    });
  }
  acceptDrops(ui.sourceZone, setSource);
  acceptDrops(ui.targetZone, setTarget);
  // A file dropped anywhere else becomes the source instead of replacing the page.
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    const files = event.dataTransfer ? event.dataTransfer.files : [];
    if (files.length > 0) setSource(files[0]);
  });

  if (worker) {
    listen();
  } else {
    wasm.catch(() => {});
    fail(notServed);
  }
  refresh();
})();
