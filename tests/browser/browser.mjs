// Shared by the browser suites: headless Chromium in a throw-away profile, kept off the network
// (no background services, no component updates, no QUIC), and the screenshot folder.
//
//   VORN_CHROMIUM      the browser (default /usr/bin/chromium)
//   VORN_TEST_OUTPUT   where screenshots go (default test-output/browser in the repository)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const repoRoot = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

export function shotsDir(sub = '') {
  const dir = path.join(process.env.VORN_TEST_OUTPUT || path.join(repoRoot, 'test-output', 'browser'), sub);
  fs.mkdirSync(dir, { recursive: true });
  return dir;
}

export async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorn-chromium-'));
  const ctx = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.VORN_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1440, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-default-apps', '--disable-domain-reliability', '--no-pings', '--metrics-recording-only'],
  });
  const close = async () => {
    await ctx.close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { ctx, close };
}

export const texts = loc => loc.evaluateAll(els => els.map(e => e.textContent.trim()));

// Resolves when the board's 3D viewer reports its model loaded. Software WebGL stalls the page
// for seconds while the first model's lighting is prepared, so only tests that need the model
// (or interact right after it) wait for it.
export const waitModel = (page, sel = '#box3d model-viewer', timeout = 90000) =>
  page.waitForFunction(s => document.querySelector(s)?.loaded === true, sel, { timeout });
