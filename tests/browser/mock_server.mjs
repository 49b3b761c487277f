// A stand-in for the manager's HTTP routes, for driving the page in a browser without the real
// server. It serves the page and its assets from the repository and canned JSON for every route
// the page calls, records each request, and lets a test change answers or delay them.
//
// Run on its own with `node tests/browser/mock_server.mjs [port]` to look at the page by hand.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import os from 'node:os';
import { execFileSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import { buildGlb, buildPng } from './fixtures.mjs';
import * as data from './fixtures.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..');
const indexPath = path.join(repoRoot, 'assets', 'index.html');
const viewerPath = path.join(repoRoot, 'node_modules', '@google', 'model-viewer', 'dist', 'model-viewer.min.js');

// Compiles the loader generator once (when its source is newer than the last build) and returns
// the GIF bytes it writes.
export function buildLoaderGif() {
  const src = path.join(repoRoot, 'assets', 'loader_gif_gen.cpp');
  const dir = path.join(os.tmpdir(), 'vorn-browser-test');
  fs.mkdirSync(dir, { recursive: true });
  const exe = path.join(dir, 'loader_gif_gen');
  const out = path.join(dir, 'loader.gif');
  const stale = !fs.existsSync(exe) || fs.statSync(exe).mtimeMs < fs.statSync(src).mtimeMs;
  if (stale) execFileSync('g++', ['-std=c++23', '-O2', '-o', exe, src]);
  execFileSync(exe, [out]);
  return fs.readFileSync(out);
}

const json = (res, obj) => {
  const body = JSON.stringify(obj);
  res.writeHead(200, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(body) });
  res.end(body);
};
const notFound = (res, text = 'not found') => {
  res.writeHead(404, { 'Content-Type': 'text/plain; charset=UTF-8' });
  res.end(text);
};
const html = (res, text) => {
  res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
  res.end(text);
};
const sleep = ms => new Promise(r => setTimeout(r, ms));

export async function startMock({ port = 0 } = {}) {
  const gif = buildLoaderGif();
  const boardGlbZ = buildGlb({ zUp: true });
  const boardGlbY = buildGlb({ zUp: false });
  const avatar = buildPng(28, 28, [0x6e, 0xa8, 0xfe]);

  const state = {
    requests: [],            // every request as {method, url, body}
    delays: {},              // path prefix -> milliseconds to wait before answering
    fail: new Set(),         // path prefixes that answer with a dropped connection
    componentsDelay: 700,
    applyBodies: [],
    applyPolls: 0,
    mediaCalls: {},
    overrides: {},           // exact path -> JSON answer
  };

  function delayFor(p) {
    for (const [prefix, ms] of Object.entries(state.delays)) if (p.startsWith(prefix)) return ms;
    return 0;
  }

  async function handle(req, res, body) {
    const url = req.url;
    const q = url.indexOf('?');
    const p = q < 0 ? url : url.slice(0, q);
    const params = new URLSearchParams(q < 0 ? '' : url.slice(q + 1));
    state.requests.push({ method: req.method, url, body });
    const wait = delayFor(p);
    if (wait) await sleep(wait);
    for (const prefix of state.fail) if (p.startsWith(prefix)) { req.socket.destroy(); return; }
    if (state.overrides[p] !== undefined) return json(res, state.overrides[p]);

    if (req.method === 'POST') {
      if (p !== '/api/apply') return notFound(res);
      let parsed;
      try { parsed = JSON.parse(body); } catch { return json(res, { status: 'error', error: 'bad body' }); }
      state.applyBodies.push(parsed);
      state.applyPolls = 0;
      return json(res, { status: 'started', total: parsed.items.length });
    }
    if (req.method !== 'GET') return notFound(res);

    if (p === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      return res.end(fs.readFileSync(indexPath));
    }
    if (p === '/loader.gif') {
      res.writeHead(200, { 'Content-Type': 'image/gif', 'Cache-Control': 'public, max-age=86400' });
      return res.end(gif);
    }
    if (p === '/vendor/model-viewer.min.js') {
      res.writeHead(200, { 'Content-Type': 'text/javascript; charset=utf-8' });
      return res.end(fs.readFileSync(viewerPath));
    }
    if (p === '/api/components') {
      await sleep(state.componentsDelay);
      return json(res, { status: 'ok', components: data.components, me: data.me, orgs: data.orgs, hints: ['click a component to open its viewer'] });
    }
    if (p === '/api/env') return json(res, data.env);
    if (p === '/api/libraries') return json(res, data.libraries);
    if (p.startsWith('/api/board-eda/')) return json(res, { eda: data.lateEda[decodeURIComponent(p.slice(15))] || [] });
    if (p.startsWith('/api/board/')) {
      const slug = p.slice(11);
      return json(res, { status: 'ok', board: slug, deps: (data.boardDeps[slug] || []).map(s => ({ slug: s })), log: data.logs[slug] || [], hints: ['board → component library → components (the library\'s dependencies)'] });
    }
    if (p.startsWith('/api/board-activity/')) return json(res, { activity: data.activity[p.slice(20)] || [] });
    if (p.startsWith('/api/board-media/')) {
      const slug = p.slice(17);
      const n = (state.mediaCalls[slug] = (state.mediaCalls[slug] || 0) + 1);
      return json(res, data.media(slug, n));
    }
    if (p.startsWith('/api/board-upaxis/')) {
      const slug = p.slice(18);
      return json(res, slug === 'motor-driver-board' ? { up_axis: 'z' } : {});
    }
    if (p.startsWith('/api/project/')) {
      const slug = p.slice(13);
      return json(res, { status: 'ok', project: slug, boards: (data.projectBoards[slug] || []).map(s => ({ slug: s })), log: data.logs[slug] || [] });
    }
    if (p.startsWith('/api/part/')) return json(res, data.part(p.slice(10)));
    if (p.startsWith('/api/in-library')) {
      const slugs = (params.get('slugs') || '').split(',').filter(Boolean);
      const out = {};
      for (const s of slugs) if (data.inLibrary[s]) out[s] = data.inLibrary[s];
      return json(res, out);
    }
    if (p.startsWith('/api/project-diff')) {
      const board = params.get('board') || '';
      const dest = params.get('dest') || '';
      const deps = data.boardDeps[board] || [];
      if (dest.includes('/Projects/')) return json(res, { exists: true, add: [], keep: deps, remove: ['OldRegulator_LDO'] });
      return json(res, { exists: false, add: deps, keep: [], remove: [] });
    }
    if (p.startsWith('/api/dest-state')) return json(res, data.destState(params.get('p') || ''));
    if (p.startsWith('/api/list-dirs')) {
      const listing = data.listDirs(params.get('p') || '');
      if (!listing) { req.socket.destroy(); return; }
      return json(res, listing);
    }
    if (p === '/api/apply-progress') {
      const last = state.applyBodies[state.applyBodies.length - 1];
      if (!last) return json(res, { stage: 'idle', done: true });
      return json(res, data.progress(last, ++state.applyPolls));
    }
    if (p.startsWith('/board-glb/')) {
      const slug = p.slice(11);
      if (!data.boardsWith3d.has(slug)) return notFound(res, 'not rendered');
      const bytes = slug === 'motor-driver-board' ? boardGlbZ : boardGlbY;
      res.writeHead(200, { 'Content-Type': 'model/gltf-binary', 'Content-Length': bytes.length });
      return res.end(bytes);
    }
    if (p.startsWith('/glb/')) {
      res.writeHead(200, { 'Content-Type': 'model/gltf-binary' });
      return res.end(boardGlbY);
    }
    if (p.startsWith('/board-view/')) {
      const [slug, kind] = p.slice(12).split('/');
      return html(res, kind === 'pcb' ? data.pcbViewer(slug) : data.schViewer(slug));
    }
    if (p.startsWith('/part-embed/')) {
      const [slug, kind] = p.slice(12).split('/');
      return html(res, kind === 'footprint' ? data.footprintEmbed(slug) : data.symbolEmbed(slug));
    }
    if (p.startsWith('/board-hero/')) return notFound(res, 'no hero');
    if (p.startsWith('/org-avatar/')) {
      if (p.slice(12) !== 'noise') return notFound(res, 'no avatar');
      res.writeHead(200, { 'Content-Type': 'image/png' });
      return res.end(avatar);
    }
    return notFound(res);
  }

  const server = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', c => chunks.push(c));
    req.on('end', () => {
      handle(req, res, Buffer.concat(chunks).toString('utf8')).catch(err => {
        res.writeHead(500);
        res.end(String(err));
      });
    });
  });
  await new Promise(r => server.listen(port, '127.0.0.1', r));
  const base = `http://127.0.0.1:${server.address().port}/`;
  return {
    base,
    state,
    reset() {
      state.requests.length = 0;
      state.delays = {};
      state.fail.clear();
      state.componentsDelay = 700;
      state.applyBodies.length = 0;
      state.applyPolls = 0;
      state.mediaCalls = {};
      state.overrides = {};
    },
    close: () => new Promise(r => { server.closeAllConnections?.(); server.close(r); }),
  };
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const m = await startMock({ port: Number(process.argv[2]) || 8786 });
  m.state.componentsDelay = 400;
  console.log('mock manager on ' + m.base);
}
