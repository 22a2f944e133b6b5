// The site command as an owner runs it: who the server and programs run as,
// what they may change, and a board added by a configuration line; every
// server with the responder and with one program per request.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import net from 'node:net';
import { mkdtemp, readFile, writeFile, appendFile, stat, chmod, rm, readdir } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort, siteCommand, boardSettled, httpRequest, waitFor } from './site.mjs';

const repo = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const asRoot = process.getuid() === 0;
const webUid = asRoot ? Number(execFileSync('id', ['-u', 'www-data'], { encoding: 'utf8' })) : process.getuid();
const webGid = asRoot ? Number(execFileSync('id', ['-g', 'www-data'], { encoding: 'utf8' })) : process.getgid();


function request(url, body) {
  return httpRequest(url, { method: body === undefined ? 'GET' : 'POST', body })
    .then((r) => ({ status: r.status, headers: r.headers, body: r.bytes.toString('latin1') }));
}

// A post as a person sends it on a new site, where the defences are on:
// through the compose form, with its token, a few seconds after loading it.
async function postThroughForm(base, board, fields) {
  const form = (await request(`${base}/FormPage.exe?BoardNum=${board}`)).body;
  const token = form.match(/name=token value="([^"]+)"/);
  assert.ok(token, 'the compose form carries a token');
  await new Promise((resolve) => setTimeout(resolve, 3200));
  return request(`${base}/SavePage.exe?BoardNum=${board}&TextNum=-1`, `${fields}&token=${token[1]}&website=`);
}

// Runs a command from the repository to its end; resolves with its exit
// status and output.
function runToEnd(command) {
  return new Promise((resolve, reject) => {
    const child = spawn('bash', ['-c', command], { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env }, cwd: repo });
    let output = '';
    child.stdout.on('data', (d) => { output += d; });
    child.stderr.on('data', (d) => { output += d; });
    child.on('error', reject);
    child.on('exit', (code) => resolve({ code, output }));
  });
}

// Every file under `dir` with its bytes.
async function snapshot(dir) {
  const files = {};
  for (const entry of await readdir(dir, { recursive: true, withFileTypes: true })) {
    if (!entry.isFile()) continue;
    const path = join(entry.parentPath ?? entry.path, entry.name);
    files[path] = (await readFile(path)).toString('base64');
  }
  return files;
}

async function uidOf(pid) {
  const status = await readFile(`/proc/${pid}/status`, 'utf8');
  return status.match(/^Uid:\s+(\d+)\s+(\d+)/m).slice(1).map(Number);
}

// Every process below `pid`, with its real and effective user.
async function descendants(pid) {
  const all = [];
  for (const entry of await readdir('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const text = await readFile(`/proc/${entry}/stat`, 'utf8');
      const name = text.slice(text.indexOf('(') + 1, text.lastIndexOf(')'));
      const ppid = Number(text.slice(text.lastIndexOf(')') + 2).split(' ')[1]);
      all.push({ pid: Number(entry), ppid, name });
    } catch { /* ended meanwhile */ }
  }
  const found = [];
  for (let parents = [pid]; parents.length;) {
    const children = all.filter((p) => parents.includes(p.ppid));
    found.push(...children);
    parents = children.map((p) => p.pid);
  }
  for (const p of found) p.uid = await uidOf(p.pid).catch(() => null);
  return found.filter((p) => p.uid);
}

// The processes that answer requests run as the web user; only nginx's and
// Apache's parents, which open the port and answer nothing, stay root.
async function assertUnprivileged(site) {
  const processes = await descendants(site.pid);
  assert.ok(processes.length > 0, 'the site command runs a server');
  for (const p of processes) {
    if (p.ppid === site.pid && ['nginx', 'apache2'].includes(p.name)) continue;
    assert.deepEqual(p.uid, [webUid, webUid], `${p.name} (${p.pid})`);
  }
  return processes;
}

function canWriteAsWebUser(dir) {
  if (!asRoot) return null;
  try {
    execFileSync('runuser', ['-u', 'www-data', '--', 'sh', '-c', `: > "${dir}/probe" && rm "${dir}/probe"`], { stdio: 'ignore' });
    return true;
  } catch { return false; }
}

test('the site command serves as the web user, which may change the boards only; a board line adds a board', async (t) => {
  const bin = process.env.GESIPAN_BIN;
  assert.ok(bin, 'GESIPAN_BIN names the built programs');
  process.env.GESIPAN_SITE_BIN = bin;
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-sitecmd-'));
  t.after(() => rm(parent, { recursive: true, force: true }));
  const dir = join(parent, 'site');

  if (asRoot) {
    // A directory the web user cannot enter is refused before serving.
    await chmod(parent, 0o700);
    const refused = await siteCommand(dir, await freePort());
    assert.equal(refused.code, 1, refused.output);
    assert.match(refused.output, /www-data cannot reach/);
    // The configuration was written: its password is said all the same, last.
    assert.match(refused.output, /www-data cannot reach[^]*\nEditing and erasing password \(shown only now\): [A-Za-z0-9]{10}\n  change it with: .*\n$/);
  }
  await chmod(parent, 0o755);

  let port = await freePort();
  let site = await siteCommand(dir, port);
  t.after(() => site.stop());
  assert.equal(site.code, null, site.output);
  // The password comes last, below everything the command printed before
  // serving, with a word on the footer's address.
  const said = site.output.trimEnd().split('\n');
  const passwordLine = said.findIndex((line) => /^Editing and erasing password \(shown only now\): [A-Za-z0-9]{10}$/.test(line));
  if (!asRoot) assert.ok(passwordLine > said.findIndex((line) => line.startsWith('Serving with')), site.output);
  assert.equal(passwordLine >= 0, !asRoot, 'said once, by the run that wrote the configuration');
  assert.match(said.slice(said.findIndex((line) => line.startsWith('Serving with'))).join('\n'),
    /footer shows the EMAIL line of .*GuestBook\.conf/);
  // lighttpd gave up root for good; the responder and its workers never had it.
  await waitFor(async () => (await descendants(site.pid)).filter((p) => p.name === 'gesipan-fcgi').length >= 2,
    'the responder and its workers');
  const processes = await assertUnprivileged(site);
  assert.deepEqual(processes.map((p) => p.name).filter((n) => n !== 'gesipan-fcgi').sort(), ['lighttpd']);
  assert.ok(processes.filter((p) => p.name === 'gesipan-fcgi').length >= 2, 'the responder and its workers');

  const conf = await stat(join(dir, 'cgi-bin', 'GuestBook.conf'));
  if (asRoot) {
    assert.deepEqual([conf.uid, conf.gid, conf.mode & 0o777], [0, webGid, 0o640]);
    for (const d of ['', 'cgi-bin', 'Image', 'boards']) {
      const s = await stat(join(dir, d));
      assert.deepEqual([s.uid, s.mode & 0o022], [0, 0], d);
      assert.equal(canWriteAsWebUser(join(dir, d)), false, d);
    }
    assert.equal(canWriteAsWebUser(join(dir, 'boards', '1')), true);
    // The guessing limit's count, and nothing else beside the boards.
    assert.equal(canWriteAsWebUser(join(dir, 'boards', 'throttle')), true);
  } else {
    assert.equal(conf.mode & 0o077, 0);
  }
  assert.equal((await stat(join(dir, 'boards', '1'))).uid, webUid);
  // The operator's tools lie outside every directory the server serves or runs.
  for (const tool of ['gesipan', 'make_images']) {
    const s = await stat(join(dir, 'bin', tool));
    assert.deepEqual([s.uid, s.mode & 0o022], [asRoot ? 0 : process.getuid(), 0], tool);
  }
  await assert.rejects(stat(join(dir, 'cgi-bin', 'gesipan')));

  const base = `http://127.0.0.1:${port}/cgi-bin`;
  const form = 'name=Kim&email=&homepage=&subject=Hello&body=first';
  // A new site's defences are on: a bare post stores nothing, the form's does.
  assert.match((await request(`${base}/SavePage.exe?BoardNum=1&TextNum=-1`, form)).body, /Please open the form anew/);
  await assert.rejects(stat(join(dir, 'boards', '1', 'guestbook.dat')));
  assert.equal((await postThroughForm(base, 1, form)).status, 200);
  await boardSettled(join(dir, 'boards', '1'));
  assert.equal((await stat(join(dir, 'boards', '1', 'guestbook.dat'))).uid, webUid);
  // The token's secret and the ban list: read by the web user, served by no one, written by the owner.
  const secretDir = await stat(join(dir, 'secret'));
  assert.deepEqual([secretDir.uid, secretDir.mode & 0o777], [asRoot ? 0 : process.getuid(), asRoot ? 0o750 : 0o700]);
  for (const name of ['form.key', 'ban.list']) {
    const s = await stat(join(dir, 'secret', name));
    assert.deepEqual([s.uid, s.gid, s.mode & 0o777], asRoot ? [0, webGid, 0o640] : [process.getuid(), process.getgid(), 0o600], name);
    assert.equal((await request(`http://127.0.0.1:${port}/secret/${name}`)).status, 403, name);
  }
  assert.match(await readFile(join(dir, 'secret', 'form.key'), 'utf8'), /^[0-9a-f]{64}\n$/);
  assert.equal(canWriteAsWebUser(join(dir, 'secret')), asRoot ? false : null);
  assert.match((await request(`${base}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /Hello/);
  // The server refuses an over-size body itself; nothing is stored.
  const big = `name=Kim&email=&homepage=&subject=Big&body=${'x'.repeat(600 * 1024)}`;
  assert.equal((await request(`${base}/SavePage.exe?BoardNum=1&TextNum=-1`, big)).status, 413);
  assert.match((await request(`${base}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /Hello/);
  assert.doesNotMatch((await request(`${base}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /Big/);
  await site.stop();

  // Adding board lines and rerunning readies the boards; the owner's own
  // title image, the configuration and board 1 stay as they were.
  await writeFile(join(dir, 'Image', 'mine.gif'), 'the owner\'s picture');
  // Lines no request can reach or naming no servable image do not stop it.
  await appendFile(join(dir, 'cgi-bin', 'GuestBook.conf'), '2 title2.gif\n15 mine.gif\n07 title7.gif\n3 ../evil.gif\n');
  const confBefore = await readFile(join(dir, 'cgi-bin', 'GuestBook.conf'));
  const title1 = await readFile(join(dir, 'Image', 'title1.gif'));
  const key = await readFile(join(dir, 'secret', 'form.key'));
  port = await freePort();
  site = await siteCommand(dir, port);
  assert.equal(site.code, null, site.output);
  assert.doesNotMatch(site.output, /password/i);
  assert.deepEqual(await readFile(join(dir, 'cgi-bin', 'GuestBook.conf')), confBefore);
  assert.equal(await readFile(join(dir, 'Image', 'mine.gif'), 'utf8'), 'the owner\'s picture');
  assert.deepEqual(await readFile(join(dir, 'Image', 'title1.gif')), title1);
  assert.deepEqual(await readFile(join(dir, 'secret', 'form.key')), key, 'the secret stays: forms served before still post');
  const title2 = await readFile(join(dir, 'Image', 'title2.gif'));
  assert.equal(title2.subarray(0, 6).toString(), 'GIF89a');
  assert.notDeepEqual(title2, title1);
  for (const n of ['2', '15', '3']) assert.equal((await stat(join(dir, 'boards', n))).uid, webUid, n);
  await assert.rejects(stat(join(dir, 'boards', '07')));
  await assert.rejects(stat(join(dir, 'evil.gif')));
  assert.match(site.output, /07 title7\.gif.*skipped/);
  const newBase = `http://127.0.0.1:${port}/cgi-bin`;
  assert.equal((await postThroughForm(newBase, 2, form)).status, 200);
  assert.match((await request(`${newBase}/ListPage.exe?BoardNum=2&TextNum=0`)).body, /Hello/);
  assert.match((await request(`${newBase}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /Hello/);
  assert.equal((await request(`http://127.0.0.1:${port}/Image/title2.gif`)).status, 200);
  await site.stop();
});

test('a rerun on a port in use says so and changes nothing; --boards-only adds a board while the site serves', async (t) => {
  process.env.GESIPAN_SITE_BIN = process.env.GESIPAN_BIN;
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-sitecmd-'));
  t.after(() => rm(parent, { recursive: true, force: true }));
  await chmod(parent, 0o755);
  const dir = join(parent, 'site');
  const port = await freePort();
  const site = await siteCommand(dir, port);
  t.after(() => site.stop());
  assert.equal(site.code, null, site.output);
  const program = await stat(join(dir, 'cgi-bin', 'ListPage.exe'));
  // A new site has the phones' pages, masked addresses, feeds and the front page.
  const newConf = await readFile(join(dir, 'cgi-bin', 'GuestBook.conf'), 'utf8');
  for (const line of ['PHONE_PAGES on', 'ADDRESS_SHOWN masked', 'FEED on', 'TITLE 1 게시판 1']) {
    assert.ok(newConf.split('\n').includes(line), line);
  }
  const site1 = `http://127.0.0.1:${port}`;
  assert.match((await request(`${site1}/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0`)).body,
    /<meta name=viewport [^>]*><link rel=stylesheet href=\/Image\/gesipan\.css><link rel=alternate type=application\/atom\+xml/);
  assert.equal((await request(`${site1}/cgi-bin/FeedPage.exe?BoardNum=1`)).status, 200);
  assert.equal((await request(`${site1}/Image/gesipan.css`)).status, 200);
  const frontBefore = await httpRequest(`${site1}/`);
  assert.equal(frontBefore.status, 200);
  assert.match(frontBefore.bytes.toString('utf8'), />게시판 1<\/a><\/td><td>글 0개</);

  const rerun = await runToEnd(`bash scripts/site.sh --dir '${dir}' --port ${port}`);
  assert.equal(rerun.code, 1, rerun.output);
  assert.match(rerun.output, /already listens on 127\.0\.0\.1:\d+/);
  assert.match(rerun.output, /--boards-only --dir/);
  assert.doesNotMatch(rerun.output, /Address already in use/);
  assert.equal((await stat(join(dir, 'cgi-bin', 'ListPage.exe'))).ino, program.ino);

  await appendFile(join(dir, 'cgi-bin', 'GuestBook.conf'), '2 title2.gif\n');
  const ready = await runToEnd(`bash scripts/site.sh --boards-only --dir '${dir}'`);
  assert.equal(ready.code, 0, ready.output);
  assert.equal((await stat(join(dir, 'boards', '2'))).uid, webUid);
  assert.equal((await readFile(join(dir, 'Image', 'title2.gif'))).subarray(0, 6).toString(), 'GIF89a');
  const base = `http://127.0.0.1:${port}`;
  const form = 'name=Kim&email=&homepage=&subject=Second&body=b';
  assert.equal((await postThroughForm(`${base}/cgi-bin`, 2, form)).status, 200);
  assert.match((await request(`${base}/cgi-bin/ListPage.exe?BoardNum=2&TextNum=0`)).body, /Second/);
  assert.equal((await request(`${base}/Image/title2.gif`)).status, 200);
  // The front page follows the configuration as it stands.
  await appendFile(join(dir, 'cgi-bin', 'GuestBook.conf'), 'TITLE 2 둘째 게시판\n');
  assert.match((await httpRequest(`${base}/`)).bytes.toString('utf8'), />둘째 게시판<\/a><\/td><td>글 1개</);
  // Without a laid-out site there is nothing to ready.
  const none = await runToEnd(`bash scripts/site.sh --boards-only --dir '${join(parent, 'none')}'`);
  assert.equal(none.code, 1, none.output);
});

test("the owner's guide's restore recipe, word for word: the restored boards served, the old site untouched", async (t) => {
  process.env.GESIPAN_SITE_BIN = process.env.GESIPAN_BIN;
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-restore-'));
  t.after(() => rm(parent, { recursive: true, force: true }));
  await chmod(parent, 0o755);
  const oldDir = join(parent, 'old');
  const newDir = join(parent, 'new');
  const backup = join(parent, 'site-backup.tar.gz');

  // Several boards: a site of one board restored as any other.
  let oldPort = await freePort();
  let old = await siteCommand(oldDir, oldPort);
  t.after(() => old.stop());
  assert.equal(old.code, null, old.output);
  const password = old.output.match(/shown only now\): ([A-Za-z0-9]{10})/)[1];
  await old.stop();
  await appendFile(join(oldDir, 'cgi-bin', 'GuestBook.conf'), '2 title2.gif\n3 title3.gif\n');
  oldPort = await freePort();
  old = await siteCommand(oldDir, oldPort);
  t.after(() => old.stop());
  assert.equal(old.code, null, old.output);
  const form = (subject) => `name=Kim&email=&homepage=&subject=${subject}&body=${subject}`;
  assert.equal((await postThroughForm(`http://127.0.0.1:${oldPort}/cgi-bin`, 1, form('Before'))).status, 200);
  assert.equal((await postThroughForm(`http://127.0.0.1:${oldPort}/cgi-bin`, 3, form('Third'))).status, 200);
  await old.stop();
  const oldFiles = await snapshot(oldDir);

  const guide = await readFile(join(repo, 'docs', 'owner.md'), 'utf8');
  const block = guide.split('<!-- restore recipe')[1].split('```')[1];
  const lines = block.split('\n').filter((line) => line.trim() !== '');
  assert.equal(lines.length, 4, block);
  const newPort = await freePort();
  const ours = (line) => line.replaceAll('/srv/site2', newDir).replaceAll('/srv/site', oldDir)
    .replaceAll('/root/site-backup.tar.gz', backup).replaceAll('8081', String(newPort));
  for (const line of lines.slice(0, -1)) {
    const step = await runToEnd(ours(line));
    assert.equal(step.code, 0, `${line}\n${step.output}`);
  }
  // Without being told, the site command refuses the copied configuration.
  const confBefore = await readFile(join(newDir, 'cgi-bin', 'GuestBook.conf'));
  const refused = await runToEnd(`bash scripts/site.sh --dir '${newDir}' --port ${newPort}`);
  assert.equal(refused.code, 1, refused.output);
  assert.match(refused.output, new RegExp(`BBS_DIR ${newDir}/boards/`));
  assert.match(refused.output, /--boards-here/);
  assert.deepEqual(await readFile(join(newDir, 'cgi-bin', 'GuestBook.conf')), confBefore);

  const restored = await siteCommand(newDir, newPort, ours(lines.at(-1)));
  t.after(() => restored.stop());
  assert.equal(restored.code, null, restored.output);
  const base = `http://127.0.0.1:${newPort}/cgi-bin`;
  assert.match((await request(`${base}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /Before/);
  assert.match((await request(`${base}/ListPage.exe?BoardNum=3&TextNum=0`)).body, /Third/);
  // The restored site signs its forms with the restored secret, not the old site's.
  assert.match(await readFile(join(newDir, 'cgi-bin', 'GuestBook.conf'), 'utf8'), /^FORM_TOKEN \.\.\/secret\/form\.key 3$/m);
  assert.deepEqual(await readFile(join(newDir, 'secret', 'form.key')), await readFile(join(oldDir, 'secret', 'form.key')));
  assert.equal((await postThroughForm(base, 1, form('After'))).status, 200);
  assert.match((await request(`${base}/ListPage.exe?BoardNum=1&TextNum=0`)).body, /After/);
  assert.match((await request(`${base}/EditPage.exe?BoardNum=1&TextNum=2`, `password=${password}`)).body, /<textarea/);
  assert.deepEqual(await snapshot(oldDir), oldFiles);
  const conf = await readFile(join(newDir, 'cgi-bin', 'GuestBook.conf'), 'utf8');
  assert.match(conf, new RegExp(`^BBS_DIR ${newDir}/boards/$`, 'm'));
  assert.equal(conf.match(/^Password .*$/m)[0], confBefore.toString().match(/^Password .*$/m)[0]);
  if (asRoot) {
    const s = await stat(join(newDir, 'cgi-bin', 'GuestBook.conf'));
    assert.deepEqual([s.uid, s.gid, s.mode & 0o777], [0, webGid, 0o640]);
  }
});

test('every server, with the responder and with one program per request: unprivileged, its headers and size limit, nothing left after it stops', async (t) => {
  process.env.GESIPAN_SITE_BIN = process.env.GESIPAN_BIN;
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-servers-'));
  t.after(() => rm(parent, { recursive: true, force: true }));
  await chmod(parent, 0o755);
  const lighttpd = await readFile(join(repo, 'deploy', 'lighttpd.conf.in'), 'utf8');
  const policy = lighttpd.match(/"Content-Security-Policy" => "([^"]+)"/)[1];
  for (const server of ['lighttpd', 'nginx', 'apache']) {
    for (const cgi of [false, true]) {
      const what = `${server}${cgi ? ' --cgi' : ''}`;
      // A site of its own: the posting limit counts posts per address.
      const dir = join(parent, `${server}${cgi ? '-cgi' : ''}`);
      const port = await freePort();
      const site = await siteCommand(dir, port, null, ['--server', server, ...(cgi ? ['--cgi'] : [])]);
      t.after(() => site.stop());
      assert.equal(site.code, null, `${what}: ${site.output}`);
      assert.match(site.output, new RegExp(`Serving with ${server}, ${cgi ? 'one program per request' : 'the FastCGI responder'}`));
      const base = `http://127.0.0.1:${port}`;
      const subject = `${server}${cgi ? 'Cgi' : 'Fcgi'}`;
      const posted = await postThroughForm(`${base}/cgi-bin`, 1, `name=Kim&email=&homepage=&subject=${subject}&body=b`);
      assert.equal(posted.status, 200, what);
      const listing = await request(`${base}/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0`);
      assert.equal(listing.headers['content-type'], 'text/html; charset=EUC-KR', what);
      assert.equal(listing.headers['content-security-policy'], policy, what);
      assert.equal(listing.headers['x-content-type-options'], 'nosniff', what);
      assert.equal(listing.headers['referrer-policy'], 'same-origin', what);
      assert.match(listing.body, new RegExp(subject), what);
      for (const path of ['/cgi-bin/GuestBook.conf', '/bin/gesipan', '/boards/1/guestbook.dat', '/run/gesipan.sock']) {
        assert.equal((await request(base + path)).status, 403, `${what}: ${path}`);
      }
      // The server may answer and close before the whole body is sent.
      const big = `name=Kim&email=&homepage=&subject=Big&body=${'x'.repeat(600 * 1024)}`;
      const refused = await request(`${base}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, big)
        .catch((e) => { if (e.code === 'ECONNRESET' || e.code === 'EPIPE') return { status: 413 }; throw e; });
      assert.equal(refused.status, 413, what);
      const processes = await assertUnprivileged(site);
      assert.equal(processes.some((p) => p.name === 'gesipan-fcgi'), !cgi, `${what}: the responder runs`);
      await site.stop();
      for (const p of processes) await assert.rejects(stat(`/proc/${p.pid}`), `${what}: ${p.name} (${p.pid}) left running`);
      // The post was stored, the one over the size limit not.
      assert.equal((await stat(join(dir, 'boards', '1', 'guestbook.dat'))).size, 125 + 410, what);
    }
  }
});

test('what the site command says and mends: boards outside the site, however many; a configuration without the defences', async (t) => {
  process.env.GESIPAN_SITE_BIN = process.env.GESIPAN_BIN;
  const parent = await mkdtemp(join(tmpdir(), 'gesipan-sitesays-'));
  t.after(() => rm(parent, { recursive: true, force: true }));
  await chmod(parent, 0o755);
  const dir = join(parent, 'site');
  const confPath = join(dir, 'cgi-bin', 'GuestBook.conf');
  const first = await siteCommand(dir, await freePort());
  assert.equal(first.code, null, first.output);
  await first.stop();
  const original = await readFile(confPath, 'utf8');
  const defences = ['FORM_TOKEN', 'HONEYPOT', 'LINK_LIMIT', 'POST_LIMIT', 'DUPLICATE_CHECK', 'BAN_LIST'];
  const withoutLines = (text, words) => text.split('\n').filter((line) => !words.includes(line.split(' ')[0])).join('\n');
  const restoreConf = async () => { await writeFile(confPath, original); await chmod(confPath, asRoot ? 0o640 : 0o600); };

  // A configuration from another site names boards elsewhere: refused with
  // what to change, whatever the number of boards, until told.
  for (const boards of [1, 2, 5]) {
    const lines = Array.from({ length: boards }, (_, i) => `${i + 1} title${i + 1}.gif`);
    const copied = original.replace(/^BBS_DIR .*$/m, 'BBS_DIR /srv/another-site/boards/').replace(/^1 title1\.gif$/m, lines.join('\n'));
    await writeFile(confPath, copied);
    const refused = await runToEnd(`bash scripts/site.sh --boards-only --dir '${dir}'`);
    assert.equal(refused.code, 1, `${boards} boards: ${refused.output}`);
    assert.match(refused.output, new RegExp(`BBS_DIR ${dir}/boards/`), `${boards} boards`);
    assert.equal(await readFile(confPath, 'utf8'), copied, `${boards} boards: nothing changed`);
    const here = await runToEnd(`bash scripts/site.sh --boards-only --boards-here --dir '${dir}'`);
    assert.equal(here.code, 0, `${boards} boards: ${here.output}`);
    for (let n = 1; n <= boards; n++) assert.equal((await stat(join(dir, 'boards', String(n)))).uid, webUid);
  }
  await restoreConf();

  // Each case: the defences' lines kept, the options, and what must follow.
  const base = (port) => `http://127.0.0.1:${port}/cgi-bin`;
  const cases = [
    { name: 'no defence line', keep: [], options: [], warned: true, added: [], open: true },
    { name: 'one defence line', keep: ['HONEYPOT'], options: [], warned: false, added: [], open: true },
    { name: 'no defence line, --add-defences, no secrets', keep: [], options: ['--add-defences'], dropSecrets: true,
      warned: false, added: defences, open: false },
    { name: 'one defence line, --add-defences', keep: ['HONEYPOT'], options: ['--add-defences'], warned: false,
      added: defences.filter((d) => d !== 'HONEYPOT'), open: false },
    { name: 'every line, --add-defences, own address', keep: defences, options: ['--add-defences'], email: 'me@example.org',
      warned: false, added: [], open: false },
  ];
  for (const c of cases) {
    await restoreConf();
    let text = withoutLines(original, defences.filter((d) => !c.keep.includes(d)));
    if (c.email) text = text.replace(/^EMAIL .*$/m, `EMAIL ${c.email}`);
    await writeFile(confPath, text);
    if (c.dropSecrets) await rm(join(dir, 'secret'), { recursive: true });
    const port = await freePort();
    const site = await siteCommand(dir, port, null, c.options);
    t.after(() => site.stop());
    assert.equal(site.code, null, `${c.name}: ${site.output}`);
    const warning = site.output.indexOf("none of the spam defences' lines");
    assert.equal(warning >= 0, c.warned, `${c.name}: ${site.output}`);
    if (c.warned) assert.ok(warning < site.output.indexOf('Serving with'), `${c.name}: said before serving`);
    assert.equal(/footer shows the EMAIL line/.test(site.output), !c.email, `${c.name}: ${site.output}`);
    const conf = await readFile(confPath, 'utf8');
    for (const d of defences) {
      const count = conf.split('\n').filter((line) => line.split(' ')[0] === d).length;
      assert.equal(count, c.keep.includes(d) || c.added.includes(d) ? 1 : 0, `${c.name}: ${d}`);
      assert.equal(site.output.includes(`added ${d}`), c.added.includes(d), `${c.name}: ${d} said`);
    }
    if (c.added.length) {
      const s = await stat(confPath);
      assert.deepEqual([s.uid, s.mode & 0o777], [asRoot ? 0 : process.getuid(), asRoot ? 0o640 : 0o600], `${c.name}: owner and mode kept`);
      assert.match(await readFile(join(dir, 'secret', 'form.key'), 'utf8'), /^[0-9a-f]{64}\n$/);
    }
    // A post that never loaded a form: taken as it comes without the token's line, refused with it.
    const bare = await request(`${base(port)}/SavePage.exe?BoardNum=1&TextNum=-1`,
      `name=Kim&email=&homepage=&subject=${encodeURIComponent(c.name)}&body=${encodeURIComponent(c.name)}`);
    assert.equal(/Please open the form anew/.test(bare.body), !c.open, `${c.name}: ${bare.body}`);
    await site.stop();
  }
});
