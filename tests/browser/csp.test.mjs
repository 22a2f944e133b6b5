// The security headers as a second wall behind the markup filter: script
// planted straight into a board's files and shown past the filter runs
// nowhere, while the message page's two confirm dialogs still work. Through
// both servers.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { readFile, writeFile, chmod } from 'node:fs/promises';
import { join } from 'node:path';
import { startSite, launchBrowser, servers, boardSettled, httpRequest } from './site.mjs';

function request(url, options = {}) {
  return httpRequest(url, options).then((r) => ({ status: r.status, headers: r.headers, body: r.bytes }));
}

// A record field rewritten in place: NUL-padded, as the store keeps them.
function putField(record, offset, width, text) {
  const bytes = Buffer.alloc(width);
  bytes.write(text, 'latin1');
  bytes.copy(record, offset);
}

const plantedBody = '<script>window.__xss=1;alert(1)</script>\n'
  + '<img src=x onerror="window.__xss=2;alert(2)">\n'
  + '<a id=planted href="javascript:window.__xss=3;alert(3)">planted link</a>\n'
  + '<b onmouseover="window.__xss=4;alert(4)" id=hover>hover here</b>\n';

// The message page as if the filter had let the planted files through: the
// real ShowPage's page with the body file and the record's subject put raw
// right after <body>. Served like the programs, so with the server's headers.
function unfilteredPage(board) {
  return `#!/bin/sh
./ShowPage.exe | awk '{ print } /^<body/ {
  while ((getline line < "${board}/guestbook1.html") > 0) print line
  print subject }' subject="$(dd if=${board}/guestbook.dat bs=1 skip=240 count=80 2>/dev/null | tr -d '\\000')"
`;
}

function directives(policy) {
  return new Map(policy.split(';').map((d) => d.trim().split(/\s+/)).filter((d) => d[0]).map((d) => [d[0], d.slice(1)]));
}

for (const server of servers) test(`planted script runs nowhere, the confirm dialogs still work (${server})`, async (t) => {
  const site = await startSite({ server });
  t.after(() => site.stop());
  const save = `${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`;
  assert.equal((await request(save, { method: 'POST', body: 'name=Mallory&email=&homepage=&subject=plain&body=plain' })).status, 200);

  // Past the filter: straight into the record and the body file.
  const board = join(site.root, 'boards', '1');
  await boardSettled(board);
  const index = await readFile(join(board, 'guestbook.dat'));
  const record = index.subarray(125, 125 + 410);
  putField(record, 115, 80, '<img src=x onerror="window.__xss=5;alert(5)">');
  await writeFile(join(board, 'guestbook.dat'), index);
  await writeFile(join(board, 'guestbook1.html'), plantedBody);
  const showUrl = `${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`;
  // The servers run the six programs' names only: the raw page stands in
  // for FormPage, which this test needs no further.
  const unfiltered = join(site.root, 'cgi-bin', 'FormPage.exe');
  await writeFile(unfiltered, unfilteredPage(board));
  await chmod(unfiltered, 0o755);
  const rawUrl = `${site.baseUrl}/cgi-bin/FormPage.exe?BoardNum=1&TextNum=1`;

  // The two handlers' hashes, computed from the page as it goes out: EUC-KR
  // bytes, which a browser decodes and hashes as the UTF-8 of their text.
  const shown = await request(showUrl);
  const text = new TextDecoder('euc-kr').decode(shown.body);
  const handlers = [...text.matchAll(/OnSubmit="([^"]*)"/g)].map((m) => m[1]);
  assert.deepEqual(handlers, ["return confirm('확실히 지우시겠습니까?')", "return confirm('확실히 수정하시겠습니까?')"]);
  const hashes = handlers.map((h) => `'sha256-${createHash('sha256').update(h, 'utf8').digest('base64')}'`);
  const policy = shown.headers['content-security-policy'];
  assert.ok(policy, 'the message page carries a Content-Security-Policy');
  const d = directives(policy);
  assert.deepEqual([...d.get('script-src')].sort(), ["'unsafe-hashes'", ...hashes].sort());
  assert.deepEqual(d.get('default-src'), ["'self'"]);
  assert.deepEqual(d.get('object-src'), ["'none'"]);
  assert.deepEqual(d.get('base-uri'), ["'none'"]);
  assert.deepEqual(d.get('form-action'), ["'self'"]);
  assert.deepEqual(d.get('frame-ancestors'), ["'self'"]);

  // Every response carries the same headers: pages, images, refusals, misses.
  for (const url of [showUrl, site.listUrl(1), `${site.baseUrl}/cgi-bin/FormPage.exe?BoardNum=1&TextNum=-1`,
    `${site.baseUrl}/Image/title1.gif`, `${site.baseUrl}/cgi-bin/GuestBook.conf`,
    `${site.baseUrl}/boards/1/guestbook.dat`, `${site.baseUrl}/Image/missing.gif`]) {
    const res = await request(url);
    assert.equal(res.headers['content-security-policy'], policy, url);
    assert.equal(res.headers['x-content-type-options'], 'nosniff', url);
    assert.equal(res.headers['referrer-policy'], 'same-origin', url);
  }

  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();
  const dialogs = [];
  let answer = 'dismiss';
  page.on('dialog', (dialog) => { dialogs.push(dialog.message()); dialog[answer](); });
  const refusals = [];
  page.on('console', (m) => { if (/Content Security Policy/.test(m.text())) refusals.push(m.text()); });

  for (const url of [site.listUrl(1), showUrl, rawUrl]) {
    await page.goto(url);
    await page.waitForTimeout(200);
    assert.equal(await page.evaluate(() => window.__xss), undefined, url);
  }
  // The planted elements are there, only powerless.
  assert.match((await request(rawUrl)).headers['content-security-policy'], /script-src/);
  assert.equal(await page.locator('script').count(), 1);
  await page.locator('#planted').click({ timeout: 2000 });
  await page.locator('#hover').hover({ timeout: 2000 });
  // The body's image and the one planted as the subject.
  assert.equal(await page.locator('img[onerror]').count(), 2);
  await page.waitForTimeout(200);
  assert.equal(await page.evaluate(() => window.__xss), undefined);
  assert.equal(page.url(), rawUrl);
  assert.deepEqual(dialogs, []);
  assert.ok(refusals.length >= 4, `the policy refused the planted script: ${refusals.length} refusals`);

  // The erase form asks first; declined, nothing is sent.
  let dropForm = page.locator('form[action*="DropPage.exe"]');
  await dropForm.locator('input[name=password]').fill(site.password);
  await dropForm.locator('input[type=submit]').click();
  await page.waitForTimeout(300);
  assert.deepEqual(dialogs, ['확실히 지우시겠습니까?']);
  assert.equal(page.url(), rawUrl);

  // The edit form asks too; agreed, the form goes out.
  answer = 'accept';
  const editForm = page.locator('form[action*="EditPage.exe"]');
  await editForm.locator('input[name=password]').fill(site.password);
  await Promise.all([page.waitForURL(/EditPage\.exe/), editForm.locator('input[type=submit]').click()]);
  assert.deepEqual(dialogs, ['확실히 지우시겠습니까?', '확실히 수정하시겠습니까?']);
  assert.equal(await page.inputValue('input[name=name]'), 'Mallory');

  await page.goto(rawUrl);
  dropForm = page.locator('form[action*="DropPage.exe"]');
  await dropForm.locator('input[name=password]').fill(site.password);
  await Promise.all([page.waitForURL(/DropPage\.exe/), dropForm.locator('input[type=submit]').click()]);
  assert.equal(dialogs.length, 3);
  assert.match(await page.content(), /Successfully removed\./);
  assert.equal(await page.evaluate(() => window.__xss), undefined);
});
