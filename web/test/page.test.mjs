// Drives the page in headless Chromium through its own controls, each test on a fresh page, and
// compares everything it shows and offers for download with the native programs run on the same
// files and typed answers.
//
//   SONVAULT_SITE         folder of the built page (default build-web/site)
//   SONVAULT_NATIVE       native sonvault (default build/sonvault); sonvault-point beside it adds
//                         the pointing step, sonvault-songs the song table and moves,
//                         tools/make_bench_image the full-size runs
//   SONVAULT_SCREENSHOTS  where screenshots are written (default build-web/screenshots)
//   CHROMIUM              browser executable (default /usr/bin/chromium)
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const site = path.resolve(root, process.env.SONVAULT_SITE || 'build-web/site');
const native = path.resolve(root, process.env.SONVAULT_NATIVE || 'build/sonvault');
const nativePoint = path.join(path.dirname(native), 'sonvault-point');
const nativeSongs = path.join(path.dirname(native), 'sonvault-songs');
const noSongs = !fs.existsSync(nativeSongs) && `no ${nativeSongs}`;
const benchTool = path.join(path.dirname(native), 'tools', 'make_bench_image');
const shots = path.resolve(root, process.env.SONVAULT_SCREENSHOTS || 'build-web/screenshots');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'sonvault-web-'));

const question = 'Are you sure you wish to proceed? (y/n)\n';
const windowSize = 0x2000000;
const demo = fs.readFileSync(path.join(root, 'examples/demo.gba'));
const noise = Buffer.alloc(0x10000);
for (let i = 0; i < noise.length; i++) noise[i] = (i * 131 + (i >> 8)) & 0xff;
const odd = Buffer.concat([demo, Buffer.from([0x5a])]);
// The demo with two more songs in its list: pointing it at the demo's four warns.
const six = Buffer.from(demo);
for (const entry of [4, 5]) {
  six.writeUInt32LE(0x08000500, 0x400 + 8 * entry);
  six.writeUInt32LE(0x00010001 + entry, 0x404 + 8 * entry);
}

// ---- the native programs ----

let nativeRuns = 0;

// Runs the programs one after another in a fresh directory holding copies of the inputs, each
// [program, args, typed] with stdout and stderr as one console. Returns each run's transcript
// and status, and the directory's files.
function runNative(inputs, ...runs) {
  const dir = path.join(work, `native-${++nativeRuns}`);
  for (const [name, bytes] of Object.entries(inputs)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), bytes);
  }
  const results = runs.map(([program, args, typed]) => {
    const consolePath = path.join(work, 'console');
    const consoleFd = fs.openSync(consolePath, 'w');
    const run = spawnSync(program, args, { cwd: dir, input: typed, stdio: ['pipe', consoleFd, consoleFd] });
    fs.closeSync(consoleFd);
    assert.equal(run.error, undefined, `native run failed to start: ${run.error}`);
    return { transcript: fs.readFileSync(consolePath, 'utf8'), status: run.status };
  });
  return { runs: results, file: (name) => fs.readFileSync(path.join(dir, name)) };
}

const nativeBank = runNative({ 'demo.gba': demo }, [native, ['demo.gba'], '\n']).file('output.tbnk');

// ---- a static server for the page ----

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};
const served = [];

function serve() {
  const server = http.createServer((request, response) => {
    const urlPath = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    served.push(urlPath);
    const file = path.join(site, urlPath === '/' ? 'index.html' : urlPath);
    if (!file.startsWith(site + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, {
      'content-type': contentTypes[path.extname(file)] || 'application/octet-stream',
      'cache-control': 'no-store',
    });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- the page ----

let server;
let browser;
let port;

// Before the page's scripts: runs posted to the worker wait until the test releases them; the
// song lists the page reads on its own when files are chosen go through.
function holdRuns() {
  const RealWorker = window.Worker;
  window.heldRuns = [];
  window.Worker = class extends RealWorker {
    postMessage(message, transfer) {
      if (message && message.type === 'run' && !message.listing) window.heldRuns.push(() => super.postMessage(message, transfer));
      else super.postMessage(message, transfer);
    }
  };
}

// A fresh context and page for one test, loaded and ready; checks when the test is over that
// it made no request after the load event and raised no error.
async function withPage(options, body) {
  const { hold = false, clock = false, colorScheme = 'light', viewport = { width: 1280, height: 900 } } = options;
  const context = await browser.newContext({ acceptDownloads: true, colorScheme, viewport });
  const page = await context.newPage();
  page.setDefaultTimeout(30000);
  let loaded = false;
  const beforeLoad = [];
  const afterLoad = [];
  const errors = [];
  // Every request of the context: the page's, its worker's and any the browser makes for it.
  context.on('request', (request) => {
    if (request.url().startsWith('http')) (loaded ? afterLoad : beforeLoad).push(new URL(request.url()).pathname);
  });
  page.on('load', () => { loaded = true; });
  page.on('pageerror', (error) => errors.push(String(error)));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  if (hold) await page.addInitScript(holdRuns);
  if (clock) await page.clock.install();
  try {
    await page.goto(`http://127.0.0.1:${port}/`, { waitUntil: 'load' });
    await until(page, () => document.querySelector('#state').textContent === 'Choose a source image.');
    await body(page, { beforeLoad, errors });
    assert.deepEqual(afterLoad, [], 'requests after the page had loaded');
    assert.deepEqual(errors, []);
  } finally {
    await context.close();
  }
}

// Polls from here rather than in the page, whose timers a test may have stopped.
async function until(page, predicate, arg) {
  for (let waited = 0; !(await page.evaluate(predicate, arg)); waited += 20) {
    if (waited > 30000) throw new Error(`gave up waiting for ${predicate}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);
const visible = (page, selector) => page.isVisible(selector);
const release = async (page) => {
  await until(page, () => window.heldRuns.length > 0);
  await page.evaluate(() => window.heldRuns.shift()());
};

async function chooseFile(page, which, name, bytes) {
  // Handing the browser a 32 MiB buffer takes most of half a minute on a busy machine.
  await page.setInputFiles(`#${which}-input`, { name, mimeType: 'application/octet-stream', buffer: bytes },
                           { timeout: 120000 });
  assert.equal(await text(page, `#${which}-name`), `${name} (${bytes.length.toLocaleString('en')} bytes)`);
}

// Drops files as a browser does: dragenter and dragover on the spot, and the drop only when the
// page prevented their default. Returns whether it did.
function drop(page, selector, files) {
  return page.evaluate(({ selector, files }) => {
    const transfer = new DataTransfer();
    for (const { name, bytes } of files) transfer.items.add(new File([new Uint8Array(bytes)], name));
    const spot = document.querySelector(selector);
    const fire = (type) => !spot.dispatchEvent(new DragEvent(type, { bubbles: true, cancelable: true, dataTransfer: transfer }));
    const allowed = fire('dragenter') && fire('dragover');
    if (allowed) fire('drop');
    return allowed;
  }, { selector, files: files.map(([name, bytes]) => ({ name, bytes: [...bytes] })) });
}

// Waits for the end of a run: the small print with its exit status.
async function finished(page) {
  await until(page, () => document.querySelector('#status').textContent !== '' &&
                          document.querySelector('#state').textContent !== 'Running…');
  const match = /^Exit status (\d+)/.exec(await text(page, '#status'));
  return match ? Number(match[1]) : null;
}

// Waits until the song lists of the chosen files are read.
const listed = (page) => until(page, () => document.querySelector('#songs').dataset.state !== 'reading');

async function download(page) {
  const [event] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  return { name: event.suggestedFilename(), bytes: fs.readFileSync(await event.path()) };
}

async function nothingToDownload(page) {
  assert.equal(await visible(page, '#download'), false, 'a download is offered');
  assert.equal(await page.getAttribute('#download', 'href'), null, 'a download link is left');
}

// An extract with the source chosen, against the native run.
async function extractAndCompare(page, name, bytes, arg = name) {
  await page.click('#run');
  const status = await finished(page);
  const [expected] = runNative({ [name]: bytes }, [native, [arg], '\n']).runs;
  assert.equal(await text(page, '#console'), expected.transcript);
  assert.equal(status, expected.status);
}

// An insert with both files chosen: the console up to the question and where the data will
// land, then the answer; args and inputs are those of the equivalent native run.
async function insertAndCompare(page, inputs, args, answer) {
  const nativeRun = runNative(inputs, [native, args, `${answer}\n\n`]);
  const [expected] = nativeRun.runs;
  const asked = expected.transcript.indexOf(question);
  await page.click('#run');
  await page.waitForSelector('#question', { state: 'visible' });
  assert.equal(await text(page, '#console'), expected.transcript.slice(0, asked + question.length));
  const where = expected.transcript.split('\n').find((line) => line.startsWith('Inserting'));
  assert.equal(await text(page, '#question-where'), where);
  await nothingToDownload(page);

  await page.click(answer === 'y' ? '#proceed' : '#cancel');
  const status = await finished(page);
  assert.equal(await visible(page, '#question'), false);
  assert.equal(await text(page, '#console'), expected.transcript);
  assert.equal(status, expected.status);
  return { nativeRun, where };
}

before(async () => {
  assert.ok(fs.existsSync(path.join(site, 'index.html')), `no page built in ${site}`);
  assert.ok(fs.existsSync(native), `no native build at ${native}`);
  fs.mkdirSync(shots, { recursive: true });
  server = await serve();
  port = server.address().port;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  fs.rmSync(work, { recursive: true, force: true });
});

describe('runs, against the native programs', () => {
  it('extracts into a bank named after its source, with a result line', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'pokeemerald_usa.gba', demo);
    await extractAndCompare(page, 'pokeemerald_usa.gba', demo);
    const got = await download(page);
    assert.equal(got.name, 'pokeemerald_usa.tbnk');
    assert.ok(got.bytes.equals(nativeBank), 'the bank differs from the native one');
    assert.match(await text(page, '#result'), /^The sound bank is ready: pokeemerald_usa\.tbnk, 1,408 bytes\./);
    assert.match(await text(page, '#status'), /^Exit status 0, ran for /);
  }));

  it('reads a source named like an option as a file, and keeps its name', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', '--help', demo);
    await extractAndCompare(page, '--help', demo, './--help');
    assert.match(await text(page, '#result'), /^The sound bank is ready: --help\.tbnk, 1,408 bytes\./);
    const leaving = () => page.evaluate(() => !window.dispatchEvent(new Event('beforeunload', { cancelable: true })));
    assert.equal(await leaving(), true, 'a reload would drop the bank without a word');
    const got = await download(page);
    assert.equal(got.name, '--help.tbnk');
    assert.ok(got.bytes.equals(nativeBank), 'the bank differs from the native one');
    assert.equal(await leaving(), false, 'leaving asks after the download');
  }));

  // Each error line of the tool comes with a plain sentence, and nothing to download.
  const failures = [
    { name: 'a source without audio data', source: ['noise.gba', noise], says: /^No music was found/ },
    { name: 'an empty source', source: ['empty.gba', Buffer.alloc(0)], target: ['target.gba', demo],
      says: /^The file is empty: empty\.gba holds no bytes/ },
    { name: 'a target of 32 MiB', source: ['demo.tbnk', nativeBank], target: ['full.gba', Buffer.alloc(windowSize)],
      says: /^The result would not fit in a 32 MiB cartridge/,
      songs: /^No song can be moved into full\.gba: no song list was found in it\.$/ },
  ];
  for (const { name, source, target, says, songs } of failures) {
    it(`shows what went wrong with ${name}`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', ...source);
      if (target) await chooseFile(page, 'target', ...target);
      await page.click('#run');
      const status = await finished(page);
      const args = target ? [source[0], target[0]] : [source[0]];
      const inputs = Object.fromEntries(target ? [source, target] : [source]);
      const [expected] = runNative(inputs, [native, args, 'y\n\n']).runs;
      assert.equal(await text(page, '#console'), expected.transcript);
      assert.equal(status, expected.status);
      assert.match(await text(page, '#result'), says);
      assert.match(await text(page, '#result'), /Nothing is offered for download\.$/);
      assert.equal(await visible(page, '#question'), false);
      await nothingToDownload(page);
      if (songs && !noSongs) {
        await listed(page);
        assert.match(await text(page, '#songs-hint'), songs);
      }
    }));
  }

  // The page's files, the native run's command line and inputs, the name of the download.
  const inserts = [
    { name: 'a bank into a target', source: ['demo.tbnk', nativeBank], target: ['target.gba', demo],
      args: ['demo.tbnk', 'target.gba'], download: 'target (music added).gba' },
    { name: 'onto an odd-sized target', source: ['demo.tbnk', nativeBank], target: ['odd.gba', odd],
      args: ['demo.tbnk', 'odd.gba'], download: 'odd (music added).gba' },
    { name: 'the same image chosen twice, onto itself', source: ['same.gba', demo], target: ['same.gba', demo],
      args: ['same.gba', 'same.gba'], download: 'same (music added).gba' },
    { name: 'two different images of one name', source: ['game.gba', demo], target: ['game.gba', odd],
      args: ['source/game.gba', 'game.gba'], download: 'game (music added).gba' },
    { name: 'two different images of one name in another script', source: ['ゲーム.gba', demo],
      target: ['ゲーム.gba', odd], args: ['source/ゲーム.gba', 'ゲーム.gba'], download: 'ゲーム (music added).gba' },
    { name: 'files named like options', source: ['--help', demo], target: ['--version', odd],
      args: ['./--help', './--version'], download: '--version (music added)' },
  ];
  for (const { name, source, target, args, download: downloadName } of inserts) {
    it(`inserts ${name}`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', ...source);
      await chooseFile(page, 'target', ...target);
      assert.equal(await text(page, '#run'), 'Insert');
      const inputs = args[0] === args[1] ? { [args[0]]: target[1] } : { [args[0]]: source[1], [args[1]]: target[1] };
      const { nativeRun, where } = await insertAndCompare(page, inputs, args, 'y');
      const got = await download(page);
      assert.equal(got.name, downloadName);
      assert.ok(got.bytes.equals(nativeRun.file(args[1])), 'the updated target differs from the native one');
      const result = await text(page, '#result');
      assert.ok(result.includes(where.split(': ')[1]), result);
      assert.match(result, /unchanged; the copy is the download\.$/);
    }));
  }

  it('offers nothing after the insert is cancelled', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
    await chooseFile(page, 'target', 'target.gba', demo);
    await insertAndCompare(page, { 'demo.tbnk': nativeBank, 'target.gba': demo }, ['demo.tbnk', 'target.gba'], 'n');
    assert.match(await text(page, '#result'), /^Cancelled: nothing was added/);
    assert.equal(await page.getAttribute('#result', 'class'), 'neutral');
    await nothingToDownload(page);
  }));

  it('points the inserted game at its new song list in one more step',
     { skip: !fs.existsSync(nativePoint) && `no ${nativePoint}` }, () => withPage({}, async (page) => {
       await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
       await chooseFile(page, 'target', 'target.gba', demo);
       const { where } = await insertAndCompare(page, { 'demo.tbnk': nativeBank, 'target.gba': demo },
                                                ['demo.tbnk', 'target.gba'], 'y');
       const address = where.split(': ')[1];
       const expected = runNative({ 'demo.tbnk': nativeBank, 'target.gba': demo },
                                  [native, ['demo.tbnk', 'target.gba'], 'y\n\n'],
                                  [nativePoint, ['target.gba', address], 'y\n\n']);
       await page.click('#point');
       const status = await finished(page);
       assert.equal(await text(page, '#point-console'), expected.runs[1].transcript);
       assert.equal(status, expected.runs[1].status);
       assert.equal(await visible(page, '#point'), false);
       const got = await download(page);
       assert.equal(got.name, 'target (music added, pointed).gba');
       assert.ok(got.bytes.equals(expected.file('target.gba')), 'the pointed game differs from the native one');
       assert.match(await text(page, '#result'), /^Done: the copy of target\.gba now plays the inserted music/);
     }));

  // The page answers for the user only when the program says nothing unusual.
  for (const [answerKey, width, colorScheme] of [['n', 320, 'light'], ['y', 390, 'dark']]) {
    it(`asks before pointing over a warning, answered ${answerKey}`,
       { skip: !fs.existsSync(nativePoint) && `no ${nativePoint}` },
       () => withPage({ colorScheme, viewport: { width, height: 900 } }, async (page) => {
         const inputs = { 'demo.tbnk': nativeBank, 'six.gba': six };
         await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
         await chooseFile(page, 'target', 'six.gba', six);
         const { where } = await insertAndCompare(page, inputs, ['demo.tbnk', 'six.gba'], 'y');
         const address = where.split(': ')[1];
         const expected = runNative(inputs, [native, ['demo.tbnk', 'six.gba'], 'y\n\n'],
                                    [nativePoint, ['six.gba', address], `${answerKey}\n\n`]);
         const { transcript } = expected.runs[1];
         await page.click('#point');
         await page.waitForSelector('#question', { state: 'visible' });
         assert.equal(await page.evaluate(() => document.activeElement.id), 'question');
         assert.equal(await text(page, '#point-console'), transcript.slice(0, transcript.indexOf(question) + question.length));
         assert.match(await text(page, '#question-warning'), /^The inserted music has 4 songs, the game's own list 6: /);
         assert.equal(await text(page, '#question-where'), `New song list at: ${address} (4 songs)`);
         const box = await page.$eval('#point-console', (pre) => [pre.scrollWidth, pre.clientWidth]);
         assert.ok(box[0] <= box[1], `the console is ${box[0]} px wide inside ${box[1]} px`);
         await page.screenshot({ path: path.join(shots, `point-warning-${width}-${colorScheme}.png`), fullPage: true });

         await page.keyboard.press(answerKey);
         const status = await finished(page);
         assert.equal(await text(page, '#point-console'), transcript);
         assert.equal(status, expected.runs[1].status);
         const got = await download(page);
         assert.ok(got.bytes.equals(expected.file('six.gba')), 'the game differs from the native one');
         const result = await text(page, '#result');
         assert.doesNotMatch(result, /Done/);
         if (answerKey === 'n') {
           assert.equal(got.name, 'six (music added).gba');
           assert.match(result, /^Not pointed: /);
         } else {
           assert.equal(got.name, 'six (music added, pointed).gba');
           assert.match(result, /^Pointed as you chose, despite the warning: .* The inserted music has 4 songs/);
         }
       }));
  }

  it('handles full-size images', { skip: !fs.existsSync(benchTool) && `no ${benchTool}` }, () => withPage({}, async (page) => {
    const images = fs.mkdtempSync(path.join(work, 'bench-'));
    const made = spawnSync(benchTool, [path.join(images, 'bench.gba'), path.join(images, 'bench-target.gba')]);
    assert.equal(made.status, 0, String(made.stderr));
    const bench = fs.readFileSync(path.join(images, 'bench.gba'));
    const benchTarget = fs.readFileSync(path.join(images, 'bench-target.gba'));

    await chooseFile(page, 'source', 'bench.gba', bench);
    await extractAndCompare(page, 'bench.gba', bench);
    const bank = await download(page);
    assert.ok(bank.bytes.equals(runNative({ 'bench.gba': bench }, [native, ['bench.gba'], '\n']).file('output.tbnk')),
              'the full-size bank differs from the native one');
    await chooseFile(page, 'source', 'bench.tbnk', bank.bytes);
    await chooseFile(page, 'target', 'bench-target.gba', benchTarget);
    const { nativeRun } = await insertAndCompare(page, { 'bench.tbnk': bank.bytes, 'bench-target.gba': benchTarget },
                                                 ['bench.tbnk', 'bench-target.gba'], 'y');
    assert.ok((await download(page)).bytes.equals(nativeRun.file('bench-target.gba')),
              'the full-size insert differs from the native one');
  }));
});

describe('the page for people', () => {
  it('takes drops as a browser makes them, on either box, on the page, two at once', () => withPage({}, async (page) => {
    const bank = ['demo.tbnk', nativeBank];
    assert.ok(await drop(page, '#target-zone h2', [['デモ音.gba', demo]]), 'dragenter or dragover left to the browser');
    assert.equal(await text(page, '#target-name'), `デモ音.gba (${demo.length.toLocaleString('en')} bytes)`);
    assert.ok(await drop(page, 'footer', [bank]));
    assert.equal(await text(page, '#source-name'), `demo.tbnk (${nativeBank.length.toLocaleString('en')} bytes)`);
    const { nativeRun } = await insertAndCompare(page, { 'demo.tbnk': nativeBank, 'デモ音.gba': demo },
                                                 ['demo.tbnk', 'デモ音.gba'], 'y');
    assert.ok((await download(page)).bytes.equals(nativeRun.file('デモ音.gba')));

    await page.click('#target-clear');
    assert.equal(await text(page, '#run'), 'Extract');
    assert.match(await text(page, '#target-name'), /^None/);
    await nothingToDownload(page);
    assert.equal(await text(page, '#console'), '');

    // Two at once: a bank is the source whatever the order; else the first; Swap turns them.
    const cases = [
      { files: [['game.gba', demo], bank], source: 'demo.tbnk', target: 'game.gba', note: /^Two files dropped: demo\.tbnk is the source, game\.gba the target\.$/ },
      { files: [['a.gba', demo], ['b.gba', odd], ['c.gba', noise], ['d.gba', noise]], source: 'a.gba', target: 'b.gba', note: /\. The other 2 dropped with them were left out\.$/ },
      { files: [['a.gba', demo], ['b.gba', odd], ['c.gba', noise]], source: 'a.gba', target: 'b.gba', note: /\. The other one dropped with them was left out\.$/ },
    ];
    for (const { files, source, target, note } of cases) {
      assert.ok(await drop(page, '#source-zone', files));
      assert.ok((await text(page, '#source-name')).startsWith(`${source} (`));
      assert.ok((await text(page, '#target-name')).startsWith(`${target} (`));
      assert.match(await text(page, '#files-note'), note);
    }
    await page.click('#swap');
    assert.ok((await text(page, '#source-name')).startsWith('b.gba ('));
    assert.ok((await text(page, '#target-name')).startsWith('a.gba ('));
    await insertAndCompare(page, { 'b.gba': odd, 'a.gba': demo }, ['b.gba', 'a.gba'], 'n');
  }));

  it('drops the result of a run whose files changed meanwhile; Run with the question open asks again',
     () => withPage({ hold: true }, async (page) => {
       await chooseFile(page, 'source', 'demo.gba', demo);
       await page.click('#run');
       assert.equal(await text(page, '#state'), 'Running…');
       assert.ok(await page.isDisabled('#run'));
       await chooseFile(page, 'source', 'noise.gba', noise);
       await release(page);
       await until(page, () => document.querySelector('#state').textContent === 'Ready to extract.');
       assert.equal(await text(page, '#console'), '');
       assert.equal(await text(page, '#result'), '');
       await nothingToDownload(page);

       await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
       await chooseFile(page, 'target', 'target.gba', demo);
       const expected = runNative({ 'demo.tbnk': nativeBank, 'target.gba': demo },
                                  [native, ['demo.tbnk', 'target.gba'], 'y\n\n']);
       const { transcript } = expected.runs[0];
       await page.click('#run');
       await release(page);
       await page.waitForSelector('#question', { state: 'visible' });
       await page.click('#run');
       assert.equal(await visible(page, '#question'), false);
       await release(page);
       await page.waitForSelector('#question', { state: 'visible' });
       assert.equal(await text(page, '#console'), transcript.slice(0, transcript.indexOf(question) + question.length));
       await page.click('#proceed');
       await release(page);
       await finished(page);
       assert.equal(await text(page, '#console'), transcript);
       assert.ok((await download(page)).bytes.equals(expected.file('target.gba')));
     }));

  it('shows a sign of progress only once a run has taken a quarter of a second', () => withPage({ hold: true, clock: true }, async (page) => {
    await chooseFile(page, 'source', 'demo.gba', demo);
    await page.click('#run');
    await page.clock.runFor(200);
    assert.equal(await visible(page, '#progress'), false);
    await page.clock.runFor(100);
    assert.equal(await visible(page, '#progress'), true);
    await release(page);
    await finished(page);
    assert.equal(await visible(page, '#progress'), false);

    await page.click('#run');
    await release(page);
    await finished(page);
    await page.clock.runFor(1000);
    assert.equal(await visible(page, '#progress'), false);
  }));

  // The worker made to fail the way a real one does; the page must restart it and work on.
  const crashes = [
    { name: 'an instance that cannot be created', during: 'run',
      fail: () => { WebAssembly.instantiate = () => Promise.reject(new RangeError('Out of memory: Cannot allocate Wasm memory')); } },
    { name: 'a worker that dies while the question is open', during: 'question',
      fail: () => { setTimeout(() => { throw new Error('the worker died'); }); } },
  ];
  for (const { name, during, fail } of crashes) {
    it(`recovers from ${name}`, () => withPage({}, async (page, { errors }) => {
      await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
      await chooseFile(page, 'target', 'target.gba', demo);
      await listed(page);
      const [worker] = page.workers();
      if (during === 'question') {
        await page.click('#run');
        await page.waitForSelector('#question', { state: 'visible' });
      }
      await worker.evaluate(fail);
      if (during === 'run') await page.click('#run');
      await until(page, () => document.querySelector('#result').textContent !== '');
      assert.match(await text(page, '#result'), /^The tool stopped before the end/);
      assert.match(await text(page, '#status'), /^The run did not complete: /);
      assert.equal(await visible(page, '#question'), false);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'result');
      errors.length = 0;  // the worker's own report of the failure
      await until(page, () => !document.querySelector('#run').disabled);
      const { nativeRun } = await insertAndCompare(page, { 'demo.tbnk': nativeBank, 'target.gba': demo },
                                                   ['demo.tbnk', 'target.gba'], 'y');
      assert.ok((await download(page)).bytes.equals(nativeRun.file('target.gba')));
    }));
  }

  it('works from the keyboard alone, focus shown and moved where the news is', () => withPage({}, async (page) => {
    const focused = () => page.evaluate(() => {
      const element = document.activeElement;
      const style = getComputedStyle(element);
      return { id: element.id, outline: style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2 };
    });
    // Tab to a control, check its focus is visible, then press a key on it.
    const press = async (id, key) => {
      for (let tabs = 0; (await focused()).id !== id; tabs++) {
        assert.ok(tabs < 20, `Tab never reaches #${id}`);
        await page.keyboard.press('Tab');
      }
      assert.ok((await focused()).outline, `no visible focus on #${id}`);
      await page.keyboard.press(key);
    };
    const chooseByKey = async (id, key, name, bytes) => {
      const [chooser] = await Promise.all([page.waitForEvent('filechooser'), press(id, key)]);
      await chooser.setFiles({ name, mimeType: 'application/octet-stream', buffer: bytes });
    };
    await chooseByKey('source-choose', 'Enter', 'demo.tbnk', nativeBank);
    await chooseByKey('target-choose', ' ', 'target.gba', demo);
    await press('target-clear', 'Enter');
    assert.equal(await text(page, '#run'), 'Extract');
    await chooseByKey('target-choose', 'Enter', 'target.gba', demo);
    await press('swap', ' ');
    assert.ok((await text(page, '#source-name')).startsWith('target.gba ('));
    await press('swap', 'Enter');

    const nativeRun = runNative({ 'demo.tbnk': nativeBank, 'target.gba': demo }, [native, ['demo.tbnk', 'target.gba'], 'y\n\n']);
    const [expected] = nativeRun.runs;
    for (const [runKey, answerKey, ending] of [['Enter', 'n', /^Cancelled/], [' ', 'y', /^The music was added/]]) {
      await page.focus('#source-choose');
      await press('run', runKey);
      await page.waitForSelector('#question', { state: 'visible' });
      assert.deepEqual(await focused(), { id: 'question', outline: true });
      await page.keyboard.press(answerKey);
      await until(page, () => document.activeElement.id === 'result');
      assert.match(await text(page, '#result'), ending);
      assert.ok((await focused()).outline, 'no visible focus on the result');
    }
    assert.equal(await text(page, '#console'), expected.transcript);
    for (const key of ['Enter', ' ']) {
      const [event] = await Promise.all([page.waitForEvent('download'), press('download', key)]);
      assert.equal(event.suggestedFilename(), 'target (music added).gba');
      assert.ok(fs.readFileSync(await event.path()).equals(nativeRun.file('target.gba')));
    }
  }));

  it('tells assistive technology what it shows', () => withPage({}, async (page) => {
    const cdp = await page.context().newCDPSession(page);
    // The browser's accessibility tree: role, name, description and properties of each node.
    const tree = async () => (await cdp.send('Accessibility.getFullAXTree')).nodes.filter((node) => !node.ignored).map((node) => ({
      role: node.role?.value,
      name: node.name?.value,
      description: node.description?.value,
      ...Object.fromEntries((node.properties || []).map((property) => [property.name, property.value.value])),
    }));
    const find = (nodes, role, name) => nodes.find((node) => node.role === role && (name === undefined || node.name === name));

    let nodes = await tree();
    for (const name of ['Choose source…', 'Choose target…', 'Extract']) assert.ok(find(nodes, 'button', name), `no button ${name}`);
    assert.deepEqual(nodes.filter((node) => node.role === 'button' && !node.name), [], 'unnamed buttons');
    assert.ok(find(nodes, 'group', 'Console'), 'the console box has no name');
    const result = nodes.find((node) => node.role === 'status' && node.live === 'polite' && node.atomic === true);
    assert.ok(result, 'no atomic polite status for the result');
    assert.ok(nodes.filter((node) => node.live === 'polite').length >= 2, 'the note on dropped files is not live');

    await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
    await chooseFile(page, 'target', 'target.gba', demo);
    await page.click('#run');
    await page.waitForSelector('#question', { state: 'visible' });
    nodes = await tree();
    const dialog = find(nodes, 'alertdialog', 'Are you sure you wish to proceed?');
    assert.ok(dialog, 'the question is no alertdialog named by its question');
    assert.match(dialog.description, /^Inserting audio data at: 0x0800[0-9A-F]{4} Press y or n/);
    assert.equal(dialog.focused, true);
    for (const name of ['Proceed (y)', 'Cancel (n)']) assert.ok(find(nodes, 'button', name), `no button ${name}`);

    await page.keyboard.press('y');
    await finished(page);
    nodes = await tree();
    const status = nodes.find((node) => node.role === 'status' && node.focused);
    assert.ok(status, 'the result is not focused');
    assert.match(await page.locator('#result').ariaSnapshot(), /^- status: "The music was added to a copy of target\.gba/);
    const got = await download(page);
    const expected = runNative({ 'demo.tbnk': nativeBank, 'target.gba': demo }, [native, ['demo.tbnk', 'target.gba'], 'y\n\n']);
    assert.ok(got.bytes.equals(expected.file('target.gba')));
    assert.ok(find(nodes, 'link', `Download target (music added).gba (${got.bytes.length.toLocaleString('en')} bytes)`));
  }));

  it('fits screens from 320 px, light and dark, without sideways scrolling', async () => {
    const long = `a-cartridge-image-with-a-name-far-too-long-for-one-line-${'x'.repeat(60)}.gba`;
    const backgrounds = {};
    for (const colorScheme of ['light', 'dark']) {
      for (const width of [320, 390, 1280]) {
        await withPage({ colorScheme, viewport: { width, height: 900 } }, async (page) => {
          await chooseFile(page, 'source', 'demo.tbnk', nativeBank);
          await chooseFile(page, 'target', long, demo);
          await page.click('#run');
          await page.waitForSelector('#question', { state: 'visible' });
          if (width !== 320) await page.screenshot({ path: path.join(shots, `question-${width}-${colorScheme}.png`), fullPage: true });
          await page.keyboard.press('y');
          await finished(page);
          const sizes = await page.evaluate(() => ({ page: document.documentElement.scrollWidth, screen: window.innerWidth }));
          assert.ok(sizes.page <= sizes.screen, `${sizes.page} px wide on a ${width} px ${colorScheme} screen`);
          if (width !== 320) await page.screenshot({ path: path.join(shots, `inserted-${width}-${colorScheme}.png`), fullPage: true });
          backgrounds[colorScheme] = await page.evaluate(() => getComputedStyle(document.documentElement).backgroundColor);
        });
      }
    }
    assert.equal(backgrounds.light, 'rgb(246, 247, 249)');
    assert.notEqual(backgrounds.dark, backgrounds.light);
  });

  it('loads nothing but its own build files, and the page and its worker can fetch nothing else',
     () => withPage({}, async (page, { beforeLoad, errors }) => {
       // Every file but index.html is named after the hash of what it holds.
       const files = beforeLoad.filter((name) => name !== '/');
       assert.ok(files.length >= 5, `${files}`);
       for (const name of files) {
         const [, hash] = /\.([0-9a-f]{16})\.[a-z]+$/.exec(name) || [];
         const content = fs.readFileSync(path.join(site, name));
         assert.equal(hash, crypto.createHash('sha256').update(content).digest('hex').slice(0, 16), name);
       }
       assert.deepEqual(fs.readdirSync(site).sort(), ['index.html', ...files.map((name) => name.slice(1))].sort());

       // localhost is another origin of the same server: a request that got out would be served.
       const probe = `http://localhost:${port}/probe`;
              assert.deepEqual(await page.evaluate(async (url) => {
         const script = document.createElement('script');
         script.textContent = 'window.inlineRan = true;';
         document.head.append(script);
         return { fetch: await (fetch(url).then(() => 'done', (error) => error.name)), inline: window.inlineRan === true };
       }, probe), { fetch: 'TypeError', inline: false });
       assert.deepEqual(await page.workers()[0].evaluate(async (url) => {
         let imported = 'done';
         try {
           importScripts(url);
         } catch (error) {
           imported = error.name;
         }
         return { fetch: await (fetch(url).then(() => 'done', (error) => error.name)), imported };
       }, probe), { fetch: 'TypeError', imported: 'NetworkError' });
       assert.ok(!served.includes('/probe'), 'the probe request got out');
       // The browser reports each refusal; they are the only errors.
       const reported = errors.splice(0);
       assert.ok(reported.length >= 2 && reported.every((message) => /Content Security Policy/.test(message)),
                 `errors: ${reported}`);
     }));
});

describe('the songs of a source, and moving them', { skip: noSongs }, () => {
  // The rows the page should show, read from the native listing: number, player, tracks, size
  // and notes.
  function expectedRows(transcript) {
    const rows = [];
    for (const line of transcript.split('\n')) {
      const match = /^ *(\d+) +(\d+) +(\d+) +\d+ +0x\S+ +0x\S+ +(\d+)((?: {2}empty)?)(?: {2}same header as song (\d+))?$/.exec(line);
      if (!match) continue;
      const notes = [match[5] ? 'empty' : '', match[6] ? `same header as song ${match[6]}` : ''].filter(Boolean);
      rows.push([match[1], match[2], match[3], Number(match[4]).toLocaleString('en'), notes.join('; ')]);
    }
    return rows;
  }
  const shownRows = (page) => page.$$eval('#songs-rows tr', (rows) =>
    rows.map((row) => [...row.children].slice(0, 5).map((cell) => cell.textContent)));
  const sortOf = (page) => page.$$eval('#songs-table th[data-sort]', (headers) =>
    headers.map((header) => header.getAttribute('aria-sort')));

  const sources = [
    { name: 'demo.gba', bytes: demo, players: /^It has 5 players: player 0 plays 8 tracks, .*, player 4 plays 1 track\.$/ },
    { name: 'demo.tbnk', bytes: nativeBank, players: /^Players: none, as a sound bank holds no player table\.$/ },
  ];
  for (const { name, bytes, players } of sources) {
    it(`shows the songs of ${name} as a table, sorted by number or size from the keyboard`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', name, bytes);
      await listed(page);
      const [expected] = runNative({ [name]: bytes }, [nativeSongs, [name], '\n']).runs;
      assert.equal(await text(page, '#songs-console'), expected.transcript);
      assert.match(await text(page, '#players'), players);
      assert.equal(await text(page, '#songs-caption'), `The songs of ${name}`);
      const rows = expectedRows(expected.transcript);
      assert.equal(rows.length, 4);
      assert.deepEqual(await shownRows(page), rows);
      assert.deepEqual(await sortOf(page), ['ascending', null]);

      // Songs of one size stay in song order either way round.
      const size = (row) => Number(row[3].replace(',', ''));
      const bySize = (sign) => [...rows].sort((a, b) => sign * (size(a) - size(b)) || a[0] - b[0]);
      const steps = [
        ['Size (bytes)', bySize(1), [null, 'ascending'], 'Sorted by size, smallest first.'],
        ['Size (bytes)', bySize(-1), [null, 'descending'], 'Sorted by size, largest first.'],
        ['Song', rows, ['ascending', null], 'Sorted by song number, lowest first.'],
        ['Song', [...rows].reverse(), ['descending', null], 'Sorted by song number, highest first.'],
      ];
      await page.focus('#source-choose');
      for (const [button, order, sort, said] of steps) {
        for (let tabs = 0; (await page.evaluate(() => document.activeElement.textContent)) !== button; tabs++) {
          assert.ok(tabs < 10, `Tab never reaches ${button}`);
          await page.keyboard.press('Tab');
        }
        await page.keyboard.press('Enter');
        assert.deepEqual(await shownRows(page), order);
        assert.deepEqual(await sortOf(page), sort);
        assert.equal(await text(page, '#songs-sorted'), said);
      }
    }));
  }

  // Places chosen in the page, the native command line, the answer and what the page says.
  const moves = [
    { name: 'a replace, with the track warning', source: ['demo.gba', demo], target: ['game.gba', odd],
      places: { 0: '1' }, args: ['demo.gba', 'game.gba', '0=1'], answer: 'y', download: 'game (songs replaced).gba',
      warning: /^Song 0 has 3 tracks, but player 2, which plays it in the target, has 2: /,
      result: /^Moved as you chose, despite the warning: song 0 replaced song 1 in a copy of game\.gba\./ },
    { name: 'two adds and a replace from a bank', source: ['demo.tbnk', nativeBank], target: ['game.gba', demo],
      places: { 3: 'new', 1: 'new', 2: '0' }, args: ['demo.tbnk', 'game.gba', '1=new', '2=0', '3=new'], answer: 'y',
      download: 'game (songs added).gba',
      result: /^The songs were moved into a copy of game\.gba: song 1 was added as song 4, song 2 replaced song 0, song 3 was added as song 5\. The copy plays its new song list at 0x[0-9A-F]{8}, of 6 songs\./ },
    { name: 'an add, declined', source: ['demo.gba', demo], target: ['game.gba', demo],
      places: { 3: 'new' }, args: ['demo.gba', 'game.gba', '3=new'], answer: 'n', result: /^Cancelled: no song was moved/ },
  ];
  for (const { name, source, target, places, args, answer, download: downloadName, warning, result } of moves) {
    it(`moves songs: ${name}`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', ...source);
      await chooseFile(page, 'target', ...target);
      await listed(page);
      assert.ok(await page.isDisabled('#move'));
      for (const [song, place] of Object.entries(places)) {
        await page.selectOption(`#songs-rows select[data-song="${song}"]`, place);
      }
      assert.equal(await page.$$eval('#moves-list li', (items) => items.length), Object.keys(places).length);
      assert.equal(await visible(page, '#moves-warning'), Boolean(warning));
      const nativeRun = runNative({ [args[0]]: source[1], [args[1]]: target[1] }, [nativeSongs, args, `${answer}\n\n`]);
      const [expected] = nativeRun.runs;
      await page.click('#move');
      await page.waitForSelector('#question', { state: 'visible' });
      assert.equal(await page.evaluate(() => document.activeElement.id), 'question');
      assert.equal(await text(page, '#console'), expected.transcript.slice(0, expected.transcript.indexOf(question) + question.length));
      assert.match(await text(page, '#question-where'), /^Appending \d+ bytes at: 0x[0-9A-F]{8}/);
      if (warning) {
        assert.match(await text(page, '#question-warning'), warning);
        assert.match(await text(page, '#moves-warning'), warning);
      }
      await nothingToDownload(page);
      await page.keyboard.press(answer);
      const status = await finished(page);
      assert.equal(await text(page, '#console'), expected.transcript);
      assert.equal(status, expected.status);
      assert.match(await text(page, '#result'), result);
      if (answer === 'n') {
        await nothingToDownload(page);
        return;
      }
      const got = await download(page);
      assert.equal(got.name, downloadName);
      assert.ok(got.bytes.equals(nativeRun.file(args[1])), 'the moved songs differ from the native run');
    }));
  }

  it('tells assistive technology about the table and the places', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'demo.gba', demo);
    await chooseFile(page, 'target', 'game.gba', demo);
    await listed(page);
    await page.selectOption('#songs-rows select[data-song="3"]', 'new');
    assert.equal(await page.getAttribute('#songs-box', 'tabindex'), '0');
    const snapshot = await page.locator('#songs').ariaSnapshot();
    for (const expected of [
      /- region "The songs of demo\.gba":/,
      /- table "The songs of demo\.gba":/,
      /- columnheader "Size \(bytes\)":\n\s+- button "Size \(bytes\)"\n/,
      /- rowheader "3"/,
      /- combobox "Place in the target for song 0":\n\s+- option "Not moved" \[selected\]\n\s+- option "New song \(4 or later\)"\n\s+- option "Replaces 0 \(player 1, 3 tracks\)"/,
      /- combobox "Place in the target for song 3":[^]*- option "New song \(4 or later\)" \[selected\]/,
      /- listitem: Song 3 \(1 track, 2,656 bytes alone\) is added as song 4, played by player 4 \(1 track\)\./,
      /- button "Move the chosen songs"/,
    ]) {
      assert.match(snapshot, expected);
    }
    // The sort state is the header's aria-sort; the arrow shown is no part of a name.
    assert.equal(await page.getAttribute('#songs-table th[data-sort="number"]', 'aria-sort'), 'ascending');
    assert.match(snapshot, /- columnheader "Song":\n\s+- button "Song"\n/);
  }));

  it('fits the table from 320 px, light and dark, scrolling inside its box', async () => {
    for (const [width, colorScheme] of [[1280, 'light'], [1280, 'dark'], [390, 'light'], [390, 'dark'], [320, 'light']]) {
      await withPage({ colorScheme, viewport: { width, height: 900 } }, async (page) => {
        await chooseFile(page, 'source', 'demo.gba', demo);
        await chooseFile(page, 'target', 'game.gba', six);
        await listed(page);
        await page.selectOption('#songs-rows select[data-song="0"]', '1');
        await page.selectOption('#songs-rows select[data-song="3"]', 'new');
        const sizes = await page.evaluate(() => ({ page: document.documentElement.scrollWidth, screen: window.innerWidth }));
        assert.ok(sizes.page <= sizes.screen, `${sizes.page} px wide on a ${width} px ${colorScheme} screen`);
        if (width !== 320) await page.locator('#songs').screenshot({ path: path.join(shots, `songs-${width}-${colorScheme}.png`) });
      });
    }
  });
});
