// The chosen files: the choose buttons, drops onto the page, and where each file goes on a
// program's command line.

import { $ } from './state.js';

const isBank = (file) => file.name.toLowerCase().endsWith('.tbnk');
const zoneOf = (node) => (node instanceof Element ? node.closest('.zone') : null);

// choose(source, target, note) takes the files; current() gives the chosen pair.
export function initFiles(choose, current) {
  const sourceZone = $('source-zone');
  const targetZone = $('target-zone');
  const sourceInput = $('source-input');
  const targetInput = $('target-input');
  $('source-choose').addEventListener('click', () => sourceInput.click());
  $('target-choose').addEventListener('click', () => targetInput.click());
  sourceInput.addEventListener('change', () => {
    if (sourceInput.files.length > 0) choose(sourceInput.files[0], current().target);
    sourceInput.value = '';
  });
  targetInput.addEventListener('change', () => {
    if (targetInput.files.length > 0) choose(current().source, targetInput.files[0]);
    targetInput.value = '';
  });
  $('target-clear').addEventListener('click', () => choose(current().source, null));
  $('swap').addEventListener('click', () => {
    const { source, target } = current();
    choose(target, source, `Swapped: ${target.name} is the source, ${source.name} the target.`);
  });

  function highlight(zone) {
    for (const each of [sourceZone, targetZone]) each.classList.toggle('over', each === zone);
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
    const { source, target } = current();
    if (files.length === 1) {
      if (zoneOf(event.target) === targetZone) choose(source, files[0]);
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
}

export function splitName(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? [name.slice(0, dot), name.slice(dot)] : [name, ''];
}

// A bank is named after its source; a changed game can never be taken for the original.
export function bankName(sourceName) {
  const [stem, extension] = splitName(sourceName);
  return extension.toLowerCase() === '.tbnk' ? `${stem} (copy).tbnk` : `${stem}.tbnk`;
}

export function movedName(targetName, added) {
  const [stem, extension] = splitName(targetName);
  return `${stem} (songs ${added ? 'added' : 'replaced'})${extension}`;
}

export function changedName(targetName, pointed) {
  const [stem, extension] = splitName(targetName);
  return `${stem} (music added${pointed ? ', pointed' : ''})${extension}`;
}

// A name starting with "-" could be read as an option (--help): such a file is named through
// its folder, as the programs' help says. The page's own text keeps the user's names.
export const argument = (filePath) => (filePath.startsWith('-') ? `./${filePath}` : filePath);

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
export async function commandLine(chosenSource, chosenTarget) {
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
