// The feed through every server, as a feed reader takes it: valid Atom
// for hostile markup, Korean and the largest body a post may carry, read
// by Debian's python3-feedparser (Debian's own python3); 304 to its validators; and the front
// page, the robots file, the icon and the stylesheet beside it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { startSite, setups, httpRequest, boardSettled } from './site.mjs';

const lines = ['FEED on', 'TITLE 1 첫 게시판'];

// feedparser's reading of `bytes`, with its own HTML sanitizer off so that
// what the feed carries is what is checked.
function parseFeed(bytes) {
  const script = `
import sys, json, feedparser
feedparser.SANITIZE_HTML = False
d = feedparser.parse(sys.stdin.buffer.read())
print(json.dumps({"bozo": d.bozo, "error": str(d.get("bozo_exception", "")), "version": d.version,
  "title": d.feed.get("title"), "entries": [{"title": e.get("title"), "author": e.get("author"),
  "link": e.get("link"), "updated": e.get("updated"), "content": e.content[0].value if e.get("content") else None}
  for e in d.entries]}))`;
  return new Promise((resolve, reject) => {
    const child = spawn('/usr/bin/python3', ['-c', script], { stdio: ['pipe', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('exit', (code) => (code === 0 ? resolve(JSON.parse(out)) : reject(new Error(`feedparser: ${err}`))));
    child.stdin.end(bytes);
  });
}

function request(url, headers = {}) {
  return httpRequest(url, { headers });
}

// Posts in the form a browser sends: fields percent-encoded EUC-KR.
async function post(site, fields) {
  const body = Object.entries(fields).map(([k, v]) => `${k}=${v}`).join('&');
  const reply = await httpRequest(`${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, { method: 'POST', body });
  assert.equal(reply.status, 200);
  await boardSettled(join(site.root, 'boards', '1'), 60000);
}

test('a feed reader reads hostile markup, Korean and the largest body', async (t) => {
  const site = await startSite({ lines });
  t.after(() => site.stop());
  const hostile = encodeURIComponent('<b>bold</b><script>alert(1)</script><img src=x onerror=alert(2)>' +
    '<a href="javascript:alert(3)">x</a><iframe src=//evil></iframe>\u0001]]>&amp;&#0;');
  // "안녕하세요" and "한국어 제목" in EUC-KR; %FF%FE starts no character.
  const korean = '%BE%C8%B3%E7%C7%CF%BC%BC%BF%E4%0A%FF%FE';
  const koreanSubject = '%C7%D1%B1%B9%BE%EE+%C1%A6%B8%F1';
  await post(site, { name: 'Mallory', email: '', homepage: '', subject: encodeURIComponent('<script>x</script>title'), body: hostile });
  await post(site, { name: '%C8%AB%B1%E6%B5%BF', email: '', homepage: '', subject: koreanSubject, body: korean });
  const head = 'name=Big&email=&homepage=&subject=Big&body=';
  const limit = 512 * 1024;
  const big = 'x'.repeat(limit - head.length);
  const reply = await httpRequest(`${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, { method: 'POST', body: head + big });
  assert.equal(reply.status, 200);
  await boardSettled(join(site.root, 'boards', '1'), 60000);

  const index = await readFile(join(site.root, 'boards', '1', 'guestbook.dat'));
  const feed = await request(`${site.baseUrl}/cgi-bin/FeedPage.exe?BoardNum=1`);
  assert.equal(feed.status, 200);
  assert.equal(feed.headers['content-type'], 'application/atom+xml; charset=utf-8');
  const parsed = await parseFeed(feed.bytes);
  assert.equal(parsed.bozo, false, parsed.error);
  assert.equal(parsed.version, 'atom10');
  assert.equal(parsed.title, '첫 게시판');
  // Titles are HTML, as the listing shows them: the tag as text.
  assert.deepEqual(parsed.entries.map((e) => e.title), ['Big', '한국어 제목', '&lt;script>x&lt;/script>title']);
  const [large, hangul, attack] = parsed.entries;
  assert.equal(hangul.author, '홍길동');
  assert.match(hangul.content, /^안녕하세요\n\uFFFD\uFFFD/);
  assert.match(hangul.link, /ShowPage\.exe\?BoardNum=1&TextNum=2$/);
  assert.ok(large.content.length >= limit - head.length, `the large body whole: ${large.content.length}`);
  // What the message page lets through, and nothing that runs.
  assert.match(attack.content, /<b>bold<\/b>/);
  for (const pattern of [/<script/i, /<[^>]*onerror/i, /<[^>]*javascript:/i, /<iframe/i]) assert.doesNotMatch(attack.content, pattern);
  assert.match(attack.content, /&lt;script>/);
  // The feed did not count as a reading.
  assert.deepEqual(await readFile(join(site.root, 'boards', '1', 'guestbook.dat')), index);
});

for (const { server, mode } of setups) test(`the feed's validators, the front page and its files (${server}, ${mode})`, async (t) => {
  const site = await startSite({ server, mode });
  t.after(() => site.stop());
  // Without the lines: no feed, and "/" refused as before.
  assert.equal((await request(`${site.baseUrl}/cgi-bin/FeedPage.exe?BoardNum=1`)).status, 404);
  assert.equal((await request(`${site.baseUrl}/`)).status, 403);
  await site.setLines(lines);
  await post(site, { name: 'Kim', email: '', homepage: '', subject: 'first', body: 'hello' });

  const feedUrl = `${site.baseUrl}/cgi-bin/FeedPage.exe?BoardNum=1`;
  const first = await request(feedUrl);
  assert.equal(first.status, 200);
  assert.equal(first.headers['content-type'], 'application/atom+xml; charset=utf-8');
  assert.equal(first.headers['x-content-type-options'], 'nosniff');
  const { etag } = first.headers;
  const modified = first.headers['last-modified'];
  assert.match(etag, /^"[0-9a-f]{32}"$/);
  for (const headers of [{ 'If-None-Match': etag }, { 'If-Modified-Since': modified }]) {
    const again = await request(feedUrl, headers);
    assert.equal(again.status, 304, JSON.stringify(headers));
    assert.equal(again.bytes.length, 0);
  }
  await post(site, { name: 'Kim', email: '', homepage: '', subject: 'second', body: 'again' });
  const changed = await request(feedUrl, { 'If-None-Match': etag });
  assert.equal(changed.status, 200);
  assert.notEqual(changed.headers.etag, etag);
  assert.equal((await parseFeed(changed.bytes)).entries.length, 2);

  const front = await request(`${site.baseUrl}/`);
  assert.equal(front.status, 200);
  assert.equal(front.headers['content-type'], 'text/html; charset=utf-8');
  const text = front.bytes.toString('utf8');
  assert.match(text, /<a href=\/cgi-bin\/ListPage\.exe\?BoardNum=1&amp;TextNum=0>첫 게시판<\/a><\/td><td>글 2개<\/td>/);
  assert.match(text, /<a href=\/cgi-bin\/FeedPage\.exe\?BoardNum=1 type=application\/atom\+xml>/);
  for (const [path, type] of [['/robots.txt', 'text/plain; charset=utf-8'], ['/favicon.ico', 'image/gif'], ['/Image/gesipan.css', 'text/css']]) {
    const file = await request(site.baseUrl + path);
    assert.equal(file.status, 200, path);
    assert.equal(file.headers['content-type'].replace(/; charset=utf-8$/i, '') , type.replace(/; charset=utf-8$/, ''), path);
  }
});
