// What a player sees of problems and of the keyboard, in headless Chromium
// with a fake native bridge: a host that does not answer (in the page, on
// its tile, Retry), a task's Stop on show, an out-of-date client's Update,
// tiles chosen by keyboard, news that is not there retried quietly, and feed
// dates in the player's locale. Screenshots go to tests/page/out/.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import {
  callsNamed, clearCalls, footerJson, launchBrowser, native, openPage, outFolder, sampleServers, serverListHtml,
  setAnswers, settle, startServer,
} from './harness.mjs';

let server;
let browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

const open = (answers, prepare) => openPage(browser.context, server.url, answers, undefined, prepare);
const text = (page, selector) => page.locator(selector).textContent();
const shown = (page, selector) => page.locator(selector).isVisible();
const tile = (index) => `.server-tile[data-index="${index}"]`;
const colour = (page, selector) => page.locator(selector).evaluate((e) => getComputedStyle(e).color);
const ACCENT = 'rgb(109, 255, 170)';

async function screenshot(page, name) {
  fs.mkdirSync(outFolder, { recursive: true });
  const file = path.join(outFolder, name);
  await page.screenshot({ path: file });
  assert.ok(fs.statSync(file).size > 10000, file);
}

const unreachable = {
  caption: 'Server unreachable', kind: 'unreachable',
  detail: 'Could not connect to the server. Check your internet connection and try again. (error 7)',
};
const downServers = sampleServers.map((s) => (s.index === 1 ? { ...s, problem: 'Server unreachable' } : s));

describe('a host that does not answer', () => {
  it('IsShownInThePageAndOnItsTileAndRetryAsksNativeCodeAgain', async () => {
    const page = await open({ getServerListHtml: serverListHtml(downServers, 1), getPlayButtonLabel: 'Install' });
    await page.click(tile(1));
    await settle(page);
    await native(page, 'setSelectedServerVersion', 'Unavailable', 'unavailable');
    await native(page, 'updateLauncherFooter', footerJson({ canPlay: false, playLabel: 'Install', problem: unreachable,
      versionState: 'unavailable' }));
    assert.equal(await shown(page, '#entry-problem'), true);
    assert.equal(await text(page, '#entry-problem-caption'), 'Server unreachable');
    assert.equal(await text(page, '#entry-problem-detail'), unreachable.detail);
    assert.equal(await text(page, `${tile(1)} .tile-problem`), 'Server unreachable');
    assert.equal(await page.isDisabled('#btn-play'), true);
    // "Unavailable" is not a version: not in the version's green.
    assert.notEqual(await colour(page, '#server-version'), ACCENT);
    await screenshot(page, 'page_host_down.png');

    await clearCalls(page);
    await page.click('#btn-retry');
    await settle(page);
    assert.equal((await callsNamed(page, 'retryChecks')).length, 1);
    // The host answered: the problem goes, the version is green again.
    await native(page, 'setSelectedServerVersion', '2.6.0', 'known');
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Install', versionState: 'known' }));
    assert.equal(await shown(page, '#entry-problem'), false);
    assert.equal(await colour(page, '#server-version'), ACCENT);
    assert.equal(await page.isDisabled('#btn-play'), false);
    assert.deepEqual(page.consoleErrors, []);
  });

  it('PlaceholdersAreNotGreenAndTheProblemMakesWayForARunningTask', async () => {
    const page = await open();
    for (const [version, state] of [['Loading…', 'loading'], ['—', 'none']]) {
      await native(page, 'setSelectedServerVersion', version, state);
      assert.notEqual(await colour(page, '#server-version'), ACCENT, state);
    }
    await native(page, 'updateLauncherFooter', footerJson({ problem: { caption: 'Install failed', detail: 'Disk full',
      kind: 'task' } }));
    assert.equal(await shown(page, '#entry-problem'), true);
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Installing...',
      problem: { caption: 'Install failed', detail: 'Disk full', kind: 'task' } }));
    assert.equal(await shown(page, '#entry-problem'), false);
    assert.equal(await shown(page, '#task-status'), true);
  });
});

describe('a running task and an out-of-date client', () => {
  it('StopIsOnShowWithoutHoveringWhileATaskRunsAndCancelsIt', async () => {
    const page = await open();
    assert.equal(await shown(page, '#btn-stop'), false);
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, canPlay: false, playLabel: 'Installing...',
      canPause: true, taskStatus: 'Downloading files...' }));
    assert.equal(await shown(page, '#btn-stop'), true);
    assert.equal(await shown(page, '#btn-pause'), true);
    await screenshot(page, 'page_stop_and_pause.png');
    await page.click('#btn-stop');
    await settle(page);
    assert.equal((await callsNamed(page, 'cancelPatch')).length, 1);
    for (const label of ['Cancelling...', 'Pausing...']) {
      await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: label }));
      assert.equal(await shown(page, '#btn-stop'), false, label);
    }
    await native(page, 'updateLauncherFooter', footerJson());
    assert.equal(await shown(page, '#btn-stop'), false);
  });

  it('AnOutOfDateClientReadsUpdateWithBothVersionsAndTheSizeWhenKnown', async () => {
    const page = await open();
    await page.click(tile(2));  // installed, marked out of date
    await settle(page);
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Update', installedVersion: '2.5.0' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Update');
    assert.equal(await text(page, '#installed-version'), '2.5.0');
    assert.equal(await shown(page, '#installed-version-label'), true);
    await clearCalls(page);
    await page.click('#btn-play');
    await settle(page);
    assert.equal((await callsNamed(page, 'update')).length, 1);
    assert.equal((await callsNamed(page, 'play')).length, 0);
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Update', sizeText: '56 MB' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Update - 56 MB');
    // Not installed: no installed version.
    await page.click(tile(1));
    await settle(page);
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Install' }));
    assert.equal(await shown(page, '#installed-version'), false);
  });
});

describe('sizes and a partly downloaded client', () => {
  it('AFreshInstallReadsInstallWithItsSizeOnceKnown', async () => {
    const page = await open();
    await page.click(tile(1));  // not installed
    await settle(page);
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Install' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Install');
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Install', sizeText: '1.2 GB' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Install - 1.2 GB');
    // A running task shows its own label, not the size.
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Installing...', sizeText: '1.2 GB' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Installing...');
  });

  it('APartlyDownloadedClientSaysSoOnItsTileReadsResumeAndResumesItsInstall', async () => {
    const servers = sampleServers.map((s) => (s.index === 3 ? { ...s, partial: 'Partly downloaded (45 MB)' } : s));
    const page = await open({ getServerListHtml: serverListHtml(servers, 0) });
    assert.equal(await text(page, `${tile(3)} .tile-state`), 'Partly downloaded (45 MB)');
    await page.click(tile(3));
    await settle(page);
    await native(page, 'updateLauncherFooter', footerJson({ playLabel: 'Resume', sizeText: '12.0 MB' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Resume');
    await screenshot(page, 'page_partly_downloaded.png');
    await clearCalls(page);
    await page.click('#btn-play');
    await settle(page);
    assert.equal((await callsNamed(page, 'install')).length, 1);
    assert.equal((await callsNamed(page, 'resumePatch')).length, 0);  // nothing was paused
    // The other tiles say nothing of the kind.
    assert.equal(await page.locator('.tile-state').count(), 1);
    assert.deepEqual(page.consoleErrors, []);
  });
});

describe('adding a server', () => {
  // Native code's answers: a good address is added, a clash and a bad
  // address are refused with their sentences (answered a moment later, as a
  // check against the host is).
  const addServer = { $fn: `([request]) => new Promise((resolve) => setTimeout(() => resolve(
    request.name === 'Retail' ? '{"added":false,"name":"Retail","outcome":"name","sentence":"A server named Retail is already listed."}'
    : request.address.startsWith('https://down') ? JSON.stringify({ added: false, name: request.name, outcome: 'check',
      sentence: 'Could not fetch the patch manifest from ' + request.address + '.manifest: Could not connect.' })
    : JSON.stringify({ added: true, name: request.name, outcome: 'added', sentence: '' })), 50))` };

  const fill = async (page, fields) => {
    for (const [field, value] of Object.entries(fields)) await page.fill('#add-server-' + field, value);
  };

  it('TheGearMenuAndTheStartPageOpenTheDialogAndItsFieldsGoToNativeCode', async () => {
    const page = await open({ addServer, getDownloadSettings: '{"downloadLimit":""}' });
    assert.equal(await shown(page, '#add-server-panel'), false);
    await page.click('#btn-settings');
    await settle(page);
    await page.click('#settings-add-server');
    await settle(page);
    assert.equal(await shown(page, '#add-server-panel'), true);
    assert.equal(await shown(page, '#settings-panel'), false);
    await page.click('#add-server-cancel');
    assert.equal(await shown(page, '#add-server-panel'), false);

    await page.click('#btn-add-server');
    await settle(page);
    assert.equal(await shown(page, '#add-server-panel'), true);
    await fill(page, { name: ' Emberfall ', address: 'https://patch.example.org/ember', key: 'S2V5',
      folder: '/games/ember' });
    await screenshot(page, 'page_add_server.png');
    await page.click('#add-server-save');
    await page.waitForFunction(() => document.querySelector('#add-server-panel').classList.contains('hidden'));
    assert.deepEqual((await callsNamed(page, 'addServer')).map((c) => c.args),
      [[{ name: 'Emberfall', address: 'https://patch.example.org/ember', key: 'S2V5', folder: '/games/ember' }]]);
    assert.deepEqual(page.consoleErrors, []);
  });

  it('ARefusalIsShownInTheDialogWhichStaysOpenWithWhatWasTyped', async () => {
    const page = await open({ addServer });
    await page.click('#btn-add-server');
    await settle(page);
    for (const [fields, sentence] of [
      [{ name: 'Retail', address: 'https://patch.example.org/retail' }, 'A server named Retail is already listed.'],
      [{ name: 'Other', address: 'https://down.example.org/x' },
        'Could not fetch the patch manifest from https://down.example.org/x.manifest: Could not connect.'],
      [{ name: '', address: 'https://patch.example.org/x' }, 'A name and a patch address are needed.'],
    ]) {
      await fill(page, fields);
      await page.press('#add-server-address', 'Enter');
      await page.waitForFunction((s) => document.querySelector('#add-server-message').textContent === s, sentence);
      assert.equal(await shown(page, '#add-server-panel'), true);
      assert.equal(await page.locator('#add-server-message').evaluate((e) => e.classList.contains('error')), true);
      assert.equal(await page.inputValue('#add-server-address'), fields.address);
      assert.equal(await page.isDisabled('#add-server-save'), false);
    }
    await screenshot(page, 'page_add_server_refused.png');
    assert.equal((await callsNamed(page, 'addServer')).length, 2);  // the empty name never left the page
    await page.press('#add-server-name', 'Escape');
    assert.equal(await shown(page, '#add-server-panel'), false);
  });
});

describe('adding a server from a server file', () => {
  const addServer = { $fn: `([request]) => new Promise((resolve) => setTimeout(() => resolve(
    request.file === '/downloads/notes.json' ? JSON.stringify({ added: false, name: '', outcome: 'file',
      sentence: '/downloads/notes.json is not a server file: it must hold one server with its name, server and patchBaseUrl.' })
    : JSON.stringify({ added: true, name: 'Emberfall', outcome: 'added', sentence: '' })), 50))` };

  it('TheFileGoesAloneWithTheFolderAndARefusalIsShownInTheDialog', async () => {
    const page = await open({ addServer });
    await page.click('#btn-add-server');
    await settle(page);
    assert.equal(await shown(page, '#add-server-file'), true);
    await page.fill('#add-server-file', '/downloads/notes.json');
    await page.press('#add-server-file', 'Enter');
    const refusal = '/downloads/notes.json is not a server file: it must hold one server with its name, server and ' +
      'patchBaseUrl.';
    await page.waitForFunction((s) => document.querySelector('#add-server-message').textContent === s, refusal);
    assert.equal(await shown(page, '#add-server-panel'), true);
    assert.equal(await page.isDisabled('#add-server-save'), false);

    // A name beside the file is refused before anything leaves the page.
    await page.fill('#add-server-name', 'Mine');
    await page.press('#add-server-file', 'Enter');
    await page.waitForFunction(() => document.querySelector('#add-server-message').textContent ===
      'Give either a server file or a name and a patch address, not both.');
    assert.equal((await callsNamed(page, 'addServer')).length, 1);

    await page.fill('#add-server-name', '');
    await page.fill('#add-server-file', ' /downloads/emberfall.json ');
    await page.fill('#add-server-folder', '/games/ember');
    await page.click('#add-server-save');
    await page.waitForFunction(() => document.querySelector('#add-server-panel').classList.contains('hidden'));
    assert.deepEqual((await callsNamed(page, 'addServer')).map((c) => c.args), [
      [{ file: '/downloads/notes.json', folder: '' }],
      [{ file: '/downloads/emberfall.json', folder: '/games/ember' }],
    ]);
    // Opened again, the dialog starts empty.
    await page.click('#btn-add-server');
    await settle(page);
    assert.equal(await page.inputValue('#add-server-file'), '');
    assert.deepEqual(page.consoleErrors, []);
  });
});

describe('tiles by keyboard', () => {
  const focusedIndex = (page) => page.evaluate(() => document.activeElement?.dataset?.index ?? null);

  it('TabReachesEveryTileEnterAndSpaceSelectAndTheRingIsVisible', async () => {
    const page = await open();
    await page.locator('body').click({ position: { x: 600, y: 400 } });
    let presses = 0;
    while ((await focusedIndex(page)) !== '0' && presses++ < 12) await page.keyboard.press('Tab');
    assert.equal(await focusedIndex(page), '0');
    await page.keyboard.press('Tab');
    assert.equal(await focusedIndex(page), '1');
    const ring = await page.locator(tile(1)).evaluate((e) => {
      const style = getComputedStyle(e);
      return [style.outlineStyle, style.outlineWidth, style.outlineColor];
    });
    assert.deepEqual(ring, ['solid', '2px', ACCENT]);
    await clearCalls(page);
    await page.keyboard.press('Enter');
    await settle(page);
    await page.keyboard.press('ArrowDown');
    assert.equal(await focusedIndex(page), '2');
    await page.keyboard.press(' ');
    await settle(page);
    assert.deepEqual((await callsNamed(page, 'selectServer')).map((c) => c.args), [[1], [2]]);
    assert.equal(await page.locator(tile(2)).getAttribute('aria-selected'), 'true');
    assert.equal(await page.locator(tile(1)).getAttribute('aria-selected'), 'false');
    await screenshot(page, 'page_keyboard_focus.png');
    // A reload of the tiles (a status check) leaves the keyboard where it was.
    await native(page, 'reloadServerList');
    assert.equal(await focusedIndex(page), '2');
    // The menu key opens the focused tile's menu.
    await page.keyboard.press('Shift+F10');
    assert.equal(await page.locator('body > menu.context').count(), 1);
  });
});

describe('news that is not there', () => {
  it('IsAskedForAgainAfterABoundedBackoffWithoutShowingLoadingAgain', async () => {
    const failing = { $fn: `(args, bridge) => {
      bridge.feeds = (bridge.feeds || 0) + (args[0].endsWith('/rss/launcher') ? 1 : 0);
      if (!args[0].endsWith('/rss/launcher')) return { error: '', items: [] };
      return bridge.feeds < 3 ? { error: 'Could not find the server. (error 6)', items: [] }
        : { error: '', items: [{ title: 'Back again' }] };
    }` };
    const page = await open({ fetchRssFeed: failing }, (p) => p.clock.install());
    const asked = () => page.evaluate(() => window.__bridge.feeds);
    const panel = () => text(page, '#rss-announcements');
    assert.equal(await asked(), 1);
    assert.equal(await panel(), 'News unavailable');
    assert.equal(await page.locator('.rss-error').count(), 0);
    await page.clock.fastForward(29000);
    assert.equal(await asked(), 1);
    await page.clock.fastForward(2000);
    await settle(page);
    assert.equal(await asked(), 2);
    assert.equal(await panel(), 'News unavailable');
    await page.clock.fastForward(58000);  // the wait doubled
    assert.equal(await asked(), 2);
    await page.clock.fastForward(3000);
    await settle(page);
    assert.equal(await asked(), 3);
    assert.equal(await panel(), 'Back again');
    const delays = await page.evaluate(() => [1, 2, 3, 4, 5, 6, 30, 1000].map((n) => feedRetryDelay(n)));
    assert.deepEqual(delays, [30000, 60000, 120000, 240000, 480000, 600000, 600000, 600000]);
  });
});

describe('feed dates in the player\'s locale', () => {
  const format = (page, dates) => page.evaluate((list) => list.map((d) => formatFeedDate(d)), dates);

  it('RssAndIsoDatesAreFormattedAndOtherTextStaysAsWritten', async () => {
    const page = await open();
    const cases = [
      ['Tue, 08 Dec 2026 09:00:00 GMT', /^Dec 8, 2026, 9:00\s?AM$/],
      ['08 Dec 2026 09:00 +0200', /^Dec 8, 2026, 7:00\s?AM$/],
      ['Tue, 08 dec 26 09:00:00 EST', /^Dec 8, 2026, 2:00\s?PM$/],
      ['8 December 2026 09:00 Z', /^Dec 8, 2026, 9:00\s?AM$/],
      ['Mon, 02 Dec 2024', /^Dec 2, 2024$/],
      ['2026-12-08T09:00:00+01:00', /^Dec 8, 2026, 8:00\s?AM$/],
      ['2026-12-08', /^Dec 8, 2026$/],
      // A time without a zone that names an offset is shown as written.
      ['08 Dec 2026 09:00 Q', /^Dec 8, 2026, 9:00\s?AM$/],
    ];
    const shownDates = await format(page, cases.map(([d]) => d));
    cases.forEach(([date, pattern], i) => assert.match(shownDates[i], pattern, date));
    const raw = ['next Tuesday', '31 Feb 2026', '08 Dec 2026 25:00 GMT', '08 Foo 2026', '2026-13-01', ''];
    assert.deepEqual(await format(page, raw), raw);
  });

  it('FollowsThePlayersLocaleAndTimeZone', async () => {
    const german = await launchBrowser({ locale: 'de-DE', timezoneId: 'Europe/Berlin' });
    try {
      const page = await openPage(german.context, server.url, {
        fetchRssFeed: { error: '', items: [{ title: 'Winter', date: 'Tue, 08 Dec 2026 09:00:00 GMT' }] },
      });
      assert.match(await text(page, '#rss-announcements .rss-date'), /^08\.12\.2026, 10:00$/);
      assert.equal(await page.locator('#rss-announcements .rss-date').getAttribute('title'),
        'Tue, 08 Dec 2026 09:00:00 GMT');
    } finally {
      await german.close();
    }
  });
});
