// A handful of slow or half-sent requests stops no server with the
// responder: 20 clients hold them (on the responder's socket directly,
// HTTP headers never finished, POST bodies at a byte a second) while
// another visitor's listing answers within a second, every time.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { startSite, servers, httpRequest, waitFor, childProcesses } from './site.mjs';

function record(type, content = Buffer.alloc(0)) {
  const header = Buffer.from([1, type, 0, 1, content.length >> 8, content.length & 0xff, 0, 0]);
  return Buffer.concat([header, content]);
}

function pairs(params) {
  return Buffer.concat(Object.entries(params).map(([name, value]) => {
    // Every name and value here is shorter than 128 bytes: one-byte lengths.
    return Buffer.concat([Buffer.from([name.length, value.length]), Buffer.from(name), Buffer.from(value)]);
  }));
}

// A FastCGI request cut off within its parameters or its body.
function halfSent(cut) {
  const params = pairs({ SCRIPT_NAME: '/cgi-bin/SavePage.exe', QUERY_STRING: 'BoardNum=1&TextNum=-1', CONTENT_LENGTH: '100' });
  const whole = Buffer.concat([record(1, Buffer.from([0, 1, 0, 0, 0, 0, 0, 0])), record(4, params), record(4), record(5, Buffer.from('name=a'))]);
  return cut === 'params' ? whole.subarray(0, 30) : whole;
}

function connected(options) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(options);
    socket.once('connect', () => resolve(socket));
    socket.once('error', reject);
  });
}

for (const server of servers) test(`20 slow clients leave every listing quick (${server})`, async (t) => {
  const site = await startSite({ server, mode: 'fastcgi' });
  const sockets = [];
  const timers = [];
  t.after(async () => {
    for (const timer of timers) clearInterval(timer);
    for (const socket of sockets) socket.destroy();
    await site.stop();
  });
  const workersBefore = (await childProcesses(site.responderPid)).length;
  const { port } = new URL(site.baseUrl);
  const sending = async (options, bytes) => {
    const socket = await connected(options);
    socket.write(bytes);
    return socket;
  };
  const kinds = [
    // On the responder's socket: parameters cut short, a body never ended.
    () => sending({ path: site.socket }, halfSent('params')),
    () => sending({ path: site.socket }, halfSent('body')),
    // Through the server: a header never finished.
    () => sending({ port, host: '127.0.0.1' }, 'GET /cgi-bin/ListPage.exe?BoardNum=1&TextNum=0 HTTP/1.1\r\nHost: x\r\n'),
    // Through the server: a post whose body comes a byte a second.
    async () => {
      const socket = await sending({ port, host: '127.0.0.1' },
        'POST /cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1 HTTP/1.1\r\nHost: x\r\n'
        + 'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\nname=');
      timers.push(setInterval(() => socket.write('a'), 1000));
      return socket;
    },
  ];
  for (let k = 0; k < 20; ++k) {
    const socket = await kinds[k % kinds.length]();
    socket.on('error', () => {});
    sockets.push(socket);
  }
  // Each of the ten on the socket holds a worker of its own.
  await waitFor(async () => (await childProcesses(site.responderPid)).length >= 10 + 1,
    'the responder started workers for the slow clients', 20000);
  assert.ok((await childProcesses(site.responderPid)).length > workersBefore);
  for (let visitor = 0; visitor < 5; ++visitor) {
    const start = Date.now();
    const answer = await httpRequest(site.listUrl());
    const took = Date.now() - start;
    assert.equal(answer.status, 200);
    assert.match(answer.bytes.toString('latin1'), /ListPage\.exe|<table/i);
    assert.ok(took < 1000, `visitor ${visitor} waited ${took} ms`);
  }
});
