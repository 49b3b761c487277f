// Drives the single page in headless Chromium. By default it runs against the mock manager in
// this folder; with VORN_TEST_BASE_URL set it runs against that server instead, and the cases
// that depend on the mock's canned data are skipped.
//
//   node --test tests/browser/
import { describe, test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { startMock } from './mock_server.mjs';
import { launchBrowser, shotsDir, texts, waitModel } from './browser.mjs';

const REAL = process.env.VORN_TEST_BASE_URL;
const mockOnly = { skip: REAL ? 'depends on the mock server\'s data' : false };
const shots = shotsDir();

let mock = null, base = '', ctx = null, browser = null;

before(async () => {
  if (REAL) base = REAL.endsWith('/') ? REAL : REAL + '/';
  else { mock = await startMock(); base = mock.base; }
  browser = await launchBrowser();
  ctx = browser.ctx;
});
// A failed case leaves its page open; close it so a spinning 3D view does not slow the next ones.
afterEach(async () => { for (const p of ctx.pages()) await p.close().catch(() => {}); });
after(async () => {
  await browser?.close();
  await mock?.close();
});

// Opens the page and waits until the list is drawn and the splash is gone.
async function openPage(opts = {}) {
  mock?.reset();
  if (mock && opts.componentsDelay != null) mock.state.componentsDelay = opts.componentsDelay;
  else if (mock) mock.state.componentsDelay = 50;
  const page = await ctx.newPage();
  page.errors = [];
  page.on('pageerror', e => page.errors.push(e.message));
  if (opts.init) await page.addInitScript(opts.init);
  await page.goto(base);
  await page.locator('#splash').waitFor({ state: 'hidden', timeout: 15000 });
  return page;
}
const requests = prefix => mock.state.requests.filter(r => r.url.startsWith(prefix));
async function openBoard(page, slug, { model = false } = {}) {
  await page.locator(`#list .row[data-slug="${slug}"]`).click();
  await page.locator('#list .group, #list .msg').first().waitFor();
  // Software WebGL stalls the page for seconds while the first model's lighting is prepared;
  // tests that interact afterwards wait for the model first.
  if (model) await waitModel(page);
}

describe('start-up', () => {
  test('the loader is a looping 256x144 GIF89a that decodes to accent-coloured frames', async () => {
    const resp = await fetch(base + 'loader.gif');
    assert.equal(resp.status, 200);
    assert.equal(resp.headers.get('content-type'), 'image/gif');
    assert.equal(resp.headers.get('cache-control'), 'public, max-age=86400');
    const gif = Buffer.from(await resp.arrayBuffer());
    assert.equal(gif.subarray(0, 6).toString('latin1'), 'GIF89a');
    assert.equal(gif.readUInt16LE(6), 256);
    assert.equal(gif.readUInt16LE(8), 144);
    const ext = gif.indexOf('NETSCAPE2.0', 0, 'latin1');
    assert.ok(ext > 0, 'has the NETSCAPE2.0 extension');
    assert.equal(gif[ext + 11], 3);
    assert.equal(gif.readUInt16LE(ext + 13), 0, 'loop count 0 = forever');
    assert.equal(gif[gif.length - 1], 0x3b, 'ends with the trailer');

    // Chromium must decode it: the drawn frame holds blue accent pixels around a transparent corner.
    const page = await ctx.newPage();
    await page.goto(base + 'loader.gif');
    const px = await page.evaluate(async () => {
      const img = document.querySelector('img');
      await img.decode();
      const c = document.createElement('canvas');
      c.width = img.naturalWidth; c.height = img.naturalHeight;
      const g = c.getContext('2d');
      g.drawImage(img, 0, 0);
      const d = g.getImageData(0, 0, c.width, c.height).data;
      let blue = 0;
      for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 200 && d[i + 2] > 200 && d[i + 2] > d[i] + 60) blue++;
      return { w: c.width, h: c.height, corner: d[3], blue };
    });
    await page.close();
    assert.deepEqual([px.w, px.h], [256, 144]);
    assert.equal(px.corner, 0, 'background is transparent');
    assert.ok(px.blue > 50, 'draws accent-coloured pixels, got ' + px.blue);
  });

  test('the splash counts up to at most 90 while loading, shows 100% and fades', async () => {
    const page = await openPage({
      componentsDelay: 900,
      init: () => {
        window.__pcts = [];
        new MutationObserver(() => {
          const el = document.getElementById('splashPct');
          if (el) window.__pcts.push(el.textContent);
        }).observe(document, { subtree: true, childList: true, characterData: true });
      },
    });
    const seen = await page.evaluate(() => window.__pcts);
    const nums = seen.map(t => { const m = /^Fetching Projects: (\d+)%$/.exec(t); assert.ok(m, 'text: ' + t); return +m[1]; })
      .filter((n, i, a) => i === 0 || n !== a[i - 1]);
    assert.equal(nums[nums.length - 1], 100);
    const before100 = nums.slice(0, -1);
    if (!REAL) assert.ok(before100.length >= 5, 'grew in steps: ' + nums.join(','));
    assert.ok(before100.every(n => n <= 90), 'capped at 90 before the list arrives');
    for (let i = 1; i < nums.length; i++) assert.ok(nums[i] >= nums[i - 1], 'never goes down');
    assert.equal(await page.locator('#splash').isVisible(), false);
    await page.close();
  });

  test('every request the page makes stays on the manager', async () => {
    const page = await ctx.newPage();
    const foreign = [];
    page.on('request', r => { const u = r.url(); if (!u.startsWith(base) && !u.startsWith('blob:') && !u.startsWith('data:')) foreign.push(u); });
    mock?.reset();
    await page.goto(base);
    await page.locator('#splash').waitFor({ state: 'hidden', timeout: 15000 });
    assert.ok(await page.evaluate(() => customElements.whenDefined('model-viewer').then(() => true)), 'model-viewer is defined');
    assert.deepEqual(foreign, []);
    await page.close();
  });

  test('a failed list load offers a retry', mockOnly, async () => {
    mock.reset();
    const page = await ctx.newPage();
    mock.state.fail.add('/api/components');
    await page.goto(base);
    await page.locator('#list .msg.err').waitFor();
    assert.equal(await page.locator('#list .msg.err').textContent(), 'failed to load — retry');
    mock.state.fail.clear();
    await page.locator('#list .msg.err a').click();
    await page.locator('#list .row').first().waitFor();
    await page.close();
  });
});

describe('top-level lists', mockOnly, () => {
  test('tabs count personal and organisation records and group them', async () => {
    const page = await openPage();
    assert.deepEqual(await texts(page.locator('#tabs button')), ['Personal · 5', 'Organization · 3', 'Public', 'Components · 7']);
    // Starred first, then by title.
    assert.deepEqual(await texts(page.locator('#list .row .row-title')),
      ['★Motor Driver Board', 'Broken Board', 'Legacy Board', 'Sensor Node', 'Weather Station']);
    assert.equal(await page.locator('.row[data-slug="motor-driver-board"] .star').getAttribute('title'), 'starred on the wiki');
    // An "open" record is shown as public; its EDA kinds come from one board-eda request.
    const ws = page.locator('.row[data-slug="weather-station"] .tags');
    await ws.locator('text=KiCad').waitFor();
    assert.deepEqual(await texts(ws.locator('.tag')), ['project', 'KiCad', 'public']);
    assert.equal(requests('/api/board-eda/').length, 1);
    assert.equal(await page.locator('.row[data-slug="weather-station"] .row-sub').textContent(), 'weather-station · ada');
    await page.screenshot({ path: path.join(shots, 'list-personal.png') });

    await page.locator('#tabs button[data-tab="org"]').click();
    assert.deepEqual(await texts(page.locator('#list .group')),
      ['acme · 2', 'Your Projects · 1', 'Other Projects · 1', 'zeta · 1', 'Other Projects · 1']);
    await page.close();
  });

  test('filter text and chips: OR within a facet, AND across facets', async () => {
    const page = await openPage();
    const rows = () => page.locator('#list .row').evaluateAll(els => els.map(e => e.dataset.slug));
    await page.fill('#q', 'NODE'.toLowerCase());
    assert.deepEqual(await rows(), ['sensor-node']);
    await page.fill('#q', '');
    await page.locator('.chip[data-chip="project"]').click();
    assert.deepEqual(await rows(), ['weather-station']);
    await page.locator('.chip[data-chip="molecule"]').click();
    assert.deepEqual(await rows(), ['sensor-node', 'weather-station']);
    await page.locator('.chip[data-chip="fusion"]').click();
    assert.deepEqual(await rows(), ['sensor-node']);
    await page.locator('.chip[data-chip="fusion"]').click();
    await page.locator('.chip[data-chip="project"]').click();
    await page.locator('.chip[data-chip="molecule"]').click();
    await page.locator('.chip[data-chip="altium"]').click();
    assert.deepEqual(await rows(), ['legacy-board']);
    await page.close();
  });

  test('a record whose EDA kinds are still unknown fails an EDA filter', async () => {
    mock.reset();
    mock.state.delays['/api/board-eda/'] = 4000;
    const page = await ctx.newPage();
    await page.goto(base);
    await page.locator('#list .row').first().waitFor();
    await page.locator('.chip[data-chip="kicad"]').click();
    const slugs = await page.locator('#list .row').evaluateAll(els => els.map(e => e.dataset.slug));
    assert.ok(!slugs.includes('weather-station'));
    assert.ok(slugs.includes('sensor-node'));
    await page.close();
  });

  test('public tab: trending, popular organisations, drill-down and search', async () => {
    const page = await openPage();
    await page.locator('#tabs button[data-tab="public"]').click();
    assert.deepEqual((await texts(page.locator('#list .group'))).slice(0, 2), ['Trending', 'Popular Organizations']);
    const trending = page.locator('#list .row:not(.orgrow)');
    assert.deepEqual(await trending.evaluateAll(els => els.map(e => e.dataset.slug)),
      ['open-synth', 'rover', 'acme-power-hub', 'tiny-clock', 'sensor-node']);
    assert.equal(await trending.first().locator('.score').textContent(), '▲ 150');
    const orgRows = page.locator('#list .orgrow');
    assert.deepEqual(await orgRows.evaluateAll(els => els.map(e => e.dataset.org)), ['noise', 'acme', 'robotix', 'parts-co']);
    assert.equal(await orgRows.first().locator('.meta').textContent(), '· 2 projects · ▲ 210');
    assert.equal(await orgRows.nth(3).locator('.meta').textContent(), '· 1 project · ▲ 7');
    // The avatar that exists is shown; a missing one falls back to the building icon.
    await orgRows.nth(1).locator('.orgicon').waitFor();
    assert.equal(await orgRows.first().locator('img').evaluate(i => i.complete && i.naturalWidth), 28);
    await page.screenshot({ path: path.join(shots, 'list-public.png') });

    await orgRows.nth(2).click();
    assert.equal(await page.locator('#list .group').first().textContent(), '← robotix · public projects');
    assert.deepEqual(await page.locator('#list .row').evaluateAll(els => els.map(e => e.dataset.slug)), ['plotter', 'rover']);
    await page.locator('#list .group').first().click();
    await page.fill('#q', 'chassis');
    assert.deepEqual(await page.locator('#list .row').evaluateAll(els => els.map(e => e.dataset.slug)), ['rover']);
    await page.fill('#q', 'zzz');
    assert.equal(await page.locator('#list .msg').textContent(), 'no public projects match “zzz”');
    await page.close();
  });

  test('empty lists explain themselves', async () => {
    mock.reset();
    mock.state.overrides['/api/components'] = { status: 'ok', components: [], me: 'nobody', orgs: [] };
    const page = await ctx.newPage();
    await page.goto(base);
    const msg = page.locator('#list .msg');
    await msg.waitFor();
    assert.equal(await msg.innerHTML(), 'no personal projects yet — push a board tagged <b>board</b>/<b>molecule</b> (without --org), then press ↻');
    await page.locator('#tabs button[data-tab="org"]').click();
    assert.equal(await msg.textContent(), 'no projects in your organization(s) yet');
    await page.locator('#tabs button[data-tab="public"]').click();
    assert.equal(await page.locator('#list .msg').textContent(), 'no public projects yet');
    await page.close();
  });

  test('refresh reloads the list without the splash', async () => {
    const page = await openPage();
    await page.locator('#refresh').click();
    await page.waitForFunction(() => !document.getElementById('refresh').classList.contains('spin'));
    assert.equal(requests('/api/components?refresh=1').length, 1);
    assert.equal(await page.locator('#splash').isVisible(), false);
    await page.close();
  });
});

describe('board view', mockOnly, () => {
  test('dependencies by type, activity chips, live render, 3D and versions', async () => {
    const page = await openPage();
    await openBoard(page, 'motor-driver-board');
    assert.deepEqual(await texts(page.locator('#crumbs > *')), ['← Boards', '/', 'Motor Driver Board']);
    assert.equal(await page.locator('.by').textContent(), 'by ada');
    await page.locator('#list .group').first().waitFor();
    assert.deepEqual(await texts(page.locator('#list .group')), ['Microcontrollers · 1', 'Power ICs · 1', 'MOSFETs · 1', 'LEDs · 1',
      'Resistors · 1', 'Capacitors · 1', 'Connectors · 1', 'Other · 1']);
    assert.equal(await page.locator('.row.dep[data-slug="ghost-part"] .row-title').textContent(), 'ghost-part · not on wiki');
    assert.equal(await page.locator('#addLibBtn').textContent(), 'Add to Library');
    assert.ok(await page.locator('#addLibBtn').isDisabled());

    // The enriched activity replaces the plain log.
    await page.locator('#activity .cchip').first().waitFor();
    assert.deepEqual(await texts(page.locator('#activity .commit').first().locator('.cchip')),
      ['+2 components', '−1 component', 'PCB changed', 'schematic changed']);
    assert.deepEqual(await texts(page.locator('#activity .meta')), ['ada · 3h ago · c0ffee1', 'ada · 1mo ago · abcdef0']);

    // First media answer is a running render: loaders, no viewers yet.
    assert.equal(await page.locator('#box3d .loading').count(), 1);
    assert.equal(await page.locator('#box3d model-viewer').count(), 0);
    const mv = page.locator('#box3d model-viewer');
    await mv.waitFor({ timeout: 15000 });
    assert.equal(mock.state.mediaCalls['motor-driver-board'], 2);
    assert.equal(await mv.getAttribute('src'), 'board-glb/motor-driver-board');
    assert.equal(await mv.getAttribute('orientation'), '0deg -90deg 0deg');
    for (const a of ['camera-controls', 'auto-rotate']) assert.notEqual(await mv.getAttribute(a), null);
    assert.equal(await mv.getAttribute('shadow-intensity'), '1');
    assert.equal(await page.locator('#boxSch iframe').getAttribute('src'), 'board-view/motor-driver-board/sch');
    assert.equal(await page.locator('#boxPcb iframe').getAttribute('src'), 'board-view/motor-driver-board/pcb');
    assert.equal(await page.locator('#assetsBar .bar').count(), 0);
    // The model really loads in the viewer.
    await waitModel(page);
    await page.waitForTimeout(600);
    await page.screenshot({ path: path.join(shots, 'board.png') });

    // Versions: the pill is a drop-down; a past version goes into every asset URL.
    const pill = page.locator('#verPill select');
    assert.deepEqual(await texts(pill.locator('option')), ['v1', 'v2', 'v3 · current']);
    assert.equal(await pill.inputValue(), '3');
    await pill.selectOption('1');
    await page.locator('#box3d model-viewer[src*="?v="]').waitFor();
    assert.equal(await page.locator('#box3d model-viewer').getAttribute('src'), 'board-glb/motor-driver-board?v=1&h=aaa111');
    assert.equal(await page.locator('#boxSch iframe').getAttribute('src'), 'board-view/motor-driver-board/sch?v=1&h=aaa111');
    assert.equal(await page.locator('#boxPcb iframe').getAttribute('src'), 'board-view/motor-driver-board/pcb?v=1&h=aaa111');
    assert.equal(requests('/api/board-upaxis/motor-driver-board?v=1').length, 1);
    assert.equal(await page.locator('#verBanner .bar').textContent(), 'Viewing v1 — not the current version.Back to v3');
    assert.equal(await page.locator('#verBanner b').textContent(), 'v1');
    await page.screenshot({ path: path.join(shots, 'board-past-version.png') });
    // Selecting the current version clears the query everywhere.
    await pill.selectOption('3');
    await page.locator('#box3d model-viewer').waitFor();
    assert.equal(await page.locator('#box3d model-viewer').getAttribute('src'), 'board-glb/motor-driver-board');
    assert.equal(await page.locator('#boxPcb iframe').getAttribute('src'), 'board-view/motor-driver-board/pcb');
    assert.equal(await page.locator('#verBanner .bar').count(), 0);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('missing-assets bar only for KiCad pages without their files; no up axis means no rotation', async () => {
    const page = await openPage();
    await openBoard(page, 'broken-board');
    const bar = page.locator('#assetsBar .bar');
    await bar.waitFor();
    const text = await bar.textContent();
    assert.ok(text.startsWith('⚠ This board is missing the assets it needs to render (its KiCad board/schematic or 3D model aren\'t on the page), so its 3D, PCB and schematic won\'t load. '), text);
    assert.match(text, /re-upload the board/i);
    assert.equal(await page.locator('#box3d .na').textContent(), 'board 3D file not available');
    assert.equal(await page.locator('#boxSch .na').textContent(), 'schematic view not available');
    assert.equal(await page.locator('#boxPcb .na').textContent(), 'PCB view not available');
    await page.screenshot({ path: path.join(shots, 'board-missing-assets.png') });

    await page.locator('#crumbs a').first().click();
    await openBoard(page, 'legacy-board');
    await page.locator('#box3d .na').waitFor();
    assert.equal(await page.locator('#assetsBar .bar').count(), 0);
    assert.equal(await page.locator('#list .msg').textContent(), 'this board lists no component dependencies');
    assert.equal(await page.locator('#verPill').textContent(), '');

    await page.locator('#crumbs a').first().click();
    await openBoard(page, 'sensor-node');
    const mv = page.locator('#box3d model-viewer');
    await mv.waitFor();
    assert.equal(await mv.getAttribute('orientation'), null);
    assert.equal(await page.locator('.by').textContent(), 'by ada · acme');
    await page.close();
  });

  test('an answer for a board the user has left is not painted', async () => {
    const page = await openPage();
    mock.state.delays['/api/board/motor-driver-board'] = 1200;
    mock.state.delays['/api/board-media/motor-driver-board'] = 1200;
    await page.locator('#list .row[data-slug="motor-driver-board"]').click();
    await page.locator('#crumbs a').first().click();
    await page.locator('#list .row[data-slug="broken-board"]').click();
    await page.locator('#list .group').first().waitFor();
    await page.waitForTimeout(1800);
    assert.deepEqual(await texts(page.locator('#list .group')), ['Resistors · 1']);
    assert.equal(await page.locator('.ov-title .t').textContent(), 'Broken Board');
    assert.equal(await page.locator('#box3d model-viewer').count(), 0);
    assert.equal(await page.locator('#activity').textContent(), 'no commits');
    await page.close();
  });

  test('component view: frames, 3D, layer table and wiki link', async () => {
    const page = await openPage();
    await openBoard(page, 'motor-driver-board', { model: true });
    await page.locator('.row.dep[data-slug="stm32f103c8t6"]').click();
    const cv = page.locator('#compview');
    await cv.locator('h2').waitFor();
    assert.equal(await cv.locator('h2').textContent(), 'STM32F103C8T6 · 48 pins · 49 pads');
    const link = cv.locator('a', { hasText: 'Open on wiki ↗' });
    assert.match(await link.getAttribute('href'), /\/parts-co\/stm32f103c8t6$/);
    assert.equal(await link.getAttribute('target'), '_blank');
    assert.deepEqual(await texts(cv.locator('.box-h')), ['Schematic Symbol', 'Footprint', '3D Model']);
    assert.deepEqual(await cv.locator('iframe').evaluateAll(f => f.map(e => e.getAttribute('src'))),
      ['part-embed/stm32f103c8t6/symbol', 'part-embed/stm32f103c8t6/footprint']);
    assert.equal(await cv.locator('model-viewer').getAttribute('src'), 'glb/stm32f103c8t6');
    assert.equal(await cv.locator('h3').textContent(), 'Footprint layer stackup — what each element becomes per EDA tool');
    assert.deepEqual(await texts(cv.locator('th')), ['Element (neutral role)', 'KiCad layer', 'Altium layer']);
    assert.deepEqual(await texts(cv.locator('tbody tr td:first-child')),
      ['Copper×49', 'Courtyard×1', 'Fabrication / Assembly×5', 'Silkscreen×12']);
    assert.deepEqual(await texts(cv.locator('tbody tr td:nth-child(3)')).then(t => t[0]), 'Top Layer');
    await page.waitForTimeout(800);
    await page.screenshot({ path: path.join(shots, 'component.png') });

    await page.locator('.row.dep[data-slug="led-0603-green"]').click();
    await cv.locator('h2', { hasText: 'LED-0603-GREEN' }).waitFor();
    assert.equal(await cv.locator('.box-b .na').textContent(), 'no 3D model');
    // A KiCad symbol with units: a selector, "unit n of m", pin tooltips with electrical types.
    assert.equal(await cv.locator('h2').textContent(), 'LED-0603-GREEN · 3 pins · 2 pads · unit 1 of 2');
    assert.deepEqual(await texts(cv.locator('.unit-pick button')), ['1', '2']);
    assert.equal(await cv.locator('iframe').count(), 1);
    assert.deepEqual(await texts(cv.locator('g.pingroup title')), ['Pin 1 A · input', 'Pin 2 K · passive']);
    await cv.locator('.unit-pick button', { hasText: '2' }).click();
    assert.equal(await cv.locator('h2').textContent(), 'LED-0603-GREEN · 3 pins · 2 pads · unit 2 of 2');
    assert.deepEqual(await texts(cv.locator('g.pingroup title')), ['Pin 3 · power_in']);
    assert.equal(await cv.locator('.unit-pick button.on').textContent(), '2');
    await page.locator('.row.dep[data-slug="ghost-part"]').click();
    await cv.locator('.bar.warn').waitFor();
    assert.equal(await cv.locator('.bar.warn').textContent(), 'ghost-part: no part document on the page');
    await page.close();
  });
});

describe('project view', mockOnly, () => {
  test('project overview, its boards, and back from a board', async () => {
    const page = await openPage();
    await page.locator('#list .row[data-slug="weather-station"]').click();
    assert.deepEqual(await texts(page.locator('.ov-title > *')), ['Weather Station', 'project']);
    assert.equal(await page.locator('.desc').textContent(), 'Solar powered weather station with LoRa uplink.');
    await page.locator('#list .group').waitFor();
    assert.equal(await page.locator('#list .group').textContent(), 'Boards · 3');
    assert.equal(await page.locator('#list .row[data-slug="missing-board"]').textContent(), 'missing-board · not on wiki');
    // The model is streamed, then shown from memory.
    const mv = page.locator('#box3d model-viewer');
    await mv.waitFor();
    assert.match(await mv.getAttribute('src'), /^blob:/);
    assert.equal(await page.locator('#activity .meta').textContent(), 'ada · 2d ago · 1234567');
    await waitModel(page);
    await page.screenshot({ path: path.join(shots, 'project.png') });

    await page.locator('#list .row[data-slug="sensor-node"]').click();
    assert.deepEqual(await texts(page.locator('#crumbs > *')), ['←', 'Projects', '/', 'Weather Station', '/', 'Sensor Node']);
    await page.locator('#crumbs .back').click();
    assert.equal(await page.locator('.ov-title .t').textContent(), 'Weather Station');
    await page.locator('#tabs button[data-tab="mine"]').click();
    assert.equal(await page.locator('#list .row').count(), 5);
    await page.close();
  });
});

describe('dialogs', mockOnly, () => {
  test('Add to Library: in-library marks, pre-selected libraries, apply and progress', async () => {
    const page = await openPage();
    await openBoard(page, 'motor-driver-board', { model: true });
    for (const s of ['stm32f103c8t6', 'cl21a476mqynnne', 'rc0603-10k']) await page.locator(`.row.dep[data-slug="${s}"] input`).check();
    assert.equal(await page.locator('#toolbar a').textContent(), '3 selected · clear');
    assert.equal(await page.locator('#addLibBtn').textContent(), 'Add 3 to Library');

    mock.state.delays['/api/in-library'] = 14000;
    const opened = Date.now();
    await page.locator('#addLibBtn').click();
    const status = page.locator('#dlgStatus');
    assert.equal(await status.textContent(), 'Searching your libraries…');
    await status.locator('.hint').waitFor({ timeout: 13500 });
    assert.ok(Date.now() - opened >= 9900, 'the shell hint waits 10 s');
    assert.equal(await status.textContent(), 'Searching your libraries… Ensure Vorn Desktop has shell permissions.');
    await status.locator('text=✓ Done').waitFor();
    assert.equal(await status.textContent(), '✓ Done — 2 already in your libraries');
    assert.equal(requests('/api/in-library?slugs=stm32f103c8t6,cl21a476mqynnne,rc0603-10k').length, 1);

    assert.deepEqual(await texts(page.locator('table.plan th')), ['Component', 'Type', 'Symbol → library', 'Footprint → library']);
    const row = s => page.locator(`table.plan tr[data-slug="${s}"]`);
    assert.equal(await row('cl21a476mqynnne').locator('.mark').textContent(), '✓ Passives_Cap');
    const libs = async s => [await row(s).locator('select').nth(0).inputValue(), await row(s).locator('select').nth(1).inputValue()];
    assert.deepEqual(await libs('stm32f103c8t6'), ['MyMCU', 'MyFootprints']);
    assert.deepEqual(await libs('cl21a476mqynnne'), ['Passives_Cap', 'Caps_SMD']);
    assert.deepEqual(await libs('rc0603-10k'), ['Passives_Res', 'MyFootprints']);
    await page.screenshot({ path: path.join(shots, 'dialog-library.png') });

    await page.locator('.seg button', { hasText: 'Altium (soon)' }).click();
    assert.ok(await page.locator('#applyBtn').isDisabled());
    assert.match(await page.locator('.note').textContent(), /Altium add-to-library isn.t wired up yet/);
    await page.locator('.seg button', { hasText: 'KiCad' }).click();
    await row('stm32f103c8t6').locator('select').nth(0).selectOption('Misc');

    await page.locator('#applyBtn').click();
    await page.locator('#applyBtn', { hasText: '✓ Added 3' }).waitFor();
    assert.deepEqual(mock.state.applyBodies[0], {
      target: 'kicad', project: false, board: null, dest: '',
      items: [{ slug: 'stm32f103c8t6', symLib: 'Misc', fpLib: 'MyFootprints' },
        { slug: 'cl21a476mqynnne', symLib: 'Passives_Cap', fpLib: 'Caps_SMD' },
        { slug: 'rc0603-10k', symLib: 'Passives_Res', fpLib: 'MyFootprints' }],
    });
    assert.ok(mock.state.applyPolls >= 3);
    assert.deepEqual(await texts(page.locator('.summary > div')), ['✓ Done.', 'Merged 3 symbol(s) into your libraries.']);
    // The result stays until the user closes it.
    await page.waitForTimeout(2500);
    assert.equal(await page.locator('#dlg').isHidden(), false);
    await page.locator('#cancelBtn').click();
    assert.equal(await page.locator('#dlg').isHidden(), true);
    await page.close();
  });

  test('an apply that is refused shows its error in the dialog', async () => {
    const page = await openPage();
    await openBoard(page, 'sensor-node', { model: true });
    await page.locator('#toolbar a', { hasText: 'select all' }).click();
    assert.equal(await page.locator('#addLibBtn').textContent(), 'Add 2 to Library');
    await page.locator('#addLibBtn').click();
    mock.state.overrides['/api/apply'] = { status: 'error', error: 'an apply is already running' };
    let alerted = false;
    page.on('dialog', d => { alerted = true; d.dismiss(); });
    await page.locator('#applyBtn').click();
    await page.locator('#dlgError').waitFor();
    assert.equal(await page.locator('#dlgError').textContent(), 'an apply is already running');
    assert.equal(alerted, false);
    assert.equal(await page.locator('#applyBtn').textContent(), 'Yes, add it');
    await page.close();
  });

  test('Add Project: folder browser, project-only diff rows and delivery summary', async () => {
    const page = await openPage();
    await openBoard(page, 'motor-driver-board', { model: true });
    await page.locator('#addProjectBtn').click();
    assert.equal(await page.locator('#dlg .dlg-h h2').textContent(), 'Add Project to my Computer');
    assert.equal(await page.locator('#dlg .dlg-h .sub').textContent(), 'schematic + 8 component(s) — symbols & footprints resolved so it opens clean');
    assert.equal(await page.locator('#destFolder').textContent(), '~/Documents/KiCad/Projects');
    assert.equal(await page.locator('#projName').inputValue(), 'motor-driver-board');
    assert.equal(requests('/api/list-dirs?p=').length, 1, 'root listing fetched ahead');

    await page.locator('.seg button', { hasText: 'Project-only library' }).click();
    const status = page.locator('#dlgStatus');
    await status.locator('text=✓ Existing').waitFor();
    assert.equal(await status.textContent(), '✓ Existing project library found — 0 to add, 1 to remove');
    assert.equal(requests('/api/project-diff?board=motor-driver-board&dest=' + encodeURIComponent('/home/ada/Documents/KiCad/Projects/motor-driver-board')).length, 1);
    const removeRow = page.locator('table.plan tr.remove');
    // The nickname shown is the one delivery writes: the board slug, "/" and blanks as "_".
    assert.deepEqual(await texts(removeRow.locator('td')), ['OldRegulator_LDO', 'flagged for deletion', 'remove from motor-driver-board.kicad_sym', '—']);
    assert.equal(await page.locator('table.plan tr.add').count(), 0);
    assert.equal(await page.locator('table.plan tr[data-slug="ao3400"] td:nth-child(3)').textContent(), 'motor-driver-board');
    // The default folder already holds a project: the dialog warns before delivery.
    await page.locator('#destState.warn').waitFor();
    assert.match(await page.locator('#destState').textContent(), /already holds a KiCad project \(\.kicad_pro\)/);
    await page.screenshot({ path: path.join(shots, 'dialog-project.png') });

    // Folder browser: the prefetched home listing, parent row, an empty folder, a failed path.
    await page.locator('#browseBtn').click();
    const fb = page.locator('#fbList');
    await fb.locator('.fbrow').first().waitFor();
    assert.deepEqual(await texts(fb.locator('.fbrow')), ['⬆ ..', 'Documents', 'Downloads', 'Desktop']);
    assert.equal(requests('/api/list-dirs').length, 1, 'the prefetched listing is reused');
    await page.screenshot({ path: path.join(shots, 'folder-browser.png') });
    await fb.locator('.fbrow', { hasText: 'Downloads' }).click();
    await fb.locator('text=(no sub-folders)').waitFor();
    assert.equal(await page.locator('#fbPath').inputValue(), '/home/ada/Downloads');
    await fb.locator('.fbrow.up').click();
    await fb.locator('.fbrow', { hasText: 'Documents' }).waitFor();
    await page.fill('#fbPath', '/nope');
    await page.press('#fbPath', 'Enter');
    await fb.locator('text=couldn’t read that folder').waitFor();
    mock.state.delays['/api/list-dirs'] = 8000;
    await page.fill('#fbPath', '/home/ada/Downloads');
    const typed = Date.now();
    await page.press('#fbPath', 'Enter');
    await fb.locator('text=Still loading…').waitFor({ timeout: 7500 });
    assert.ok(Date.now() - typed >= 4900, 'the hint waits 5 s');
    assert.equal(await fb.textContent(), 'Still loading…Ensure Vorn Desktop has shell permissions.');
    await fb.locator('text=(no sub-folders)').waitFor();
    await page.locator('#fbSelect').click();
    assert.equal(await page.locator('#destFinal').textContent(), '~/Downloads/motor-driver-board');
    await status.locator('text=No project library').waitFor();
    assert.equal(await status.textContent(), 'No project library on disk yet — 8 will be created');
    assert.equal(await page.locator('table.plan tr.add').count(), 8);
    assert.equal(await page.locator('table.plan tr.remove').count(), 0);

    await page.locator('#destState', { hasText: 'will be created' }).waitFor();
    await page.locator('#applyBtn').click();
    await page.locator('#applyBtn', { hasText: '✓ Delivered' }).waitFor();
    const body = mock.state.applyBodies[0];
    assert.equal(body.project, true);
    assert.equal(body.board, 'motor-driver-board');
    assert.equal(body.dest, '/home/ada/Downloads/motor-driver-board');
    // Project-only installs nothing into the user's own libraries.
    assert.deepEqual(body.items, []);
    assert.deepEqual(await texts(page.locator('.summary > div')), ['Done, with issues.',
      'Delivered 3 project file(s) → ~/Downloads/motor-driver-board', '1 issue(s):ghost-part: no part document on the page']);
    await page.screenshot({ path: path.join(shots, 'dialog-project-done.png') });
    await page.waitForTimeout(2000);
    assert.equal(await page.locator('#dlg').isHidden(), false);
    await page.close();
  });
});

describe('dialogs say what they will do', mockOnly, () => {
  const selectAll = async page => {
    await openBoard(page, 'sensor-node', { model: true });
    await page.locator('#toolbar a', { hasText: 'select all' }).click();
  };

  test('a new user without library tables gets the default library and can name a new one', async () => {
    const page = await openPage();
    mock.state.overrides['/api/libraries'] = { symLibs: [], fpLibs: [] };
    mock.state.overrides['/api/in-library'] = {};
    await page.evaluate(() => loadAux());
    await selectAll(page);
    await page.locator('#addLibBtn').click();
    await page.locator('#dlgStatus', { hasText: '✓ Done' }).waitFor();
    const first = page.locator('table.plan tbody tr').first();
    assert.deepEqual(await texts(first.locator('select').nth(0).locator('option')), ['vorn_lbr', 'New library…']);
    assert.equal(await first.locator('select').nth(1).inputValue(), 'vorn_lbr');
    // A new library name is checked with the server's rule; a bad or empty one is never sent.
    await first.locator('select').nth(0).selectOption({ label: 'New library…' });
    const field = first.locator('input.newlib').first();
    await page.locator('#applyBtn').click();
    assert.equal(await page.locator('#dlgError').textContent(), 'Type a name for the new library.');
    await field.fill('my lib!');
    assert.equal(await field.evaluate(e => e.classList.contains('bad')), true);
    await page.locator('#applyBtn').click();
    assert.match(await page.locator('#dlgError').textContent(), /Library name “my lib!” may only hold/);
    assert.equal(mock.state.applyBodies.length, 0);
    await field.fill('my_lib');
    await page.locator('#applyBtn').click();
    await page.locator('#applyBtn', { hasText: '✓ Added' }).waitFor();
    const items = mock.state.applyBodies[0].items;
    assert.deepEqual([items[0].symLib, items[0].fpLib], ['my_lib', 'vorn_lbr']);
    assert.ok(items.slice(1).every(i => i.symLib === 'vorn_lbr' && i.fpLib === 'vorn_lbr'));
    await page.close();
  });

  test('"~" paths are the home, in the folder browser and in the delivery', async () => {
    const page = await openPage();
    await openBoard(page, 'motor-driver-board', { model: true });
    await page.locator('#addProjectBtn').click();
    await page.locator('#browseBtn').click();
    const fb = page.locator('#fbList');
    await fb.locator('.fbrow').first().waitFor();
    await page.fill('#fbPath', '~/tilde-test');
    await page.press('#fbPath', 'Enter');
    await fb.locator('text=this folder does not exist yet — it will be created').waitFor();
    assert.equal(requests('/api/list-dirs?p=' + encodeURIComponent('/home/ada/tilde-test')).length, 1);
    assert.equal(requests('/api/list-dirs?p=' + encodeURIComponent('~/tilde-test')).length, 0);
    await page.locator('#fbSelect').click();
    assert.equal(await page.locator('#destFinal').textContent(), '~/tilde-test/motor-driver-board');
    await page.locator('#destState', { hasText: 'will be created' }).waitFor();
    await page.locator('#applyBtn').click();
    await page.locator('#applyBtn', { hasText: '✓ Added' }).waitFor();
    assert.equal(mock.state.applyBodies[0].dest, '/home/ada/tilde-test/motor-driver-board');
    await page.close();
  });

  test('the summary tells what happened, and a footprint-only match is shown as such', async () => {
    const page = await openPage();
    await selectAll(page);
    mock.state.overrides['/api/in-library'] = {
      'cl21a476mqynnne': { by: 'footprint', lib: '', fpLib: 'MyFootprints' },
    };
    await page.locator('#addLibBtn').click();
    const status = page.locator('#dlgStatus');
    await status.locator('text=✓ Done').waitFor();
    assert.equal(await status.textContent(), '✓ Done — none already present · 1 with only a footprint in your libraries');
    assert.equal(await page.locator('table.plan tr[data-slug="cl21a476mqynnne"] .mark').textContent(), 'footprint in MyFootprints');
    mock.state.overrides['/api/apply-progress'] = { stage: 'Done', done: true, current: 2, total: 2, result: {
      status: 'ok', count: 0, added: [], errors: [], project: null,
      skipped: [{ component: 'cl21a476mqynnne', by: 'symbol C_10u already in Caps' }] } };
    await page.locator('#applyBtn').click();
    await page.locator('#applyBtn', { hasText: 'Nothing changed' }).waitFor();
    assert.deepEqual(await texts(page.locator('.summary > div')), ['✓ Done.',
      'Skipped 1 already in your libraries (e.g. cl21a476mqynnne · symbol C_10u already in Caps)', 'Nothing changed.']);
    await page.close();
  });

  test('an unreachable desktop is said so, with a retry', async () => {
    const page = await openPage();
    mock.state.overrides['/api/env'] = { os: '', home: '', sep: '/', dest_folders: [], error: 'desktop not reachable' };
    await page.evaluate(() => loadAux());
    await selectAll(page);
    await page.locator('#addLibBtn').click();
    await page.locator('#envError').waitFor();
    assert.match(await page.locator('#envError').textContent(), /not reachable \(desktop not reachable\)\. retry/);
    delete mock.state.overrides['/api/env'];
    await page.locator('#envError a').click();
    await page.locator('#envError').waitFor({ state: 'detached' });
    await page.close();
  });
});

