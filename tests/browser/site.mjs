// Harness for the browser and load suites.
//
//   startSite(options = {}) -> Promise<{ baseUrl, root, password, server, listUrl(board), stop() }>
//     Lays out a scratch site in a fresh temporary directory: cgi-bin/NAME.exe
//     copied from the programs in $GESIPAN_BIN, cgi-bin/GuestBook.conf
//     (board "1 title1.gif", password `password`), Image/ drawn by
//     $GESIPAN_BIN/make_images, boards/1/; then serves it on a free
//     127.0.0.1 port with lighttpd -D, configured from deploy/lighttpd.conf.in,
//     or with options.server 'apache': Debian's apache2 in the foreground
//     with deploy/apache-site.conf.in (docs/serving.md's configuration), or with
//     options.server 'debian-apache': a copy of Debian's /etc/apache2 with the
//     site's file enabled as docs/serving.md says (a2enmod, a2enconf, a Listen on
//     the loopback), beside Debian's serve-cgi-bin; options.confName names
//     that file ('gesipan', which sorts before serve-cgi-bin, by default).
//     options.server 'nginx' serves it with deploy/nginx-site.conf.in.
//     options.mode 'fastcgi' puts the pages behind the responder
//     ($GESIPAN_BIN/gesipan-fcgi, started by spawn-fcgi in cgi-bin/ on
//     run/gesipan.sock): lighttpd's mod_fastcgi, Apache's mod_proxy_fcgi
//     (deploy/apache-fastcgi.conf.in), nginx's fastcgi_pass. Otherwise
//     ('cgi', the default) one process a request: mod_cgi, or for nginx
//     fcgiwrap on the same socket.
//     Run as root, the site is laid out as scripts/site.sh lays it out and
//     the server and programs run as www-data.
//     options.password overrides the password; options.boards lists extra
//     config lines such as "2 title1.gif" (their boards/N/ are made too);
//     options.lines lists further config lines ("PHONE_PAGES on"); the
//     returned setLines(lines) replaces them while the site serves.
//     stop() ends the server and removes the directory (kept when
//     GESIPAN_KEEP_SITE is set).
//   servers: the servers a suite runs against, ['lighttpd', 'apache', 'nginx'].
//   setups: every server with each way of running the pages, as
//     { server, mode } for startSite.
//   waitFor(check, what, timeoutMs), childProcesses(pid): a state to wait
//     for, and the processes below one (the responder's workers).
//   launchBrowser() -> Promise<Browser>
//     playwright-core Browser on /usr/bin/chromium, headless, with a fresh
//     profile directory; never downloads a browser.
import { spawn } from 'node:child_process';
import { mkdtemp, mkdir, copyFile, readFile, readdir, writeFile, rm, access, rename } from 'node:fs/promises';
import { constants, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import net from 'node:net';
import http from 'node:http';

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, '..', '..');
const programs = ['ListPage', 'ShowPage', 'FormPage', 'SavePage', 'EditPage', 'DropPage', 'FeedPage', 'FrontPage'];

function binDir() {
  const bin = process.env.GESIPAN_BIN;
  if (!bin) throw new Error('GESIPAN_BIN must name the directory of the built programs');
  return bin;
}

function run(command, args, env = process.env) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { stdio: ['ignore', 'ignore', 'pipe'], env });
    let err = '';
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('exit', (code) => code === 0 ? resolve()
      : reject(new Error(`${command} exited ${code}: ${err}`)));
  });
}

// A port on the loopback that nothing listens on now.
// Waits until the board in `boardDir` has carried out the changes whose
// pages came back: a change's steps follow its page under the board's lock,
// and its redo record goes only once they are all on the disk.
export async function boardSettled(boardDir, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (existsSync(join(boardDir, 'guestbook.redo'))) {
    if (Date.now() > deadline) throw new Error(`${boardDir}: a committed change was not carried out`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// Waits until `check()` (which may be async) holds, at most `timeoutMs`.
export async function waitFor(check, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (!(await check())) {
    if (Date.now() > deadline) throw new Error(`not in time: ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// The processes whose parent is `pid`, by /proc.
export async function childProcesses(pid) {
  const found = [];
  for (const entry of await readdir('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const text = await readFile(`/proc/${entry}/stat`, 'utf8');
      const ppid = Number(text.slice(text.lastIndexOf(')') + 2).split(' ')[1]);
      if (ppid === pid) found.push(Number(entry));
    } catch { /* ended meanwhile */ }
  }
  return found;
}

// One HTTP request on a connection of its own; a body goes as a form;
// `headers` are sent too.
export function httpRequest(url, { method = 'GET', body, headers = {} } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {
      method,
      agent: false,
      headers: body === undefined ? headers
        : { ...headers, 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, bytes: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    req.end(body);
  });
}

export function freePort() {
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
      if (child.exitCode !== null) return reject(new Error(`server exited ${child.exitCode}`));
      const socket = net.connect(port, '127.0.0.1');
      socket.once('connect', () => { socket.destroy(); resolve(); });
      socket.once('error', () => {
        socket.destroy();
        if (Date.now() > deadline) reject(new Error('server did not start listening'));
        else setTimeout(attempt, 50);
      });
    };
    attempt();
  });
}

export const servers = ['lighttpd', 'apache', 'nginx'];
export const modes = ['fastcgi', 'cgi'];
export const setups = servers.flatMap((server) => modes.map((mode) => ({ server, mode })));

const apacheModules = {
  cgi: ['mpm_prefork', 'authz_core', 'alias', 'cgi', 'mime', 'env', 'headers'],
  fastcgi: ['mpm_event', 'authz_core', 'alias', 'mime', 'headers', 'proxy', 'proxy_fcgi', 'reqtimeout'],
};

// The server's own part of an Apache configuration around the site's part,
// which an owner adds to theirs as it stands.
function apacheConfig(root, port, user, mode) {
  const lines = [
    `ServerRoot ${root}/apache`,
    'ServerName 127.0.0.1',
    `Listen 127.0.0.1:${port}`,
    `PidFile ${root}/apache/httpd.pid`,
    `Mutex file:${root}/apache default`,
    `ErrorLog ${root}/apache/error.log`,
    `DocumentRoot ${root}/apache/empty`,
    // Without Debian's /etc/mime.types: the site serves GIF images only.
    'TypesConfig /dev/null',
    'AddType image/gif .gif',
    ...apacheModules[mode].map((m) => `LoadModule ${m}_module /usr/lib/apache2/modules/mod_${m}.so`),
    '<Directory />',
    '    AllowOverride None',
    '    Require all denied',
    '</Directory>',
  ];
  if (user) lines.push(`User ${user}`, `Group ${user}`);
  lines.push(`Include ${root}/apache/site.conf`);
  return lines.join('\n') + '\n';
}

// Debian's Apache, its configuration copied into the site so that a2enmod
// and a2enconf (which follow APACHE_CONFDIR) change the copy only.
async function debianApache(root, confName, mode) {
  const etc = join(root, 'apache');
  await run('cp', ['-a', '/etc/apache2', etc]);
  const env = {
    ...process.env,
    APACHE_CONFDIR: etc,
    APACHE_RUN_USER: 'www-data',
    APACHE_RUN_GROUP: 'www-data',
    APACHE_RUN_DIR: join(root, 'apache-run'),
    APACHE_PID_FILE: join(root, 'apache-run', 'apache2.pid'),
    APACHE_LOCK_DIR: join(root, 'apache-run'),
    APACHE_LOG_DIR: join(root, 'apache-run'),
    LANG: 'C',
  };
  await mkdir(join(root, 'apache-run', 'socks'), { recursive: true });
  const fastcgi = mode === 'fastcgi';
  await run('a2enmod', ['-q', ...(fastcgi ? ['proxy_fcgi', 'reqtimeout'] : ['cgid']), 'headers'], env);
  const site = await readFile(join(repo, 'deploy', fastcgi ? 'apache-fastcgi.conf.in' : 'apache-site.conf.in'), 'utf8');
  await writeFile(join(etc, 'conf-available', `${confName}.conf`), fillSite(site, root, 0));
  await run('a2enconf', ['-q', confName], env);
  await access(join(etc, 'conf-enabled', 'serve-cgi-bin.conf'));
  return { env, ports: join(etc, 'ports.conf'), command: ['/usr/sbin/apache2', ['-d', etc, '-DFOREGROUND']] };
}

// lighttpd's configuration as scripts/site.sh writes it.
function lighttpdConfig(template, root, port, user, mode) {
  const handler = mode === 'fastcgi' ? `fastcgi.server = (".exe" => (("socket" => "${socketOf(root)}")))`
    : 'cgi.assign = (".exe" => "")';
  let text = template.replaceAll('@ADDRESS@', '127.0.0.1').replaceAll('@PORT@', String(port))
    .replaceAll('@ROOT@', root).replaceAll('@HANDLER@', handler);
  if (user) text += `server.username  = "${user}"\nserver.groupname = "${user}"\n`;
  return text;
}

function socketOf(root) {
  return join(root, 'run', 'gesipan.sock');
}

// nginx's own part around the site's server block, as scripts/site.sh
// writes it.
function nginxConfig(root, user) {
  const lines = [
    'worker_processes 2;',
    `pid ${root}/nginx/nginx.pid;`,
    `error_log ${root}/nginx/error.log;`,
    'daemon off;',
    'events { worker_connections 256; }',
    'http {',
    '    access_log off;',
    '    types { image/gif gif; }',
    '    default_type application/octet-stream;',
    ...['client_body', 'fastcgi', 'proxy', 'scgi', 'uwsgi'].map((t) => `    ${t}_temp_path ${root}/nginx/${t};`),
    `    include ${root}/nginx/site.conf;`,
    '}',
  ];
  if (user) lines.unshift(`user ${user} ${user};`);
  return lines.join('\n') + '\n';
}

function fillSite(template, root, port) {
  return template.replaceAll('@ADDRESS@', '127.0.0.1').replaceAll('@PORT@', String(port))
    .replaceAll('@LISTEN@', `127.0.0.1:${port}`).replaceAll('@ROOT@', root).replaceAll('@SOCKET@', socketOf(root));
}

function waitForSocket(path, child, ms = 10000) {
  const deadline = Date.now() + ms;
  return new Promise((resolve, reject) => {
    const attempt = () => {
      if (child.exitCode !== null) return reject(new Error(`responder exited ${child.exitCode}`));
      const socket = net.connect(path);
      socket.once('connect', () => { socket.destroy(); resolve(); });
      socket.once('error', () => {
        socket.destroy();
        if (Date.now() > deadline) reject(new Error('responder did not start listening'));
        else setTimeout(attempt, 50);
      });
    };
    attempt();
  });
}

// The pages' FastCGI process, as scripts/site.sh starts it: the responder,
// or fcgiwrap for nginx's process-per-request set-up; spawn-fcgi hands it
// the socket as standard input and starts it in cgi-bin/ as the web user.
async function startResponder(root, user, program) {
  await mkdir(join(root, 'run'));
  const args = ['-n', '-s', socketOf(root), '-M', '0660', '-d', join(root, 'cgi-bin')];
  if (user) args.push('-u', user, '-g', user, '-U', user, '-G', user);
  const child = spawn('spawn-fcgi', [...args, '--', ...program], { stdio: ['ignore', 'ignore', 'pipe'], detached: true });
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  try {
    await waitForSocket(socketOf(root), child);
  } catch (e) {
    if (child.exitCode === null) child.kill('SIGTERM');
    throw new Error(`${program[0]}: ${e.message}\n${err}`);
  }
  return child;
}

// fcgiwrap's parent leaves its workers running when it ends: end its
// whole process group (spawned detached, it leads one).
async function stopChild(child, group = false) {
  if (child && child.exitCode === null && child.signalCode === null) {
    const exited = new Promise((resolve) => child.once('exit', resolve));
    if (group) process.kill(-child.pid, 'SIGTERM');
    else child.kill('SIGTERM');
    await exited;
  } else if (child && group) {
    try { process.kill(-child.pid, 'SIGTERM'); } catch { /* none left */ }
  }
}

export async function startSite(options = {}) {
  const bin = binDir();
  const server = options.server ?? 'lighttpd';
  const mode = options.mode ?? 'cgi';
  const password = options.password ?? 'testpass1';
  const extraBoards = options.boards ?? [];
  // As root, the site command's ownership: root's programs and images, the
  // configuration readable by the web user's group, boards the web user's.
  const user = process.getuid() === 0 ? 'www-data' : null;
  const root = await mkdtemp(join(tmpdir(), 'gesipan-site-'));
  await run('chmod', ['755', root]);
  await mkdir(join(root, 'cgi-bin'));
  await mkdir(join(root, 'Image'));
  const boardDirs = [join(root, 'boards', '1')];
  for (const line of extraBoards) boardDirs.push(join(root, 'boards', line.split(/\s+/)[0]));
  for (const dir of boardDirs) await mkdir(dir, { recursive: true });
  if (user) await run('chown', [`${user}:${user}`, ...boardDirs]);
  for (const name of programs) {
    const source = join(bin, name);
    try { await access(source, constants.X_OK); } catch { continue; }
    await copyFile(source, join(root, 'cgi-bin', `${name}.exe`), 0);
    await run('chmod', ['755', join(root, 'cgi-bin', `${name}.exe`)]);
  }
  const boardLines = ['1 title1.gif', ...extraBoards];
  await run(join(bin, 'make_images'), [join(root, 'Image'), ...boardLines.flatMap((l) => l.split(/\s+/).slice(0, 2))]);
  for (const name of ['gesipan.css', 'robots.txt']) await copyFile(join(repo, 'deploy', name), join(root, 'Image', name));
  const confPath = join(root, 'cgi-bin', 'GuestBook.conf');
  // Written beside and renamed, so that no request reads half a file.
  const writeConf = async (lines) => {
    const conf = ['BASE_DIR /', `BBS_DIR ${root}/boards/`, 'EMAIL admin@localhost',
      `Password ${password}`, ...boardLines, ...lines].join('\n') + '\n';
    await writeFile(confPath + '.new', conf, { mode: 0o600 });
    if (user) {
      await run('chown', [`root:${user}`, confPath + '.new']);
      await run('chmod', ['640', confPath + '.new']);
    }
    await rename(confPath + '.new', confPath);
  };
  await writeConf(options.lines ?? []);

  let responder = null;
  const wrapped = mode === 'cgi' && server === 'nginx';
  if (mode === 'fastcgi') {
    responder = await startResponder(root, user, [join(bin, 'gesipan-fcgi')]);
  } else if (server === 'nginx') {
    responder = await startResponder(root, user, ['/usr/sbin/fcgiwrap', '-c', '2']);
  }

  let config;
  let command;
  let writeConfig;
  let env = process.env;
  if (server === 'debian-apache') {
    const debian = await debianApache(root, options.confName ?? 'gesipan', mode);
    ({ env, command } = debian);
    config = debian.ports;
    writeConfig = (port) => writeFile(config, `Listen 127.0.0.1:${port}\n`);
  } else if (server === 'apache') {
    await mkdir(join(root, 'apache', 'empty'), { recursive: true });
    const name = mode === 'fastcgi' ? 'apache-fastcgi.conf.in' : 'apache-site.conf.in';
    const site = await readFile(join(repo, 'deploy', name), 'utf8');
    await writeFile(join(root, 'apache', 'site.conf'), fillSite(site, root, 0));
    config = join(root, 'apache', 'httpd.conf');
    command = ['/usr/sbin/apache2', ['-f', config, '-DFOREGROUND']];
    writeConfig = (port) => writeFile(config, apacheConfig(root, port, user, mode));
  } else if (server === 'nginx') {
    await mkdir(join(root, 'nginx'));
    const site = await readFile(join(repo, 'deploy', 'nginx-site.conf.in'), 'utf8');
    config = join(root, 'nginx', 'nginx.conf');
    await writeFile(config, nginxConfig(root, user));
    command = ['/usr/sbin/nginx', ['-p', join(root, 'nginx'), '-c', config]];
    writeConfig = (port) => writeFile(join(root, 'nginx', 'site.conf'), fillSite(site, root, port));
  } else {
    config = join(root, 'lighttpd.conf');
    command = ['lighttpd', ['-D', '-f', config]];
    const template = await readFile(join(repo, 'deploy', 'lighttpd.conf.in'), 'utf8');
    writeConfig = (port) => writeFile(config, lighttpdConfig(template, root, port, user, mode));
  }
  let port;
  let child;
  // Another process may take the free port before the server binds it; retry.
  for (let attempt = 1; ; attempt++) {
    port = await freePort();
    await writeConfig(port);
    // Its own process group: Apache's prefork parent signals its whole group
    // when it stops, which would take the test runner with it.
    child = spawn(command[0], command[1], { stdio: ['ignore', 'ignore', 'pipe'], detached: true, env });
    let serverErr = '';
    child.stderr.on('data', (d) => { serverErr += d; });
    try {
      await waitForPort(port, child);
      break;
    } catch (e) {
      await stopChild(child);
      if (attempt >= 3) {
        let log = '';
        for (const name of [join('apache', 'error.log'), join('apache-run', 'error.log'), join('nginx', 'error.log')]) {
          try { log += await readFile(join(root, name), 'utf8'); } catch { /* not this server's */ }
        }
        await stopChild(responder, wrapped);
        await rm(root, { recursive: true, force: true });
        throw new Error(`${server}: ${e.message}\n${serverErr}${log}`);
      }
    }
  }
  const baseUrl = `http://127.0.0.1:${port}`;
  return {
    baseUrl,
    root,
    password,
    server,
    mode,
    listUrl: (board = 1) => `${baseUrl}/cgi-bin/ListPage.exe?BoardNum=${board}&TextNum=0`,
    setLines: writeConf,
    // The responder's socket and process (spawn-fcgi -n becomes it), with 'fastcgi'.
    socket: mode === 'fastcgi' ? socketOf(root) : null,
    responderPid: mode === 'fastcgi' ? responder.pid : null,
    async stop() {
      await stopChild(child);
      await stopChild(responder, wrapped);
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

// Posts a new message with `fields` to board 1 of `site`; resolves with the
// HTTP status.
export function postMessage(site, fields) {
  const body = Object.entries(fields).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
  return new Promise((resolve, reject) => {
    const req = http.request(`${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, {
      method: 'POST',
      agent: false,
      headers: { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) },
    }, (res) => { res.resume(); res.on('end', () => resolve(res.statusCode)); });
    req.on('error', reject);
    req.end(body);
  });
}

// Runs the site command until it serves (or ends); resolves with its
// output so far, its pid and a stop function. `command`, when given, is
// run by bash -c from the repository instead of the site command; `options`
// are further arguments of the site command (--server, --cgi).
export function siteCommand(dir, port, command = null, options = []) {
  const args = command ? ['-c', command]
    : [join(repo, 'scripts', 'site.sh'), '--dir', dir, '--port', String(port), '--listen', '127.0.0.1', ...options];
  const child = spawn('bash', args, { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env }, detached: true, cwd: repo });
  let output = '';
  child.stdout.on('data', (d) => { output += d; });
  child.stderr.on('data', (d) => { output += d; });
  const ended = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    await ended;
  };
  return new Promise((resolve, reject) => {
    const deadline = Date.now() + 60000;
    const attempt = () => {
      if (child.exitCode !== null) return resolve({ code: child.exitCode, output, pid: child.pid, stop });
      const socket = net.connect(port, '127.0.0.1');
      socket.once('connect', () => { socket.destroy(); resolve({ code: null, output, pid: child.pid, stop }); });
      socket.once('error', () => {
        socket.destroy();
        if (Date.now() > deadline) { stop(); reject(new Error(`site command did not serve:\n${output}`)); } else setTimeout(attempt, 100);
      });
    };
    attempt();
  });
}
