// Many visitors posting at once through lighttpd: the board's lock must keep
// every message, each under its own number.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { startSite } from './site.mjs';

const decoder = new TextDecoder('euc-kr');

function request(url, { method = 'GET', body } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {
      method,
      agent: false,
      headers: body === undefined ? {} : {
        'Content-Type': 'application/x-www-form-urlencoded',
        'Content-Length': Buffer.byteLength(body),
      },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, text: decoder.decode(Buffer.concat(chunks)) }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

// Walks the listing from its first page through every older-page arrow and
// returns the message numbers in the order shown.
async function listedNumbers(site) {
  const numbers = [];
  const seen = new Set();
  let url = site.listUrl(1);
  while (url && !seen.has(url)) {
    seen.add(url);
    const page = await request(url);
    assert.equal(page.status, 200);
    for (const m of page.text.matchAll(/<td bgcolor=#f0f0e0 align=center><font size=-1>(\d+)<\/font>/g)) {
      numbers.push(Number(m[1]));
    }
    const older = page.text.match(/<a href=(\/cgi-bin\/ListPage\.exe\?BoardNum=1&TextNum=\d+)><img src=\/Image\/leftarrow\.gif/);
    url = older ? site.baseUrl + older[1] : null;
  }
  return numbers;
}

test('50 posts sent at once are all listed once, numbered 1 to 50', async (t) => {
  const site = await startSite();
  t.after(() => site.stop());
  const count = 50;
  const posts = [];
  for (let i = 1; i <= count; i++) {
    // "손님 i" / "부하 시험 i" in EUC-KR, percent-encoded as a browser sends it.
    const name = `%BC%D5%B4%D4+${i}`;
    const subject = `%BA%CE%C7%CF+%BD%C3%C7%E8+${i}`;
    const body = `name=${name}&email=&homepage=http%3A%2F%2F&subject=${subject}&body=line+${i}`;
    posts.push(request(`${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, { method: 'POST', body }));
  }
  const replies = await Promise.all(posts);
  for (const reply of replies) {
    assert.equal(reply.status, 200);
    assert.doesNotMatch(reply.text, /Access denied|There is no data file/);
  }

  const numbers = await listedNumbers(site);
  assert.deepEqual([...numbers].sort((a, b) => a - b), Array.from({ length: count }, (_, i) => i + 1),
    `listed: ${numbers.join(',')}`);
  assert.deepEqual(numbers, [...numbers].sort((a, b) => b - a), 'newest first');

  // Every subject arrived whole: each post's own text appears exactly once.
  const subjects = [];
  for (const n of [1, 25, 50]) {
    const page = await request(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${n}`);
    assert.equal(page.status, 200);
    const m = page.text.match(/부하 시험 (\d+)/);
    assert.ok(m, `message ${n} shows a load-test subject`);
    subjects.push(Number(m[1]));
  }
  assert.equal(new Set(subjects).size, 3);
});
