// Spam bots and people against a site made by the site command, which
// turns every defence on: each bot class from its own address, people in
// headless Chromium at a person's pace. What each stored is counted from
// the board's index and written to output/spam-run.md.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { mkdtemp, mkdir, readFile, writeFile, chmod, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort, siteCommand, launchBrowser } from './site.mjs';

const output = join(dirname(fileURLToPath(import.meta.url)), 'output');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One request from `address` (a loopback address of its own per client).
function send(url, address, body) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {
      method: body === undefined ? 'GET' : 'POST',
      agent: false,
      localAddress: address,
      headers: body === undefined ? {} : { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve(Buffer.concat(chunks).toString('latin1')));
    });
    req.on('error', reject);
    req.end(body);
  });
}

const encode = (fields) => Object.entries(fields).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');

// Every named input of a form page with its value, in page order, as a
// scraper reads them (the textarea included, empty).
function scrape(html) {
  const fields = {};
  for (const m of html.matchAll(/<(?:input|textarea)[^>]*name=([a-z]+)(?:[^>]*value="([^"]*)")?/g)) fields[m[1]] = m[2] ?? '';
  return fields;
}

// The subjects of the board's records, read from its index file.
async function storedSubjects(dir) {
  let index;
  try { index = await readFile(join(dir, 'boards', '1', 'guestbook.dat')); } catch { return []; }
  const subjects = [];
  for (let at = 125; at + 410 <= index.length; at += 410) {
    const field = index.subarray(at + 115, at + 195);
    subjects.push(field.subarray(0, field.indexOf(0) < 0 ? 80 : field.indexOf(0)).toString('latin1'));
  }
  return subjects;
}

test('bots are stopped class by class and people get through, on a site made by the site command', { timeout: 240000 }, async (t) => {
  const bin = process.env.GESIPAN_BIN;
  assert.ok(bin, 'GESIPAN_BIN names the built programs');
  process.env.GESIPAN_SITE_BIN = bin;
  await mkdir(output, { recursive: true });
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-spam-'));
  await chmod(parent, 0o755);
  t.after(() => rm(parent, { recursive: true, force: true }));
  const dir = join(parent, 'site');
  const port = await freePort();
  const site = await siteCommand(dir, port);
  t.after(() => site.stop());
  assert.equal(site.code, null, site.output);
  const password = site.output.match(/\(shown only now\): ([A-Za-z0-9]+)/)[1];
  const base = `http://127.0.0.1:${port}/cgi-bin`;
  const formUrl = `${base}/FormPage.exe?BoardNum=1`;
  const saveUrl = `${base}/SavePage.exe?BoardNum=1&TextNum=-1`;
  const filled = (subject, body, extra = {}) => ({ name: 'Bot', email: 'bot@spam.example', homepage: 'http://spam.example', subject, body, ...extra });
  const urls = (n) => Array.from({ length: n }, (_, k) => `http://spam${k}.example/buy`).join(' ');

  const bots = {
    // Never loads the form: the five fields straight to SavePage.
    'direct POST of the five fields': async () => {
      for (let k = 0; k < 20; ++k) await send(saveUrl, '127.0.1.1', encode(filled(`direct ${k}`, `cheap pills ${k}`)));
      return { sent: 20, mark: 'direct ' };
    },
    // Loads the form, fills every field it finds, hidden ones too, and posts at once.
    'scraper filling every field, posting in under a second': async () => {
      for (let k = 0; k < 20; ++k) {
        const fields = scrape(await send(formUrl, '127.0.2.1'));
        for (const name of Object.keys(fields)) if (name !== 'token') fields[name] = `scraped ${k} ${name}`;
        fields.subject = `scraper ${k}`;
        await send(saveUrl, '127.0.2.1', encode(fields));
      }
      return { sent: 20, mark: 'scraper ' };
    },
    // One form, filled after a person's pause, then sent 20 times.
    'one filled form replayed 20 times': async () => {
      const fields = scrape(await send(formUrl, '127.0.3.1'));
      await sleep(3500);
      const body = encode({ ...fields, ...filled('replay', 'the same form again') });
      for (let k = 0; k < 20; ++k) await send(saveUrl, '127.0.3.1', body);
      return { sent: 20, mark: 'replay' };
    },
    // Fresh forms at a person's pace, honeypot left empty, 15 URLs each.
    '15 URLs in the body through the form at human speed': async () => {
      await Promise.all(Array.from({ length: 20 }, async (_, k) => {
        const fields = scrape(await send(formUrl, '127.0.4.1'));
        await sleep(3500);
        await send(saveUrl, '127.0.4.1', encode({ ...fields, ...filled(`links ${k}`, `${urls(15)} ${k}`), homepage: 'http://' }));
      }));
      return { sent: 20, mark: 'links ' };
    },
    // A fresh form for each post, every post 2 s after the last, one address.
    '30 posts from one address, 2 s apart': async () => {
      await Promise.all(Array.from({ length: 30 }, async (_, k) => {
        await sleep(2000 * k);
        const fields = scrape(await send(formUrl, '127.0.5.1'));
        await sleep(3500);
        await send(saveUrl, '127.0.5.1', encode({ ...fields, ...filled(`flood ${k}`, `flood number ${k}`), homepage: 'http://' }));
      }));
      return { sent: 30, mark: 'flood ' };
    },
    // The same body 10 times, each through a fresh form from a fresh address.
    'the same body 10 times': async () => {
      await Promise.all(Array.from({ length: 10 }, async (_, k) => {
        await sleep(1000 * k);
        const fields = scrape(await send(formUrl, `127.0.6.${k + 1}`));
        await sleep(3500);
        await send(saveUrl, `127.0.6.${k + 1}`, encode({ ...fields, ...filled(`same ${k}`, 'Visit our shop for the best prices'), homepage: 'http://' }));
      }));
      return { sent: 10, mark: 'same ' };
    },
  };

  // People: Korean typed at a person's pace in Chromium, from 127.0.0.1.
  const people = async () => {
    const browser = await launchBrowser();
    t.after(() => browser.close());
    const page = await browser.newPage();
    page.on('dialog', (dialog) => dialog.accept());
    const log = [];
    const compose = async (subject, body, onForm) => {
      const loaded = Date.now();
      await page.goto(formUrl);
      assert.equal(await page.locator('input[name=website]').isVisible(), false, 'the honeypot is not shown');
      assert.equal(await page.locator('input[name=token]').count(), 1);
      await page.type('input[name=name]', '김민지', { delay: 150 });
      await page.type('input[name=subject]', subject, { delay: 150 });
      await page.type('textarea[name=body]', body, { delay: 60 });
      await sleep(Math.max(0, onForm - (Date.now() - loaded)));
      await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit]')]);
      const stored = (await page.content()).includes(body.split('\n')[0]);
      log.push([`${subject} (${Math.round((Date.now() - loaded) / 1000)} s on the form)`, stored]);
      return stored;
    };
    assert.ok(await compose('첫 인사', '안녕하세요. 이 게시판에 처음 글을 남깁니다.', 6000));
    await sleep(15000 - 6000);
    assert.ok(await compose('링크 하나', '자세한 내용은 http://example.org/guide 에 있습니다.', 5000));
    // The edit round trip: password, the edit form's own token, a person's pace.
    await page.goto(`${base}/ListPage.exe?BoardNum=1&TextNum=0`);
    const link = page.locator('a', { hasText: '첫 인사' });
    await Promise.all([page.waitForURL(/ShowPage\.exe/), link.click()]);
    const editForm = page.locator('form[action*="EditPage.exe"]');
    await editForm.locator('input[name=password]').fill(password);
    await Promise.all([page.waitForURL(/EditPage\.exe/), editForm.locator('input[type=submit]').click()]);
    assert.equal(await page.locator('input[name=token]').count(), 1, 'the edit form carries its own token');
    assert.equal(await page.locator('input[name=website]').isVisible(), false);
    await page.fill('textarea[name=body]', '');
    await page.type('textarea[name=body]', '고쳐 쓴 인사입니다.', { delay: 120 });
    await sleep(2000);
    await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit][value="글 올리기"]')]);
    const edited = (await page.content()).includes('고쳐 쓴 인사입니다.');
    log.push(['an edit with the password', edited]);
    assert.ok(edited);
    await page.screenshot({ path: join(output, 'spam-person-edit.png'), fullPage: true });
    return log;
  };

  const [botResults, personLog] = await Promise.all([
    Promise.all(Object.entries(bots).map(async ([name, run]) => [name, await run()])),
    people(),
  ]);
  const subjects = await storedSubjects(dir);
  const lines = ['| case | sent | stored |', '|---|---:|---:|'];
  const stored = {};
  for (const [name, { sent, mark }] of botResults) {
    stored[name] = subjects.filter((s) => s.startsWith(mark)).length;
    lines.push(`| bot: ${name} | ${sent} | ${stored[name]} |`);
  }
  for (const [what, ok] of personLog) lines.push(`| person: ${what} | 1 | ${ok ? 1 : 0} |`);
  const table = lines.join('\n') + '\n';
  await writeFile(join(output, 'spam-run.md'), table);
  console.log(table);

  assert.equal(stored['direct POST of the five fields'], 0);
  assert.equal(stored['scraper filling every field, posting in under a second'], 0);
  assert.equal(stored['one filled form replayed 20 times'], 1);
  assert.equal(stored['15 URLs in the body through the form at human speed'], 0);
  assert.equal(stored['30 posts from one address, 2 s apart'], 5);
  assert.equal(stored['the same body 10 times'], 1);
});
