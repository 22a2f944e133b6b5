// A visitor's whole walk through a board in headless Chromium: post in
// Korean, read, edit, fail and succeed at erasing; through lighttpd, Apache
// and nginx, each with the responder and with one process a request.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdir, readFile } from 'node:fs/promises';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { startSite, launchBrowser, setups } from './site.mjs';

const output = join(dirname(fileURLToPath(import.meta.url)), 'output');

function readCount(text) {
  const m = text.match(/읽은횟수 <\/font><\/th><td>\s*(\d+)<\/td>/);
  assert.ok(m, 'message page shows a read count');
  return Number(m[1]);
}

const here = dirname(fileURLToPath(import.meta.url));
const deploy = join(here, '..', '..', 'deploy');

// The headers every set-up sends: those of the lighttpd configuration.
async function expectedHeaders() {
  const text = await readFile(join(deploy, 'lighttpd.conf.in'), 'utf8');
  const headers = {};
  for (const m of text.matchAll(/^\s*"([A-Za-z-]+)" => "([^"]+)",?$/gm)) headers[m[1].toLowerCase()] = m[2];
  assert.ok(headers['content-security-policy'], 'the lighttpd configuration has a policy');
  return headers;
}

for (const { server, mode } of setups) test(`a visitor posts, reads, edits and erases a message (${server}, ${mode})`, async (t) => {
  await mkdir(output, { recursive: true });
  const site = await startSite({ server, mode });
  t.after(() => site.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();
  // Both forms ask for confirmation; the visitor agrees.
  page.on('dialog', (dialog) => dialog.accept());

  // Chromium decodes by the server's charset=EUC-KR; check that it is declared.
  const first = await page.goto(site.listUrl(1));
  assert.equal(first.headers()['content-type'], 'text/html; charset=EUC-KR');
  const headers = await expectedHeaders();
  for (const [name, value] of Object.entries(headers)) assert.equal(first.headers()[name], value, name);
  // The password and the raw store are not to be had, and the refusal
  // carries the headers too.
  for (const path of ['/cgi-bin/GuestBook.conf', '/boards/1/guestbook.dat', '/cgi-bin/', '/']) {
    const refused = await page.request.get(site.baseUrl + path);
    assert.equal(refused.status(), 403, path);
    assert.equal(refused.headers()['x-content-type-options'], 'nosniff', path);
  }
  assert.match(await page.content(), /There is no data file!!!/);
  assert.match(await page.content(), /방명록을 작성하셔야만 합니다!!!/);
  // The images are served and decoded as pictures.
  const posting = page.locator('img[src="/Image/posting.gif"]');
  assert.ok(await posting.evaluate((img) => img.complete && img.naturalWidth > 0));

  await posting.click();
  await page.waitForURL(/FormPage\.exe\?BoardNum=1&TextNum=-1/);
  await page.fill('input[name=name]', '홍길동');
  await page.fill('input[name=email]', 'hong@example.org');
  await page.fill('input[name=subject]', '첫 인사');
  await page.fill('textarea[name=body]', '안녕하세요.\n두 번째 줄입니다.');
  await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit]')]);

  // The stored message is shown back in Korean, so the browser sent EUC-KR.
  let text = await page.content();
  assert.match(text, /안녕하세요\./);
  assert.match(text, /두 번째 줄입니다\./);

  await page.goto(site.listUrl(1));
  text = await page.content();
  assert.doesNotMatch(text, /There is no data file/);
  assert.match(text, /홍길동/);
  // The raw page carries the name as EUC-KR bytes (홍길동 = C8AB B1E6 B5BF).
  const raw = await (await page.request.get(site.listUrl(1))).body();
  assert.ok(raw.includes(Buffer.from('c8abb1e6b5bf', 'hex')), 'name stored and listed in EUC-KR');
  const link = page.locator('a[href="/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1"]');
  assert.equal(await link.innerText(), '첫 인사');
  await page.screenshot({ path: join(output, `listing-${server}-${mode}.png`), fullPage: true });

  await Promise.all([page.waitForURL(/ShowPage\.exe\?BoardNum=1&TextNum=1/), link.click()]);
  text = await page.content();
  assert.match(text, /홍길동/);
  assert.match(text, /hong@example\.org/);
  assert.match(text, /안녕하세요\./);
  const count = readCount(text);
  await page.screenshot({ path: join(output, `message-${server}-${mode}.png`), fullPage: true });
  await page.reload();
  assert.equal(readCount(await page.content()), count + 1);

  // Edit through the viewer's edit form with the password.
  const editForm = page.locator('form[action*="EditPage.exe"]');
  await editForm.locator('input[name=password]').fill(site.password);
  await Promise.all([page.waitForURL(/EditPage\.exe/), editForm.locator('input[type=submit]').click()]);
  assert.equal(await page.inputValue('input[name=subject]'), '첫 인사');
  await page.fill('input[name=subject]', '고친 인사');
  await page.fill('textarea[name=body]', '고쳐 쓴 본문입니다.');
  await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit][value="글 올리기"]')]);
  assert.match(await page.content(), /고쳐 쓴 본문입니다\./);

  await page.goto(site.listUrl(1));
  assert.equal(await link.innerText(), '고친 인사');
  await Promise.all([page.waitForURL(/ShowPage\.exe/), link.click()]);
  text = await page.content();
  assert.match(text, /고쳐 쓴 본문입니다\./);
  assert.doesNotMatch(text, /안녕하세요/);

  // A wrong password is refused and the message stays.
  const viewer = page.url();
  let dropForm = page.locator('form[action*="DropPage.exe"]');
  await dropForm.locator('input[name=password]').fill('wrongpass');
  await Promise.all([page.waitForURL(/DropPage\.exe/), dropForm.locator('input[type=submit]').click()]);
  assert.match(await page.content(), /Access denied\./);
  await page.goto(site.listUrl(1));
  assert.match(await page.content(), /고친 인사/);

  await page.goto(viewer);
  dropForm = page.locator('form[action*="DropPage.exe"]');
  await dropForm.locator('input[name=password]').fill(site.password);
  await Promise.all([page.waitForURL(/DropPage\.exe/), dropForm.locator('input[type=submit]').click()]);
  assert.match(await page.content(), /Successfully removed\./);

  await page.goto(site.listUrl(1));
  text = await page.content();
  assert.match(text, /There is no data file!!!/);
  assert.doesNotMatch(text, /고친 인사/);
});
