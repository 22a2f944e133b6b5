// Visitors' classic script payloads, posted through the board and opened in
// a real browser: none of them may run.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { startSite, launchBrowser, postMessage as post } from './site.mjs';

const payloads = [
  { subject: '<script>window.__xss=1;alert(1)</script>', body: 'plain' },
  { subject: 'img', body: '<img src=x onerror="window.__xss=2;alert(2)">' },
  { subject: 'svg', body: '<svg onload="window.__xss=3;alert(3)"></svg>' },
  { subject: 'link', body: '<a href="java&#x09;script:window.__xss=4;alert(4)">click me</a>' },
  { subject: 'mail', email: 'x><img src=x onerror=window.__xss=5;alert(5)>', body: 'mail' },
  { subject: 'home', homepage: 'javascript:window.__xss=6;alert(6)', body: 'home' },
  { subject: 'markup', body: '<b>bold</b> and <script>alert(7)</script>' },
];

test('no payload runs in the listing or on a message page', async (t) => {
  const site = await startSite();
  t.after(() => site.stop());
  for (const p of payloads) {
    assert.equal(await post(site, { name: 'Mallory', email: '', homepage: '', ...p }), 200);
  }
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });

  const pages = [site.listUrl(1)];
  for (let n = 1; n <= payloads.length; n++) {
    pages.push(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${n}`);
  }
  for (const url of pages) {
    await page.goto(url);
    // Click every link a visitor could click that stays on this page's origin
    // or names a script; a javascript: URL would run here.
    const hrefs = await page.$$eval('a', (as) => as.map((a) => a.getAttribute('href') || ''));
    for (const href of hrefs) assert.doesNotMatch(href.replace(/[\s\x00-\x1f]/g, '').toLowerCase(), /^(javascript|vbscript|data):/);
    for (const link of await page.$$('a:has-text("click me"), a:has-text("Homepage")')) {
      await link.click({ noWaitAfter: true, timeout: 2000 }).catch(() => {});
    }
    await page.waitForTimeout(100);
    assert.equal(await page.evaluate(() => window.__xss), undefined, url);
  }
  assert.deepEqual(dialogs, []);

  // Harmless markup still works, and the script shows as text.
  await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=7`);
  assert.equal(await page.locator('b', { hasText: 'bold' }).count(), 1);
  assert.match(await page.textContent('body'), /<script>alert\(7\)<\/script>/);
});
