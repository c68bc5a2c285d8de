// Drives the page in headless Chromium through its own controls, each test on a fresh page, and
// compares everything it shows and offers for download with the native programs run on the same
// files and typed answers.
//
//   SONVAULT_SITE         folder of the built page (default build-web/site)
//   SONVAULT_NATIVE       native sonvault (default build/sonvault); sonvault-point beside it adds
//                         the pointing step, tools/make_bench_image the full-size runs
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
const benchTool = path.join(path.dirname(native), 'tools', 'make_bench_image');
const shots = path.resolve(root, process.env.SONVAULT_SCREENSHOTS || 'build-web/screenshots');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'sonvault-web-'));

const question = 'Are you sure you wish to proceed? (y/n)\n';
const windowSize = 0x2000000;
const demo = fs.readFileSync(path.join(root, 'examples/demo.gba'));
const noise = Buffer.alloc(0x10000);
for (let i = 0; i < noise.length; i++) noise[i] = (i * 131 + (i >> 8)) & 0xff;
const odd = Buffer.concat([demo, Buffer.from([0x5a])]);

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

// Before the page's scripts: runs posted to the worker wait until the test releases them.
function holdRuns() {
  const RealWorker = window.Worker;
  window.heldRuns = [];
  window.Worker = class extends RealWorker {
    postMessage(message, transfer) {
      if (message && message.type === 'run') window.heldRuns.push(() => super.postMessage(message, transfer));
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
  await page.setInputFiles(`#${which}-input`, { name, mimeType: 'application/octet-stream', buffer: bytes });
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

async function download(page) {
  const [event] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  return { name: event.suggestedFilename(), bytes: fs.readFileSync(await event.path()) };
}

async function nothingToDownload(page) {
  assert.equal(await visible(page, '#download'), false, 'a download is offered');
  assert.equal(await page.getAttribute('#download', 'href'), null, 'a download link is left');
}

// An extract with the source chosen, against the native run.
async function extractAndCompare(page, name, bytes) {
  await page.click('#run');
  const status = await finished(page);
  const [expected] = runNative({ [name]: bytes }, [native, [name], '\n']).runs;
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

  // Each error line of the tool comes with a plain sentence, and nothing to download.
  const failures = [
    { name: 'a source without audio data', source: ['noise.gba', noise], says: /^No music was found/ },
    { name: 'a target of 32 MiB', source: ['demo.tbnk', nativeBank], target: ['full.gba', Buffer.alloc(windowSize)],
      says: /^The result would not fit in a 32 MiB cartridge/ },
  ];
  for (const { name, source, target, says } of failures) {
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
