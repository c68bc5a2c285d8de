// The programs in a worker: fetched while the page loads, compiled once, one fresh instance
// per run. A worker that fails is replaced, and the runs in it end with an error.

// Written in at build time (web/site.cmake): the worker script and the table of programs, each
// file named after a hash of its contents.
const build = __SONVAULT_BUILD__;

// Every file goes out now, while the page is still loading, so nothing is fetched after the
// load event.
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

// ready: every program compiled; unavailable: they never will be. The page sets the hooks.
export const tool = {
  ready: false,
  unavailable: false,
  onReady: () => {},
  // (message, hadRuns): the worker failed; a fresh one is starting.
  onStopped: () => {},
  onUnavailable: () => {},
};

let workerUrl = null;
let wasms = [];
let worker = null;
// Settles once the current worker has compiled every program, or could not; runs wait for it.
let workerReady = null;
let markFailed = () => {};
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
      tool.ready = true;
      markReady();
      tool.onReady();
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
// that ran out): every run in it ends, and a fresh worker takes over.
function stopped(message) {
  worker.terminate();
  tool.ready = false;
  const runs = [...pendingRuns.values()];
  pendingRuns.clear();
  startWorker();
  const error = new Error(message);
  error.stopped = true;
  for (const run of runs) run.reject(error);
  tool.onStopped(message, runs.length > 0);
}

function cannotStart(message) {
  tool.unavailable = true;
  tool.ready = false;
  if (worker) worker.terminate();
  markFailed(new Error(message));
  for (const pending of pendingRuns.values()) pending.reject(new Error(message));
  pendingRuns.clear();
  tool.onUnavailable(message);
}

// One run of a program: files laid into its working directory, argv[1..], the characters typed
// at its console (then end of input), and the file to hand back when it succeeds.
// A listing is a run the page starts on its own when files are chosen.
export async function runTool(program, files, args, input, keep, listing = false) {
  await started;
  await workerReady;
  const id = nextRunId++;
  return new Promise((resolve, reject) => {
    pendingRuns.set(id, { resolve, reject });
    worker.postMessage({ type: 'run', id, program, files, args, input, keep, listing });
  });
}

export const hasProgram = (name) => build.programs.some((program) => program.name === name);

export function startTool() {
  loading.then(([workerScript, modules]) => {
    wasms = modules.map(([, wasm]) => wasm);
    const scripts = modules.map(([script]) => `${script}\n`);
    workerUrl = URL.createObjectURL(new Blob([...scripts, workerScript], { type: 'text/javascript' }));
    startWorker();
    markStarted();
  }).catch((error) => {
    markNotStarted(error);
    cannotStart(`The tool could not be loaded: ${error.message}`);
  });
}
