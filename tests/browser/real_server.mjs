// The real world for the browser tests: a small demo data set served by vorn-platform on a free
// loopback port, and the real manager pointed at it with the tools first on PATH and a sandbox
// home (holding KiCad library tables) as the desktop. Everything lives in one temporary folder
// that close() removes; the demo data itself is generated once and cached between runs.
//
//   VORN_MANAGER_EXE   the manager executable (default: build/src/vorn-project-manager)
//   VORN_TOOLS_BIN     folder of vorn-platform, vorn-desktop, vorn-wiki and the viewer tools
//                      (default: build/tools/bin)
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..');
const MANAGER = process.env.VORN_MANAGER_EXE || path.join(repoRoot, 'build', 'src', 'vorn-project-manager');
const TOOLS_BIN = process.env.VORN_TOOLS_BIN || path.join(repoRoot, 'build', 'tools', 'bin');
const DEMO_CACHE = path.join(os.tmpdir(), 'vorn-browser-demo-data');

export const haveManager = () => fs.existsSync(MANAGER) && fs.existsSync(path.join(TOOLS_BIN, 'vorn-platform'));

const EMPTY_SYMBOL_LIB = '(kicad_symbol_lib\n\t(version 20241209)\n\t(generator "kicad_symbol_editor")\n)\n';

// Pages added to this run's copy of the demo data, so the lists show the cases the small set
// lacks: a record of another user's organisation published as "open", a board whose only file is
// an Altium one (no KiCad assets expected), and a KiCad board without its board file.
const EXTRA_PAGES = [
  {
    slug: 'guild-sampler', files: { 'sampler.kicad_pro': '{}\n', 'package.json': pkg('guild-sampler', []) },
    meta: { title: 'Guild sampler', brief: 'Community sampler board', tags: ['molecule'], author_name: 'orrin',
      org_name: 'open-hw-guild', visibility: 'open', composite_score: 70.2, starred: false },
  },
  {
    slug: 'relay-card', files: { 'relay.PcbDoc': 'altium binary stand-in\n', 'package.json': pkg('relay-card', []) },
    meta: { title: 'Relay card', brief: 'Four relays, Altium sources', tags: ['board'], author_name: 'demo',
      org_name: '', visibility: 'private', composite_score: 3, starred: false },
  },
  {
    slug: 'bare-board', files: { 'bare.kicad_sch': 'schematic never finished\n',
      'package.json': pkg('bare-board', ['10k-r-axial']) },
    meta: { title: 'Bare board', brief: 'Schematic only, board file never uploaded', tags: ['board'],
      author_name: 'demo', org_name: '', visibility: 'private', composite_score: 1, starred: false },
  },
];
function pkg(name, deps) { return JSON.stringify({ name, version: '1.0.0', dependencies: deps }, null, 2) + '\n'; }

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

async function waitFor(url, proc, what, ms = 30000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (proc.exitCode != null) throw new Error(`${what} exited with status ${proc.exitCode}`);
    try {
      const r = await fetch(url, { signal: AbortSignal.timeout(5000) });
      await r.arrayBuffer();
      return;
    } catch { /* not up yet */ }
    await new Promise(r => setTimeout(r, 150));
  }
  throw new Error(`${what} did not answer on ${url}`);
}

function git(repo, args, env) {
  execFileSync('git', ['-C', repo, ...args], {
    stdio: 'pipe',
    env: { ...process.env, GIT_CONFIG_NOSYSTEM: '1', GIT_TERMINAL_PROMPT: '0', ...env },
  });
}

// Writes a page folder (record + git work tree with one commit) into a platform data folder.
function addPage(dataDir, { slug, files, meta }, order) {
  const folder = path.join(dataDir, 'pages', slug);
  const repo = path.join(folder, 'repo');
  fs.mkdirSync(repo, { recursive: true });
  for (const [name, text] of Object.entries(files)) fs.writeFileSync(path.join(repo, name), text);
  const who = meta.author_name;
  const when = `@${Math.floor(Date.now() / 1000) - 5 * 86400} +0000`;
  git(repo, ['init', '-q', '-b', 'main']);
  git(repo, ['add', '-A']);
  git(repo, ['-c', 'commit.gpgsign=false', 'commit', '-q', '-m', 'First upload'], {
    GIT_AUTHOR_NAME: who, GIT_AUTHOR_EMAIL: who + '@localhost', GIT_COMMITTER_NAME: who,
    GIT_COMMITTER_EMAIL: who + '@localhost', GIT_AUTHOR_DATE: when, GIT_COMMITTER_DATE: when,
  });
  const rec = { type: 'component', version: '1.0.0', order, ...meta, slug };
  fs.writeFileSync(path.join(folder, 'meta.json'), JSON.stringify(rec, null, 1));
}

// Page slugs of a platform data folder: pages/<name> and pages/<owner>/<name>.
function pageSlugs(dataDir) {
  const pages = path.join(dataDir, 'pages');
  return fs.readdirSync(pages).flatMap(first => {
    if (fs.existsSync(path.join(pages, first, 'meta.json'))) return [first];
    return fs.readdirSync(path.join(pages, first)).map(second => `${first}/${second}`);
  });
}

// The folder of the page named `name`, under whatever owner it has.
function pageFolder(dataDir, name) {
  const slug = pageSlugs(dataDir).find(s => s.split('/').pop() === name);
  if (!slug) throw new Error(`no demo page named ${name}`);
  return path.join(dataDir, 'pages', slug);
}

// A desktop home with KiCad 9 library tables: an empty "MyParts" symbol library and footprint
// folder, an empty capacitor library, and a resistor library that already holds the symbol of
// `presentSlug` (copied from its page), so the in-library check finds it.
function makeHome(home, dataDir, presentSlug) {
  const libs = path.join(home, 'kicad-libs');
  const cfg = path.join(home, '.config', 'kicad', '9.0');
  fs.mkdirSync(path.join(libs, 'MyParts.pretty'), { recursive: true });
  fs.mkdirSync(cfg, { recursive: true });
  for (const d of ['Documents/KiCad/Projects', 'Downloads', 'Desktop']) fs.mkdirSync(path.join(home, d), { recursive: true });
  fs.writeFileSync(path.join(libs, 'MyParts.kicad_sym'), EMPTY_SYMBOL_LIB);
  fs.writeFileSync(path.join(libs, 'Passives_Cap.kicad_sym'), EMPTY_SYMBOL_LIB);
  const presentLib = path.join(pageFolder(dataDir, presentSlug), 'repo', presentSlug.toUpperCase() + '.kicad_sym');
  fs.copyFileSync(presentLib, path.join(libs, 'Passives_Res.kicad_sym'));
  const row = (name, uri) => `  (lib (name "${name}")(type "KiCad")(uri "${uri}")(options "")(descr ""))\n`;
  fs.writeFileSync(path.join(cfg, 'sym-lib-table'), '(sym_lib_table\n  (version 7)\n' +
    ['MyParts', 'Passives_Cap', 'Passives_Res'].map(n => row(n, `${libs}/${n}.kicad_sym`)).join('') +
    row('Device', '${KICAD9_SYMBOL_DIR}/Device.kicad_sym') + ')\n');
  fs.writeFileSync(path.join(cfg, 'fp-lib-table'), '(fp_lib_table\n  (version 7)\n' + row('MyParts', `${libs}/MyParts.pretty`) + ')\n');
  return libs;
}

function run(cmd, args, opts) {
  return new Promise((resolve, reject) => {
    const p = spawn(cmd, args, { ...opts, stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '', err = '';
    p.stdout.on('data', d => { out += d; });
    p.stderr.on('data', d => { err += d; });
    p.on('error', reject);
    p.on('close', code => resolve({ code, out, err }));
  });
}

export async function startWorld({ presentSlug = '47k-r-axial' } = {}) {
  if (!haveManager()) throw new Error(`no manager at ${MANAGER} or no tools in ${TOOLS_BIN}`);
  execFileSync('python3', [path.join(repoRoot, 'tools', 'demo-data', 'make_demo_data.py'), '--small', '--out', DEMO_CACHE],
    { stdio: 'ignore', timeout: 600000 });
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'vorn-browser-real-'));
  const data = path.join(root, 'platform');
  const home = path.join(root, 'home');
  // Each run works on its own copy, so uploads and renders never leak into the next run.
  fs.cpSync(DEMO_CACHE, data, { recursive: true, verbatimSymlinks: true });
  const count = pageSlugs(data).length;
  EXTRA_PAGES.forEach((p, i) => addPage(data, p, count + i));
  const libs = makeHome(home, data, presentSlug);
  fs.mkdirSync(path.join(root, 'tmp'));

  const env = { ...process.env, PATH: TOOLS_BIN + path.delimiter + process.env.PATH, HOME: home,
    TMPDIR: path.join(root, 'tmp'), VORN_API_KEY_FILE: '/nonexistent/api-key' };
  delete env.VORN_API_KEY;
  delete env.VORN_LBR_BIND;
  const procs = [];
  const logs = { platform: path.join(root, 'platform.log'), manager: path.join(root, 'manager.log') };
  const world = {
    root, home, libs, data, env, procs,
    async close() {
      for (const p of procs) if (p.exitCode == null) p.kill('SIGTERM');
      await Promise.all(procs.map(p => p.exitCode != null ? null : new Promise(r => {
        const t = setTimeout(() => { p.kill('SIGKILL'); r(); }, 5000);
        p.once('exit', () => { clearTimeout(t); r(); });
      })));
      if (!process.env.VORN_KEEP_TEST_WORLD) fs.rmSync(root, { recursive: true, force: true });
    },
  };
  try {
    const pport = await freePort();
    const platform = spawn('vorn-platform', ['--data', data, '--host', '127.0.0.1', '--port', String(pport)],
      { env, stdio: ['ignore', fs.openSync(logs.platform, 'w'), fs.openSync(logs.platform, 'a')] });
    procs.push(platform);
    world.platformUrl = `http://127.0.0.1:${pport}`;
    await waitFor(world.platformUrl + '/health', platform, 'vorn-platform');
    Object.assign(env, { VORN_PLATFORM_URL: world.platformUrl, VORN_EXPORT_URL: world.platformUrl, VORN_ORG_SITE_URL: world.platformUrl });

    const mport = await freePort();
    const manager = spawn(MANAGER, [`--port=${mport}`], { env, stdio: ['ignore', 'ignore', fs.openSync(logs.manager, 'w')] });
    procs.push(manager);
    world.base = `http://127.0.0.1:${mport}/`;
    await waitFor(world.base, manager, 'the manager');
  } catch (e) {
    await world.close();
    throw e;
  }

  // Platform reads, for expectations computed from the data rather than restated.
  world.platformJSON = async p => (await fetch(world.platformUrl + p)).json();
  // Uploads files (name -> text) to a page as one commit, with the platform tool.
  world.push = async (slug, files, message) => {
    const dir = fs.mkdtempSync(path.join(root, 'push-'));
    for (const [name, text] of Object.entries(files)) {
      fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
      fs.writeFileSync(path.join(dir, name), text);
    }
    const r = await run('vorn-wiki', ['repo', 'push', slug, '--files', ...Object.keys(files), '-m', message], { cwd: dir, env });
    if (r.code !== 0) throw new Error('vorn-wiki push failed: ' + r.err);
  };
  // The stored render of a board (render mode of the manager), uploaded to its page.
  world.renderBoard = async slug => {
    const r = await run(MANAGER, ['--render-board', slug], { env });
    if (r.code !== 0) throw new Error(`render of ${slug} failed: ${r.err}`);
    return r.err;
  };
  world.managerLog = () => fs.readFileSync(logs.manager, 'utf8');
  return world;
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const w = await startWorld();
  console.log('manager on ' + w.base + '  platform on ' + w.platformUrl + '  home ' + w.home);
  const stop = () => w.close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}
