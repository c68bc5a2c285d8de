// Drives the page in headless Chromium through its own controls and compares everything it shows
// and offers for download with the native build run on the same files and typed answers.
//
//   SONVAULT_SITE    folder of the built page (default build-web/site)
//   SONVAULT_NATIVE  native executable (default build/sonvault); make_bench_image beside it in
//                    tools/ adds the full-size runs
//   CHROMIUM         browser executable (default /usr/bin/chromium)
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
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
const benchTool = path.join(path.dirname(native), 'tools', 'make_bench_image');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'sonvault-web-'));

const question = 'Are you sure you wish to proceed? (y/n)\n';
const windowSize = 0x2000000;

// ---- the native tool ----

let nativeRuns = 0;

// Runs the native tool in a fresh directory holding copies of the inputs; stdin is a pipe with
// the typed answer line, then one more line for the closing pause. Returns the transcript
// (stdout and stderr as one console), the exit status and the directory.
function runNative(inputs, args, answer) {
  const dir = path.join(work, `native-${++nativeRuns}`);
  fs.mkdirSync(dir);
  for (const [name, bytes] of Object.entries(inputs)) fs.writeFileSync(path.join(dir, name), bytes);
  const consolePath = path.join(dir, '.console');
  const consoleFd = fs.openSync(consolePath, 'w');
  const input = answer === null ? '\n' : `${answer}\n\n`;
  const run = spawnSync(native, args, { cwd: dir, input, stdio: ['pipe', consoleFd, consoleFd] });
  fs.closeSync(consoleFd);
  assert.equal(run.error, undefined, `native run failed to start: ${run.error}`);
  const transcript = fs.readFileSync(consolePath, 'utf8');
  fs.unlinkSync(consolePath);
  return { transcript, status: run.status, dir, file: (name) => fs.readFileSync(path.join(dir, name)) };
}

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
let context;
let page;
let loaded = false;
const requestsBeforeLoad = [];
const requestsAfterLoad = [];
const pageErrors = [];

function inputFile(name, bytes) {
  const dir = fs.mkdtempSync(path.join(work, 'input-'));
  const file = path.join(dir, name);
  fs.writeFileSync(file, bytes);
  return file;
}

async function chooseSource(name, bytes) {
  await page.setInputFiles('#source-input', inputFile(name, bytes));
  await expectText('#source-name', `${name} (${bytes.length.toLocaleString('en')} bytes)`);
}

async function chooseTarget(name, bytes) {
  if (name === null) {
    if (await page.isVisible('#target-clear')) await page.click('#target-clear');
    await page.waitForSelector('#target-clear', { state: 'hidden' });
    return;
  }
  await page.setInputFiles('#target-input', inputFile(name, bytes));
  await expectText('#target-name', `${name} (${bytes.length.toLocaleString('en')} bytes)`);
}

async function expectText(selector, text) {
  await page.waitForFunction(
    ([s, t]) => document.querySelector(s).textContent === t, [selector, text]);
}

async function consoleText() {
  return page.$eval('#console', (element) => element.textContent);
}

// Waits for the end of a run and reads the exit status the page shows.
async function finished() {
  await page.waitForFunction(() => document.querySelector('#status').textContent !== '');
  const status = await page.textContent('#status');
  const match = /^Exit status (\d+)/.exec(status);
  assert.ok(match, `no exit status on the page: ${status}`);
  return Number(match[1]);
}

async function clickRun() {
  await page.waitForSelector('#run:not([disabled])');
  await page.click('#run');
}

async function download() {
  const [event] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const file = await event.path();
  return { name: event.suggestedFilename(), bytes: fs.readFileSync(file) };
}

async function nothingToDownload() {
  assert.equal(await page.isVisible('#download-box'), false, 'a download is offered');
  assert.equal(await page.getAttribute('#download', 'href'), null, 'a download link is left');
}

// Runs an extract in the page with the source already chosen and checks it against the native
// tool; returns the native run.
async function extractAndCompare(sourceName, sourceBytes) {
  await clickRun();
  const status = await finished();
  const expected = runNative({ [sourceName]: sourceBytes }, [sourceName], null);
  assert.equal(await consoleText(), expected.transcript);
  assert.equal(status, expected.status);
  if (expected.status === 0) {
    const got = await download();
    assert.equal(got.name, 'output.tbnk');
    assert.ok(got.bytes.equals(expected.file('output.tbnk')), 'output.tbnk differs from the native one');
  } else {
    await nothingToDownload();
  }
  return expected;
}

// Starts an insert in the page with both files chosen; checks the console up to the question
// and where the data will land against the native transcript, then answers.
async function insertAndCompare(sourceName, sourceBytes, targetName, targetBytes, answer) {
  const inputs = { [sourceName]: sourceBytes, [targetName]: targetBytes };
  const expected = runNative(inputs, [sourceName, targetName], answer);
  const asked = expected.transcript.indexOf(question);
  assert.ok(asked > 0, `the native run never asked: ${expected.transcript}`);

  await clickRun();
  await page.waitForSelector('#question', { state: 'visible' });
  assert.equal(await consoleText(), expected.transcript.slice(0, asked + question.length));
  const where = expected.transcript.split('\n').find((line) => line.startsWith('Inserting'));
  assert.equal(await page.textContent('#question-where'), where);
  assert.equal(await page.textContent('#status'), '');
  await nothingToDownload();

  await page.click(answer === 'y' ? '#proceed' : '#cancel');
  const status = await finished();
  assert.equal(await page.isVisible('#question'), false);
  assert.equal(await consoleText(), expected.transcript);
  assert.equal(status, expected.status);
  return expected;
}

before(async () => {
  assert.ok(fs.existsSync(path.join(site, 'index.html')), `no page built in ${site}`);
  assert.ok(fs.existsSync(native), `no native build at ${native}`);
  server = await serve();
  const profile = fs.mkdtempSync(path.join(work, 'profile-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  // Every request of the context: the page's, its worker's and any the browser makes for it.
  context.on('request', (request) => (loaded ? requestsAfterLoad : requestsBeforeLoad).push(request.url()));
  page = context.pages()[0] || (await context.newPage());
  page.setDefaultTimeout(30000);
  page.on('load', () => { loaded = true; });
  page.on('pageerror', (error) => pageErrors.push(String(error)));
  page.on('console', (message) => {
    if (message.type() === 'error') pageErrors.push(message.text());
  });
  const { port } = server.address();
  await page.goto(`http://127.0.0.1:${port}/index.html`, { waitUntil: 'load' });
  assert.ok(loaded);
  await page.waitForFunction(() => document.querySelector('#state').textContent === 'Choose a source image.');
});

after(async () => {
  if (context) await context.close();
  if (server) server.close();
  fs.rmSync(work, { recursive: true, force: true });
});

const demo = fs.readFileSync(path.join(root, 'examples/demo.gba'));
let demoBank = null;

describe('the page against the native tool', () => {
  it('extracts the demo image chosen with the file chooser', async () => {
    await chooseTarget(null);
    await chooseSource('demo.gba', demo);
    assert.equal(await page.textContent('#run'), 'Extract');
    const expected = await extractAndCompare('demo.gba', demo);
    assert.equal(expected.status, 0);
    assert.match(expected.transcript, /\nFinished\n$/);
    demoBank = expected.file('output.tbnk');
  });

  // A name outside ASCII as well: the tool prints it as UTF-8, and so must the page.
  it('extracts a source dropped onto the page', async () => {
    await chooseTarget(null);
    const dataTransfer = await page.evaluateHandle(({ name, bytes }) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], name));
      return transfer;
    }, { name: 'デモ音.gba', bytes: [...demo] });
    await page.dispatchEvent('#source-zone', 'drop', { dataTransfer });
    await expectText('#source-name', `デモ音.gba (${demo.length.toLocaleString('en')} bytes)`);
    const expected = await extractAndCompare('デモ音.gba', demo);
    assert.ok(expected.transcript.includes('Input File: デモ音.gba\n'), expected.transcript);
    assert.ok(expected.file('output.tbnk').equals(demoBank));
  });

  it('inserts a bank into a target when told to proceed', async () => {
    await chooseSource('output.tbnk', demoBank);
    await chooseTarget('target.gba', demo);
    assert.equal(await page.textContent('#run'), 'Insert');
    const expected = await insertAndCompare('output.tbnk', demoBank, 'target.gba', demo, 'y');
    assert.equal(expected.status, 0);
    const got = await download();
    assert.equal(got.name, 'target.gba');
    const inserted = expected.file('target.gba');
    assert.ok(inserted.length > demo.length, 'the native insert appended nothing');
    assert.ok(got.bytes.equals(inserted), 'the updated target differs from the native one');
  });

  it('inserts onto an odd-sized target, the song list on the next even address', async () => {
    const odd = Buffer.concat([demo, Buffer.from([0x5a])]);
    await chooseSource('output.tbnk', demoBank);
    await chooseTarget('odd.gba', odd);
    const expected = await insertAndCompare('output.tbnk', demoBank, 'odd.gba', odd, 'y');
    const landing = (0x08000000 + odd.length + 1) & ~1;
    assert.ok(expected.transcript.includes(`Inserting audio data at: 0x0${landing.toString(16).toUpperCase()}\n`));
    const got = await download();
    assert.equal(got.name, 'odd.gba');
    assert.ok(got.bytes.equals(expected.file('odd.gba')), 'the updated target differs from the native one');
  });

  it('offers nothing after the insert is cancelled', async () => {
    await chooseSource('output.tbnk', demoBank);
    await chooseTarget('target.gba', demo);
    const expected = await insertAndCompare('output.tbnk', demoBank, 'target.gba', demo, 'n');
    assert.equal(expected.status, 0);
    assert.match(expected.transcript, /\nAborted\n$/);
    assert.ok(expected.file('target.gba').equals(demo), 'the native tool changed the target');
    await nothingToDownload();
  });

  it('refuses a 32 MiB target before the question, with nothing to download', async () => {
    const full = Buffer.alloc(windowSize);
    demo.copy(full);
    await chooseSource('output.tbnk', demoBank);
    await chooseTarget('full.gba', full);
    await clickRun();
    const status = await finished();
    const expected = runNative({ 'output.tbnk': demoBank, 'full.gba': full }, ['output.tbnk', 'full.gba'], 'y');
    assert.equal(expected.status, 1);
    assert.match(expected.transcript, /\nError: output exceeds the 32 MiB cartridge space\n$/);
    assert.equal(await consoleText(), expected.transcript);
    assert.equal(status, 1);
    assert.equal(await page.isVisible('#question'), false);
    await nothingToDownload();
  });

  it('shows the error of a source without audio data, with nothing to download', async () => {
    const noise = Buffer.alloc(0x10000);
    for (let i = 0; i < noise.length; i++) noise[i] = (i * 131 + (i >> 8)) & 0xff;
    await chooseTarget(null);
    await chooseSource('noise.gba', noise);
    const expected = await extractAndCompare('noise.gba', noise);
    assert.equal(expected.status, 1);
    assert.match(expected.transcript, /\nCould not locate audio data\n$/);
  });

  it('handles full-size images quickly, the page responsive meanwhile', { skip: !fs.existsSync(benchTool) && `no ${benchTool}` }, async () => {
    const images = fs.mkdtempSync(path.join(work, 'bench-'));
    const made = spawnSync(benchTool, [path.join(images, 'bench.gba'), path.join(images, 'bench-target.gba')]);
    assert.equal(made.status, 0, String(made.stderr));
    const bench = fs.readFileSync(path.join(images, 'bench.gba'));
    const benchTarget = fs.readFileSync(path.join(images, 'bench-target.gba'));
    assert.equal(bench.length, windowSize);

    // Long tasks are main-thread stretches of 50 ms or more: the page is frozen while one runs.
    await page.evaluate(() => {
      window.longestTask = 0;
      new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) window.longestTask = Math.max(window.longestTask, entry.duration);
      }).observe({ type: 'longtask' });
    });

    await chooseTarget(null);
    await chooseSource('bench.gba', bench);
    let started = Date.now();
    await clickRun();
    const status = await finished();
    const extractMs = Date.now() - started;
    const expected = runNative({ 'bench.gba': bench }, ['bench.gba'], null);
    assert.equal(status, 0);
    assert.equal(await consoleText(), expected.transcript);
    const bank = await download();
    assert.ok(bank.bytes.equals(expected.file('output.tbnk')), 'the full-size bank differs from the native one');

    await chooseSource('output.tbnk', bank.bytes);
    await chooseTarget('bench-target.gba', benchTarget);
    started = Date.now();
    const inserted = await insertAndCompare('output.tbnk', bank.bytes, 'bench-target.gba', benchTarget, 'y');
    const insertMs = Date.now() - started;
    const target = await download();
    assert.ok(target.bytes.equals(inserted.file('bench-target.gba')), 'the full-size insert differs from the native one');

    const longestTask = await page.evaluate(() => window.longestTask);
    // The observer does see a frozen page: a 150 ms busy loop on the main thread shows up.
    await page.evaluate(() => setTimeout(() => {
      const end = performance.now() + 150;
      while (performance.now() < end);
    }));
    await page.waitForFunction(() => window.longestTask >= 150);
    console.log(`# 32 MiB extract ${extractMs} ms, insert into 16 MiB (both runs) ${insertMs} ms, ` +
                `longest main-thread task ${Math.round(longestTask)} ms`);
    // Generous bounds for a busy shared machine; a second or so is usual.
    assert.ok(extractMs < 5000, `extracting took ${extractMs} ms`);
    assert.ok(longestTask < 250, `the page was frozen for ${longestTask} ms`);
  });

  it('made no request after the page had loaded, and raised no error', async () => {
    const names = requestsBeforeLoad.map((url) => new URL(url).pathname);
    // The worker and the .wasm are seen here, so requests from them are being recorded.
    for (const file of ['/index.html', '/page.js', '/style.css', '/sonvault.js', '/sonvault.wasm']) {
      assert.ok(names.includes(file), `${file} was not requested while loading: ${names}`);
    }
    assert.deepEqual(requestsAfterLoad, []);
    assert.equal(served.length, requestsBeforeLoad.length, `served: ${served}`);
    assert.deepEqual(pageErrors, []);
  });
});
