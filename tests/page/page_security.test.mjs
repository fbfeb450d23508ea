// The launcher page's own defences in headless Chromium with the fake native
// bridge: under the policy the launcher window sends with every page file
// (kPagePolicy of launcher/engine/engine_window.h, read from there) nothing
// but the page's own files loads, and xcall() refuses calls native code would
// refuse. The page is served here with that policy as a header.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { callsNamed, launchBrowser, openPage, pageFolder } from './harness.mjs';

// The policy's text, the C++ string literals of kPagePolicy joined.
function pagePolicy() {
  const header = fs.readFileSync(path.resolve(pageFolder, '../engine/engine_window.h'), 'utf8');
  const literals = /kPagePolicy\[\] =\s*((?:"[^"]*"\s*)+);/.exec(header);
  assert.ok(literals, 'kPagePolicy found in engine_window.h');
  return [...literals[1].matchAll(/"([^"]*)"/g)].map((m) => m[1]).join('');
}

const types = { '.htm': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.png': 'image/png',
  '.jpg': 'image/jpeg', '.ico': 'image/x-icon' };

function startPolicyServer(policy) {
  const page = http.createServer((request, response) => {
    const name = new URL(request.url, 'http://127.0.0.1').pathname.replace(/^\/+/, '');
    const file = path.resolve(pageFolder, name);
    if (!file.startsWith(pageFolder + path.sep) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
      'Content-Security-Policy': policy });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => page.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${page.address().port}/main.htm`,
    close: () => new Promise((done) => page.close(done)),
  })));
}

let server;
let browser;
let remote;
let remoteHits = [];
before(async () => {
  server = await startPolicyServer(pagePolicy());
  browser = await launchBrowser();
  // Another origin on loopback, answering anything it is asked.
  remote = http.createServer((request, response) => {
    remoteHits.push(request.url);
    response.writeHead(200, { 'Content-Type': 'text/javascript' }).end('window.remoteRan = true;');
  });
  remote.on('upgrade', (request, socket) => {
    remoteHits.push(request.url);
    socket.destroy();
  });
  await new Promise((resolve) => remote.listen(0, '127.0.0.1', resolve));
});
after(async () => {
  await browser?.close();
  await server?.close();
  await new Promise((resolve) => remote.close(resolve));
});

const open = (answers) => openPage(browser.context, server.url, answers);

describe('page policy', () => {
  it('RefusesRemoteScriptImageStyleFetchAndWebSocketAndLogsEach', async () => {
    remoteHits = [];
    const page = await open();
    const host = `http://127.0.0.1:${remote.address().port}`;
    const results = await page.evaluate(async (base) => {
      const settle = (element, parent) => new Promise((resolve) => {
        element.onload = () => resolve('loaded');
        element.onerror = () => resolve('refused');
        parent.appendChild(element);
      });
      const script = document.createElement('script');
      script.src = base + '/x.js';
      const image = document.createElement('img');
      image.src = base + '/x.png';
      const style = document.createElement('link');
      style.rel = 'stylesheet';
      style.href = base + '/x.css';
      const out = [await settle(script, document.head), await settle(image, document.body),
        await settle(style, document.head)];
      out.push(await fetch(base + '/x').then(() => 'loaded', () => 'refused'));
      out.push(await new Promise((resolve) => {
        try {
          const ws = new WebSocket(base.replace('http', 'ws') + '/ws');
          ws.onopen = () => resolve('loaded');
          ws.onerror = () => resolve('refused');
        } catch (e) {
          resolve('refused');
        }
      }));
      out.push(window.remoteRan === undefined ? 'did not run' : 'ran');
      return out;
    }, host);
    assert.deepEqual(results, ['refused', 'refused', 'refused', 'refused', 'refused', 'did not run']);
    assert.deepEqual(remoteHits, []);
    for (const directive of ['script-src', 'img-src', 'style-src', 'connect-src']) {
      assert.ok(page.consoleErrors.some((m) => m.includes('Content Security Policy') && m.includes(directive)),
        directive + ' refusal is logged: ' + page.consoleErrors.join('\n'));
    }
    await page.close();
  });

  it('LoadsItsOwnFilesUnderThePolicy', async () => {
    const page = await open();
    const loaded = await page.evaluate(() => [document.styleSheets[0].cssRules.length > 0,
      typeof renderFeed === 'function', document.querySelector('#kst-logo').naturalWidth > 0]);
    assert.deepEqual(loaded, [true, true, true]);
    assert.deepEqual(page.consoleErrors.filter((m) => m.includes('Content Security Policy')), []);
    await page.close();
  });
});

describe('xcall limits', () => {
  it('ADeepOrHugeArgumentIsRefusedBeforeItIsPosted', async () => {
    const page = await open({ echo: true });
    const outcomes = await page.evaluate(async () => {
      const nest = (n) => { let v = 1; for (let i = 0; i < n; i++) v = [v]; return v; };
      const outcome = (p) => p.then(() => 'answered', (e) => e.message);
      return [await outcome(xcall('echo', nest(100000))), await outcome(xcall('echo', 'x'.repeat(2 << 20))),
        await outcome(xcall('echo', nest(20)))];
    });
    assert.deepEqual(outcomes, ['xcall: the call is too large or nested too deeply',
      'xcall: the call is too large or nested too deeply', 'answered']);
    assert.equal((await callsNamed(page, 'echo')).length, 1);
    await page.close();
  });
});
