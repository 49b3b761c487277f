// Browsing in headless Chromium against the mock manager: the Components list over a large
// catalogue, addresses for every view, honest empty and failure states, expandable viewer boxes
// and keyboard use. Prints the list timings over 10,000 components.
//
//   node --test tests/browser/browse.test.mjs
import { describe, test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { startMock } from './mock_server.mjs';
import { launchBrowser, shotsDir, texts } from './browser.mjs';
import * as data from './fixtures.mjs';

const shots = shotsDir('browse');
let mock = null, ctx = null, browser = null;

before(async () => {
  mock = await startMock();
  browser = await launchBrowser();
  ctx = browser.ctx;
});
afterEach(async () => { for (const p of ctx.pages()) await p.close().catch(() => {}); });
after(async () => {
  await browser?.close();
  await mock?.close();
});

// A catalogue of `n` generated components (plus the fixture boards), with one LM358 among them.
const KINDS = [['resistor', 'R_0603', 'Yageo'], ['capacitor', 'C_0805', 'Samsung'], ['led', 'LED_0603', 'Kingbright'],
  ['op-amp amplifier', 'SOIC-8', 'TI'], ['connector header', 'PinHeader_1x04', 'Molex']];
function bigCatalogue(n) {
  const comps = [];
  for (let i = 0; i < n; i++) {
    const [kind, pkg, maker] = KINDS[i % KINDS.length];
    comps.push({ slug: `part-${i}`, title: `PN${String(i).padStart(5, '0')}`, brief: `${kind} ${i % 97}k ${pkg}`,
      tags: ['component', maker.toLowerCase()], owner: 'parts', org: 'parts-co', visibility: 'public', starred: false,
      score: i % 101, eda: i % 3 ? ['kicad'] : ['altium'], version: '1' });
  }
  comps[4321] = { ...comps[4321], slug: 'lm358-dual', title: 'LM358', brief: 'dual op-amp amplifier SOIC-8', score: 500 };
  return { status: 'ok', components: [...data.components.filter(r => r.tags.includes('board') || r.tags.includes('molecule') || r.tags.includes('project')), ...comps],
    me: data.me, orgs: data.orgs, hints: [] };
}

async function openPage(hash = '', setup) {
  mock.reset();
  mock.state.componentsDelay = 50;
  if (setup) setup(mock.state);
  const page = await ctx.newPage();
  page.errors = [];
  page.on('pageerror', e => page.errors.push(e.message));
  await page.goto(mock.base + hash);
  await page.locator('#splash').waitFor({ state: 'hidden', timeout: 15000 });
  return page;
}
const tab = (page, name) => page.locator(`#tabs button[data-tab="${name}"]`);

describe('components list', () => {
  test('10,000 components: first list, search as you type, chips, sort, only visible rows drawn', async () => {
    const catalogue = bigCatalogue(10000);
    const page = await ctx.newPage();
    page.errors = [];
    page.on('pageerror', e => page.errors.push(e.message));
    mock.reset();
    mock.state.overrides['/api/components'] = catalogue;
    const t0 = Date.now();
    await page.goto(mock.base + '#/components');
    await page.locator('#list .row.comp').first().waitFor({ timeout: 20000 });
    const firstList = Date.now() - t0;
    assert.match(await tab(page, 'components').textContent(), /^Components · 10000$/);
    assert.equal(await page.locator('#compCount').textContent(), '10000 of 10000');
    assert.ok(await page.locator('#list .row.comp').count() < 80, 'only the visible rows are in the page');
    // Sorted by name: the first part numbers lead.
    assert.equal(await page.locator('#list .row.comp .row-title').first().textContent(), 'LM358');

    const t1 = Date.now();
    await page.locator('#cq').pressSequentially('lm358');
    await page.locator('#compCount', { hasText: /^1 of 10000$/ }).waitFor();
    const searched = Date.now() - t1;
    assert.deepEqual(await texts(page.locator('#list .row.comp .row-title')), ['LM358']);
    // The search itself, inside the page: filter, sort and draw for one keystroke.
    const inPage = await page.evaluate(() => {
      const q = document.getElementById('cq');
      q.value = 'lm35';
      const t = performance.now();
      q.dispatchEvent(new Event('input'));
      return performance.now() - t;
    });
    assert.ok(inPage < 250, `one keystroke took ${inPage} ms`);
    // Value, package and maker words all narrow the search; every word has to match.
    await page.locator('#cq').fill('soic-8 ti 12k');
    await page.locator('#compCount', { hasText: /^\d+ of 10000$/ }).waitFor();
    for (const sub of await texts(page.locator('#list .row.comp .row-sub'))) assert.match(sub, / 12k SOIC-8/);
    await page.locator('#cq').fill('no-such-part');
    assert.equal(await page.locator('#list .msg').textContent(), 'no match for “no-such-part”');
    await page.locator('#cq').fill('');

    // Category and EDA chips combine; sorting by score puts the LM358 first.
    await page.locator('#catChips .chip[data-cat="LEDs"]').click();
    assert.equal(await page.locator('#compCount').textContent(), '2000 of 10000');
    await page.locator('#compEdaChips .chip[data-eda="altium"]').click();
    const n = Number((await page.locator('#compCount').textContent()).split(' ')[0]);
    assert.ok(n > 600 && n < 700, String(n));
    await page.locator('#catChips .chip[data-cat="LEDs"]').click();
    await page.locator('#compEdaChips .chip[data-eda="altium"]').click();
    await page.locator('#csort').selectOption('score');
    assert.equal(await page.locator('#list .row.comp .row-title').first().textContent(), 'LM358');

    // Scrolling far down draws the rows there, still only a window of them.
    await page.locator('#list').evaluate(el => { el.scrollTop = 52 * 9000; });
    await page.waitForFunction(() => [...document.querySelectorAll('#list .row.comp')].some(r => parseInt(r.style.top, 10) >= 52 * 9000));
    assert.ok(await page.locator('#list .row.comp').count() < 80);
    await page.screenshot({ path: path.join(shots, 'components-10000.png') });
    console.log(`# 10,000 components (mock): first list ${firstList} ms after navigation, search "lm358" typed and shown in ${searched} ms, one keystroke's search and draw ${inPage.toFixed(1)} ms`);
    assert.deepEqual(page.errors, []);
  });

  test('select several results and add them to the library; rows open the component view', async () => {
    const page = await openPage('#/components');
    await page.locator('#cq').fill('0603');
    const rows = page.locator('#list .row.comp');
    assert.deepEqual(await texts(rows.locator('.row-title')), ['Green LED 0603', 'RC0603FR-0710KL']);
    assert.deepEqual(await texts(rows.locator('.tag.cat')), ['LEDs', 'Resistors']);
    await rows.nth(0).locator('input').check();
    await rows.nth(1).locator('input').check();
    assert.equal(await page.locator('#addLibBtn').textContent(), 'Add 2 to Library');
    await page.locator('#addLibBtn').click();
    await page.locator('#dlg table.plan tbody tr').first().waitFor();
    assert.deepEqual(await page.locator('#dlg table.plan tbody tr').evaluateAll(trs => trs.map(t => t.dataset.slug)),
      ['led-0603-green', 'rc0603-10k']);
    await page.locator('#cancelBtn').click();
    await rows.nth(1).click();
    await page.locator('#compview h2').waitFor();
    assert.equal(await page.evaluate(() => location.hash), '#/components/component/rc0603-10k');
    await page.screenshot({ path: path.join(shots, 'components-selected.png') });
  });
});

describe('addresses', () => {
  test('board, version and component live in the address; reload, Back and Forward restore them', async () => {
    const page = await openPage();
    await page.locator('#list .row[data-slug="motor-driver-board"]').click();
    assert.equal(await page.evaluate(() => location.hash), '#/board/motor-driver-board');
    await page.locator('#verPill select').waitFor({ timeout: 15000 });
    await page.locator('#verPill select').selectOption('1');
    assert.equal(await page.evaluate(() => location.hash), '#/board/motor-driver-board?v=1');
    await page.locator('.row.dep[data-slug="stm32f103c8t6"]').click();
    assert.equal(await page.evaluate(() => location.hash), '#/board/motor-driver-board/component/stm32f103c8t6?v=1');

    await page.reload();
    await page.locator('#compview h2').waitFor();
    await page.locator('#boxSch iframe').waitFor({ timeout: 15000 });
    assert.equal(await page.locator('#boxSch iframe').getAttribute('src'), 'board-view/motor-driver-board/sch?v=1&h=aaa111');
    assert.equal(await page.locator('#verBanner b').textContent(), 'v1');
    assert.equal(await page.locator('#verPill select').inputValue(), '1');

    await page.goBack();  // before the component was opened
    await page.waitForFunction(() => document.getElementById('compview').hidden);
    await page.goBack();  // the current version
    await page.waitForFunction(() => !document.querySelector('#verBanner .bar'));
    await page.goBack();  // the list
    await page.locator('#overview .welcome').waitFor();
    assert.ok(await tab(page, 'mine').evaluate(b => b.classList.contains('on')));
    await page.goForward();
    await page.locator('#overview .ov-title').waitFor();
    assert.equal(await page.locator('#overview .ov-title .t').textContent(), 'Motor Driver Board');

    // A link opened in a new tab shows the same view.
    const other = await ctx.newPage();
    await other.goto(mock.base + '#/project/weather-station/board/sensor-node');
    await other.locator('#overview .ov-title .t', { hasText: 'Sensor Node' }).waitFor();
    assert.deepEqual(await texts(other.locator('#crumbs a')), ['Projects', 'Weather Station']);
    await other.goto(mock.base + '#/public');
    await other.locator('#list .group', { hasText: 'Trending' }).waitFor();
    assert.deepEqual(page.errors, []);
  });

  test('an unknown or unreadable board says so; owner/name slugs are sent encoded', async () => {
    const slashed = { ...data.components[0], slug: 'acme/blinky', title: 'Blinky', owner: data.me };
    const page = await openPage('#/board/' + encodeURIComponent('ghost/board'), st => {
      st.overrides['/api/components'] = { status: 'ok', components: [...data.components, slashed], me: data.me, orgs: data.orgs };
      st.fail.add('/api/board/acme');
    });
    await page.locator('#missingView').waitFor();
    assert.equal(await page.locator('#missingView h2').textContent(), 'No board “ghost/board” on the wiki');
    assert.equal(await page.locator('#addProjectBtn').count(), 0);
    await page.screenshot({ path: path.join(shots, 'unknown-board.png') });

    await page.goto(mock.base + '#/board/acme%2Fblinky');
    await page.locator('#overview .ov-title .t', { hasText: 'Blinky' }).waitFor();
    await page.locator('#assetsBar .bar').waitFor();
    assert.ok(await page.locator('#addProjectBtn').isDisabled(), 'a board that cannot be read is not delivered');
    assert.ok(mock.state.requests.some(r => r.url === '/api/board/acme%2Fblinky'));
    assert.ok(mock.state.requests.some(r => r.url === '/api/board-media/acme%2Fblinky'));
    await page.goto(mock.base + '#/nonsense/x');
    await page.locator('#missingView h2', { hasText: 'This address names no view' }).waitFor();
  });
});

describe('honest states', () => {
  test('an unreachable platform shows an error with a retry; fallback entries are labelled', async () => {
    const fallback = ['cl21a476mqynnne', 'cq03saf4702t5e'].map(s => ({ slug: s, title: s.toUpperCase(), brief: '', eda: [] }));
    const page = await openPage('', st => { st.overrides['/api/components'] = { status: 'ok', components: fallback, me: '', orgs: [], fallback: true }; });
    assert.match(await page.locator('#unreachable').textContent(), /^couldn’t reach the wiki, so your projects can’t be listed — retry$/);
    await tab(page, 'components').click();
    assert.deepEqual(await texts(page.locator('#list .row.comp .tag.fallback')), ['built-in fallback', 'built-in fallback']);
    await page.screenshot({ path: path.join(shots, 'unreachable.png') });
    // Retry asks again (with refresh) and shows the real list once the platform answers.
    delete mock.state.overrides['/api/components'];
    await tab(page, 'mine').click();
    await page.locator('#unreachable a').click();
    await page.locator('#list .row[data-slug="motor-driver-board"]').waitFor();
    assert.ok(mock.state.requests.some(r => r.url === '/api/components?refresh=1'));
  });

  test('a filter with no hits says "no match" rather than showing an empty account', async () => {
    const page = await openPage();
    await page.locator('#q').fill('zzz');
    assert.equal(await page.locator('#list .msg').textContent(), 'no match for “zzz”');
    await page.locator('#q').fill('');
    await page.locator('#chips .chip[data-chip="project"]').click();
    await page.locator('#chips .chip[data-chip="fusion"]').click();
    assert.equal(await page.locator('#list .msg').textContent(), 'no match for these filters');
  });
});

describe('categories', () => {
  test('board components are grouped by category, from tags and texts or else their symbol\'s name', async () => {
    const part = (slug, brief, extra) => ({ slug, title: slug, brief, tags: ['component'], owner: 'x', org: '', visibility: 'public', eda: ['kicad'], ...extra });
    const parts = [part('r1', '100k — amp-pp:R'), part('c1', '22n — amp-pp:C_Small'), part('cp1', '10u — amp-pp:CP'),
      part('v1', 'ECC83 — amp-pp:ECC83'), part('j1', 'IN — amp-pp:Conn_01x02'), part('q1', 'BC547 — amp-pp:Q_NPN_BCE'),
      part('k1', 'doc', { category: 'Relays' }), part('d1', 'zener diode 5V1')];
    const page = await openPage('#/board/sensor-node', st => {
      st.overrides['/api/components'] = { status: 'ok', components: [...data.components, ...parts], me: data.me, orgs: data.orgs };
      st.overrides['/api/board/sensor-node'] = { status: 'ok', deps: parts.map(p => ({ slug: p.slug })), log: [] };
    });
    await page.locator('#list .group').first().waitFor();
    assert.deepEqual(await texts(page.locator('#list .group')),
      ['Transistors · 1', 'Diodes · 1', 'Resistors · 1', 'Capacitors · 2', 'Connectors · 1', 'Other · 1', 'Relays · 1']);
    assert.equal(await page.locator('#list .group', { hasText: 'Other' }).locator('xpath=following-sibling::div[1]').getAttribute('data-slug'), 'v1');
  });
});

describe('viewers and small things', () => {
  test('a viewer box expands to the page and back; rendering shows elapsed time', async () => {
    const page = await openPage('#/board/motor-driver-board');
    await page.locator('#boxPcb .pct', { hasText: /^rendering board… \d+ s$/ }).waitFor();
    await page.locator('#boxPcb iframe').waitFor({ timeout: 15000 });
    const box = page.locator('#boxPcb').locator('xpath=..');
    const small = await box.boundingBox();
    await box.locator('.expand').click();
    const big = await box.boundingBox();
    assert.ok(big.width > 1300 && big.height > 800, JSON.stringify(big));
    assert.ok(small.width < 800);
    await page.screenshot({ path: path.join(shots, 'pcb-expanded.png') });
    await page.keyboard.press('Escape');
    assert.ok((await box.boundingBox()).width < 800);
  });

  test('keyboard: tabs, chips and rows answer Enter and Space with a visible focus; favicon', async () => {
    const page = await openPage();
    assert.match(await page.locator('link[rel="icon"]').getAttribute('href'), /^data:image\/svg\+xml,/);
    const chip = page.locator('#chips .chip[data-chip="board"]');
    await chip.focus();
    await page.keyboard.press('Space');
    assert.ok(await chip.evaluate(c => c.classList.contains('on')));
    assert.notEqual(await chip.evaluate(c => getComputedStyle(c).outlineStyle), 'none');
    await page.keyboard.press('Space');
    const row = page.locator('#list .row[data-slug="sensor-node"]');
    await tab(page, 'org').click();
    await row.focus();
    await page.keyboard.press('Enter');
    await page.locator('#overview .ov-title .t', { hasText: 'Sensor Node' }).waitFor();
    await tab(page, 'components').click();
    const first = page.locator('#list .row.comp').first();
    await first.focus();
    await page.keyboard.press('Space');
    assert.equal(await page.locator('#addLibBtn').textContent(), 'Add 1 to Library');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await page.locator('#compview h2').waitFor();
    assert.equal(await page.evaluate(() => document.activeElement.dataset.slug), await page.locator('#list .row.comp.on').getAttribute('data-slug'));
  });
});
