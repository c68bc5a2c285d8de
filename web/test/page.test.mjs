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
const manyTool = path.join(path.dirname(native), 'tools', 'make_many_songs');
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
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--autoplay-policy=no-user-gesture-required'],
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
    { name: 'a target of 32 MiB', source: ['demo.tbnk', nativeBank],
      target: ['full.gba', Buffer.concat([demo, Buffer.alloc(windowSize - demo.length)])],
      says: /^The result would not fit in a 32 MiB cartridge/ },
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
    // The benchmark's target has no song list, and the page inserts only into a game that has
    // one: the same 16 MiB, the demo's song list at its start.
    const benchTarget = fs.readFileSync(path.join(images, 'bench-target.gba'));
    demo.copy(benchTarget, 0);

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
       assert.match(await text(page, '#result'), /^The question before was closed, as you pressed Insert: nothing was changed by it\.$/);
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

    // The bank is not downloaded: Extract asks before it drops it.
    await page.click('#run');
    await page.click('#proceed');
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
    const dialog = find(nodes, 'alertdialog', 'Insert all the music of demo.tbnk into a copy of target.gba?');
    assert.ok(dialog, 'the question is no alertdialog named by its question');
    assert.match(dialog.description, /^Inserting audio data at: 0x0800[0-9A-F]{4} Press y or n/);
    assert.equal(dialog.focused, true);
    for (const name of ['Proceed (y)', 'Cancel (n)']) assert.ok(find(nodes, 'button', name), `no button ${name}`);

    await page.keyboard.press('y');
    await finished(page);
    nodes = await tree();
    const status = nodes.find((node) => node.role === 'status' && node.focused);
    assert.ok(status, 'the result is not focused');
    assert.match(await page.locator('#result').ariaSnapshot(), /^- status: "?The music was added to a copy of target\.gba/);
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

  it('says how to open it when it is opened as a local file', async () => {
    const context = await browser.newContext();
    try {
      const page = await context.newPage();
      await page.goto(`file://${path.join(site, 'index.html')}`);
      await until(page, () => /^The tool could not be started\. Open this page through a web server/.test(document.querySelector('#state').textContent));
    } finally {
      await context.close();
    }
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
  // The rows the page should show, read from the native listing: number, player, tracks,
  // length, size and notes.
  function expectedRows(transcript) {
    const rows = [];
    const row = /^ *(\d+) +(\d+) +(\d+) +\d+  (?:( {10}|(?:[ \d]\d:\d\d| long)(?: loop| {5}))  )?0x\S+  0x\S+   (\d+)((?: {2}empty)?)(?: {2}same header as song (\d+))?$/;
    for (const line of transcript.split('\n')) {
      const match = row.exec(line);
      if (!match) continue;
      const notes = [match[6] ? 'empty' : '', match[7] ? `same header as song ${match[7]}` : ''].filter(Boolean);
      const length = (match[4] || '').trim().replace(/ +/, ' ');
      rows.push([match[1], match[2], match[3], length, Number(match[5]).toLocaleString('en'), notes.join('; ')]);
    }
    return rows;
  }
  // The rows in view: every cell but the play control and the place.
  const shownRows = (page, which = 'source') => page.$$eval(`#${which}-table tbody tr[data-index]`, (rows) =>
    rows.map((row) => [0, 2, 3, 4, 5, 6].map((index) => row.children[index].textContent)));
  const sortOf = (page) => page.$$eval('#source-table thead th', (headers) =>
    headers.map((header) => header.getAttribute('aria-sort')).filter((sort, index) => [0, 3, 4, 5].includes(index)));

  // Goes to the song's row by typing its number in the grid, then types its place.
  async function placeSong(page, song, place, player) {
    await page.focus('#source-table');
    await page.keyboard.type(String(song));
    await until(page, (n) => document.querySelector('#place-heading').textContent.startsWith(`Song ${n} `), song);
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'place');
    await page.keyboard.type(String(place));
    if (player !== undefined) await page.selectOption('#place-player', String(player));
    await page.focus('#place');
    await page.keyboard.press('Enter');
  }

  const sources = [
    { name: 'demo.gba', bytes: demo, players: /^It has 5 players: player 0 plays 8 tracks, .*, player 4 plays 1 track\.$/ },
    { name: 'demo.tbnk', bytes: nativeBank, players: /^Players: none, as a sound bank holds no player table\.$/ },
  ];
  for (const { name, bytes, players } of sources) {
    it(`shows the songs of ${name} as a grid, sorted from the keyboard`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', name, bytes);
      await listed(page);
      const [expected] = runNative({ [name]: bytes }, [nativeSongs, [name], '\n']).runs;
      assert.equal(await text(page, '#songs-console'), expected.transcript);
      assert.match(await text(page, '#source-players'), players);
      assert.equal(await text(page, '#source-caption'), `The songs of ${name}`);
      const rows = expectedRows(expected.transcript);
      assert.equal(rows.length, 4);
      assert.deepEqual(await shownRows(page), rows);
      assert.deepEqual(await sortOf(page), ['ascending', null, null, null]);

      // Songs of one value stay in song order either way round.
      const by = (column, sign) => [...rows].sort((a, b) => sign * (Number(a[column].replace(/\D/g, '')) - Number(b[column].replace(/\D/g, ''))) || a[0] - b[0]);
      // The header row is above the first row; the arrows go to a column, Enter sorts it.
      const steps = [
        [['ArrowUp', 'ArrowRight', 'ArrowRight', 'ArrowRight'], by(2, 1), [null, 'ascending', null, null], 'Sorted by tracks, fewest first.'],
        [['Enter'], by(2, -1), [null, 'descending', null, null], 'Sorted by tracks, most first.'],
        [['ArrowRight', 'ArrowRight'], by(4, 1), [null, null, null, 'ascending'], 'Sorted by size, smallest first.'],
        [['Home', 'Enter'], rows, ['ascending', null, null, null], 'Sorted by song number, lowest first.'],
      ];
      await page.focus('#source-table');
      for (const [keys, order, sort, said] of steps) {
        for (const key of keys) await page.keyboard.press(key);
        if (keys.at(-1) !== 'Enter') await page.keyboard.press('Enter');
        assert.deepEqual(await shownRows(page), order);
        assert.deepEqual(await sortOf(page), sort);
        assert.equal(await text(page, '#source-sorted'), said);
      }
    }));
  }

  // With three players: the demo's songs of player 3 and 4 find none of theirs.
  const three = Buffer.from(demo);
  three.writeUInt32LE(0, 0x3C0 + 12 * 3);

  // Places typed in the page, the native command line, the answer and what the page says.
  const moves = [
    { name: 'a replace, with the track warning', source: ['demo.gba', demo], target: ['game.gba', odd],
      places: [[0, 1]], args: ['demo.gba', 'game.gba', '0=1'], answer: 'y', download: 'game (songs replaced).gba',
      notes: [/Song 0 has 3 tracks, but player 2, which plays it in the target, has 2: .*sound thin\.$/],
      result: /^Moved as you chose, despite the notes in the list of moves: song 0 replaced song 1 in a copy of game\.gba\./ },
    { name: 'two adds and a replace from a bank', source: ['demo.tbnk', nativeBank], target: ['game.gba', demo],
      places: [[3, 'new'], [1, 'new'], [2, 0]], args: ['demo.tbnk', 'game.gba', '1=new', '2=0', '3=new'], answer: 'y',
      download: 'game (songs added).gba',
      result: /^The songs were moved into a copy of game\.gba: song 1 was added as song 4, song 2 replaced song 0, song 3 was added as song 5\. The copy plays its new song list at 0x[0-9A-F]{8}, of 6 songs\./ },
    { name: 'an add whose player the target lacks, on the player proposed', source: ['demo.gba', demo],
      target: ['three.gba', three], places: [[3, 'new']], args: ['demo.gba', 'three.gba', '3=new:2'], answer: 'y',
      download: 'three (songs added).gba',
      notes: [/The target has no player 4, the source's player of song 3: player 2 is proposed, the smallest that holds its 1 track\./] },
    { name: 'an add on a player chosen, past its tracks, declined', source: ['demo.gba', demo], target: ['game.gba', demo],
      places: [[0, 'new', 4]], args: ['demo.gba', 'game.gba', '0=new:4'], answer: 'n',
      notes: [/the game will play only its first track, and the song may sound thin\.$/], result: /^Cancelled: no song was moved/ },
  ];
  for (const { name, source, target, places, args, answer, download: downloadName, notes = [], result } of moves) {
    it(`moves songs: ${name}`, () => withPage({}, async (page) => {
      await chooseFile(page, 'source', ...source);
      await chooseFile(page, 'target', ...target);
      await listed(page);
      assert.ok(await page.isDisabled('#move'));
      for (const [song, place, player] of places) await placeSong(page, song, place, player);
      const items = await page.$$eval('#moves-list li', (list) => list.map((item) => item.textContent));
      assert.equal(items.length, places.length);
      for (const note of notes) assert.equal(items.filter((item) => note.test(item.replace(/ Remove$/, ''))).length, 1, `${note} in ${items}`);
      const nativeRun = runNative({ [args[0]]: source[1], [args[1]]: target[1] }, [nativeSongs, args, `${answer}\n\n`]);
      const [expected] = nativeRun.runs;
      await page.click('#move');
      await page.waitForSelector('#question', { state: 'visible' });
      assert.equal(await page.evaluate(() => document.activeElement.id), 'question');
      assert.equal(await text(page, '#question-title'),
                   `Move ${places.length} song${places.length === 1 ? '' : 's'} into a copy of ${args[1]}?`);
      assert.equal(await text(page, '#console'), expected.transcript.slice(0, expected.transcript.indexOf(question) + question.length));
      const where = expected.transcript.split('\n').filter((line) => /^(Appending|New song list at)/.test(line));
      assert.equal(await text(page, '#question-where'), where.join('\n'));
      await nothingToDownload(page);
      await page.keyboard.press(answer);
      const status = await finished(page);
      assert.equal(await text(page, '#console'), expected.transcript);
      assert.equal(status, expected.status);
      if (result) assert.match(await text(page, '#result'), result);
      if (answer === 'n') {
        await nothingToDownload(page);
        return;
      }
      const got = await download(page);
      assert.equal(got.name, downloadName);
      assert.ok(got.bytes.equals(nativeRun.file(args[1])), 'the moved songs differ from the native run');
    }));
  }

  it('tells assistive technology about the grid, the place field and the moves', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'demo.gba', demo);
    await chooseFile(page, 'target', 'game.gba', demo);
    await listed(page);
    await placeSong(page, 3, 'new');
    await page.focus('#source-table');
    const snapshot = await page.locator('main').ariaSnapshot();
    for (const expected of [
      /- grid "The songs of demo\.gba":/,
      /- columnheader "Size \(bytes\)":\n\s+- button "Size \(bytes\)"\n/,
      /- row "3 Play[^"]*→ new" \[selected\]/,
      /- rowheader "3"/,
      /- combobox "Place in the target"/,
      /- listitem:\n\s+- text: Song 3 \(1 track, [^)]*2,656 bytes alone\) is added as song 4, played by player 4 \(1 track\)\.\n\s+- button "Remove the move of song 3"/,
      /- button "Move the chosen songs"/,
    ]) {
      assert.match(snapshot, expected);
    }
    assert.equal(await page.getAttribute('#source-table', 'tabindex'), '0');
    assert.equal(await page.getAttribute('#source-table', 'aria-activedescendant'), 'source-r3-c0');
    assert.equal(await page.getAttribute('#source-table', 'aria-rowcount'), '5');
    // Every control inside the grid is out of the Tab order: the grid is one stop.
    assert.deepEqual(await page.$$eval('#source-table button', (buttons) => buttons.filter((b) => b.tabIndex !== -1).length), 0);
    // Enter on a song of the target puts its number in the place field.
    await page.focus('#target-table');
    await page.keyboard.type('2');
    await page.keyboard.press('Enter');
    assert.deepEqual(await page.evaluate(() => [document.activeElement.id, document.activeElement.value]), ['place', '2']);
    assert.match(await text(page, '#place-shows'), /^Song 2 of game\.gba is there: player 3, 3 tracks/);
  }));

  it('fits the songs from 320 px, light and dark, the row\'s number in view', async () => {
    for (const [width, colorScheme] of [[1280, 'light'], [1280, 'dark'], [390, 'light'], [390, 'dark'], [320, 'light']]) {
      await withPage({ colorScheme, viewport: { width, height: 900 } }, async (page) => {
        await chooseFile(page, 'source', 'demo.gba', demo);
        await chooseFile(page, 'target', 'game.gba', six);
        await listed(page);
        await placeSong(page, 0, 1);
        await placeSong(page, 3, 'new');
        // The last column: the box scrolls sideways, the song number stays.
        await page.focus('#source-table');
        await page.keyboard.press('End');
        const sizes = await page.evaluate(() => ({ page: document.documentElement.scrollWidth, screen: window.innerWidth }));
        assert.ok(sizes.page <= sizes.screen, `${sizes.page} px wide on a ${width} px ${colorScheme} screen`);
        const seen = await page.evaluate(() => {
          const box = document.querySelector('#source-box').getBoundingClientRect();
          const inside = (id) => {
            const cell = document.getElementById(id).getBoundingClientRect();
            return cell.left >= box.left - 1 && cell.right <= box.right + 1;
          };
          return { number: inside('source-r3-c0'), last: inside('source-r3-c7') };
        });
        assert.deepEqual(seen, { number: true, last: true });
        if (width !== 320) await page.locator('#songs').screenshot({ path: path.join(shots, `songs-${width}-${colorScheme}.png`) });
      });
    }
  });

  it('closes a question when the files change, and says so', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'demo.gba', demo);
    await chooseFile(page, 'target', 'game.gba', demo);
    await page.click('#run');
    await page.waitForSelector('#question', { state: 'visible' });
    await chooseFile(page, 'target', 'odd.gba', odd);
    assert.equal(await visible(page, '#question'), false);
    assert.equal(await text(page, '#result'), 'The question was closed, as the files changed after it was asked: nothing was changed.');
    await nothingToDownload(page);
  }));

  it('refuses an insert into a file without a song list before running it', () => withPage({}, async (page) => {
    await chooseFile(page, 'source', 'demo.gba', demo);
    await chooseFile(page, 'target', 'notes.txt', Buffer.from('Songs to move:\n13 to 413\n'));
    await page.click('#run');
    await until(page, () => document.querySelector('#result').textContent !== '');
    assert.match(await text(page, '#result'), /^Not inserted: notes\.txt has no song list, so it is not a game /);
    assert.equal(await text(page, '#console'), '');
    assert.equal(await visible(page, '#question'), false);
    await nothingToDownload(page);
    assert.match(await text(page, '#songs-hint'), /^No song can be moved into notes\.txt: no song list was found in it\.$/);
  }));
});

describe('at the size of real games: 1000 songs into 1000', { skip: (noSongs || (!fs.existsSync(manyTool) && `no ${manyTool}`)) }, () => {
  const made = (name, ...args) => {
    const file = path.join(work, name);
    const run = spawnSync(manyTool, [file, '1000', ...args]);
    assert.equal(run.status, 0, String(run.stderr));
    return fs.readFileSync(file);
  };
  const figures = [];

  // Milliseconds from the first input event of the action to the end of the frame in which the
  // page shows what matches pattern in selector, measured in the page; each further [label,
  // selector, pattern] is timed from the same input.
  async function timed(page, label, action, selector, pattern, ...more) {
    const watches = [[label, selector, pattern], ...more];
    await page.evaluate((list) => { window.watches = list.map(([selector, source]) => ({ selector, source })); },
                        watches.map(([, where, wanted]) => [where, wanted.source]));
    await action();
    const times = await page.evaluate(async () => {
      while (window.watches.some((watch) => watch.ms === undefined)) await new Promise((resolve) => setTimeout(resolve, 10));
      return window.watches.map((watch) => watch.ms);
    });
    watches.forEach(([name], index) => figures.push(`${name}: ${Math.round(times[index])} ms`));
    return times[0];
  }
  // Each watch starts at the first input event, and checks once a frame, after the page's own
  // handlers ran.
  function watchInput() {
    const start = () => {
      for (const watch of window.watches || []) {
        if (watch.started !== undefined) continue;
        watch.started = performance.now();
        const wanted = new RegExp(watch.source);
        const check = () => {
          if (!wanted.test(document.querySelector(watch.selector)?.textContent ?? '')) requestAnimationFrame(check);
          else setTimeout(() => { watch.ms = performance.now() - watch.started; });
        };
        requestAnimationFrame(check);
      }
    };
    for (const type of ['keydown', 'mousedown', 'click', 'input', 'change']) document.addEventListener(type, start, true);
  }
  const keys = async (page, ...pressed) => { for (const key of pressed) await page.keyboard.press(key); };
  const focusedId = (page) => page.evaluate(() => document.activeElement.id || document.activeElement.className);

  after(() => {
    if (figures.length > 0) console.log(`# at 1000 x 1000 songs:\n${figures.map((line) => `#   ${line}`).join('\n')}`);
  });

  it('responds within 100 ms, reaches Move in a few keys, places 13 on 413 by typing, never asks a stale question',
     () => withPage({ viewport: { width: 1280, height: 900 } }, async (page) => {
       const many = made('many.gba', '10', '4', '2', '1', '6', '3');
       const target = made('target.gba', '10', '4', '1', '2');
       await page.evaluate(watchInput);
       const quick = [];
       const file = (name, bytes) => ({ name, mimeType: 'application/octet-stream', buffer: bytes });
       quick.push(await timed(page, 'choosing the source', () => page.setInputFiles('#source-input', file('many.gba', many)),
                              '#source-songs-state', /^Reading|^1,000 songs/,
                              ['  its table of 1000 songs shown', '#source-songs-state', /^1,000 songs/]));
       quick.push(await timed(page, 'choosing the target', () => page.setInputFiles('#target-input', file('target.gba', target)),
                              '#target-songs-state', /^Reading|^1,000 songs/,
                              ['  its table shown', '#target-songs-state', /^1,000 songs/]));
       await listed(page);

       await page.focus('#source-table');
       await keys(page, 'ArrowUp', 'ArrowRight', 'ArrowRight', 'ArrowRight');
       quick.push(await timed(page, 'sorting by tracks', () => keys(page, 'Enter'), '#source-sorted', /tracks, fewest/));
       await keys(page, 'ArrowRight');
       quick.push(await timed(page, 'sorting by length', () => keys(page, 'Enter'), '#source-sorted', /length, shortest/));
       quick.push(await timed(page, 'sorting by length, longest first', () => keys(page, 'Enter'), '#source-sorted', /length, longest/));
       const longest = await page.$eval('#source-table tbody tr[data-index="0"] th', (cell) => cell.textContent);
       assert.equal(longest, '7');
       await keys(page, 'Home');
       quick.push(await timed(page, 'sorting by number', () => keys(page, 'Enter'), '#source-sorted', /song number, lowest/));

       // Song 13 on 413, typed: the number in the grid, Enter, the place, Enter.
       await keys(page, 'ArrowDown');
       const typed = ['1', '3', 'Enter', '4', '1', '3'];
       await keys(page, ...typed);
       assert.match(await text(page, '#place-shows'), /^Song 413 of target\.gba is there: player \d, \d+ tracks?, 0:\d\d\. It will be replaced\.$/);
       quick.push(await timed(page, 'choosing a move (13 on 413)', () => keys(page, 'Enter'), '#moves-list', /Song 13 .*replaces song 413/));
       figures.push(`keys to place song 13 on 413: ${typed.length + 1}`);
       // Song 4 plays on player 4, which the target lacks: player 3 is proposed before any run.
       await page.focus('#source-table');
       await keys(page, '4', 'Enter', 'n', 'e', 'w');
       assert.match(await text(page, '#place-proposal'), /^The target has no player 4: player 3 is proposed, the smallest that holds its 2 tracks\.$/);
       await keys(page, 'Enter');
       await page.focus('#source-table');
       await keys(page, '1', '3', 'Enter', 'Backspace', 'Backspace', 'Backspace', '1', '2');
       quick.push(await timed(page, 'changing a move (13 to 12)', () => keys(page, 'Enter'), '#moves-list', /replaces song 12 of/));
       await keys(page, 'Backspace', 'Backspace', '4', '1', '3', 'Enter');
       assert.equal(await page.$$eval('#moves-list li', (items) => items.length), 2);

       // From the grid to Move: Tab to the link back to the actions, Enter, Tab to Move.
       await page.focus('#source-table');
       let pressed = 0;
       while ((await focusedId(page)) !== 'move') {
         assert.ok(pressed < 8, `Move not reached in ${pressed} keys`);
         const onLink = await page.evaluate(() => document.activeElement.classList.contains('skip'));
         await keys(page, onLink ? 'Enter' : 'Tab');
         pressed++;
       }
       figures.push(`keys from the grid to Move: ${pressed}`);
       await page.focus('#target-choose');
       for (pressed = 0; (await focusedId(page)) !== 'run'; pressed++) {
         assert.ok(pressed < 4, 'Insert not reached');
         await keys(page, 'Tab');
       }
       figures.push(`Tab presses from Choose target to Insert: ${pressed}`);

       const args = ['many.gba', 'target.gba', '4=new:3', '13=413'];
       const nativeRun = runNative({ 'many.gba': many, 'target.gba': target }, [nativeSongs, args, 'y\n\n']);
       const [expected] = nativeRun.runs;
       await page.focus('#move');
       quick.push(await timed(page, 'starting a run (Move)', () => keys(page, 'Enter'), '#state', /Running…|waiting for your answer/));
       await page.waitForSelector('#question', { state: 'visible' });
       assert.equal(await text(page, '#question-title'), 'Move 2 songs into a copy of target.gba?');
       assert.equal(await text(page, '#console'), expected.transcript.slice(0, expected.transcript.indexOf(question) + question.length));

       // A stale question: the moves change while it is open; it closes and says why.
       await page.click('#moves-list li:first-child button');
       assert.equal(await visible(page, '#question'), false);
       assert.match(await text(page, '#result'), /^The question was closed, as the moves changed after it was asked/);
       await page.focus('#source-table');
       await keys(page, '4', 'Enter', 'n', 'e', 'w', 'Enter');
       await page.click('#move');
       await page.waitForSelector('#question', { state: 'visible' });
       await page.keyboard.press('y');
       await finished(page);
       assert.equal(await text(page, '#console'), expected.transcript);

       // The moved song plays from the copy before the download, as the console renders it.
       await timed(page, 'playing song 413 of the copy (0:20)', () => page.click('#moved-list button >> nth=1'),
                   '#listen-state', /^Playing |ready/);
       assert.match(await text(page, '#listen-state'), /^Playing song 413 of target \(songs added\)\.gba \(song 13 of the source\)\. Song 413: 0:20, ends/);
       const [wav] = await Promise.all([page.waitForEvent('download'), page.click('#listen-download')]);
       assert.equal(wav.suggestedFilename(), 'target (songs added)-413.wav');
       const moved = nativeRun.file('target.gba');
       const rendered = runNative({ 'moved.gba': moved }, [nativeSongs, ['moved.gba', '--wav', '413'], '\n']);
       assert.ok(fs.readFileSync(await wav.path()).equals(rendered.file('moved-413.wav')), 'the played song differs from the console\'s');

       // A result not downloaded is not dropped without asking.
       await placeSong2(page);
       await page.click('#move');
       assert.equal(await text(page, '#question-title'), 'Drop target (songs added).gba without downloading it?');
       await page.keyboard.press('n');
       const got = await download(page);
       assert.ok(got.bytes.equals(moved), 'the moved songs differ from the native run');

       // A song of two minutes starts playing within 2 s.
       await page.focus('#source-table');
       await keys(page, 'Home', '7', 'ArrowRight');
       const twoMinutes = await timed(page, 'playing song 7 of the source (2:01, loops)', () => keys(page, 'Enter'), '#listen-state', /^Playing |ready/);
       assert.match(await text(page, '#listen-state'), /^Playing song 7 of many\.gba\. Song 7: 2:01, loops/);
       await until(page, () => document.querySelector('#audio').currentTime > 0);
       await page.click('#listen-stop');
       figures.push(twoMinutes < 2000 ? 'the 2-minute song started within 2 s' : 'the 2-minute song took over 2 s');
       for (const ms of quick) assert.ok(ms < 100, `a response took ${Math.round(ms)} ms: ${figures.join('; ')}`);
     }));

  // Song 0 given a place, so a new move is ready.
  async function placeSong2(page) {
    await page.focus('#source-table');
    await page.keyboard.press('Control+Home');
    await page.keyboard.press('Home');
    await page.keyboard.press('Enter');
    await page.keyboard.type('0');
    await page.keyboard.press('Enter');
  }
});
