// Two web servers on one shared board: a bounded mixed load sent through
// both at once, then the board's files are checked.
//
//   node load.mjs load URL_A URL_B BOARD_A BOARD_B PASSWORD
//     URL_x: a site's base URL; BOARD_x: board 1's directory as that
//     site's server sees it (ending in "/"). Exits 1 with the faults found.
//   node load.mjs views URL RUNS
//     Views message 1 RUNS times, one after the other; prints
//     "median_ms p90_ms".
//
// Every request must be answered with the page it asks for. Messages are
// told apart by their subjects: "sN" for the messages posted before the
// load, "pN" for those posted during it, and "sN eK" for the K-th edit of
// message sN. Erasing renumbers the messages behind the erased one, so the
// load only erases at position ERASE_AT and only edits in front of it; a
// view counts for the message whose page it got.
import http from 'node:http';
import { readFileSync, readdirSync } from 'node:fs';

const SEEDS = 30;          // posted one by one before the load
const EDITABLE = 5;        // seeds s1..s5 are edited and never move
const ERASE_AT = 6;        // every erase takes the message at this position
const ERASES = 18;         // so s6..s23 go, in that order
const POSTS = 80;
const EDITS = 30;
const VIEWS = 200;
const LISTINGS = 40;
const PER_SERVER = 4;      // requests in flight on each server
const LOAD_MS = 200_000;
const REQUEST_MS = 30_000;

const decoder = new TextDecoder('euc-kr');
const GUEST = '%BC%D5%B4%D4';  // "손님" in EUC-KR
const GUEST_BYTES = Buffer.from([0xbc, 0xd5, 0xb4, 0xd4]);

function request(url, body) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {
      method: body === undefined ? 'GET' : 'POST',
      agent: false,
      timeout: REQUEST_MS,
      headers: body === undefined ? {} : {
        'Content-Type': 'application/x-www-form-urlencoded',
        'Content-Length': Buffer.byteLength(body),
      },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, text: decoder.decode(Buffer.concat(chunks)) }));
      res.on('error', reject);
    });
    req.on('timeout', () => req.destroy(new Error(`no answer within ${REQUEST_MS} ms`)));
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

const program = (base, name, textNum) => `${base}/cgi-bin/${name}.exe?BoardNum=1&TextNum=${textNum}`;
const bodyOf = (subject) => `${subject} body\r\nsecond line`;
const storedBodyOf = (subject) => `${subject} body<br>\nsecond line`;
const idOf = (subject) => subject.split(' ')[0];

function messageForm(subject, password) {
  const id = idOf(subject);
  let form = `name=${GUEST}+${id}&email=&homepage=http%3A%2F%2F&subject=${encodeURIComponent(subject)}` +
    `&body=${encodeURIComponent(bodyOf(subject))}`;
  if (password !== undefined) form += `&password=${encodeURIComponent(password)}`;
  return form;
}

// The words of a page, without its markup and its title, for reports.
const gist = (text) => text.replace(/^[\s\S]*?<\/head>/, '').replace(/<[^>]*>/g, ' ').replace(/\s+/g, ' ').trim()
  .slice(0, 160);
const caption = (text) => text.match(/<caption><b><font size=-1>([^<]*)<\/font><\/b><\/caption>/)?.[1];

// Deterministic shuffling, so that a failing run can be repeated.
function shuffled(items, seed) {
  let state = seed >>> 0;
  const next = () => { state = (Math.imul(state, 1664525) + 1013904223) >>> 0; return state; };
  for (let i = items.length - 1; i > 0; i--) {
    const j = next() % (i + 1);
    [items[i], items[j]] = [items[j], items[i]];
  }
  return items;
}

const faults = [];
const fault = (text) => { if (faults.length < 50) faults.push(text); };

async function runLoad([urlA, urlB, boardA, boardB, password]) {
  const servers = [urlA, urlB];

  // Seeds, one at a time, alternating servers: s1..s24 at positions 1..24.
  for (let i = 1; i <= SEEDS; i++) {
    const reply = await request(program(servers[i % 2], 'SavePage', -1), messageForm(`s${i}`));
    const shown = reply.text.match(/글번호 <\/font><\/th><td><font size=-1>\s*(\d+)</);
    if (reply.status !== 200 || caption(reply.text) !== `s${i}` || !shown || Number(shown[1]) !== i) {
      throw new Error(`seed s${i} was not stored as message ${i}: ${reply.status} ${gist(reply.text)}`);
    }
  }

  const acknowledged = { posts: new Set(), edits: new Map(), views: new Map(), erases: 0 };
  const counts = { requests: 0, notFound: 0 };
  const tasks = [];
  for (let i = 1; i <= POSTS; i++) tasks.push({ kind: 'post', subject: `p${i}` });
  for (let k = 1; k <= EDITS; k++) tasks.push({ kind: 'edit', position: (k - 1) % EDITABLE + 1, k });
  for (let k = 1; k <= ERASES; k++) tasks.push({ kind: 'erase' });
  for (let k = 1; k <= VIEWS; k++) tasks.push({ kind: 'view', pick: k * 7919 });
  for (let k = 1; k <= LISTINGS; k++) tasks.push({ kind: 'list' });
  shuffled(tasks, 16);

  const erasedBodies = new Set();
  for (let i = ERASE_AT; i < ERASE_AT + ERASES; i++) erasedBodies.add(`guestbook${i}.html`);

  async function perform(task, server, other) {
    counts.requests++;
    if (task.kind === 'post') {
      const reply = await request(program(server, 'SavePage', -1), messageForm(task.subject));
      if (reply.status === 200 && caption(reply.text) === task.subject) acknowledged.posts.add(task.subject);
      else fault(`post ${task.subject}: ${reply.status} ${gist(reply.text)}`);
    } else if (task.kind === 'edit') {
      // The form from one server, the change through the other.
      const form = await request(program(server, 'EditPage', task.position), `password=${encodeURIComponent(password)}`);
      const current = form.text.match(/name=subject size=60 value="([^"]*)"/)?.[1];
      if (form.status !== 200 || current === undefined || idOf(current) !== `s${task.position}`) {
        fault(`edit form of ${task.position}: ${form.status} ${gist(form.text)}`);
        return;
      }
      const subject = `s${task.position} e${task.k}`;
      counts.requests++;
      const reply = await request(program(other, 'SavePage', task.position), messageForm(subject, password));
      if (reply.status === 200 && caption(reply.text) === subject) {
        const id = `s${task.position}`;
        if (!acknowledged.edits.has(id)) acknowledged.edits.set(id, new Set());
        acknowledged.edits.get(id).add(subject);
      } else {
        fault(`edit ${subject}: ${reply.status} ${gist(reply.text)}`);
      }
    } else if (task.kind === 'erase') {
      const reply = await request(program(server, 'DropPage', ERASE_AT), `password=${encodeURIComponent(password)}`);
      if (reply.status === 200 && reply.text.includes('Successfully removed.')) acknowledged.erases++;
      else fault(`erase: ${reply.status} ${gist(reply.text)}`);
    } else if (task.kind === 'view') {
      // Positions up to this bound exist whatever the erases in flight do.
      const bound = SEEDS - ERASES + acknowledged.posts.size;
      const position = task.pick % bound + 1;
      const reply = await request(program(server, 'ShowPage', position));
      const subject = caption(reply.text);
      const body = reply.text.split('<tr><td><font size=-1>')[1] ?? '';
      if (reply.status === 200 && subject !== undefined && body.startsWith(`\n${idOf(subject)} `)) {
        const id = idOf(subject);
        acknowledged.views.set(id, (acknowledged.views.get(id) ?? 0) + 1);
        return;
      }
      // The message may be erased between its count and its body being read.
      const missing = reply.text.match(/([^/\s]+) is not found!!!/)?.[1];
      if (missing && erasedBodies.has(missing)) counts.notFound++;
      else fault(`view of ${position}: ${reply.status} ${gist(reply.text)}`);
    } else {
      const reply = await request(program(server, 'ListPage', 0));
      const numbers = [...reply.text.matchAll(/<td bgcolor=#f0f0e0 align=center><font size=-1>(\d+)<\/font>/g)]
        .map((m) => Number(m[1]));
      const consecutive = numbers.every((n, i) => i === 0 || n === numbers[i - 1] - 1);
      if (reply.status !== 200 || numbers.length !== 10 || !consecutive) {
        fault(`listing: ${reply.status} numbers ${numbers.join(',')} ${gist(reply.text)}`);
      }
    }
  }

  const deadline = Date.now() + LOAD_MS;
  let nextTask = 0;
  const started = Date.now();
  async function worker(index) {
    const server = servers[index % 2];
    const other = servers[(index + 1) % 2];
    while (nextTask < tasks.length) {
      if (Date.now() > deadline) {
        fault(`the load did not finish within ${LOAD_MS} ms (${nextTask} of ${tasks.length} tasks begun)`);
        return;
      }
      const task = tasks[nextTask++];
      try {
        await perform(task, server, other);
      } catch (e) {
        fault(`${task.kind}: ${e.message}`);
      }
    }
  }
  await Promise.all(Array.from({ length: 2 * PER_SERVER }, (_, i) => worker(i)));
  const seconds = (Date.now() - started) / 1000;
  const viewCount = [...acknowledged.views.values()].reduce((a, b) => a + b, 0);
  console.log(`load: ${counts.requests} requests in ${seconds.toFixed(1)} s through two servers, ` +
    `${2 * PER_SERVER} at a time: ${acknowledged.posts.size} posts, ${[...acknowledged.edits.values()]
      .reduce((a, s) => a + s.size, 0)} edits, ${acknowledged.erases} erases, ${viewCount} views ` +
    `(${counts.notFound} of erased messages), ${LISTINGS} listings acknowledged`);
  if (acknowledged.erases !== ERASES) fault(`${acknowledged.erases} of ${ERASES} erases acknowledged`);

  // A change's steps follow its page under the board's lock: the final
  // listings wait for them (and finish one left behind), so the files are
  // checked after.
  for (const server of servers) {
    const reply = await request(program(server, 'ListPage', 0));
    const numbers = [...reply.text.matchAll(/<td bgcolor=#f0f0e0 align=center><font size=-1>(\d+)<\/font>/g)]
      .map((m) => Number(m[1]));
    const count = SEEDS - ERASES + POSTS;
    const expected = Array.from({ length: 10 }, (_, i) => count - i);
    if (numbers.join(',') !== expected.join(',')) fault(`final listing of ${server}: ${numbers.join(',')}`);
  }
  try {
    checkBoard(boardA, boardB, acknowledged);
  } catch (e) {
    fault(`checking the board files: ${e.message}`);
  }
}

function text(buffer, offset, width) {
  const field = buffer.subarray(offset, offset + width);
  const end = field.indexOf(0);
  return end < 0 ? field : field.subarray(0, end);
}

// The store's own rules, and the load's acknowledgements, on the files as
// both servers see them.
function checkBoard(boardA, boardB, acknowledged) {
  const index = readFileSync(`${boardA}guestbook.dat`);
  if (!index.equals(readFileSync(`${boardB}guestbook.dat`))) fault('the two servers read different index files');
  const count = Number(text(index, 10, 10).toString('latin1'));
  const serial = Number(text(index, 0, 10).toString('latin1'));
  if (index.length !== 125 + count * 410) fault(`index is ${index.length} bytes for ${count} messages`);
  if (serial !== SEEDS + POSTS) fault(`FileSerial ${serial}, expected ${SEEDS + POSTS}`);

  const ids = [];
  const bodies = new Set();
  for (let n = 1; n <= count && 125 + n * 410 <= index.length; n++) {
    const record = index.subarray(125 + (n - 1) * 410, 125 + n * 410);
    const textNum = Number(text(record, 0, 5).toString('latin1'));
    const subject = text(record, 115, 80).toString('latin1');
    const fileName = text(record, 310, 100).toString('latin1');
    const id = idOf(subject);
    ids.push(id);
    if (textNum !== n) fault(`record ${n} holds TextNum ${textNum}`);
    if (!text(record, 5, 20).equals(Buffer.concat([GUEST_BYTES, Buffer.from(` ${id}`)]))) {
      fault(`record ${n} (${id}) has the name ${text(record, 5, 20).toString('hex')}`);
    }
    if (bodies.has(fileName)) fault(`body file ${fileName} named twice`);
    bodies.add(fileName);
    let body;
    try {
      body = readFileSync(`${boardA}${fileName}`, 'latin1');
    } catch (e) {
      fault(`record ${n} (${subject}): ${e.message}`);
      continue;
    }
    if (body !== storedBodyOf(subject)) fault(`record ${n} (${subject}) has the body ${JSON.stringify(body)}`);
    const edits = acknowledged.edits.get(id);
    if (edits ? !edits.has(subject) : subject !== id) fault(`record ${n} has the subject "${subject}"`);
    const reads = Number(text(record, 105, 10).toString('latin1').trim());
    const views = acknowledged.views.get(id) ?? 0;
    if (reads !== views) fault(`${id} was read ${reads} times, ${views} views were answered`);
  }

  // Positions 1-5 and the seeds behind the erased ones keep their order;
  // every acknowledged post follows exactly once.
  const kept = [];
  for (let i = 1; i <= SEEDS; i++) if (i < ERASE_AT || i >= ERASE_AT + ERASES) kept.push(`s${i}`);
  if (ids.slice(0, kept.length).join(' ') !== kept.join(' ')) {
    fault(`the board starts ${ids.slice(0, kept.length).join(' ')}, expected ${kept.join(' ')}`);
  }
  const posted = ids.slice(kept.length);
  const seen = new Set();
  for (const id of posted) {
    if (!acknowledged.posts.has(id)) fault(`${id} is on the board but was never acknowledged`);
    if (seen.has(id)) fault(`${id} is on the board twice`);
    seen.add(id);
  }
  for (const id of acknowledged.posts) if (!seen.has(id)) fault(`acknowledged post ${id} is missing`);

  // Nothing but the index, the lock and the bodies of its records.
  const names = (dir) => readdirSync(dir).sort().join(' ');
  const expected = ['guestbook.dat', 'guestbook.lock', ...bodies].sort().join(' ');
  if (names(boardA) !== expected) fault(`board directory holds: ${names(boardA)}`);
  if (names(boardB) !== names(boardA)) fault('the two servers list different board directories');
  console.log(`checked: ${count} messages, ${bodies.size} body files, index ${index.length} bytes`);
}

async function runViews([url, runs]) {
  const times = [];
  for (let i = 0; i < Number(runs); i++) {
    const start = process.hrtime.bigint();
    const reply = await request(program(url, 'ShowPage', 1));
    times.push(Number(process.hrtime.bigint() - start) / 1e6);
    if (reply.status !== 200 || caption(reply.text) === undefined) {
      throw new Error(`view ${i + 1}: ${reply.status} ${gist(reply.text)}`);
    }
  }
  times.sort((a, b) => a - b);
  console.log(`${times[Math.floor(times.length / 2)].toFixed(2)} ${times[Math.floor(times.length * 0.9)].toFixed(2)}`);
}

const [mode, ...args] = process.argv.slice(2);
try {
  if (mode === 'load') {
    await runLoad(args);
  } else if (mode === 'views') {
    await runViews(args);
  } else {
    console.error('usage: node load.mjs load URL_A URL_B BOARD_A BOARD_B PASSWORD | views URL RUNS');
    process.exitCode = 2;
  }
} catch (e) {
  fault(e.message);
}
for (const f of faults) console.log(`FAULT: ${f}`);
if (faults.length) process.exitCode = 1;
