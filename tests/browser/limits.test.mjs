// The request body limit of every server and set-up: a long message still posts, an
// over-size body is refused by the server before SavePage and stores nothing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { readFile, readdir } from 'node:fs/promises';
import { join } from 'node:path';
import { startSite, setups, boardSettled } from './site.mjs';

function post(url, body) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {
      method: 'POST',
      agent: false,
      headers: { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks) }));
    });
    // The server may answer and close before the whole body is sent.
    req.on('error', (e) => (e.code === 'EPIPE' || e.code === 'ECONNRESET' ? resolve({ status: 'reset' }) : reject(e)));
    req.end(body);
  });
}

for (const { server, mode } of setups) test(`a 100 kB message posts, a body over 512 kB is refused (${server}, ${mode})`, async (t) => {
  const site = await startSite({ server, mode });
  t.after(() => site.stop());
  const save = `${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`;
  const board = join(site.root, 'boards', '1');

  // 100 kB of Korean as a browser sends it: every EUC-KR byte as %XX.
  const korean = '%C7%D1'.repeat(50 * 1024);
  const long = await post(save, `name=Kim&email=&homepage=&subject=Long&body=${korean}`);
  assert.equal(long.status, 200);
  await boardSettled(board);
  assert.equal((await readFile(join(board, 'guestbook1.html'))).length, 100 * 1024);

  const index = await readFile(join(board, 'guestbook.dat'));
  const limit = 512 * 1024;
  const head = 'name=Kim&email=&homepage=&subject=Big&body=';
  const atLimit = await post(save, head + 'x'.repeat(limit - head.length));
  assert.equal(atLimit.status, 200);
  await boardSettled(board);
  const index2 = await readFile(join(board, 'guestbook.dat'));
  assert.equal(index2.length, index.length + 410);
  for (const size of [limit + 1, 50 * 1024 * 1024]) {
    const over = await post(save, head + 'x'.repeat(size - head.length));
    // Apache may cut a huge body short while it is still being sent.
    if (size === limit + 1) assert.equal(over.status, 413);
    else assert.ok(over.status === 413 || over.status === 'reset', `${size}: ${over.status}`);
  }
  assert.deepEqual(await readFile(join(board, 'guestbook.dat')), index2);
  assert.deepEqual((await readdir(board)).filter((f) => f.endsWith('.html')).sort(), ['guestbook1.html', 'guestbook2.html']);
});
