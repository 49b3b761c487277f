// Another web page open in the same browser reaching for the manager: a page served from another
// port of localhost (same-site, not same-origin) and one from 127.0.0.1 (cross-site) embed an
// <img>, <iframe>, <script>, no-cors fetch and form POST aimed at routes that run desktop
// commands and at the page itself. The manager answers 403 to every one of them and the desktop
// bridge (a stand-in that only logs) runs nothing; the manager's own page still works.
//
//   VORN_MANAGER_EXE   the manager executable (default: build/src/vorn-project-manager)
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { launchBrowser } from './browser.mjs';
import { freePort, repoRoot } from './real_server.mjs';

const MANAGER = process.env.VORN_MANAGER_EXE || path.join(repoRoot, 'build', 'src', 'vorn-project-manager');

let root, bridgeLog, manager, attacker, browser, mport, aport;

const bridgeCalls = () => (fs.existsSync(bridgeLog) ? fs.readFileSync(bridgeLog, 'utf8') : '');

// What the other page embeds: every way a page can make the browser send a request without
// asking the manager first.
function attackPage(target) {
  const t = target;
  return `<!doctype html><html><body>
<img src="${t}/api/pick-folder">
<img src="${t}/api/list-dirs?p=%2Fetc">
<iframe src="${t}/"></iframe>
<iframe src="${t}/api/suggest-path?p=x"></iframe>
<script src="${t}/api/list-dirs?p=%2Ftmp"></script>
<iframe name="sink1"></iframe><iframe name="sink2"></iframe>
<form id="f1" method="POST" action="${t}/api/apply" target="sink1" enctype="text/plain">
  <input name='{"items":[{"slug":"abc"}],"x":"' value='"}'></form>
<form id="f2" method="POST" action="${t}/" target="sink2"><input name="a" value="b"></form>
<script>
  fetch('${t}/api/pick-folder', { mode: 'no-cors' }).catch(() => {});
  fetch('${t}/api/libraries', { mode: 'no-cors', credentials: 'include' }).catch(() => {});
  fetch('${t}/api/apply', { mode: 'no-cors', method: 'POST', body: '{"items":[{"slug":"abc"}]}' }).catch(() => {});
  document.getElementById('f1').submit();
  document.getElementById('f2').submit();
</script></body></html>`;
}

// Every request and response the browser saw for URLs on the manager's port.
function watch(ctx, port) {
  const seen = [];
  ctx.on('requestfinished', async req => {
    if (new URL(req.url()).port !== String(port)) return;
    const res = await req.response().catch(() => null);
    seen.push({ method: req.method(), url: req.url(), status: res ? res.status() : 0 });
  });
  // A response the browser itself then blocks (a script or image that is plain text) fails here;
  // what the manager answered is checked by sending the browser's own request again.
  ctx.on('requestfailed', async req => {
    if (new URL(req.url()).port !== String(port)) return;
    const headers = await req.allHeaders().catch(() => ({}));
    seen.push({ method: req.method(), url: req.url(), status: -1, error: req.failure()?.errorText, headers });
  });
  return seen;
}

// The status the manager gives a request sent with exactly the headers the browser used.
function replay({ method, url, headers }) {
  return new Promise((resolve, reject) => {
    const u = new URL(url);
    const req = http.request({ host: '127.0.0.1', port: u.port, path: u.pathname + u.search, method, headers },
      res => { res.resume(); resolve(res.statusCode); });
    req.on('error', reject);
    req.end(method === 'POST' ? '{"items":[{"slug":"abc"}]}' : undefined);
  });
}

async function waitUntil(fn, ms, what) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (fn()) return;
    await new Promise(r => setTimeout(r, 100));
  }
  assert.fail('timed out waiting for ' + what);
}

before(async () => {
  root = fs.mkdtempSync(path.join(os.tmpdir(), 'vorn-cross-site-'));
  bridgeLog = path.join(root, 'bridge.log');
  const bin = path.join(root, 'bin');
  fs.mkdirSync(bin);
  fs.writeFileSync(path.join(bin, 'vorn-desktop'),
    `#!/bin/sh\nprintf '%s\\n' "$*" >> '${bridgeLog}'\necho '{"stdout":""}'\n`, { mode: 0o755 });
  mport = await freePort();
  manager = spawn(MANAGER, [`--port=${mport}`], {
    env: { ...process.env, PATH: bin + path.delimiter + process.env.PATH, VORN_PLATFORM_URL: 'http://127.0.0.1:9',
      VORN_LBR_BIND: '127.0.0.1', HOME: root },
    stdio: ['ignore', 'pipe', 'ignore'],
  });
  await new Promise((resolve, reject) => {
    manager.stdout.on('data', d => { if (String(d).includes('OK: ')) resolve(); });
    manager.once('exit', code => reject(new Error('manager exited with ' + code)));
  });
  aport = await freePort();
  attacker = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(attackPage(`http://localhost:${mport}`));
  });
  await new Promise(r => attacker.listen(aport, '127.0.0.1', r));
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  attacker?.close();
  manager?.kill('SIGKILL');
  if (root) fs.rmSync(root, { recursive: true, force: true });
});

for (const [name, origin] of [['another port of localhost (same-site)', 'localhost'], ['another site', '127.0.0.1']]) {
  test(`a page on ${name} reaches nothing`, async () => {
    const seen = watch(browser.ctx, mport);
    const page = await browser.ctx.newPage();
    await page.goto(`http://${origin}:${aport}/`);
    // img x2, iframe x2, script, three fetches, two form posts.
    await waitUntil(() => seen.length >= 10, 20000, `ten requests to the manager (saw ${JSON.stringify(seen)})`);
    await page.waitForTimeout(500);
    await page.close();
    for (const s of seen) {
      const status = s.status === -1 ? await replay(s) : s.status;
      assert.equal(status, 403, `${s.method} ${s.url} ${s.error || ''}`);
    }
    const paths = new Set(seen.map(s => s.method + ' ' + new URL(s.url).pathname));
    for (const p of ['GET /api/pick-folder', 'GET /api/list-dirs', 'GET /api/suggest-path', 'GET /',
      'GET /api/libraries', 'POST /api/apply', 'POST /']) {
      assert.ok(paths.has(p), `${p} was not requested: ${[...paths]}`);
    }
    assert.equal(bridgeCalls(), '', 'the bridge ran a command');
    browser.ctx.removeAllListeners('requestfinished');
    browser.ctx.removeAllListeners('requestfailed');
  });
}

test("the manager's own page still works in the same browser", async () => {
  const page = await browser.ctx.newPage();
  const env = page.waitForResponse(r => new URL(r.url()).pathname === '/api/env');
  const response = await page.goto(`http://localhost:${mport}/`);
  assert.equal(response.status(), 200);
  assert.equal((await env).status(), 200);
  await waitUntil(() => bridgeCalls() !== '', 10000, 'the page\'s own desktop request');
  await page.close();
});
