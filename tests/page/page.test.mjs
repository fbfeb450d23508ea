// The launcher page in headless Chromium with a fake native bridge: what the
// page shows for the values native code reports, and which native functions
// it calls with which arguments.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import {
  calls, callsNamed, clearCalls, footerJson, launchBrowser, native, openPage, outFolder, sampleServers, serverListHtml,
  setAnswers, settle, site, startServer,
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

const open = (answers, startup) => openPage(browser.context, server.url, answers, startup);
const text = (page, selector) => page.locator(selector).textContent();
const hasClass = (page, selector, name) => page.locator(selector).evaluate((el, n) => el.classList.contains(n), name);
const tile = (index) => `.server-tile[data-index="${index}"]`;
const names = (page, selector) => page.locator(selector).evaluateAll((els) => els.map((e) => e.firstChild.textContent));
const argsOf = async (page, name) => (await callsNamed(page, name)).map((c) => c.args);

describe('start-up and page globals', () => {
  it('DefinesTheSixFunctionsNativeCodeCallsAsGlobals', async () => {
    const page = await open();
    const kinds = await page.evaluate(() => ['reloadServerList', 'updateLauncherFooter', 'setSelectedServerHeader',
      'setSelectedServerVersion', 'setSelectedLanguage', 'setPlayButtonCaption'].map((f) => typeof globalThis[f]));
    assert.deepEqual(kinds, Array(6).fill('function'));
  });

  it('LoadsShortcutsFeedsAndTilesThenSelectsTheFirstTile', async () => {
    const page = await open();
    const all = await page.evaluate(() => window.__bridge.calls);
    assert.deepEqual(all.slice(0, 5), [
      { name: 'getShortcutsJson', args: [] },
      { name: 'fetchRssFeed', args: [site + '/rss/launcher', 6] },
      { name: 'fetchRssFeed', args: [site + '/rss/patches', 6] },
      { name: 'getServerListHtml', args: [] },
      { name: 'selectServer', args: [0] },
    ]);
    assert.equal(await text(page, '#server-version'), '2024.11.3');
    assert.equal(await text(page, '#server-title'), 'Kaltris Nexum');
    assert.equal(await text(page, '#btn-play-caption'), 'Launch');
    assert.deepEqual(page.consoleErrors, []);
  });

  it('WithoutTilesShowsTheFallbackAndAsksNativeForHeaderAndFooter', async () => {
    const page = await open({ getServerListHtml: '', getSelectedServerVersion: '' });
    assert.equal(await text(page, '#server-list'), 'Could not load servers');
    assert.equal((await callsNamed(page, 'selectServer')).length, 0);
    assert.equal((await callsNamed(page, 'getFooterStateJson')).length, 1);
    assert.equal(await text(page, '#server-version'), '—');
  });

  it('TheListGivenWithThePageIsShownAtOnceThenNativesNewerListReplacesIt', async () => {
    // Native code answers the first selection before it was asked for any
    // list: the tiles given with the page were already in.
    const tilesAtSelect = { $fn: '() => { window.__tilesAtSelect = document.querySelectorAll(".server-tile").length; return true; }' };
    const newer = sampleServers.map((s) => (s.index === 1 ? { ...s, installed: true, status: 2 } : s));
    const page = await open({ selectServer: tilesAtSelect, getServerListHtml: serverListHtml(newer) },
      { serverListHtml: serverListHtml() });
    assert.equal(await page.evaluate(() => window.__tilesAtSelect), sampleServers.length);
    const order = (await calls(page)).map((c) => c.name).filter((n) => n === 'selectServer' || n === 'getServerListHtml');
    assert.deepEqual(order, ['selectServer', 'getServerListHtml']);
    assert.equal(await page.locator(tile(1) + ' .tile-status.outdated').count(), 1);
    assert.equal(await hasClass(page, tile(0), 'selected'), true);
    // Later lists are asked for, not taken from the start-up value again.
    await native(page, 'reloadServerList');
    assert.equal((await callsNamed(page, 'getServerListHtml')).length, 2);
    assert.deepEqual(page.consoleErrors, []);
  });

  it('AFailingServerListCallIsLoggedAndShowsTheFallback', async () => {
    const page = await open({ getServerListHtml: { $reject: 'boom' } });
    assert.equal(await text(page, '#server-list'), 'Could not load servers');
    assert.ok(page.consoleErrors.some((m) => m.startsWith('getServerListHtml failed')));
  });
});

describe('tile selection', () => {
  it('ClickingATileNameSelectsThatTileByIndex', async () => {
    const page = await open();
    await clearCalls(page);
    await page.click(`${tile(2)} .server-name`);
    await settle(page);
    assert.deepEqual(await argsOf(page, 'selectServer'), [[2]]);
    assert.deepEqual(await page.locator('.server-tile.selected').evaluateAll((t) => t.map((e) => e.dataset.index)),
      ['2']);
    // The border mask sits beside the selected tile on the card's edge.
    const [tileBox, maskBox] = [await page.locator(tile(2)).boundingBox(), await page.locator('#card-border-mask').boundingBox()];
    assert.ok(Math.abs(tileBox.y - maskBox.y) <= 1 && Math.abs(tileBox.height - maskBox.height) <= 1);
  });

  it('AnswersForAnEarlierSelectionDoNotOverwriteTheLaterOne', async () => {
    const page = await open({
      getSelectedServerVersion: { $fn: `(args, bridge) => bridge.selected === 1
        ? new Promise((resolve) => setTimeout(() => resolve('v-one'), 150)) : 'v-' + bridge.selected` },
    });
    await page.click(tile(1));
    await page.click(tile(3));
    await page.waitForTimeout(250);
    await settle(page);
    assert.equal(await text(page, '#server-version'), 'v-3');
  });

  it('ReloadedTilesMarkingAnotherSelectionMoveThePageThere', async () => {
    // After a duplicate native code selects the new entry and asks for a reload.
    const page = await open();
    await setAnswers(page, { getServerListHtml: serverListHtml(sampleServers, 2) });
    await native(page, 'reloadServerList');
    assert.equal(await hasClass(page, tile(2), 'selected'), true);
    assert.equal(await hasClass(page, tile(0), 'selected'), false);
    assert.equal(await text(page, '#server-title'), 'My Copy');
    await clearCalls(page);
    await page.click('#server-settings');
    assert.deepEqual(await names(page, 'body > menu.context > li'),
      ['Configure', 'Open Install Folder', 'Duplicate', 'Repair / Reinstall', 'Advanced', 'Delete Installation']);
  });
});

describe('play button and busy labels', () => {
  it('TheIdleLabelComesFromTheSelectedTileNotFromNative', async () => {
    const page = await open();
    await page.click(tile(1));
    await settle(page);
    await native(page, 'setPlayButtonCaption', 'Launch');
    assert.equal(await text(page, '#btn-play-caption'), 'Install');
    assert.equal(await hasClass(page, '#btn-play', 'install-mode'), true);
    await page.click(tile(0));
    await settle(page);
    assert.equal(await text(page, '#btn-play-caption'), 'Launch');
    assert.equal(await hasClass(page, '#btn-play', 'play-mode'), true);
    // An installed tile marked out of date updates.
    await page.click(tile(2));
    await settle(page);
    assert.equal(await text(page, '#btn-play-caption'), 'Update');
    assert.equal(await hasClass(page, '#btn-play', 'play-mode'), true);
  });

  it('BusyLabelsAreRecognisedIgnoringCaseAndOthersAreIgnoredWhileBusy', async () => {
    const page = await open();
    for (const label of ['Installing...', 'PATCHING...', 'Checking for updates...', 'cancelling']) {
      await native(page, 'updateLauncherFooter', footerJson({ busy: true, canPlay: false, playLabel: label }));
      assert.equal(await text(page, '#btn-play-caption'), label);
    }
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Installing...' }));
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Launch' }));
    assert.equal(await text(page, '#btn-play-caption'), 'Installing...');
    assert.equal(await hasClass(page, '#btn-play', 'busy'), true);
    assert.equal(await hasClass(page, '#btn-play', 'play-mode'), false);
  });

  it('HoveringWhileBusyShowsStopUnlessCancelling', async () => {
    const page = await open();
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Patching...' }));
    await page.hover('#btn-play');
    assert.equal(await text(page, '#btn-play-caption'), 'STOP');
    assert.equal(await page.getAttribute('#btn-play', 'aria-label'), 'STOP');
    await page.mouse.move(5, 300);
    assert.equal(await text(page, '#btn-play-caption'), 'Patching...');
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Cancelling...' }));
    await page.hover('#btn-play');
    assert.equal(await text(page, '#btn-play-caption'), 'Cancelling...');
  });

  it('ClickingCancelsWhileBusyAndOtherwiseLaunchesOrInstallsByTheTile', async () => {
    const page = await open();
    await page.click('#btn-play');
    await page.click(tile(1));
    await settle(page);
    await page.click('#btn-play');
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Installing...' }));
    await page.click('#btn-play');
    await settle(page);
    const actions = (await page.evaluate(() => window.__bridge.calls)).map((c) => c.name)
      .filter((n) => ['play', 'install', 'cancelPatch'].includes(n));
    assert.deepEqual(actions, ['play', 'install', 'cancelPatch']);
  });

  it('IsDisabledOnlyWhenIdleAndNotPlayable', async () => {
    const page = await open();
    await native(page, 'updateLauncherFooter', footerJson({ canPlay: false }));
    assert.equal(await page.isDisabled('#btn-play'), true);
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, canPlay: false, playLabel: 'Installing...' }));
    assert.equal(await page.isDisabled('#btn-play'), false);
  });
});

describe('footer update', () => {
  const busy = (fields) => footerJson({ busy: true, canPlay: false, playLabel: 'Installing...', ...fields });
  const shown = (page, selector) => page.locator(selector).isVisible();

  it('BusyWithTotalZeroHidesProgressAndSaysWorking', async () => {
    const page = await open();
    await native(page, 'updateLauncherFooter', busy({ progressVisible: false, progressTotal: 0 }));
    assert.equal(await text(page, '#task-status-label'), 'Working...');
    assert.equal(await text(page, '#task-status-count'), '');
    assert.equal(await shown(page, '#task-status'), true);
    assert.equal(await shown(page, '#patch-progress'), false);
  });

  it('ShowsTheRoundedClampedPercentage', async () => {
    const page = await open();
    for (const [done, total, percent] of [[1, 3, '33%'], [2, 3, '67%'], [9, 4, '100%'], [-2, 4, '0%']]) {
      await native(page, 'updateLauncherFooter',
        busy({ taskStatus: 'Downloading files...', progressDone: done, progressTotal: total, progressVisible: true }));
      assert.equal(await text(page, '#task-status-count'), percent);
      assert.equal(await page.locator('#patch-progress-fill').evaluate((e) => e.style.width), percent);
      assert.equal(await shown(page, '#patch-progress'), true);
    }
    assert.equal(await text(page, '#task-status-label'), 'Downloading files...');
  });

  it('StatusTextIsShownAsTextAndHiddenWhenIdle', async () => {
    const page = await open();
    await native(page, 'updateLauncherFooter', busy({ taskStatus: '<b>Applying</b>', progressTotal: 5 }));
    assert.equal(await text(page, '#task-status-label'), '<b>Applying</b>');
    assert.equal(await text(page, '#task-status-count'), '');  // progressVisible not set
    await native(page, 'updateLauncherFooter', footerJson({ taskStatus: 'Cancelled' }));
    assert.equal(await shown(page, '#task-status'), false);
    assert.equal(await hasClass(page, '#footer-detail', 'patch-busy'), false);
  });

  it('UnreadableFooterTextChangesNothing', async () => {
    const page = await open();
    await native(page, 'updateLauncherFooter', busy({ taskStatus: 'Installing...' }));
    await native(page, 'updateLauncherFooter', '{"busy":');
    await native(page, 'updateLauncherFooter', '');
    assert.equal(await text(page, '#btn-play-caption'), 'Installing...');
    assert.ok(page.consoleErrors.some((m) => m.startsWith('parseFooterJson failed')));
  });

  it('TheEndOfATaskReloadsTheTilesAndKeepsTheSelection', async () => {
    const page = await open();
    await page.click(tile(1));
    await settle(page);
    await native(page, 'updateLauncherFooter', busy({}));
    const installed = sampleServers.map((s) => (s.index === 1 ? { ...s, installed: true, status: 1 } : s));
    await setAnswers(page, { getServerListHtml: serverListHtml(installed, 1) });
    await native(page, 'updateLauncherFooter', footerJson());
    assert.equal((await callsNamed(page, 'getServerListHtml')).length, 2);
    assert.equal(await hasClass(page, tile(1), 'selected'), true);
    assert.equal(await text(page, '#btn-play-caption'), 'Launch');
  });

  it('AFooterAnswerOvertakenByANativePushIsDropped', async () => {
    const page = await open({
      getFooterStateJson: { $fn: `() => new Promise((r) => setTimeout(() => r('${footerJson()}'), 150))` },
      getPlayButtonLabel: 'Installing...',
    });
    await clearCalls(page);
    await page.click(tile(2));
    await page.waitForFunction(() => window.__bridge.calls.some((c) => c.name === 'getFooterStateJson'));
    await page.evaluate((json) => updateLauncherFooter(json), busy({ taskStatus: 'Installing...' }));
    await page.waitForTimeout(250);
    await settle(page);
    assert.equal(await text(page, '#btn-play-caption'), 'Installing...');
    assert.equal(await shown(page, '#task-status'), true);
  });
});

describe('server menu', () => {
  const menuFor = async (page, index) => {
    await page.click(tile(index), { button: 'right' });
    return names(page, 'body > menu.context > li');
  };

  it('OffersWhatTheTileAllows', async () => {
    const page = await open();
    assert.deepEqual(await menuFor(page, 0), ['Configure', 'Open Install Folder', 'Duplicate', 'Repair / Reinstall',
      'Advanced']);
    assert.deepEqual(await names(page, 'li.submenu > menu > li'), ['Reset INI Files']);
    assert.deepEqual(await page.locator('body > menu.context > li').evaluateAll((l) => l.map((e) => e.className)),
      ['configure', 'open-folder', 'duplicate', 'reinstall', 'submenu']);
    await page.keyboard.press('Escape');
    assert.deepEqual(await menuFor(page, 1), ['Install']);
    await page.keyboard.press('Escape');
    assert.deepEqual(await menuFor(page, 3), ['Install', 'Delete Installation']);
    await page.keyboard.press('Escape');
    assert.equal(await page.locator('menu.context').count(), 0);
  });

  it('ChoosingAnItemSelectsItsTileThenCallsTheActionWithoutArguments', async () => {
    const page = await open();
    await clearCalls(page);
    await menuFor(page, 3);
    await page.click('li.delete-install');
    await settle(page);
    const all = await page.evaluate(() => window.__bridge.calls);
    const at = (name) => all.findIndex((c) => c.name === name);
    assert.deepEqual(all[at('selectServer')].args, [3]);
    assert.deepEqual(all[at('deleteInstallation')].args, []);
    assert.ok(at('selectServer') < at('deleteInstallation'));
    assert.equal(await page.locator('menu.context').count(), 0);
  });

  it('ResetIniIsReachedThroughTheAdvancedSubmenu', async () => {
    const page = await open();
    await menuFor(page, 2);
    await page.hover('li.submenu');
    await page.click('li.reset-ini');
    await settle(page);
    assert.deepEqual(await argsOf(page, 'resetIniDirectory'), [[]]);
    assert.deepEqual((await argsOf(page, 'selectServer')).at(-1), [2]);
  });

  it('TheSettingsButtonOpensTheSelectedTilesMenuBelowIt', async () => {
    const page = await open();
    await page.click('#server-settings');
    const [button, menu] = [await page.locator('#server-settings').boundingBox(),
      await page.locator('body > menu.context').boundingBox()];
    assert.ok(Math.abs(menu.y - (button.y + button.height)) <= 1 && Math.abs(menu.x - button.x) <= 1);
    assert.deepEqual((await names(page, 'body > menu.context > li'))[0], 'Configure');
  });

  it('WhileBusyTilesMenusAndSettingsDoNothing', async () => {
    const page = await open();
    await menuFor(page, 2);  // opened before the task started
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, playLabel: 'Patching...' }));
    await clearCalls(page);
    await page.click('li.configure');
    await page.click(tile(1));
    await page.click(tile(3), { button: 'right' });
    await page.click('#server-settings');
    await settle(page);
    assert.deepEqual(await page.evaluate(() => window.__bridge.calls), []);
    assert.equal(await page.locator('menu.context').count(), 0);
    assert.equal(await hasClass(page, tile(0), 'selected'), true);
  });
});

describe('news feeds', () => {
  const feedAnswer = (announcements, notes = { error: '', items: [] }) => ({
    fetchRssFeed: { $fn: `(args) => args[0].endsWith('/rss/launcher') ? ${JSON.stringify(announcements)}
      : ${JSON.stringify(notes)}` },
  });

  it('RendersTitlesLinksDatesAndSummaries', async () => {
    const page = await open(feedAnswer({ error: '', items: [
      { title: 'Winter Event', link: 'https://www.kaltris.invalid/news/1?a=1&b=2', date: 'Mon, 02 Dec 2024',
        summary: 'Snow falls.' },
      { title: '', link: '', date: '', summary: '' },
    ] }));
    assert.equal(await page.locator('#rss-announcements').evaluate((e) => e.innerHTML),
      '<article class="rss-item"><a class="rss-title" href="https://www.kaltris.invalid/news/1?a=1&amp;b=2" ' +
      'data-rss-link="https://www.kaltris.invalid/news/1?a=1&amp;b=2" target="@system">Winter Event</a>' +
      '<div class="rss-date" title="Mon, 02 Dec 2024">Dec 2, 2024</div><p class="rss-summary">Snow falls.</p></article>' +
      '<article class="rss-item"><div class="rss-title">Untitled</div></article>');
    assert.equal(await text(page, '#rss-news'), 'No feed items available.');
  });

  it('DecodesLeftoverEntitiesAndShowsMarkupAsText', async () => {
    const titles = ['Tom &amp;amp; Jerry', 'Salt %amp; Pepper', 'A &#8212; B &#x2014; C', 'Far &#1114112; away',
      '&lt;script&gt;x()&lt;/script&gt;', '%LT;b%GT; $NBSP;bold'];
    const page = await open(feedAnswer({ error: '', items: titles.map((title) => ({ title })) }));
    assert.deepEqual(await page.locator('#rss-announcements .rss-title').allTextContents(),
      ['Tom & Jerry', 'Salt & Pepper', 'A — B — C', 'Far &#1114112; away', '<script>x()</script>', '<b>  bold']);
    assert.equal(await page.locator('#rss-announcements script, #rss-announcements b').count(), 0);
  });

  it('AFeedErrorOrAFailedCallIsAQuietNewsUnavailableWithTheReasonAsItsTooltip', async () => {
    const page = await open({ fetchRssFeed: { $fn: `(args) => args[0].endsWith('/rss/launcher')
      ? { error: 'Could not connect <host> (error 7)', items: [{ title: 'hidden' }] }
      : Promise.reject(new Error('gone'))` } });
    assert.equal(await page.locator('#rss-announcements').evaluate((e) => e.innerHTML),
      '<p class="rss-status muted news-unavailable" title="Could not connect &lt;host&gt; (error 7)">News unavailable</p>');
    assert.equal(await text(page, '#rss-news'), 'News unavailable');
    assert.ok(page.consoleErrors.some((m) => m.startsWith('fetchRssFeed failed')));
  });

  it('TitleLinksOpenThroughNativeAndOnlyWebAddressesAreLinked', async () => {
    const page = await open(feedAnswer({ error: '', items: [
      { title: 'Patch', link: 'https://www.kaltris.invalid/p/7' }, { title: 'Local', link: 'file:///etc/passwd' }] }));
    await page.click('a.rss-title');
    await settle(page);
    assert.deepEqual(await argsOf(page, 'openUrl'), [['https://www.kaltris.invalid/p/7']]);
    assert.equal(page.url(), server.url);
    assert.equal(await page.locator('#rss-announcements a').count(), 1);
  });
});

describe('language, shortcuts and window', () => {
  it('ANativeLanguageUpdateIsNotWrittenBack', async () => {
    const page = await open();
    await native(page, 'setSelectedLanguage', 'de');
    assert.equal(await page.inputValue('#language-select'), 'de');
    assert.deepEqual(await page.locator('#language-select option[selected]').evaluateAll((o) => o.map((e) => e.value)),
      ['de']);
    await native(page, 'setSelectedLanguage', '');
    assert.equal(await page.inputValue('#language-select'), 'en');
    assert.deepEqual(await callsNamed(page, 'setLanguage'), []);
    await page.selectOption('#language-select', 'fr');
    await settle(page);
    assert.deepEqual(await argsOf(page, 'setLanguage'), [['fr']]);
  });

  it('WithoutShortcutsTheButtonIsNotShown', async () => {
    for (const answer of ['[]', '{"shortcuts":[]}', '{oops']) {
      const page = await open({ getShortcutsJson: answer });
      assert.equal(await page.locator('#btn-shortcuts').isVisible(), false);
      await page.close();
    }
  });

  it('TheShortcutsMenuLaunchesTheChosenIndex', async () => {
    const page = await open({ getShortcutsJson: JSON.stringify([
      { exec: 'https://forum', index: 4, name: 'Forum', type: 'Webpage' }, { exec: 'C:/x.exe', type: 'Program' }]) });
    await page.click('#btn-shortcuts');
    assert.deepEqual(await page.locator('menu.shortcuts-menu li').allTextContents(), ['Forum', 'Shortcut 1']);
    const [button, menu] = [await page.locator('#btn-shortcuts').boundingBox(),
      await page.locator('menu.shortcuts-menu').boundingBox()];
    assert.equal(Math.round(menu.width), Math.round(button.width));
    await page.click('menu.shortcuts-menu li >> nth=0');
    await page.click('#btn-shortcuts');
    await page.click('menu.shortcuts-menu li >> nth=1');
    await settle(page);
    assert.deepEqual(await argsOf(page, 'launchShortcut'), [[4], [1]]);
    assert.equal(await page.locator('menu.context').count(), 0);
  });

  it('TitleBarButtonsAndLinksCallNativeCode', async () => {
    const page = await open();
    await clearCalls(page);
    await page.click('#btn-min');
    await page.click('#btn-close');
    await page.click('#app-title');
    await page.click('#titlebar-spacer', { button: 'right' });
    await page.click('#link-chat');
    await settle(page);
    const all = await page.evaluate(() => window.__bridge.calls);
    assert.deepEqual(all, [{ name: 'windowMinimize', args: [] }, { name: 'windowClose', args: [] },
      { name: 'windowDrag', args: [] }, { name: 'openUrl', args: ['https://chat.kaltris.invalid'] }]);
    assert.equal(page.url(), server.url);
  });
});

describe('look', () => {
  it('ScreenshotWithSampleData', async () => {
    const items = [
      { title: 'Frostfall Festival begins', link: site + '/news/frostfall', date: 'Mon, 02 Dec 2024 10:00:00 GMT',
        summary: 'Lanterns are lit across the northern reaches. Complete festival quests for the Aurora mount.' },
      { title: 'Scheduled maintenance', link: site + '/news/maint', date: 'Thu, 28 Nov 2024 06:00:00 GMT',
        summary: 'All realms will be offline for two hours while we upgrade the patch servers.' },
      { title: 'Community spotlight: Tidewright guild', link: '', date: 'Fri, 22 Nov 2024',
        summary: 'Meet the guild that charted every sunken ruin of the Keel Coast.' },
    ];
    const notes = [
      { title: 'Patch 2024.11.3', link: site + '/patches/2024-11-3', date: 'Tue, 26 Nov 2024',
        summary: 'Fixes a crash when opening the map in the Ember Wastes; rebalances frost magic.' },
      { title: 'Patch 2024.11.2', link: site + '/patches/2024-11-2', date: 'Tue, 12 Nov 2024',
        summary: 'New dungeon: The Drowned Nave. Improved loading times on older machines.' },
    ];
    const page = await open({
      fetchRssFeed: { $fn: `(args) => ({ error: '', items: args[0].endsWith('/rss/launcher')
        ? ${JSON.stringify(items)} : ${JSON.stringify(notes)} })` },
      getShortcutsJson: '[{"exec":"https://forum","index":0,"name":"Forum","type":"Webpage"}]',
    });
    await native(page, 'updateLauncherFooter', footerJson({ busy: true, canPlay: false, playLabel: 'Patching...',
      progressDone: 412, progressTotal: 1000, progressVisible: true, taskStatus: 'Downloading files... 4.2 MB/s' }));
    fs.mkdirSync(outFolder, { recursive: true });
    const file = path.join(outFolder, 'launcher.png');
    await page.waitForTimeout(400);  // let the button's colour transition finish
    await page.screenshot({ path: file });
    assert.ok(fs.statSync(file).size > 10000);
    assert.deepEqual(page.consoleErrors, []);
  });
});

describe('server column with more tiles than fit', () => {
  const eight = Array.from({ length: 8 }, (_, i) => ({ index: i, name: 's' + i, desc: 'Server ' + i, installed: i % 2 === 0 }));
  const boxes = (page) => page.evaluate(() => {
    const box = (s) => { const r = document.querySelector(s)?.getBoundingClientRect(); return r && { top: r.top, bottom: r.bottom }; };
    const list = document.querySelector('#server-list');
    const selected = document.querySelector('.server-tile.selected');
    return { list: box('#server-list'), tile: selected && box(`.server-tile[data-index="${selected.dataset.index}"]`),
      selected: selected && Number(selected.dataset.index), panel: box('#card-panel'), footer: box('#card-footer'),
      mask: document.querySelector('#card-border-mask.visible') ? box('#card-border-mask') : null,
      bar: list.offsetWidth - list.clientWidth, overflows: list.scrollHeight > list.clientHeight };
  });
  const inside = (inner, outer) => inner.top >= outer.top - 0.5 && inner.bottom <= outer.bottom + 0.5;

  it('TheListScrollsWithAVisibleBarAndTheSelectedTileIsAlwaysInView', async () => {
    const page = await open({ getServerListHtml: serverListHtml(eight, 0) });
    const first = await boxes(page);
    assert.equal(first.overflows, true);
    assert.ok(first.bar >= 6, `scroll bar width ${first.bar}`);
    // A duplicate selects a new last tile; a delete the one before it; a reload
    // keeps the selection; a click goes back to the top.
    const steps = [
      ['duplicate', async () => { await setAnswers(page, { getServerListHtml: serverListHtml(eight, 7) }); await native(page, 'reloadServerList'); }, 7],
      ['delete', async () => { await setAnswers(page, { getServerListHtml: serverListHtml(eight.slice(0, 7), 6) }); await native(page, 'reloadServerList'); }, 6],
      ['reload', async () => { await page.evaluate(() => { document.querySelector('#server-list').scrollTop = 0; }); await native(page, 'reloadServerList'); }, 6],
      ['click', async () => { await page.click(tile(0)); await settle(page); }, 0],
    ];
    for (const [what, act, expected] of steps) {
      await act();
      const now = await boxes(page);
      assert.equal(now.selected, expected, what);
      assert.ok(inside(now.tile, now.list), `${what}: tile ${JSON.stringify(now.tile)} list ${JSON.stringify(now.list)}`);
    }
  });

  it('TheBorderStripStaysBesideTheCardPanelAndNeverCrossesTheFooter', async () => {
    const page = await open({ getServerListHtml: serverListHtml(eight, 7) });
    await native(page, 'reloadServerList');
    const beside = await boxes(page);
    assert.ok(beside.tile.bottom > beside.panel.bottom, 'the last tile reaches down beside the footer');
    if (beside.mask) {
      assert.ok(inside(beside.mask, beside.panel), JSON.stringify(beside));
      assert.ok(beside.mask.bottom <= beside.footer.top + 0.5, JSON.stringify(beside));
    }
    // Scrolled away by the user: no strip for a tile that is out of sight.
    await page.evaluate(() => { const l = document.querySelector('#server-list'); l.scrollTop = 0; l.dispatchEvent(new Event('scroll')); });
    await settle(page);
    assert.equal((await boxes(page)).mask, null);
  });
});

describe('players see consistent text and progress', () => {
  const busy = (fields) => footerJson({ busy: true, canPlay: false, playLabel: 'Installing...', progressVisible: true, ...fields });

  it('TheBarShowsThePercentageOfTheTextAtOnceAlsoWhenAStageStartsAgain', async () => {
    const page = await open();
    const ratio = () => page.evaluate(() => {
      const width = (s) => parseFloat(getComputedStyle(document.querySelector(s)).width);
      return [Math.round((100 * width('#patch-progress-fill')) / document.querySelector('#patch-progress').clientWidth),
        document.querySelector('#task-status-count').textContent];
    });
    await native(page, 'updateLauncherFooter', busy({ taskStatus: 'Verifying local files...', progressDone: 85, progressTotal: 100 }));
    // Read in the same task as the update: an animated width would lag behind.
    const sameTask = await page.evaluate((json) => {
      updateLauncherFooter(json);
      const fill = parseFloat(getComputedStyle(document.querySelector('#patch-progress-fill')).width);
      return [Math.round((100 * fill) / document.querySelector('#patch-progress').clientWidth),
        document.querySelector('#task-status-count').textContent];
    }, busy({ taskStatus: 'Downloading files...', progressDone: 14, progressTotal: 100 }));
    assert.deepEqual(sameTask, [14, '14%']);
    assert.deepEqual(await ratio(), [14, '14%']);
  });

  it('AVersionWithLineBreaksIsShownOnSeparateLines', async () => {
    const page = await open();
    await native(page, 'setSelectedServerVersion', '2.5.1\nbuild 7\r\nhotfix');
    const [lines, height, lineHeight] = await page.locator('#server-version').evaluate((e) =>
      [e.innerText.split('\n'), e.getBoundingClientRect().height, parseFloat(getComputedStyle(e).lineHeight)]);
    assert.deepEqual(lines, ['2.5.1', 'build 7', 'hotfix']);
    assert.ok(height >= 2.9 * lineHeight, `height ${height} for line height ${lineHeight}`);
  });

  it('TheLanguageGlobeIsADrawingThatNeedsNoEmojiFont', async () => {
    const page = await open();
    const globe = await page.locator('.language-globe').evaluate((e) => {
      const r = e.getBoundingClientRect();
      return [e.namespaceURI, e.textContent.trim(), Math.round(r.width), Math.round(r.height)];
    });
    assert.deepEqual(globe, ['http://www.w3.org/2000/svg', '', 15, 15]);
  });

  it('AVeryLongWordInAFeedIsBrokenInsideItsPanel', async () => {
    const word = 'W'.repeat(240);
    const page = await open({ fetchRssFeed: { error: '', items: [
      { title: word, link: site + '/news/' + word, date: word, summary: 'before ' + word + ' after' }] } });
    const overflow = await page.evaluate(() => Array.from(document.querySelectorAll('.feed-panel')).map((panel) => {
      const feed = panel.querySelector('.rss-feed');
      const right = panel.getBoundingClientRect().right;
      const widest = Math.max(...Array.from(feed.querySelectorAll('.rss-title, .rss-date, .rss-summary'))
        .map((e) => e.getBoundingClientRect().right));
      return [feed.scrollWidth - feed.clientWidth, widest <= right];
    }));
    assert.deepEqual(overflow, [[0, true], [0, true]]);
  });
});

describe('pause, resume and the download limit', () => {
  const shown = (page, selector) => page.locator(selector).isVisible();
  const downloading = (fields) => footerJson({ busy: true, canPlay: false, playLabel: 'Installing...',
    taskStatus: 'Downloading files...', progressDone: 4, progressTotal: 10, progressVisible: true, ...fields });

  it('PauseIsOfferedOnlyWhileNativeCodeSaysSoAndCallsPausePatch', async () => {
    const page = await open({ pausePatch: true });
    await native(page, 'updateLauncherFooter',
      downloading({ canPause: true, transferText: '4.0 MB of 10.0 MB · 1.0 MB/s · 6 s left' }));
    assert.equal(await shown(page, '#btn-pause'), true);
    assert.equal(await text(page, '#task-transfer'), '4.0 MB of 10.0 MB · 1.0 MB/s · 6 s left');
    await page.click('#btn-pause');
    await settle(page);
    assert.equal((await callsNamed(page, 'pausePatch')).length, 1);
    assert.equal((await callsNamed(page, 'cancelPatch')).length, 0);
    await native(page, 'updateLauncherFooter', downloading({ canPause: false, playLabel: 'Pausing...',
      taskStatus: 'Pausing...' }));
    assert.equal(await shown(page, '#btn-pause'), false);
    assert.equal(await text(page, '#btn-play-caption'), 'Pausing...');
  });

  it('APausedDownloadKeepsItsProgressAndTransferAndThePlayButtonResumes', async () => {
    const page = await open({ resumePatch: true });
    await native(page, 'updateLauncherFooter', footerJson({ paused: true, playLabel: 'Resume', taskStatus: 'Paused',
      progressDone: 3, progressTotal: 10, progressVisible: true, transferText: '3.0 MB of 10.0 MB · 1.0 MB/s' }));
    await native(page, 'setPlayButtonCaption', 'Resume');
    assert.equal(await text(page, '#btn-play-caption'), 'Resume');
    assert.equal(await text(page, '#task-status-label'), 'Paused');
    assert.equal(await text(page, '#task-status-count'), '30%');
    assert.equal(await text(page, '#task-transfer'), '3.0 MB of 10.0 MB · 1.0 MB/s');
    assert.equal(await shown(page, '#patch-progress'), true);
    assert.equal(await shown(page, '#btn-pause'), false);
    await page.click('#btn-play');
    await settle(page);
    assert.equal((await callsNamed(page, 'resumePatch')).length, 1);
    assert.equal((await callsNamed(page, 'play')).length, 0);
  });

  it('TheSettingsFieldShowsTheLimitSavesItAndShowsWhyATextWasRefused', async () => {
    const page = await open({
      getDownloadSettings: '{"downloadLimit":"5M"}',
      setDownloadLimit: { $fn: `([value]) => value === '2m'
        ? '{"downloadLimit":"2M","ok":true}'
        : '{"downloadLimit":"5M","error":"not a download limit","ok":false}'` },
    });
    assert.equal(await shown(page, '#settings-panel'), false);
    await page.click('#btn-settings');
    await settle(page);
    assert.equal(await shown(page, '#settings-panel'), true);
    assert.equal(await page.inputValue('#download-limit'), '5M');
    for (const [typed, message, kind, value] of [['fast', 'not a download limit', 'error', 'fast'],
      ['2m', 'Saved: at most 2M per second.', 'saved', '2M']]) {
      await page.fill('#download-limit', typed);
      await page.press('#download-limit', 'Enter');
      await settle(page);
      assert.equal(await text(page, '#download-limit-message'), message);
      assert.equal(await hasClass(page, '#download-limit-message', kind), true);
      assert.equal(await page.inputValue('#download-limit'), value);
    }
    assert.deepEqual(await argsOf(page, 'setDownloadLimit'), [['fast'], ['2m']]);
    await page.press('#download-limit', 'Escape');
    assert.equal(await shown(page, '#settings-panel'), false);
  });
});
