// Harness for the browser and load suites.
//
//   startSite(options = {}) -> Promise<{ baseUrl, root, password, listUrl(board), stop() }>
//     Lays out a scratch site in a fresh temporary directory: cgi-bin/NAME.exe
//     copied from the programs in $GESIPAN_BIN, cgi-bin/GuestBook.conf
//     (board "1 title1.gif", password `password`), Image/ drawn by
//     $GESIPAN_BIN/make_images, boards/1/; then serves it with lighttpd -D on
//     a free 127.0.0.1 port, configured from deploy/lighttpd.conf.in.
//     options.password overrides the password; options.boards lists extra
//     config lines such as "2 title1.gif" (their boards/N/ are made too).
//     stop() ends lighttpd and removes the directory (kept when
//     GESIPAN_KEEP_SITE is set).
//   launchBrowser() -> Promise<Browser>
//     playwright-core Browser on /usr/bin/chromium, headless, with a fresh
//     profile directory; never downloads a browser.
import { spawn } from 'node:child_process';
import { mkdtemp, mkdir, copyFile, readFile, writeFile, rm, access } from 'node:fs/promises';
import { constants } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import net from 'node:net';

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, '..', '..');
const programs = ['ListPage', 'ShowPage', 'FormPage', 'SavePage', 'EditPage', 'DropPage'];

function binDir() {
  const bin = process.env.GESIPAN_BIN;
  if (!bin) throw new Error('GESIPAN_BIN must name the directory of the built programs');
  return bin;
}

function run(command, args) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { stdio: ['ignore', 'ignore', 'pipe'] });
    let err = '';
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('exit', (code) => code === 0 ? resolve()
      : reject(new Error(`${command} exited ${code}: ${err}`)));
  });
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function waitForPort(port, child, ms = 10000) {
  const deadline = Date.now() + ms;
  return new Promise((resolve, reject) => {
    const attempt = () => {
      if (child.exitCode !== null) return reject(new Error(`lighttpd exited ${child.exitCode}`));
      const socket = net.connect(port, '127.0.0.1');
      socket.once('connect', () => { socket.destroy(); resolve(); });
      socket.once('error', () => {
        socket.destroy();
        if (Date.now() > deadline) reject(new Error('lighttpd did not start listening'));
        else setTimeout(attempt, 50);
      });
    };
    attempt();
  });
}

export async function startSite(options = {}) {
  const bin = binDir();
  const password = options.password ?? 'testpass1';
  const extraBoards = options.boards ?? [];
  const root = await mkdtemp(join(tmpdir(), 'gesipan-site-'));
  await mkdir(join(root, 'cgi-bin'));
  await mkdir(join(root, 'Image'));
  await mkdir(join(root, 'boards', '1'), { recursive: true });
  for (const line of extraBoards) {
    await mkdir(join(root, 'boards', line.split(/\s+/)[0]), { recursive: true });
  }
  for (const name of programs) {
    const source = join(bin, name);
    try { await access(source, constants.X_OK); } catch { continue; }
    await copyFile(source, join(root, 'cgi-bin', `${name}.exe`), 0);
    await run('chmod', ['755', join(root, 'cgi-bin', `${name}.exe`)]);
  }
  await run(join(bin, 'make_images'), [join(root, 'Image')]);
  const conf = ['BASE_DIR /', `BBS_DIR ${root}/boards/`, 'EMAIL admin@localhost',
    `Password ${password}`, '1 title1.gif', ...extraBoards].join('\n') + '\n';
  await writeFile(join(root, 'cgi-bin', 'GuestBook.conf'), conf);

  const template = await readFile(join(repo, 'deploy', 'lighttpd.conf.in'), 'utf8');
  const config = join(root, 'lighttpd.conf');
  let port;
  let child;
  // Another process may take the free port before lighttpd binds it; retry.
  for (let attempt = 1; ; attempt++) {
    port = await freePort();
    await writeFile(config, template.replaceAll('@PORT@', String(port)).replaceAll('@ROOT@', root));
    child = spawn('lighttpd', ['-D', '-f', config], { stdio: ['ignore', 'ignore', 'pipe'] });
    let serverErr = '';
    child.stderr.on('data', (d) => { serverErr += d; });
    try {
      await waitForPort(port, child);
      break;
    } catch (e) {
      child.kill('SIGTERM');
      if (attempt >= 3) {
        await rm(root, { recursive: true, force: true });
        throw new Error(`${e.message}\n${serverErr}`);
      }
    }
  }
  const baseUrl = `http://127.0.0.1:${port}`;
  return {
    baseUrl,
    root,
    password,
    listUrl: (board = 1) => `${baseUrl}/cgi-bin/ListPage.exe?BoardNum=${board}&TextNum=0`,
    async stop() {
      if (child.exitCode === null) {
        const exited = new Promise((resolve) => child.once('exit', resolve));
        child.kill('SIGTERM');
        await exited;
      }
      if (!process.env.GESIPAN_KEEP_SITE) await rm(root, { recursive: true, force: true });
    },
  };
}

export async function launchBrowser() {
  const { chromium } = await import('playwright-core');
  // Playwright gives every launch its own fresh temporary --user-data-dir
  // (and refuses one passed in args), removed again on close().
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}
