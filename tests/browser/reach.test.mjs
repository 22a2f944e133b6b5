// Only the six pages are reachable: the operator's tool, the configuration,
// the directory and made-up names under cgi-bin/ answer 403 or 404 and
// change nothing, through lighttpd and through Apache enabled the Debian
// way beside Debian's serve-cgi-bin, in both orders, and through nginx; each with
// the CGI programs and with the responder.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFile, readdir, readFile, writeFile, chmod } from 'node:fs/promises';
import { join } from 'node:path';
import { execFileSync } from 'node:child_process';
import { startSite, postMessage, boardSettled, httpRequest } from './site.mjs';

function request(url, method = 'GET', body = undefined) {
  return httpRequest(url, { method, body }).then((r) => ({ status: r.status, body: r.bytes.toString('latin1') }));
}

// Every file under boards/ with its bytes.
async function snapshot(dir) {
  const entries = {};
  for (const entry of await readdir(dir, { recursive: true, withFileTypes: true })) {
    if (!entry.isFile()) continue;
    const path = join(entry.parentPath ?? entry.path, entry.name);
    entries[path] = (await readFile(path)).toString('base64');
  }
  return entries;
}

const cases = [
  ['GET', 'gesipan'],
  ['GET', 'gesipan?check'],
  ['GET', 'gesipan?repair+--orphans+1'],
  ['POST', 'gesipan?import+2', 'export'],
  ['POST', 'gesipan', 'repair --orphans 1'],
  ['GET', 'GuestBook.conf'],
  ['GET', 'GuestBook.conf?x=1'],
  ['POST', 'GuestBook.conf', 'a=b'],
  ['GET', ''],
  ['GET', '?repair+1'],
  ['POST', '', 'a=b'],
  ['GET', 'no-such-program'],
  ['GET', 'no-such-program.exe?BoardNum=1'],
  ['POST', 'Gesipan.exe?import+2', 'export'],
  ['GET', 'ListPage.exe/../gesipan?check'],
  ['GET', 'ListPage.exe/extra?BoardNum=1&TextNum=0'],
];

// Each with the CGI programs and with the responder behind it.
const reachSetups = [['lighttpd'], ['debian-apache', 'gesipan'], ['debian-apache', 'zz-gesipan'], ['nginx']]
  .flatMap(([server, confName]) => ['cgi', 'fastcgi'].map((mode) => [server, confName, mode]));
for (const [server, confName, mode] of reachSetups) {
  test(`${server}${confName ? ` (${confName}.conf)` : ''}, ${mode}: the six pages run, nothing else in cgi-bin/ answers`, async (t) => {
    const site = await startSite({ server, confName, mode, boards: ['2 title1.gif'] });
    t.after(() => site.stop());
    const bin = process.env.GESIPAN_BIN;
    // The old layout's tool where a server might run it, and a leftover body
    // file that "repair --orphans" would move aside.
    await copyFile(join(bin, 'gesipan'), join(site.root, 'cgi-bin', 'gesipan'));
    await chmod(join(site.root, 'cgi-bin', 'gesipan'), 0o755);
    assert.equal(await postMessage(site, { name: 'Kim', email: '', homepage: '', subject: 'Kept', body: 'b' }), 200);
    await boardSettled(join(site.root, 'boards', '1'));
    const leftover = join(site.root, 'boards', '1', 'guestbook9.html');
    await writeFile(leftover, 'left over');
    if (process.getuid() === 0) execFileSync('chown', ['www-data:www-data', leftover]);
    const exported = execFileSync(join(bin, 'gesipan'), ['--conf', join(site.root, 'cgi-bin', 'GuestBook.conf'), 'export', '1']);
    const before = await snapshot(join(site.root, 'boards'));

    for (const [method, path, body] of cases) {
      const answer = await request(`${site.baseUrl}/cgi-bin/${path}`, method, body === 'export' ? exported.toString('latin1') : body);
      assert.ok([403, 404].includes(answer.status), `${method} cgi-bin/${path}: ${answer.status}`);
      assert.doesNotMatch(answer.body, /Password|board \d+:|BBS_DIR/, `${method} cgi-bin/${path}`);
    }
    assert.deepEqual(await snapshot(join(site.root, 'boards')), before);

    // The six still answer.
    for (const page of ['ListPage.exe?BoardNum=1&TextNum=0', 'ShowPage.exe?BoardNum=1&TextNum=1', 'FormPage.exe?BoardNum=1',
      'EditPage.exe?BoardNum=1&TextNum=1']) {
      const answer = await request(`${site.baseUrl}/cgi-bin/${page}`);
      assert.equal(answer.status, 200, page);
      assert.match(answer.body, /<html>/, page);
    }
    assert.match((await request(site.listUrl(1))).body, /Kept/);
    assert.equal((await request(`${site.baseUrl}/cgi-bin/DropPage.exe?BoardNum=1&TextNum=1`, 'POST', 'password=wrong')).status, 200);
    assert.equal((await request(`${site.baseUrl}/Image/title1.gif`)).status, 200);
  });
}
