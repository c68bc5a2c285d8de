// What the page holds between events, and the page's elements by id. Modules change the state
// and announce it; page.js listens and redraws what depends on it.

export const $ = (id) => document.getElementById(id);

export const state = {
  source: null,
  target: null,
  // A run is under way: every button that starts one waits.
  busy: false,
  // Bumped whenever the files change or a run starts; a result for an older one is dropped.
  generation: 0,
  // The question on screen: { kind, title, ... } as runs.js asked it.
  question: null,
  // The last successful insert, for the pointing step.
  inserted: null,
  // A result offered and not yet downloaded: leaving, or a new run, asks first.
  unsaved: false,
  // The song lists of the chosen files: { state: 'reading' | 'ok' | 'failed', table, ... }.
  sourceSongs: null,
  targetSongs: null,
};

const events = new EventTarget();

// Announces a change: 'files', 'songs' (the lists read), 'moves', 'busy', 'tool'.
export function emit(what, detail) {
  events.dispatchEvent(new CustomEvent(what, { detail }));
}

export function on(what, listener) {
  events.addEventListener(what, (event) => listener(event.detail));
}

export const movable = () => state.sourceSongs?.state === 'ok' && state.targetSongs?.state === 'ok';
