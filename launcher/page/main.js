'use strict';
// The launcher page's script. The page owns no data: it shows what the native
// side reports and forwards every user action to a native function.
//
// Two directions:
// - xcall(name, ...args) asks native code and returns a promise of its answer.
//   Answers arrive later and in any interleaving with native pushes, so every
//   answer that could be overtaken is checked against a generation counter
//   before it is applied (see footerGeneration, selectionSeq, serverListSeq).
// - Native code calls the global functions reloadServerList,
//   updateLauncherFooter, setSelectedServerHeader, setSelectedServerVersion,
//   setSelectedLanguage and setPlayButtonCaption with plain values. JSON texts
//   arrive as strings.
//
// Failing native calls are written to the console with a short "<what> failed"
// message; the page keeps its content or shows a fallback text.

// The only place that touches the host's message handler. A call larger or
// nested deeper than native code takes (1 MiB of JSON, 32 levels counting the
// call object and its argument list) is refused here, before it is posted.
const XCALL_MAX_DEPTH = 32;
const XCALL_MAX_LENGTH = 1048576;
const XCALL_MAX_NODES = 100000;

function xcallFits(call) {
  const pending = [[call, 1]];
  let nodes = 0;
  while (pending.length > 0) {
    const [value, depth] = pending.pop();
    if (value === null || typeof value !== 'object') continue;
    if (depth > XCALL_MAX_DEPTH || ++nodes > XCALL_MAX_NODES) return false;
    for (const key of Object.keys(value)) pending.push([value[key], depth + 1]);
  }
  try { return JSON.stringify(call).length <= XCALL_MAX_LENGTH; } catch (e) { return false; }
}

function xcall(name, ...args) {
  const call = {name, args};
  if (!xcallFits(call)) return Promise.reject(new Error('xcall: the call is too large or nested too deeply'));
  return window.webkit.messageHandlers.xcall.postMessage(call);
}

// ---------------------------------------------------------------------------
// Script state

const state = {
  busy: false,          // a task is running (from the footer state)
  selected: 0,          // index of the selected server tile
  canPlay: true,        // the play button may be used when idle
  playLabel: 'Install', // current play button label
  taskStatus: undefined,
  progressVisible: undefined,
  progressDone: undefined,
  progressTotal: undefined,
  canPause: false,      // Pause is offered (a download is under way)
  paused: false,        // the selected entry's download is paused: the play button resumes it
  transferText: '',     // bytes, speed and time left of the download, from native code
  problem: null,        // the selected entry's problem {caption, detail, kind}, from native code
  installedVersion: '', // the selected installation's own version; '' when none
  versionState: 'none', // what the version text is: 'known', 'loading', 'none' or 'unavailable'
  sizeText: '',         // the download size shown after the idle label ('56 MB'); '' while unknown
};
let contextServerIndex = -1;  // tile the open server menu acts on; -1: none
let prevFooterBusy = false;   // busy flag of the previous footer update
let languageSyncing = false;  // native code is setting the language list

// Bumped by every applied footer update; a footer or label answer requested
// before the latest update is stale and dropped. Native code pushes the footer
// after every change of its state, so a dropped answer is never the last word.
let footerGeneration = 0;
// Bumped by every selection the page makes; header answers for an older
// selection are dropped.
let selectionSeq = 0;
// Bumped by every server list load; only the newest load fills the list.
let serverListSeq = 0;

const NO_VALUE = '—';
const FEED_MAXIMUM = 6;
// Native code answers a feed within 10 s; past this bound the page stops
// waiting on its own.
const FEED_WAIT_MS = 15000;
const NEWS_UNAVAILABLE = 'News unavailable';
// A feed that could not be had is asked for again after 30 s, then after
// twice as long each time, never waiting more than 10 minutes.
const FEED_RETRY_FIRST_MS = 30000;
const FEED_RETRY_MOST_MS = 600000;
const BUSY_WORDS = ['installing', 'patching', 'checking', 'cancelling', 'pausing'];
const RESUME_LABEL = 'Resume';

// ---------------------------------------------------------------------------
// Small helpers

function $(selector) { return document.querySelector(selector); }

function logError(what, error) {
  console.error(what, error instanceof Error ? error.message : String(error));
}

function escapeHtml(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

function isBusyLabel(label) {
  const lower = String(label ?? '').toLowerCase();
  return BUSY_WORDS.some((word) => lower.includes(word));
}

function toCount(value) {
  return typeof value === 'number' && Number.isFinite(value) ? value : 0;
}

// The game web site, taken from the first footer link so that the page holds
// the address once. No trailing slash.
function siteAddress() {
  const link = document.getElementById('link-site');
  return (link ? link.getAttribute('href') || '' : '').replace(/\/+$/, '');
}

// ---------------------------------------------------------------------------
// Feed text clean-up

const PERCENT_ENTITIES = [['%amp;', '&'], ['%lt;', '<'], ['%gt;', '>'], ['%quot;', '"'], ['%apos;', "'"],
  ['%nbsp;', ' ']];
const NAMED_ENTITIES = {'&amp;': '&', '&lt;': '<', '&gt;': '>', '&quot;': '"', '&apos;': "'", '&nbsp;': ' ',
  '&mdash;': '—', '&ndash;': '–'};
const NAMED_ENTITY_PATTERN = /&(?:amp|lt|gt|quot|apos|nbsp|mdash|ndash);/g;
const NUMERIC_REFERENCE_PATTERN = /&#(?:([0-9]+)|[xX]([0-9a-fA-F]+));/g;

// Second clean-up of feed text that native code has decoded once: broken
// "%name;" entities, then up to four passes of numeric and named references
// (so a doubly escaped "&amp;lt;" is resolved too).
function decodeFeedText(text) {
  let out = String(text ?? '');
  for (const [pattern, replacement] of PERCENT_ENTITIES) {
    out = out.split(pattern).join(replacement).split(pattern.toUpperCase()).join(replacement);
  }
  out = out.replace(/\$nbsp;/gi, ' ');
  for (let pass = 0; pass < 4; pass++) {
    let changed = false;
    out = out.replace(NUMERIC_REFERENCE_PATTERN, (whole, decimal, hex) => {
      const code = decimal !== undefined ? parseInt(decimal, 10) : parseInt(hex, 16);
      if (!(code <= 0x10FFFF)) return whole;
      changed = true;
      return String.fromCodePoint(code);
    });
    out = out.replace(NAMED_ENTITY_PATTERN, (whole) => {
      changed = true;
      return NAMED_ENTITIES[whole];
    });
    if (!changed) break;
  }
  return out;
}

// Feed links go to the system browser; only web addresses are offered, so a
// feed cannot make the launcher open a local file or program.
function isWebLink(link) {
  return /^https?:\/\//i.test(link);
}

// ---------------------------------------------------------------------------
// Feed dates: native code passes a date only when it reads as an RSS
// (RFC 822) or ISO 8601 date; the page shows it in the player's locale.

const MONTHS = ['january', 'february', 'march', 'april', 'may', 'june', 'july', 'august', 'september', 'october',
  'november', 'december'];
// Minutes east of UTC of the zone names RSS dates use.
const ZONE_OFFSETS = {ut: 0, utc: 0, gmt: 0, z: 0, est: -300, edt: -240, cst: -360, cdt: -300, mst: -420,
  mdt: -360, pst: -480, pdt: -420};
const RSS_DATE = /^(?:[a-z]{3,9},?\s+)?(\d{1,2})\s+([a-z]{3,9})\.?\s+(\d{4}|\d{2})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?(?:\s*([a-z]{1,5}|[+-]\d{4}))?)?$/i;
const ISO_DATE = /^(\d{4})-(\d{2})-(\d{2})(?:[t ](\d{2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?(z|[+-]\d{2}:?\d{2})?)?$/i;

// Minutes east of UTC for "+0200", "-05:00", "GMT", "EST"...; null for a zone
// that names no offset (the military letters other than Z).
function zoneOffset(zone) {
  if (zone === undefined) return null;
  const numeric = /^([+-])(\d{2}):?(\d{2})$/.exec(zone);
  if (numeric) return (numeric[1] === '-' ? -1 : 1) * (Number(numeric[2]) * 60 + Number(numeric[3]));
  const named = ZONE_OFFSETS[zone.toLowerCase()];
  return named === undefined ? null : named;
}

// {ms, hasTime, hasZone} of a feed date, or null when it does not read. A
// time without a known zone is the time as written (shown in UTC, unshifted).
function readFeedDate(text) {
  let year, month, day, hour, minute, second, zone;
  let parts = RSS_DATE.exec(text);
  if (parts) {
    // "Dec" or "December", in any letter case.
    const name = parts[2].toLowerCase();
    month = MONTHS.findIndex((full) => full === name || full.slice(0, 3) === name);
    year = Number(parts[3]);
    if (parts[3].length === 2) year += year < 50 ? 2000 : 1900;
    [day, hour, minute, second, zone] = [Number(parts[1]), parts[4], parts[5], parts[6], parts[7]];
  } else if ((parts = ISO_DATE.exec(text))) {
    [year, month, day] = [Number(parts[1]), Number(parts[2]) - 1, Number(parts[3])];
    [hour, minute, second, zone] = [parts[4], parts[5], parts[6], parts[7]];
  } else {
    return null;
  }
  const hasTime = hour !== undefined;
  const [h, m, sec] = [Number(hour ?? 0), Number(minute ?? 0), Math.min(59, Number(second ?? 0))];
  if (month < 0 || month > 11 || h > 23 || m > 59) return null;
  const wall = Date.UTC(year, month, day, h, m, sec);
  const check = new Date(wall);
  if (Number.isNaN(wall) || check.getUTCDate() !== day || check.getUTCMonth() !== month) return null;
  const offset = hasTime ? zoneOffset(zone) : null;
  return {ms: wall - (offset ?? 0) * 60000, hasTime, hasZone: offset !== null};
}

// The date in the player's locale (date and time when the feed gave a
// time); the text as it is when it does not read as a date.
function formatFeedDate(text) {
  const raw = String(text ?? '').trim();
  const date = readFeedDate(raw);
  if (!date) return raw;
  try {
    const options = date.hasTime ? {dateStyle: 'medium', timeStyle: 'short'} : {dateStyle: 'medium'};
    if (!date.hasZone) options.timeZone = 'UTC';
    return new Intl.DateTimeFormat(undefined, options).format(new Date(date.ms));
  } catch (e) {
    return raw;
  }
}

// ---------------------------------------------------------------------------
// Feeds

// The error of a feed answer ('' for a usable answer).
function feedError(feed) {
  if (!feed || typeof feed !== 'object') return 'no answer';
  return typeof feed.error === 'string' ? feed.error : '';
}

// A feed that could not be had is a quiet line; the reason is its tooltip.
function unavailableFeedHtml(reason) {
  return '<p class="rss-status muted news-unavailable" title="' + escapeHtml(reason) + '">' + NEWS_UNAVAILABLE +
         '</p>';
}

function renderFeed(feed) {
  if (typeof feed === 'string') {
    try { feed = JSON.parse(feed); } catch (e) { feed = null; }
  }
  const error = feedError(feed);
  if (error) return unavailableFeedHtml(error);
  const items = Array.isArray(feed.items) ? feed.items : [];
  if (items.length === 0) return '<p class="rss-status muted">No feed items available.</p>';
  const field = (item, key) => (item && item[key] != null ? String(item[key]) : '');
  return items.map((item) => {
    const title = escapeHtml(decodeFeedText(field(item, 'title')) || 'Untitled');
    const link = field(item, 'link');
    const date = decodeFeedText(field(item, 'date')).trim();
    const summary = decodeFeedText(field(item, 'summary'));
    let html = '<article class="rss-item">';
    if (link && isWebLink(link)) {
      html += '<a class="rss-title" href="' + escapeHtml(link) + '" data-rss-link="' + escapeHtml(link) +
              '" target="@system">' + title + '</a>';
    } else {
      html += '<div class="rss-title">' + title + '</div>';
    }
    const shownDate = formatFeedDate(date);
    if (date && shownDate !== date) {
      html += '<div class="rss-date" title="' + escapeHtml(date) + '">' + escapeHtml(shownDate) + '</div>';
    } else if (date) {
      html += '<div class="rss-date">' + escapeHtml(date) + '</div>';
    }
    if (summary) html += '<p class="rss-summary">' + escapeHtml(summary) + '</p>';
    return html + '</article>';
  }).join('');
}

// The wait before the next attempt after `failures` failed ones in a row.
function feedRetryDelay(failures) {
  return Math.min(FEED_RETRY_MOST_MS, FEED_RETRY_FIRST_MS * 2 ** Math.max(0, Math.min(failures, 20) - 1));
}

// Fills `container` with the feed. A feed that cannot be had shows "News
// unavailable" and is asked for again later (feedRetryDelay); the attempts
// after the first show nothing new until one succeeds.
async function loadRssFeed(url, container, maximum, failures = 0) {
  if (!container) return;
  if (failures === 0) container.innerHTML = '<p class="rss-status muted">Loading…</p>';
  let timer;
  const late = new Promise((resolve) => {
    timer = setTimeout(() => resolve({error: NEWS_UNAVAILABLE, items: []}), FEED_WAIT_MS);
  });
  let feed;
  try {
    feed = await Promise.race([xcall('fetchRssFeed', url, maximum || FEED_MAXIMUM), late]);
  } catch (e) {
    logError('fetchRssFeed failed', e);
    feed = {error: e instanceof Error ? e.message : String(e), items: []};
  } finally {
    clearTimeout(timer);
  }
  const error = feedError(feed);
  if (!error) {
    container.innerHTML = renderFeed(feed);
    return;
  }
  container.innerHTML = unavailableFeedHtml(error);
  setTimeout(() => loadRssFeed(url, container, maximum, failures + 1), feedRetryDelay(failures + 1));
}

// ---------------------------------------------------------------------------
// Server tiles and selection

function serverTiles() { return Array.from(document.querySelectorAll('#server-list .server-tile')); }

function tileByIndex(index) {
  return serverTiles().find((tile) => parseInt(tile.getAttribute('data-index'), 10) === index) || null;
}

function tileIndex(tile) { return parseInt(tile.getAttribute('data-index'), 10); }

// The idle label, decided by the selected tile only: an installed tile marked
// out of date updates, another installed one launches.
function labelFromSelectedTile() {
  const tile = tileByIndex(state.selected);
  if (!tile) return 'Install';
  // A partly downloaded client carries on with its install, reusing what is staged.
  if (tile.getAttribute('data-installed') !== '1') return tile.getAttribute('data-partial') === '1' ? RESUME_LABEL : 'Install';
  return tile.querySelector('.tile-status.outdated') ? 'Update' : 'Launch';
}

// Every tile is reached with Tab and is an option of the list.
function prepareTiles() {
  for (const tile of serverTiles()) {
    tile.tabIndex = 0;
    tile.setAttribute('role', 'option');
    tile.setAttribute('aria-selected', tile.classList.contains('selected') ? 'true' : 'false');
  }
}

// Native code gives the page its server list with the page itself
// (window.launcherStartup), so that the first frame already shows the tiles.
// It is used for the first list only; every later one is asked for.
let startupListTaken = false;
function takeStartupServerList() {
  if (startupListTaken) return undefined;
  startupListTaken = true;
  const startup = window.launcherStartup;
  return startup && typeof startup.serverListHtml === 'string' ? startup.serverListHtml : undefined;
}

// Fills #server-list. Resolves to whether at least one tile exists, or null
// when a newer load has been started meanwhile (that one decides).
async function loadServerList() {
  const seq = ++serverListSeq;
  const selectionAtStart = selectionSeq;
  const list = $('#server-list');
  let html = takeStartupServerList();
  if (html === undefined) {
    try {
      html = await xcall('getServerListHtml');
    } catch (e) {
      if (seq !== serverListSeq) return null;
      logError('getServerListHtml failed', e);
      list.innerHTML = '<div class="server-empty">Could not load servers</div>';
      return false;
    }
  }
  if (seq !== serverListSeq) return null;
  if (!html) {
    list.innerHTML = '<div class="server-empty">Could not load servers</div>';
    return false;
  }
  // A tile that has the keyboard keeps it across the reload (status checks
  // reload the list now and then).
  const focused = document.activeElement && document.activeElement.closest
    ? document.activeElement.closest('#server-list .server-tile') : null;
  const focusedIndex = focused ? tileIndex(focused) : NaN;
  list.innerHTML = String(html);
  prepareTiles();
  if (!Number.isNaN(focusedIndex)) {
    const again = tileByIndex(focusedIndex);
    if (again) again.focus({preventScroll: true});
  }
  // For start-up measurements: when the tiles first went in.
  if (serverTiles().length > 0 && performance.getEntriesByName('server-tiles', 'mark').length === 0) {
    performance.mark('server-tiles');
  }
  // The tile HTML marks the entry native code has selected. After a duplicate
  // or a delete that is no longer the page's index; follow native code unless
  // the user picked a tile while the list was on its way.
  const marked = list.querySelector('.server-tile.selected');
  if (marked && selectionAtStart === selectionSeq && !Number.isNaN(tileIndex(marked))) {
    state.selected = tileIndex(marked);
  }
  return serverTiles().length > 0;
}

// Marks the tile of `index` as selected and scrolls the list so that it is
// wholly visible (after a click, a duplicate, a delete or a reload alike).
function highlightSelected(index) {
  for (const tile of serverTiles()) {
    tile.classList.toggle('selected', tileIndex(tile) === index);
    tile.setAttribute('aria-selected', tileIndex(tile) === index ? 'true' : 'false');
  }
  scrollTileIntoView(tileByIndex(index));
  updateCardBorderMask();
}

// Scrolls only the server list, never the page around it.
function scrollTileIntoView(tile) {
  const list = $('#server-list');
  if (!tile || !list) return;
  const listBox = list.getBoundingClientRect();
  const tileBox = tile.getBoundingClientRect();
  const gap = parseFloat(getComputedStyle(tile).marginBottom) || 0;
  if (tileBox.top < listBox.top) list.scrollTop -= listBox.top - tileBox.top;
  else if (tileBox.bottom + gap > listBox.bottom) {
    list.scrollTop += Math.min(tileBox.bottom + gap - listBox.bottom, tileBox.top - listBox.top);
  }
}

// The 2 px strip over the card's left border beside the selected tile, so that
// tile and card look joined. Only the part of the tile that is visible in the
// list and lies beside the card panel gets the strip: never the card's footer.
function updateCardBorderMask() {
  const mask = $('#card-border-mask');
  if (!mask) return;
  try {
    const tile = tileByIndex(state.selected);
    if (!tile || !tile.classList.contains('selected')) {
      mask.classList.remove('visible');
      return;
    }
    const tileBox = tile.getBoundingClientRect();
    const listBox = $('#server-list').getBoundingClientRect();
    const panel = $('#card-panel');
    const panelBox = panel.getBoundingClientRect();
    const top = Math.max(tileBox.top, listBox.top, panelBox.top);
    const bottom = Math.min(tileBox.bottom, listBox.bottom, panelBox.bottom);
    if (bottom - top < 1) {
      mask.classList.remove('visible');
      return;
    }
    // The strip is placed inside the panel's border box.
    const origin = panelBox.top + panel.clientTop;
    mask.style.top = Math.floor(top - origin) + 'px';
    mask.style.height = Math.max(0, Math.floor(bottom - origin) - Math.floor(top - origin)) + 'px';
    mask.classList.add('visible');
  } catch (e) {
    mask.classList.remove('visible');
    logError('updateCardBorderMask failed', e);
  }
}

function updateInfoFromTile(index) {
  const tile = tileByIndex(index);
  if (!tile) {
    refreshHeaderFromNative();
    return;
  }
  setSelectedServerHeader(tile.getAttribute('data-desc') || NO_VALUE);
  refreshPlayButton();
}

async function selectServer(index) {
  if (state.busy) return;
  const seq = ++selectionSeq;
  state.selected = index;
  highlightSelected(index);
  updateInfoFromTile(index);
  try {
    await xcall('selectServer', index);
  } catch (e) {
    logError('selectServer failed', e);
  }
  if (seq !== selectionSeq) return;  // the user picked another tile meanwhile
  await refreshHeaderFromNative();
  await refreshFooterFromNative();
  await refreshPlayButton();
}

async function refreshHeaderFromNative() {
  const seq = selectionSeq;
  try {
    const label = await xcall('getSelectedServerHeader');
    if (seq !== selectionSeq) return;
    if (label) setSelectedServerHeader(label);
    const version = await xcall('getSelectedServerVersion');
    if (seq !== selectionSeq) return;
    setSelectedServerVersion(version || NO_VALUE);
    const language = await xcall('getLanguage');
    if (seq !== selectionSeq) return;
    setSelectedLanguage(language || 'en');
  } catch (e) {
    logError('getSelectedServerHeader failed', e);
  }
}

async function refreshFooterFromNative() {
  const generation = footerGeneration;
  try {
    const json = await xcall('getFooterStateJson');
    if (generation === footerGeneration) updateLauncherFooter(json);
  } catch (e) {
    logError('getFooterStateJson failed', e);
  }
}

// ---------------------------------------------------------------------------
// Play button

async function refreshPlayButton() {
  if (state.busy) {
    const generation = footerGeneration;
    try {
      const label = await xcall('getPlayButtonLabel');
      if (generation !== footerGeneration) return;  // a newer footer update set the label
      if (isBusyLabel(label)) {
        setPlayButtonCaption(label);
        return;
      }
    } catch (e) {
      logError('getPlayButtonLabel failed', e);
      if (generation !== footerGeneration) return;
    }
  }
  setPlayButtonCaption(state.paused ? RESUME_LABEL : labelFromSelectedTile());
}

function updatePlayButtonAppearance() {
  const button = $('#btn-play');
  const caption = $('#btn-play-caption');
  if (!button || !caption) return;
  const label = state.playLabel || 'Install';
  const lower = label.toLowerCase();
  const isBusy = state.busy || isBusyLabel(label);
  const isLaunch = !isBusy && (lower.startsWith('launch') || lower.startsWith('play') || lower === 'resume' ||
                               lower === 'update');
  const isInstall = !isBusy && lower === 'install';
  const showStop = isBusy && button.classList.contains('is-hovered') && !lower.startsWith('cancell');
  // The size of what the next run fetches follows the idle label ("Update - 56 MB").
  const sized = !isBusy && state.sizeText && (isInstall || lower === 'update') ? label + ' - ' + state.sizeText : label;
  const shown = showStop ? 'STOP' : sized;

  for (const [name, on] of [['busy', isBusy], ['play-mode', isLaunch], ['install-mode', isInstall]]) {
    if (button.classList.contains(name) !== on) button.classList.toggle(name, on);
  }
  caption.textContent = shown;
  button.setAttribute('aria-label', shown);

  const disabled = !state.busy && !state.canPlay;
  button.disabled = disabled;
  if (disabled) button.classList.remove('is-hovered', 'is-pressed');
}

function playButtonReacts() { return state.busy || state.canPlay; }

async function onPlayClick() {
  try {
    if (state.busy) await xcall('cancelPatch');
    else if (state.paused) await xcall('resumePatch');
    else if (labelFromSelectedTile() === 'Launch') await xcall('play');
    else if (labelFromSelectedTile() === 'Update') await xcall('update');
    else await xcall('install');  // Install, and Resume of a partly downloaded client
  } catch (e) {
    logError('play failed', e);
  }
}

function wirePlayButton() {
  const button = $('#btn-play');
  button.addEventListener('mouseenter', () => {
    if (playButtonReacts()) button.classList.add('is-hovered');
    updatePlayButtonAppearance();
  });
  button.addEventListener('mouseleave', () => {
    button.classList.remove('is-hovered', 'is-pressed');
    updatePlayButtonAppearance();
  });
  button.addEventListener('mousedown', () => {
    if (playButtonReacts()) button.classList.add('is-pressed');
  });
  button.addEventListener('mouseup', () => button.classList.remove('is-pressed'));
  button.addEventListener('click', onPlayClick);
  $('#btn-pause').addEventListener('click', () => {
    if (state.canPause) callAndLog('pausePatch');
  });
  $('#btn-stop').addEventListener('click', () => {
    if (state.busy) callAndLog('cancelPatch');
  });
  $('#btn-retry').addEventListener('click', () => {
    if (!state.busy) callAndLog('retryChecks');
  });
}

// Stop is on show for the whole of a task, beside Pause, until the task is
// already stopping.
function stopOffered() {
  const lower = String(state.playLabel || '').toLowerCase();
  return state.busy && !lower.startsWith('cancell') && !lower.startsWith('paus');
}

// ---------------------------------------------------------------------------
// Footer

function updateFooterDetail() {
  const total = state.progressTotal;
  const percent = total > 0 ? Math.min(100, Math.max(0, Math.round((state.progressDone * 100) / total))) : 0;
  const active = state.busy || state.paused;
  const showProgress = active && state.progressVisible && total > 0;

  const text = state.taskStatus || (state.busy ? 'Working...' : '');
  $('#task-status-label').textContent = text;
  $('#task-status-count').textContent = showProgress ? percent + '%' : '';
  $('#footer-detail').classList.toggle('patch-busy', active);
  $('#footer-detail').classList.toggle('patch-paused', state.paused);
  $('#task-transfer').textContent = active ? state.transferText : '';
  $('#btn-pause').classList.toggle('hidden', !state.canPause);
  $('#btn-stop').classList.toggle('hidden', !stopOffered());
  showProblem(active ? null : state.problem);
  showInstalledVersion();

  $('#patch-progress').classList.toggle('visible', showProgress);
  $('#patch-progress-fill').style.width = percent + '%';
}

// The selected entry's problem in place of the status line, with Retry.
function showProblem(problem) {
  const shown = Boolean(problem && (problem.caption || problem.detail));
  $('#entry-problem').classList.toggle('hidden', !shown);
  $('#entry-problem').classList.toggle('task-problem', shown && problem.kind === 'task');
  $('#entry-problem-caption').textContent = shown ? String(problem.caption || '') : '';
  $('#entry-problem-detail').textContent = shown ? String(problem.detail || '') : '';
  $('#entry-problem').title = shown ? String(problem.detail || '') : '';
}

function showInstalledVersion() {
  const version = state.installedVersion;
  $('#installed-version').textContent = version;
  $('#installed-version').classList.toggle('hidden', !version);
  $('#installed-version-label').classList.toggle('hidden', !version);
}

// Only a version the host published has the colour of a version.
function showVersionState() {
  const element = $('#server-version');
  for (const name of ['known', 'loading', 'none', 'unavailable']) {
    element.classList.toggle('version-' + name, state.versionState === name);
  }
}

// Called after the busy flag went from set to clear: the task may have
// installed or updated the selected entry, so the tiles are reloaded.
async function afterTaskEnded() {
  const hasTiles = await loadServerList();
  if (hasTiles) {
    highlightSelected(state.selected);
    updateInfoFromTile(state.selected);
  }
}

// ---------------------------------------------------------------------------
// Menus (server menu, shortcuts menu)

let openMenu = null;  // the one popup menu on screen, or null

function closeMenu() {
  if (!openMenu) return;
  const menu = openMenu;
  openMenu = null;
  menu.remove();
  if (menu.onclose) menu.onclose();
}

function menuItem(text, className, onChoose) {
  const item = document.createElement('li');
  item.className = className;
  item.setAttribute('role', 'menuitem');
  item.tabIndex = -1;
  item.textContent = text;
  item.addEventListener('click', (event) => {
    event.stopPropagation();
    onChoose();
  });
  return item;
}

function newMenu(className) {
  const menu = document.createElement('menu');
  menu.className = className;
  menu.setAttribute('role', 'menu');
  return menu;
}

// Shows `menu` with its top-left corner at (x, y) in page pixels, kept inside
// the window.
function showMenuAt(menu, x, y) {
  closeMenu();
  menu.style.left = '0px';
  menu.style.top = '0px';
  document.body.appendChild(menu);
  const box = menu.getBoundingClientRect();
  const left = Math.max(0, Math.min(x, window.innerWidth - box.width - 2));
  const top = Math.max(0, Math.min(y, window.innerHeight - box.height - 2));
  menu.style.left = Math.round(left) + 'px';
  menu.style.top = Math.round(top) + 'px';
  openMenu = menu;
  const first = menu.querySelector(':scope > li');
  if (first) first.focus({preventScroll: true});
}

// Below `anchor`, left edges aligned.
function showMenuBelow(menu, anchor) {
  const box = anchor.getBoundingClientRect();
  showMenuAt(menu, box.left, box.bottom);
}

function onMenuKey(event) {
  if (!openMenu) return;
  if (event.key === 'Escape') {
    closeMenu();
    event.preventDefault();
    return;
  }
  const current = document.activeElement;
  if (!current || !openMenu.contains(current) || current.tagName !== 'LI') return;
  const siblings = Array.from(current.parentElement.children).filter((el) => el.tagName === 'LI');
  const at = siblings.indexOf(current);
  if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
    const step = event.key === 'ArrowDown' ? 1 : siblings.length - 1;
    siblings[(at + step) % siblings.length].focus();
    event.preventDefault();
  } else if (event.key === 'ArrowRight' && current.classList.contains('submenu')) {
    const inner = current.querySelector('li');
    if (inner) inner.focus();
    event.preventDefault();
  } else if (event.key === 'ArrowLeft' && current.parentElement !== openMenu) {
    current.parentElement.closest('li').focus();
    event.preventDefault();
  } else if (event.key === 'Enter' || event.key === ' ') {
    if (!current.classList.contains('submenu')) current.click();
    event.preventDefault();
  }
}

const SERVER_ACTIONS = {
  install: ['Install', 'install'],
  configure: ['Configure', 'configure'],
  openInstallFolder: ['Open Install Folder', 'open-folder'],
  duplicateInstallation: ['Duplicate', 'duplicate'],
  reinstall: ['Repair / Reinstall', 'reinstall'],
  resetIniDirectory: ['Reset INI Files', 'reset-ini'],
  deleteInstallation: ['Delete Installation', 'delete-install'],
};

function buildServerMenu(tile) {
  const menu = newMenu('context');
  const add = (parent, action) => {
    const [text, className] = SERVER_ACTIONS[action];
    const item = menuItem(text, className, () => chooseServerMenuItem(action));
    item.setAttribute('data-action', action);
    parent.appendChild(item);
  };
  if (tile.getAttribute('data-installed') !== '1') {
    add(menu, 'install');
  } else {
    add(menu, 'configure');
    add(menu, 'openInstallFolder');
    add(menu, 'duplicateInstallation');
    add(menu, 'reinstall');
    const advanced = menuItem('Advanced', 'submenu', () => {});
    advanced.setAttribute('aria-haspopup', 'menu');
    const inner = newMenu('context');
    add(inner, 'resetIniDirectory');
    advanced.appendChild(inner);
    menu.appendChild(advanced);
  }
  if (tile.getAttribute('data-custom') === '1') add(menu, 'deleteInstallation');
  menu.onclose = () => {
    if (!menu.chosen) contextServerIndex = -1;
  };
  return menu;
}

async function chooseServerMenuItem(action) {
  if (openMenu) openMenu.chosen = true;
  closeMenu();
  const index = contextServerIndex;
  if (index < 0 || state.busy) {
    contextServerIndex = -1;
    return;
  }
  await selectServer(index);
  try {
    await xcall(action);
  } catch (e) {
    logError(action + ' failed', e);
  }
  contextServerIndex = -1;
}

function onTileContextMenu(event) {
  const tile = event.target.closest('.server-tile');
  if (!tile) return;
  event.preventDefault();
  event.stopPropagation();
  if (state.busy) return;
  const index = tileIndex(tile);
  if (Number.isNaN(index)) return;
  contextServerIndex = index;
  showMenuAt(buildServerMenu(tile), event.clientX, event.clientY);
}

function onTileClick(event) {
  const tile = event.target.closest('.server-tile');
  if (!tile) return;
  event.stopPropagation();
  const index = tileIndex(tile);
  if (!Number.isNaN(index)) selectServer(index);
}

// Enter or Space selects the focused tile, the arrow keys move to the next
// or previous one, the menu key (or Shift+F10) opens its server menu.
function onTileKey(event) {
  const tile = event.target.closest ? event.target.closest('.server-tile') : null;
  if (!tile || event.altKey || event.ctrlKey || event.metaKey) return;
  const index = tileIndex(tile);
  if (Number.isNaN(index)) return;
  if (event.key === 'Enter' || event.key === ' ') {
    event.preventDefault();
    selectServer(index);
  } else if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
    const tiles = serverTiles();
    const next = tiles[tiles.indexOf(tile) + (event.key === 'ArrowDown' ? 1 : -1)];
    if (next) next.focus();
    event.preventDefault();
  } else if (event.key === 'ContextMenu' || (event.shiftKey && event.key === 'F10')) {
    event.preventDefault();
    if (state.busy) return;
    contextServerIndex = index;
    showMenuBelow(buildServerMenu(tile), tile);
  }
}

function onServerSettingsClick(event) {
  event.stopPropagation();
  if (state.busy) return;
  const tile = tileByIndex(state.selected);
  if (!tile || !tile.classList.contains('selected')) return;
  contextServerIndex = state.selected;
  showMenuBelow(buildServerMenu(tile), event.currentTarget);
}

// ---------------------------------------------------------------------------
// Shortcuts

let shortcuts = [];

async function setupShortcuts() {
  let json;
  try {
    json = await xcall('getShortcutsJson');
  } catch (e) {
    logError('getShortcutsJson failed', e);
    return;
  }
  let parsed = [];
  try {
    parsed = typeof json === 'string' ? JSON.parse(json) : json;
  } catch (e) {
    logError('parseShortcutsJson failed', e);
  }
  shortcuts = Array.isArray(parsed) ? parsed : [];
  if (shortcuts.length === 0) return;
  $('#shortcuts-bar').classList.remove('hidden');
  $('#btn-shortcuts').addEventListener('click', onShortcutsClick);
}

function onShortcutsClick(event) {
  event.stopPropagation();
  const button = event.currentTarget;
  const menu = newMenu('context shortcuts-menu');
  shortcuts.forEach((shortcut, position) => {
    const name = shortcut && shortcut.name ? String(shortcut.name) : 'Shortcut ' + position;
    const index = shortcut && Number.isInteger(shortcut.index) ? shortcut.index : position;
    menu.appendChild(menuItem(name, 'shortcut', () => {
      closeMenu();
      xcall('launchShortcut', index).catch((e) => logError('launchShortcut failed', e));
    }));
  });
  try {
    const width = Math.round(button.getBoundingClientRect().width) + 'px';
    menu.style.width = width;
    menu.style.minWidth = width;
  } catch (e) {
    logError('shortcuts menu width failed', e);
  }
  showMenuBelow(menu, button);
}

// ---------------------------------------------------------------------------
// Settings panel: the download limit (getDownloadSettings / setDownloadLimit)

const LIMIT_HINT = 'K, M or G: for example 5M. Empty: no limit. Applies from the next download on.';

function settingsMessage(text, kind) {
  const message = $('#download-limit-message');
  message.textContent = text;
  message.classList.toggle('error', kind === 'error');
  message.classList.toggle('saved', kind === 'saved');
}

function closeSettings() {
  $('#settings-panel').classList.add('hidden');
  $('#btn-settings').setAttribute('aria-expanded', 'false');
}

async function openSettings() {
  closeMenu();
  $('#settings-panel').classList.remove('hidden');
  $('#btn-settings').setAttribute('aria-expanded', 'true');
  settingsMessage(LIMIT_HINT, '');
  try {
    const json = await xcall('getDownloadSettings');
    const data = typeof json === 'string' ? JSON.parse(json) : json;
    $('#download-limit').value = data && typeof data.downloadLimit === 'string' ? data.downloadLimit : '';
  } catch (e) {
    logError('getDownloadSettings failed', e);
  }
  $('#download-limit').focus();
}

async function saveDownloadLimit() {
  const input = $('#download-limit');
  try {
    const json = await xcall('setDownloadLimit', input.value);
    const data = typeof json === 'string' ? JSON.parse(json) : json;
    if (!data || !data.ok) {
      settingsMessage(data && data.error ? String(data.error) : 'The limit was not saved.', 'error');
      return;
    }
    input.value = typeof data.downloadLimit === 'string' ? data.downloadLimit : '';
    settingsMessage(input.value ? 'Saved: at most ' + input.value + ' per second.' : 'Saved: no limit.', 'saved');
  } catch (e) {
    logError('setDownloadLimit failed', e);
  }
}

function wireSettings() {
  $('#btn-settings').addEventListener('click', (event) => {
    event.stopPropagation();
    if ($('#settings-panel').classList.contains('hidden')) openSettings();
    else closeSettings();
  });
  $('#settings-panel').addEventListener('click', (event) => event.stopPropagation());
  $('#download-limit-save').addEventListener('click', saveDownloadLimit);
  $('#settings-close').addEventListener('click', closeSettings);
  $('#download-limit').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') saveDownloadLimit();
    else if (event.key === 'Escape') closeSettings();
  });
}

// ---------------------------------------------------------------------------
// Add server (addServer): native code checks the address against its host and
// saves the entry, or answers with the sentence saying why not. A server file
// goes alone with the folder ({file, folder}); native code reads it.

const ADD_SERVER_FIELDS = ['name', 'address', 'key', 'folder'];
const ADD_SERVER_INPUTS = [...ADD_SERVER_FIELDS, 'file'];
let addingServer = false;

function addServerMessage(text, kind) {
  const message = $('#add-server-message');
  message.textContent = text;
  message.classList.toggle('error', kind === 'error');
}

function openAddServer() {
  closeMenu();
  closeSettings();
  for (const field of ADD_SERVER_INPUTS) $('#add-server-' + field).value = '';
  addServerMessage('', '');
  $('#add-server-panel').classList.remove('hidden');
  $('#add-server-name').focus();
}

function closeAddServer() {
  if (addingServer) return;  // the check answers first
  $('#add-server-panel').classList.add('hidden');
}

// What goes to native code, or null (with the reason shown) when the
// dialog is not filled in enough to ask.
function addServerRequest() {
  const value = (field) => $('#add-server-' + field).value.trim();
  const request = {};
  for (const field of ADD_SERVER_FIELDS) request[field] = value(field);
  const file = value('file');
  if (file) {
    if (request.name || request.address || request.key) {
      addServerMessage('Give either a server file or a name and a patch address, not both.', 'error');
      return null;
    }
    return { file, folder: request.folder };
  }
  if (!request.name || !request.address) {
    addServerMessage('A name and a patch address are needed.', 'error');
    return null;
  }
  return request;
}

async function submitAddServer() {
  if (addingServer) return;
  const request = addServerRequest();
  if (!request) return;
  addingServer = true;
  $('#add-server-save').disabled = true;
  addServerMessage('Checking ' + (request.file || request.address) + '…', '');
  let result = null;
  try {
    const answer = await xcall('addServer', request);
    result = typeof answer === 'string' ? JSON.parse(answer) : answer;
  } catch (e) {
    logError('addServer failed', e);
  }
  addingServer = false;
  $('#add-server-save').disabled = false;
  if (result && result.added) {
    closeAddServer();
    return;
  }
  addServerMessage(result && result.sentence ? String(result.sentence) : 'The server could not be added.', 'error');
}

function wireAddServer() {
  for (const button of document.querySelectorAll('.add-server-open')) {
    button.addEventListener('click', (event) => {
      event.stopPropagation();
      openAddServer();
    });
  }
  $('#add-server-panel').addEventListener('click', (event) => event.stopPropagation());
  $('#add-server-save').addEventListener('click', submitAddServer);
  $('#add-server-cancel').addEventListener('click', closeAddServer);
  $('#add-server-panel').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') submitAddServer();
    else if (event.key === 'Escape') closeAddServer();
  });
}

// ---------------------------------------------------------------------------
// Globals called by native code

function setSelectedServerHeader(label) {
  const title = document.getElementById('server-title');
  if (title) title.textContent = label ? String(label) : NO_VALUE;
}

// `shown` (optional): what the text is, as the footer's versionState says.
function setSelectedServerVersion(version, shown) {
  $('#server-version').textContent = version ? String(version) : NO_VALUE;
  if (typeof shown === 'string') state.versionState = shown;
  else if (!version) state.versionState = 'none';
  showVersionState();
}

function setSelectedLanguage(code) {
  const next = code ? String(code) : 'en';
  const select = $('#language-select');
  languageSyncing = true;
  try {
    select.value = next;
    for (const option of select.options) {
      if (option.value === next) option.setAttribute('selected', '');
      else option.removeAttribute('selected');
    }
  } finally {
    languageSyncing = false;
  }
}

function setPlayButtonCaption(label) {
  const text = label == null ? '' : String(label);
  if (isBusyLabel(text)) state.playLabel = text;
  else state.playLabel = text === RESUME_LABEL || state.paused ? RESUME_LABEL : labelFromSelectedTile();
  updatePlayButtonAppearance();
}

function updateLauncherFooter(json) {
  let data;
  try {
    if (json === undefined || json === null || json === '') return;
    data = typeof json === 'string' ? JSON.parse(json) : json;
    if (!data || typeof data !== 'object' || Array.isArray(data)) throw new Error('footer state is not an object');
  } catch (e) {
    logError('parseFooterJson failed', e);
    return;
  }
  footerGeneration++;

  const wasBusy = prevFooterBusy;
  state.busy = Boolean(data.busy);
  prevFooterBusy = state.busy;
  if (wasBusy && !state.busy) afterTaskEnded();

  state.canPlay = Boolean(data.canPlay);
  state.canPause = Boolean(data.canPause);
  state.paused = Boolean(data.paused);
  state.transferText = data.transferText ? String(data.transferText) : '';
  state.problem = data.problem && typeof data.problem === 'object' ? data.problem : null;
  state.installedVersion = data.installedVersion ? String(data.installedVersion) : '';
  state.sizeText = data.sizeText ? String(data.sizeText) : '';
  if (typeof data.versionState === 'string') state.versionState = data.versionState;
  if (state.busy && isBusyLabel(data.playLabel)) state.playLabel = String(data.playLabel);
  else if (!state.busy) state.playLabel = state.paused ? RESUME_LABEL : labelFromSelectedTile();

  state.taskStatus = data.taskStatus ? String(data.taskStatus) : '';
  state.progressVisible = Boolean(data.progressVisible);
  state.progressDone = toCount(data.progressDone);
  state.progressTotal = toCount(data.progressTotal);

  updatePlayButtonAppearance();
  updateFooterDetail();
  showVersionState();
}

async function reloadServerList() {
  const hasTiles = await loadServerList();
  if (hasTiles) {
    highlightSelected(state.selected);
    updateInfoFromTile(state.selected);
    await refreshPlayButton();
  }
}

window.xcall = xcall;
window.reloadServerList = reloadServerList;
window.updateLauncherFooter = updateLauncherFooter;
window.setSelectedServerHeader = setSelectedServerHeader;
window.setSelectedServerVersion = setSelectedServerVersion;
window.setSelectedLanguage = setSelectedLanguage;
window.setPlayButtonCaption = setPlayButtonCaption;

// ---------------------------------------------------------------------------
// Wiring and start

function callAndLog(name, ...args) {
  xcall(name, ...args).catch((e) => logError(name + ' failed', e));
}

function wireHandlers() {
  const list = $('#server-list');
  list.addEventListener('click', onTileClick);
  list.addEventListener('keydown', onTileKey);
  list.addEventListener('contextmenu', onTileContextMenu);
  list.addEventListener('scroll', updateCardBorderMask);

  $('#server-settings').addEventListener('click', onServerSettingsClick);
  wirePlayButton();
  wireSettings();
  wireAddServer();

  $('#language-select').addEventListener('change', (event) => {
    if (languageSyncing) return;
    const code = event.currentTarget.value || 'en';
    xcall('setLanguage', code).catch((e) => logError('setLanguage failed', e));
  });

  // The title bar: dragging the caption moves the window.
  for (const caption of document.querySelectorAll('#titlebar [role="window-caption"]')) {
    caption.addEventListener('mousedown', (event) => {
      if (event.button === 0) callAndLog('windowDrag');
    });
  }
  $('#btn-min').addEventListener('click', () => callAndLog('windowMinimize'));
  $('#btn-close').addEventListener('click', () => callAndLog('windowClose'));

  // Links open in the system browser through native code; the page itself
  // never navigates.
  document.addEventListener('click', (event) => {
    const anchor = event.target.closest ? event.target.closest('a') : null;
    if (anchor) {
      event.preventDefault();
      event.stopPropagation();
      let url = '';
      if (anchor.matches('a.rss-title')) url = anchor.getAttribute('data-rss-link') || anchor.getAttribute('href');
      else if (anchor.matches('a.footer-link')) url = anchor.getAttribute('href');
      if (url) xcall('openUrl', url).catch((e) => logError('openUrl failed', e));
      return;
    }
    if (openMenu && !openMenu.contains(event.target)) closeMenu();
  });
  document.addEventListener('mousedown', (event) => {
    if (openMenu && !openMenu.contains(event.target)) closeMenu();
  }, true);
  document.addEventListener('contextmenu', (event) => event.preventDefault());
  document.addEventListener('keydown', onMenuKey);
  window.addEventListener('blur', closeMenu);
  window.addEventListener('resize', updateCardBorderMask);
}

async function initApp() {
  try {
    wireHandlers();
    setupShortcuts();
    const site = siteAddress();
    loadRssFeed(site + '/rss/launcher', $('#rss-announcements'), FEED_MAXIMUM);
    loadRssFeed(site + '/rss/patches', $('#rss-news'), FEED_MAXIMUM);
    const fromStartup = Boolean(window.launcherStartup);
    const hasTiles = await loadServerList();
    if (hasTiles) {
      await selectServer(0);
      // Statuses that native code reported before the page could take them.
      if (fromStartup) await reloadServerList();
    } else if (hasTiles === false) {
      await refreshHeaderFromNative();
      await refreshFooterFromNative();
    }
  } catch (e) {
    logError('initApp failed', e);
  }
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', initApp);
else initApp();
