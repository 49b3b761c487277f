// Canned platform data for the mock manager: a user with personal, organisation and public
// boards, a board with components of several types, media that finish rendering on the second
// poll, an apply job that runs for two polls, and small GLB/PNG/HTML bodies for the viewers.
import zlib from 'node:zlib';

export const me = 'ada';
export const orgs = ['acme', 'zeta'];

const board = (slug, title, extra) => ({ slug, title, brief: '', tags: ['board'], owner: me, org: '', visibility: 'private', starred: false, score: 0, eda: ['kicad'], version: '', ...extra });
const comp = (slug, title, brief) => ({ slug, title, brief, tags: ['component'], owner: 'parts', org: 'parts-co', visibility: 'public', starred: false, score: 1, eda: ['kicad'], version: '1' });

export const components = [
  board('motor-driver-board', 'Motor Driver Board', { starred: true, score: 12, version: '3', brief: 'Dual H-bridge motor driver' }),
  board('sensor-node', 'Sensor Node', { tags: ['molecule'], org: 'acme', visibility: 'public', score: 40, eda: ['kicad', 'fusion'] }),
  // No "eda" member: the page asks api/board-eda for it.
  (({ eda, ...r }) => r)(board('weather-station', 'Weather Station', { tags: ['project'], visibility: 'open', score: 25, brief: 'Solar powered weather station with LoRa uplink.' })),
  board('legacy-board', 'Legacy Board', { eda: ['altium'] }),
  board('broken-board', 'Broken Board', {}),
  board('acme-power-hub', 'Power Hub', { owner: 'bob', org: 'acme', visibility: 'public', score: 88, eda: ['altium'] }),
  board('zeta-lamp', 'Lamp Controller', { owner: 'carol', org: 'zeta', score: 3, eda: [] }),
  board('open-synth', 'Open Synth', { owner: 'dave', org: 'noise', visibility: 'public', score: 150.4 }),
  board('tiny-clock', 'Tiny Clock', { owner: 'erin', org: 'noise', visibility: 'public', score: 60 }),
  board('rover', 'Rover', { owner: 'frank', org: 'robotix', visibility: 'open', score: 95, brief: 'six wheel rover chassis' }),
  board('badge', 'Conference Badge', { owner: 'gina', visibility: 'public', score: 5 }),
  board('plotter', 'Pen Plotter', { owner: 'hank', org: 'robotix', visibility: 'public', score: 30 }),
  board('relay-card', 'Relay Card', { owner: 'ivy', org: 'parts-co', visibility: 'public', score: 7, eda: ['altium'] }),
  comp('stm32f103c8t6', 'STM32F103C8T6', 'ARM Cortex-M3 microcontroller'),
  comp('ams1117-3v3', 'AMS1117-3.3', 'LDO regulator 1A'),
  comp('cl21a476mqynnne', 'CL21A476MQYNNNE', 'MLCC capacitor 47uF 0805'),
  comp('rc0603-10k', 'RC0603FR-0710KL', 'thick film resistor 10k'),
  comp('usb-c-receptacle', 'USB-C Receptacle', 'USB-C receptacle connector'),
  comp('led-0603-green', 'Green LED 0603', 'green led'),
  comp('ao3400', 'AO3400A', 'N-channel MOSFET 30V'),
];

export const lateEda = { 'weather-station': ['kicad'] };

export const env = { os: 'linux', home: '/home/ada', sep: '/', dest_folders: ['/home/ada/Documents/KiCad/Projects', '/home/ada/Documents', '/home/ada/Downloads', '/home/ada/Desktop'] };
export const libraries = {
  symLibs: [{ name: 'MyMCU', uri: '/home/ada/kicad/MyMCU.kicad_sym' }, { name: 'Passives_Cap', uri: '/home/ada/kicad/Passives_Cap.kicad_sym' },
    { name: 'Passives_Res', uri: '/home/ada/kicad/Passives_Res.kicad_sym' }, { name: 'Power', uri: '/home/ada/kicad/Power.kicad_sym' }, { name: 'Misc', uri: '/home/ada/kicad/Misc.kicad_sym' }],
  fpLibs: [{ name: 'MyFootprints', uri: '/home/ada/kicad/MyFootprints.pretty' }, { name: 'Caps_SMD', uri: '/home/ada/kicad/Caps_SMD.pretty' }],
};

export const boardDeps = {
  'motor-driver-board': ['stm32f103c8t6', 'ams1117-3v3', 'cl21a476mqynnne', 'rc0603-10k', 'usb-c-receptacle', 'led-0603-green', 'ao3400', 'ghost-part'],
  'sensor-node': ['cl21a476mqynnne', 'rc0603-10k'],
  'legacy-board': [],
  'broken-board': ['rc0603-10k'],
};
export const projectBoards = { 'weather-station': ['sensor-node', 'motor-driver-board', 'missing-board'] };

const now = () => Math.floor(Date.now() / 1000);
export const logs = {
  'motor-driver-board': [
    { message: 'Route motor outputs on both layers', author: 'ada', timestamp: now() - 3 * 3600, hash: 'c0ffee1234567890' },
    { message: 'Initial board', author: 'ada', timestamp: now() - 40 * 86400, hash: 'abcdef0123456789' },
  ],
  'weather-station': [{ message: 'Add sensor node board', author: 'ada', timestamp: now() - 2 * 86400, hash: '1234567deadbeef' }],
};
export const activity = {
  'motor-driver-board': [
    { ...logs['motor-driver-board'][0], comp_added: 2, comp_removed: 1, pcb_changed: true, sch_changed: true },
    logs['motor-driver-board'][1],
  ],
};

export const boardsWith3d = new Set(['motor-driver-board', 'sensor-node', 'weather-station']);

// Media status: the motor driver renders live and is ready on the second poll.
export function media(slug, call) {
  if (slug === 'motor-driver-board') {
    if (call === 1) return { rendering: true, is_kicad: true, has_render: false, has_assets: true, sheets: [], has_3d: false, has_pcb: false };
    return { rendering: false, is_kicad: true, stored: true, has_render: true, has_assets: true, sheets: ['root'], has_3d: true, has_pcb: true,
      current: '3', versions: [{ version: '1', hash: 'aaa111' }, { version: '2', hash: 'bbb222' }, { version: '3', hash: 'ccc333' }] };
  }
  if (slug === 'sensor-node') return { rendering: false, is_kicad: true, has_render: false, has_assets: true, sheets: ['root'], has_3d: true, has_pcb: true };
  if (slug === 'legacy-board') return { rendering: false, is_kicad: false, has_render: false, has_assets: false, sheets: [], has_3d: false, has_pcb: false };
  if (slug === 'broken-board') return { rendering: false, is_kicad: true, has_render: false, has_assets: false, sheets: [], has_3d: false, has_pcb: false };
  return { rendering: false, is_kicad: false, has_assets: false, sheets: [], has_3d: false, has_pcb: false };
}

export function part(slug) {
  if (slug === 'stm32f103c8t6') {
    return { status: 'ok', slug, mpn: 'STM32F103C8T6', source: 'vorn-lbr json', glb: true, pins: 48, pads: 49, symbol_svg: '', footprint_svg: '',
      layers: [
        { role: 'Copper', key: 'copper', count: 49, kicad: 'F.Cu', altium: 'Top Layer' },
        { role: 'Courtyard', key: 'courtyard', count: 1, kicad: 'F.CrtYd', altium: 'Mechanical 15 (Courtyard Top)' },
        { role: 'Fabrication / Assembly', key: 'fab', count: 5, kicad: 'F.Fab', altium: 'Mechanical 13 (Assembly Top)' },
        { role: 'Silkscreen', key: 'silk', count: 12, kicad: 'F.SilkS', altium: 'Mechanical 13 (Assembly Top)' },
      ] };
  }
  if (slug === 'led-0603-green') {
    const pin = (n, name, type, y) => `<g class='pingroup' data-num='${n}' data-name='${name}'><line class='pinvis' x1='0.0' y1='${y}' x2='100.0' y2='${y}' stroke='#dfe4ec' stroke-width='4'/></g>`;
    const svg = pins => `<svg xmlns='http://www.w3.org/2000/svg' viewBox='-50 -150 200 300' style='width:100%;height:100%'>${pins}</svg>`;
    return { status: 'ok', slug, mpn: 'LED-0603-GREEN', source: 'kicad (generated)', glb: false, pins: 3, pads: 2, symbol_svg: '', footprint_svg: '',
      layers: [{ role: 'Copper', key: 'copper', count: 2, kicad: 'F.Cu', altium: 'Top Layer' }],
      units: [
        { unit: 1, svg: svg(pin('1', 'A', '', -50) + pin('2', 'K', '', 50)), pins: [{ number: '1', name: 'A', type: 'input' }, { number: '2', name: 'K', type: 'passive' }] },
        { unit: 2, svg: svg(pin('3', '~', '', 0)), pins: [{ number: '3', name: '~', type: 'power_in' }] },
      ] };
  }
  if (slug === 'ghost-part') return { status: 'error', error: 'ghost-part: no part document on the page', hint: ['the page needs an vorn-lbr JSON, or <MPN>.kicad_sym + <MPN>.kicad_mod'] };
  return { status: 'ok', slug, mpn: slug.toUpperCase(), source: 'kicad (generated)', glb: false, pins: 2, pads: 2, symbol_svg: '', footprint_svg: '',
    layers: [{ role: 'Copper', key: 'copper', count: 2, kicad: 'F.Cu', altium: 'Top Layer' }] };
}

export const inLibrary = { 'cl21a476mqynnne': { by: 'mpn', lib: 'Passives_Cap', fpLib: 'Caps_SMD' }, 'rc0603-10k': { by: 'value+package', lib: 'Passives_Res', fpLib: '' } };

const DIR_TREE = {
  '/home/ada': ['Documents', 'Downloads', 'Desktop'],
  '/home/ada/Documents': ['KiCad', 'Notes'],
  '/home/ada/Documents/KiCad': ['Projects', 'Symbols'],
  '/home/ada/Documents/KiCad/Projects': [],
  '/home/ada/Downloads': [], '/home/ada/Desktop': [], '/home/ada/Documents/Notes': [],
  '/home/ada/Documents/KiCad/Symbols': [], '/home': ['ada'], '/': ['home'],
};

// What a delivery folder holds: the default project folder of motor-driver-board already holds a
// project; the folders of the listing tree exist; nothing else does.
export function destState(p) {
  if (p === '/home/ada/Documents/KiCad/Projects/motor-driver-board') return { exists: true, has_project: true };
  return { exists: p.replace(/\/+$/, '') in DIR_TREE, has_project: false };
}

export function listDirs(p) {
  const tree = DIR_TREE;
  const path = p === '' ? '/home/ada' : p.replace(/\/+$/, '') || '/';
  // A folder under the home that is not there lists as the real server does: itself, no entries.
  if (!(path in tree) && path.startsWith('/home/ada/')) return { path, parent: path.slice(0, path.lastIndexOf('/')), dirs: [] };
  if (!(path in tree)) return null;
  const parent = path === '/' ? '' : path.slice(0, path.lastIndexOf('/')) || '/';
  return { path, parent, dirs: tree[path].map(n => ({ name: n, path: (path === '/' ? '' : path) + '/' + n })) };
}

// Apply progress: two working polls, then the final record.
export function progress(body, poll) {
  const total = body.items.length;
  if (poll === 1) return { stage: 'Starting…', current: 0, total, done: false };
  if (poll === 2) {
    if (!body.items.length) return { stage: 'Fetching KiCad project files (schematic, PCB, sheets)…', current: 0, total, done: false };
    return { stage: 'Converting ' + body.items[0].slug + ' → ' + body.items[0].symLib, current: 1, total, done: false };
  }
  const added = body.items.map(i => ({ symbol: i.slug.toUpperCase(), symLib: i.symLib }));
  const project = body.board ? { folder: body.dest || '/home/ada/Documents/KiCad/Projects/' + body.board, files: ['a.kicad_pro', 'a.kicad_sch', 'a.kicad_pcb'] } : null;
  return { stage: 'Done', current: total, total, done: true,
    result: { status: 'ok', count: added.length, added, skipped: [], errors: body.board ? ['ghost-part: no part document on the page'] : [], project } };
}

/* ---------- viewer pages ---------- */

const page = (bg, svg) => `<!doctype html><html><head><meta charset="utf-8"><style>html,body{margin:0;height:100%;background:${bg}}svg{width:100%;height:100%;display:block}</style></head><body>${svg}</body></html>`;

export function schViewer() {
  let s = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 297 170"><rect x="4" y="4" width="289" height="162" fill="none" stroke="#8a1c1c" stroke-width=".6"/>`;
  s += `<rect x="40" y="40" width="50" height="70" fill="#ffffc4" stroke="#8a1c1c" stroke-width=".8"/><text x="65" y="36" font-size="5" text-anchor="middle" fill="#006464">U1 STM32F103</text>`;
  for (let i = 0; i < 6; i++) s += `<line x1="30" y1="${50 + i * 10}" x2="40" y2="${50 + i * 10}" stroke="#8a1c1c" stroke-width=".6"/><line x1="90" y1="${50 + i * 10}" x2="150" y2="${50 + i * 10}" stroke="#006400" stroke-width=".6"/>`;
  s += `<rect x="150" y="60" width="40" height="40" fill="#ffffc4" stroke="#8a1c1c" stroke-width=".8"/><text x="170" y="56" font-size="5" text-anchor="middle" fill="#006464">Q1 AO3400</text>`;
  s += `<rect x="215" y="50" width="8" height="22" fill="none" stroke="#8a1c1c" stroke-width=".8"/><text x="228" y="63" font-size="5" fill="#006464">R1</text>`;
  s += `<text x="280" y="160" font-size="5" text-anchor="end" fill="#8a1c1c">motor-driver-board</text></svg>`;
  return page('#ffffff', s);
}
export function pcbViewer() {
  let s = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 120 80"><rect x="10" y="10" width="100" height="60" rx="3" fill="#0b3d1f" stroke="#d0d050" stroke-width=".5"/>`;
  for (let i = 0; i < 8; i++) s += `<path d="M${20 + i * 4} 30 V${45 + i} H${70 + i * 3}" fill="none" stroke="#c87533" stroke-width=".8"/>`;
  s += `<rect x="44" y="20" width="16" height="16" fill="#222" stroke="#bbb" stroke-width=".3"/>`;
  for (let i = 0; i < 6; i++) s += `<circle cx="${18 + i * 16}" cy="64" r="1.6" fill="#d4a017"/>`;
  return page('#0d1117', s + '</svg>');
}
export function symbolEmbed() {
  let s = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="-400 -500 800 1000"><rect x="-200" y="-400" width="400" height="800" fill="none" stroke="#e35d5d" stroke-width="4"/>`;
  for (let i = 0; i < 8; i++) {
    const y = -350 + i * 100;
    s += `<line x1="-300" y1="${y}" x2="-200" y2="${y}" stroke="#dfe4ec" stroke-width="4"/><text x="-190" y="${y}" font-size="45" fill="#e6e9ef" dominant-baseline="central">PA${i}</text>`;
    s += `<line x1="200" y1="${y}" x2="300" y2="${y}" stroke="#dfe4ec" stroke-width="4"/><text x="190" y="${y}" font-size="45" fill="#e6e9ef" text-anchor="end" dominant-baseline="central">PB${i}</text>`;
  }
  return page('#0d1117', s + '</svg>');
}
export function footprintEmbed() {
  let s = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="-6 -6 12 12"><rect x="-3.6" y="-3.6" width="7.2" height="7.2" fill="none" stroke="#d8b4fe" stroke-width=".12"/>`;
  s += `<rect x="-5" y="-5" width="10" height="10" fill="none" stroke="#4ade80" stroke-width=".05"/>`;
  for (let i = 0; i < 12; i++) {
    const o = -2.75 + i * 0.5;
    s += `<rect x="${o - 0.15}" y="-4.6" width=".3" height="1" fill="#f59e0b"/><rect x="${o - 0.15}" y="3.6" width=".3" height="1" fill="#f59e0b"/>`;
    s += `<rect x="-4.6" y="${o - 0.15}" width="1" height=".3" fill="#f59e0b"/><rect x="3.6" y="${o - 0.15}" width="1" height=".3" fill="#f59e0b"/>`;
  }
  return page('#0d1117', s + '</svg>');
}

/* ---------- binary bodies ---------- */

// A small board model: a green plate with a few chips, built Y-up or Z-up.
export function buildGlb({ zUp }) {
  const boxes = [
    { c: [0, 0, 0], s: [60, 1.6, 40], m: 0 },
    { c: [-8, 1.8, 0], s: [10, 2, 10], m: 1 },
    { c: [14, 1.6, -8], s: [6, 1.6, 4], m: 1 },
    { c: [14, 1.6, 8], s: [6, 1.6, 4], m: 1 },
    { c: [-24, 2.4, 12], s: [8, 3.2, 9], m: 2 },
  ];
  const pos = [], nrm = [], idx = [];
  const faces = [[[1, 0, 0], [0, 1, 0], [0, 0, 1]], [[-1, 0, 0], [0, 1, 0], [0, 0, -1]], [[0, 1, 0], [0, 0, 1], [1, 0, 0]],
    [[0, -1, 0], [0, 0, -1], [1, 0, 0]], [[0, 0, 1], [1, 0, 0], [0, 1, 0]], [[0, 0, -1], [-1, 0, 0], [0, 1, 0]]];
  const prims = [];
  for (const b of boxes) {
    const start = idx.length;
    for (const [n, u, v] of faces) {
      const base = pos.length / 3;
      for (const [a, c] of [[-1, -1], [1, -1], [1, 1], [-1, 1]]) {
        const p = [0, 1, 2].map(k => b.c[k] + (n[k] + a * u[k] + c * v[k]) * b.s[k] / 2);
        pos.push(...(zUp ? [p[0], -p[2], p[1]] : p));
        nrm.push(...(zUp ? [n[0], -n[2], n[1]] : n));
      }
      // Winding must face outward: (u x v) == n for every face above.
      idx.push(base, base + 1, base + 2, base, base + 2, base + 3);
    }
    prims.push({ start, count: idx.length - start, m: b.m });
  }
  const posBuf = Buffer.from(new Float32Array(pos).buffer);
  const nrmBuf = Buffer.from(new Float32Array(nrm).buffer);
  const idxBuf = Buffer.from(new Uint16Array(idx).buffer);
  const bin = Buffer.concat([posBuf, nrmBuf, idxBuf, Buffer.alloc((4 - idxBuf.length % 4) % 4)]);
  const min = [0, 1, 2].map(k => Math.min(...pos.filter((_, i) => i % 3 === k)));
  const max = [0, 1, 2].map(k => Math.max(...pos.filter((_, i) => i % 3 === k)));
  const gltf = {
    asset: { version: '2.0', generator: 'vorn browser test fixture' },
    scene: 0, scenes: [{ nodes: [0] }], nodes: [{ mesh: 0, scale: [0.001, 0.001, 0.001] }],
    meshes: [{ primitives: prims.map(p => ({ attributes: { POSITION: 0, NORMAL: 1 }, indices: 2 + prims.indexOf(p), material: p.m })) }],
    materials: [
      { pbrMetallicRoughness: { baseColorFactor: [0.05, 0.35, 0.16, 1], metallicFactor: 0.1, roughnessFactor: 0.6 } },
      { pbrMetallicRoughness: { baseColorFactor: [0.06, 0.06, 0.07, 1], metallicFactor: 0.2, roughnessFactor: 0.5 } },
      { pbrMetallicRoughness: { baseColorFactor: [0.75, 0.75, 0.78, 1], metallicFactor: 0.9, roughnessFactor: 0.3 } },
    ],
    buffers: [{ byteLength: bin.length }],
    bufferViews: [
      { buffer: 0, byteOffset: 0, byteLength: posBuf.length, target: 34962 },
      { buffer: 0, byteOffset: posBuf.length, byteLength: nrmBuf.length, target: 34962 },
      { buffer: 0, byteOffset: posBuf.length + nrmBuf.length, byteLength: idxBuf.length, target: 34963 },
    ],
    accessors: [
      { bufferView: 0, componentType: 5126, count: pos.length / 3, type: 'VEC3', min, max },
      { bufferView: 1, componentType: 5126, count: nrm.length / 3, type: 'VEC3' },
      ...prims.map(p => ({ bufferView: 2, byteOffset: p.start * 2, componentType: 5123, count: p.count, type: 'SCALAR' })),
    ],
  };
  let jsonBuf = Buffer.from(JSON.stringify(gltf));
  jsonBuf = Buffer.concat([jsonBuf, Buffer.alloc((4 - jsonBuf.length % 4) % 4, 0x20)]);
  const header = Buffer.alloc(12);
  const total = 12 + 8 + jsonBuf.length + 8 + bin.length;
  header.write('glTF', 0); header.writeUInt32LE(2, 4); header.writeUInt32LE(total, 8);
  const jh = Buffer.alloc(8); jh.writeUInt32LE(jsonBuf.length, 0); jh.writeUInt32LE(0x4E4F534A, 4);
  const bh = Buffer.alloc(8); bh.writeUInt32LE(bin.length, 0); bh.writeUInt32LE(0x004E4942, 4);
  return Buffer.concat([header, jh, jsonBuf, bh, bin]);
}

// A solid-colour PNG with rounded-looking initials-free fill, for organisation avatars.
export function buildPng(w, h, rgb) {
  const raw = Buffer.alloc((w * 3 + 1) * h);
  for (let y = 0; y < h; y++) {
    raw[y * (w * 3 + 1)] = 0;
    for (let x = 0; x < w; x++) {
      const o = y * (w * 3 + 1) + 1 + x * 3;
      const shade = 0.7 + 0.3 * (x + y) / (w + h);
      raw[o] = rgb[0] * shade; raw[o + 1] = rgb[1] * shade; raw[o + 2] = rgb[2] * shade;
    }
  }
  const crcTable = Array.from({ length: 256 }, (_, n) => { let c = n; for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1; return c >>> 0; });
  const crc = b => { let c = 0xffffffff; for (const x of b) c = crcTable[(c ^ x) & 0xff] ^ (c >>> 8); return (c ^ 0xffffffff) >>> 0; };
  const chunk = (type, body) => {
    const len = Buffer.alloc(4); len.writeUInt32BE(body.length);
    const tb = Buffer.concat([Buffer.from(type), body]);
    const c = Buffer.alloc(4); c.writeUInt32BE(crc(tb));
    return Buffer.concat([len, tb, c]);
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0); ihdr.writeUInt32BE(h, 4); ihdr[8] = 8; ihdr[9] = 2;
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', ihdr), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}
