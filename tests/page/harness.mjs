// Test harness for the launcher page: a static server for launcher/page on
// 127.0.0.1, Debian's Chromium driven headless through playwright-core, and a
// fake native bridge injected before the page script runs.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const pageFolder = path.resolve(here, '../../launcher/page');
export const outFolder = path.join(here, 'out');

const contentTypes = {
  '.htm': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.png': 'image/png', '.jpg': 'image/jpeg', '.ico': 'image/x-icon',
};

// Serves the page folder; anything outside it or missing answers 404.
export function startServer() {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname).replace(/^\/+/, '');
    const file = path.resolve(pageFolder, name);
    if (!file.startsWith(pageFolder + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end('Not Found');
      return;
    }
    response.writeHead(200, { 'Content-Type': contentTypes[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/main.htm`,
      close: () => new Promise((done) => server.close(done)),
    }));
  });
}

// `locale` and `timezoneId` are the player's; the defaults keep dates the
// same on every machine.
export async function launchBrowser({ locale = 'en-US', timezoneId = 'UTC' } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'page-test-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    locale,
    timezoneId,
    viewport: { width: 1130, height: 710 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  return {
    context,
    close: async () => {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Runs in the page before main.js. Stands in for WebKit's script message
// handler with reply: records every call and answers from a table.
// An answer is a plain value, {$reject: text} (the promise is rejected), or
// {$fn: source} (a function (args, bridge) whose result, or promise, is the
// answer). A name without an answer is rejected, as native code rejects
// unknown functions.
function installFakeBridge(answers) {
  const bridge = { calls: [], answers, selected: 0 };
  const answer = (name, args) => {
    const scripted = bridge.answers[name];
    if (scripted === undefined) return Promise.reject(new Error('no native function ' + name));
    if (scripted && typeof scripted === 'object' && '$reject' in scripted) return Promise.reject(new Error(scripted.$reject));
    if (scripted && typeof scripted === 'object' && '$fn' in scripted) {
      try {
        return Promise.resolve((0, eval)('(' + scripted.$fn + ')')(args, bridge));
      } catch (e) {
        return Promise.reject(e);
      }
    }
    return Promise.resolve(JSON.parse(JSON.stringify(scripted)));
  };
  window.__bridge = bridge;
  window.webkit = {
    messageHandlers: {
      xcall: {
        postMessage(message) {
          const args = JSON.parse(JSON.stringify(message.args));
          bridge.calls.push({ name: message.name, args });
          if (message.name === 'selectServer') bridge.selected = args[0];
          return answer(message.name, args);
        },
      },
    },
  };
}

// Opens the page with `answers` over the default table; console errors are
// collected in page.consoleErrors. `startup`, when given, is what native code
// provides with the page (window.launcherStartup).
// `prepare` (optional) runs on the new page before it loads (a fake clock).
export async function openPage(context, url, answers = {}, startup = undefined, prepare = undefined) {
  const page = await context.newPage();
  if (prepare) await prepare(page);
  page.consoleErrors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') page.consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => page.consoleErrors.push('pageerror ' + error.message));
  await page.addInitScript(installFakeBridge, { ...defaultAnswers(), ...answers });
  if (startup !== undefined) await page.addInitScript((value) => { window.launcherStartup = value; }, startup);
  await page.goto(url);
  await settle(page);
  return page;
}

// Waits until the page has made no new native call for a few turns of its
// event loop (answers of the fake bridge are immediate unless delayed).
export async function settle(page) {
  await page.evaluate(async () => {
    let stable = 0;
    let seen = -1;
    while (stable < 4) {
      await new Promise((resolve) => setTimeout(resolve, 5));
      const now = window.__bridge.calls.length;
      stable = now === seen ? stable + 1 : 0;
      seen = now;
    }
  });
}

export const calls = (page) => page.evaluate(() => window.__bridge.calls);
export const callsNamed = async (page, name) => (await calls(page)).filter((c) => c.name === name);
export const clearCalls = (page) => page.evaluate(() => { window.__bridge.calls = []; });
export const setAnswers = (page, table) => page.evaluate((t) => Object.assign(window.__bridge.answers, t), table);

// Calls a global page function by name, as native code does.
export async function native(page, fn, ...args) {
  await page.evaluate(([f, a]) => globalThis[f](...a), [fn, args]);
  await settle(page);
}

// One server tile as native code writes it; `problem` is the caption of the
// entry's problem ("Server unreachable"), which outranks the status mark;
// `partial` the state line of a partly downloaded client ("Partly downloaded (45 MB)").
export function tileHtml({ index, name, desc, custom = false, installed = false, status = 0, selected = false,
  problem = '', partial = '' }) {
  const mark = problem ? `<span class="tile-status problem" title="${problem}">!</span>` : !installed ? '' : status === 1
    ? '<span class="tile-status current" title="Up to date">&#10003;</span>'
    : status === 2 ? '<span class="tile-status outdated" title="Out of date">&#9888;</span>' : '';
  return `<div class="server-tile${selected ? ' selected' : ''}" data-index="${index}" data-name="${name}" ` +
    `data-desc="${desc}" data-custom="${custom ? 1 : 0}" data-installed="${installed ? 1 : 0}"` +
    `${partial ? ' data-partial="1"' : ''}>${mark}` +
    `<img src="icon_48.png" alt="" /><div class="server-name">${desc}</div>` +
    (problem ? `<div class="tile-problem">${problem}</div>` : partial ? `<div class="tile-state">${partial}</div>` : '') +
    '</div>';
}

// Retail (built-in, installed), test server (built-in), a custom installed
// copy and a custom copy that is not installed.
export const sampleServers = [
  { index: 0, name: 'retail', desc: 'Kaltris Nexum', installed: true, status: 1 },
  { index: 1, name: 'pts', desc: 'Public Test Server' },
  { index: 2, name: 'mycopy', desc: 'My Copy', custom: true, installed: true, status: 2 },
  { index: 3, name: 'oldcopy', desc: 'Old Copy', custom: true },
];

export function serverListHtml(servers = sampleServers, selected = 0) {
  return servers.map((s) => tileHtml({ ...s, selected: s.index === selected })).join('');
}

export function footerJson(fields = {}) {
  return JSON.stringify({ busy: false, canPlay: true, playLabel: 'Launch', progressDone: 0, progressTotal: 0,
    progressVisible: false, taskStatus: '', versionState: 'known', ...fields });
}

export const site = 'https://www.kaltris.invalid';

function defaultAnswers() {
  const ok = {};
  for (const name of ['selectServer', 'play', 'install', 'update', 'retryChecks', 'cancelPatch', 'configure', 'openInstallFolder',
    'duplicateInstallation', 'reinstall', 'resetIniDirectory', 'deleteInstallation', 'setLanguage',
    'launchShortcut', 'openUrl', 'windowDrag', 'windowMinimize', 'windowClose']) ok[name] = true;
  return {
    ...ok,
    getServerListHtml: serverListHtml(),
    getSelectedServerHeader: 'Kaltris Nexum',
    getSelectedServerVersion: '2024.11.3',
    getLanguage: 'en',
    getFooterStateJson: footerJson(),
    getPlayButtonLabel: 'Launch',
    getShortcutsJson: '[]',
    fetchRssFeed: { error: '', items: [] },
  };
}
