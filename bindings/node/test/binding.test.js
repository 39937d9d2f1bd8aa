'use strict';
// The binding against vornex-sim on loopback TCP and the simulated FTDI
// devices of ftdisim/Ftd2xx.dll (see scripts/node-tests.sh for the set-up).
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const fs = require('node:fs');
const { spawn } = require('node:child_process');
const koffi = require('koffi');
const vornex = require('..');

const bin = process.env.VX_BIN;
const work = process.env.VX_WORK;
const lib = vornex.load(path.join(bin, 'vornex.dll'), { ftd2xx: path.join(bin, 'ftdisim', 'Ftd2xx.dll') });
const k32 = koffi.load('kernel32.dll');
const GetHandleInformation = k32.func('int __stdcall GetHandleInformation(uintptr_t h, _Out_ uint32_t *flags)');
const MsgWaitForMultipleObjects = koffi.load('user32.dll')
  .func('uint32_t __stdcall MsgWaitForMultipleObjects(uint32_t n, void *handles, int all, uint32_t ms, uint32_t mask)');
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// fn's first truthy value, tried up to `tries` times `ms` apart; null if none.
async function poll(fn, tries, ms) {
  for (let i = 0; i < tries; i++, await sleep(ms)) {
    const value = fn();
    if (value) return value;
  }
  return null;
}

// Open handles of this process: the slots GetHandleInformation accepts.
const handleCount = () => range(1, 1023).filter((i) => GetHandleInformation(4 * i, [0])).length;
// Page numbers of page frames (bytes 6..9).
const pageNumbers = (frames) => frames.map((f) => f.readUInt32LE(6));
const range = (first, count) => Array.from({ length: count }, (_, i) => first + i);

let sim;
let simPort;
let baseline;

function polling(robot) {
  assert.equal(robot.startPolling(), true);
  return robot;
}
const ftdiRobot = (description) => polling(new lib.Robot().attachFtdi(description));
function tcpRobot() {
  const robot = new lib.Robot().attachTcp('127.0.0.1', simPort, 5000);
  assert.equal(robot.portKind, 'tcp');
  return polling(robot);
}

test.before(async () => {
  const out = path.join(work, 'node-sim.out');
  const fd = fs.openSync(out, 'w');
  // Commands beginning BE77 are never answered.
  sim = spawn(path.join(bin, 'vornex-sim.exe'), ['--tcp', '0', 'fault=be77:noreply'], { stdio: ['ignore', fd, fd] });
  fs.closeSync(fd);
  const m = await poll(() => /listening on 127\.0\.0\.1:(\d+)/.exec(fs.readFileSync(out, 'latin1')), 300, 50);
  assert.ok(m, 'vornex-sim did not start');
  simPort = Number(m[1]);
  // Once through every kind of call, so that what Wine and Node open on first use (sockets, the window of each
  // thread, koffi's one worker thread, the service manager's connection) is in the baseline.
  lib.ftdiDriverStatus();
  lib.ftdiLibraryVersion();
  const tcp = tcpRobot();
  tcp.download([[0, 1]]);
  tcp.destroy();
  const ftdi = ftdiRobot('Vornex Sim Tool');
  await ftdi.waitReplyAsync(ftdi.toolInfo(), 5000);
  await ftdi.downloadAsync([[0, 1]]);
  ftdi.destroy();
  // Wine opens a thread's queue handle at its first wait for messages: one on koffi's worker, before the count.
  await new Promise((resolve) => MsgWaitForMultipleObjects.async(0, null, 0, 1, 0x4ff, resolve));
  baseline = handleCount();
});

test.after(() => sim && sim.kill());

test('the demo sequence over TCP: lists, tool information, a command, 100 pages', () => {
  for (const p of lib.comPorts()) assert.match(p.description, new RegExp(`\\(COM${p.number}\\)$`));
  assert.deepStrictEqual(lib.ftdiDevices().map((d) => [d.description, d.serial, d.location, d.index]),
    [['Vornex Sim Tool', 'VXS00001', 0x1011, 0], ['Paced Tool', 'VXS00002', 0x1012, 1]]);
  const robot = tcpRobot();
  robot.setTimeout(3000);
  robot.setKeepAlive(false);
  robot.startLogging(path.join(work, 'node-test.log'));
  assert.equal(robot.waitReply(robot.toolInfo(), 5000).toString('latin1'), '9.1.V1.0.0');
  for (const command of ['BE010203', Buffer.from([0xbe, 0x05, 0x06, 0x07])]) {
    const id = robot.send(command);
    const echo = robot.waitReply(id, 5000);
    assert.ok(echo.includes(Buffer.from(command, 'hex')), echo.toString('hex'));
    assert.deepStrictEqual([robot.deleteReply(id), robot.deleteReply(id), robot.getReply(id)], [true, false, null]);
  }
  const frames = robot.download([[0, 60], [60, 40]], { timeoutMs: 5000 });
  assert.deepStrictEqual(pageNumbers(frames).sort((a, b) => a - b), range(0, 100));
  assert.ok(frames.every((f) => f.length === 272 && f[0] === 0xa5 && f[271] === 0xaf));
  assert.equal(robot.isIdle(), true);
  robot.stopPolling();
  assert.deepStrictEqual([robot.destroy(), robot.destroy()], [true, false]);
  assert.throws(() => robot.toolInfo(), vornex.VornexError);
});

test('a page read is a reply of several parts, also waited for without blocking; abandoned commands throw', async () => {
  const robot = tcpRobot();
  const id = robot.readFlashPages(0x10, 3);
  const parts = await robot.waitReplyAsync(id, 10000);
  assert.deepStrictEqual(parts.map((p) => [p.readUInt32LE(6), p.length]), [[0x10, 272], [0x11, 272], [0x12, 272]]);
  assert.deepStrictEqual(pageNumbers(robot.waitReply(id, 1000)), [0x10, 0x11, 0x12]);
  // Only the binding's timer dispatches the socket's messages here.
  const echo = robot.send('BE0A0B0C');
  const got = await poll(() => robot.getReply(echo), 500, 10);
  assert.ok(got && got.includes(Buffer.from([0xbe, 0x0a, 0x0b, 0x0c])), 'no reply between calls');
  // The raw export sees the same record.
  const ref = [null];
  assert.equal(lib.exports.ROBOT_GetReplyBytes(robot.handle, id, ref), 272);
  assert.equal(lib.arrays.takeBytes(lib.arrays.adopt(ref[0])).length, 3);
  // An abandoned command throws, a pending one is null.
  robot.setTimeout(300);
  const lost = robot.send('BE770001');
  assert.equal(robot.getReply(lost), null);
  assert.throws(() => robot.waitReply(lost, 5000), { name: 'VornexError', code: -1 });
  const again = robot.send('BE770002');
  await assert.rejects(robot.waitReplyAsync(again, 5000), { code: -1 });
  assert.equal(lib.exports.ROBOT_GetReplyBytes(robot.handle, again, [null]), -1);
  robot.destroy();
});

test('FTDI: device list, port functions, a wait on a worker thread', async () => {
  assert.deepStrictEqual(lib.ftdiDeviceStrings(), ['Vornex Sim Tool', 'Paced Tool']);
  assert.equal(lib.ftdiLibraryVersion(), 2 * 65536 + 8 * 256 + 14);  // 2.8.14
  assert.equal(typeof lib.ftdiDriverStatus(), 'number');
  const bare = new lib.Robot();
  assert.throws(() => bare.attachFtdi('No Such Tool'), { code: 0 });
  assert.throws(() => bare.attachSerial(250), { code: 0 });
  assert.throws(() => bare.getLocId(), TypeError);
  bare.destroy();
  const robot = ftdiRobot('Vornex Sim Tool');
  assert.deepStrictEqual(lib.ftdiDevices().map((d) => d.description), ['Paced Tool']);
  assert.equal(robot.getLocId(), 0x1011);
  assert.deepStrictEqual([robot.setLatency(2), robot.setUsbParameters(4096, 4096), robot.setBaud(38400)], [0, 0, 0]);
  assert.equal((await robot.waitReplyAsync(robot.toolInfo(), 5000)).toString('latin1'), '9.1.V1.0.0');
  assert.equal(robot.resetToolRate(), 1);
  const frames = await robot.downloadAsync([[5, 20]], { rate: 230400, sumCheck: true });
  assert.deepStrictEqual(pageNumbers(frames), range(5, 20));
  assert.equal(robot.destroy(), true);
});

test('a download cancelled from its progress window', async () => {
  const robot = ftdiRobot('Paced Tool');
  const download = robot.downloadAsync([[0, 1000]], { rate: 230400, timeoutMs: 5000 });
  assert.ok(await poll(() => lib.cancelDownload(), 400, 25), 'no progress window');
  await assert.rejects(download, { name: 'VornexError', code: -1 });
  assert.equal(lib.cancelDownload(), false);
  robot.destroy();
});

test('raw exports by their plain names, and nothing left behind', async () => {
  const x = lib.exports;
  const lists = path.join(__dirname, '..', '..', '..', 'resources', 'exports');
  for (const file of fs.readdirSync(lists)) {
    for (const line of fs.readFileSync(path.join(lists, file), 'latin1').split('\n')) {
      const plain = line.trim().split(/\s+/)[0];
      if (plain && plain !== '-' && !plain.startsWith('#')) assert.equal(typeof x[plain], 'function', plain);
    }
  }
  // 32 bit: a stdcall export's @N is 4 bytes an argument (koffi's calls survive a wrong count: only the table tells).
  const def = fs.readFileSync(path.join(bin, '..', 'vornex.def'), 'latin1');
  for (const p of process.arch === 'ia32' ? vornex.PROTOTYPES.concat(vornex.CDECL_PROTOTYPES) : []) {
    const [, name, args] = /(\w+)\((.*)\)/.exec(p);
    const bytes = new RegExp(`^\\s*${name}(@\\d+)? `, 'm').exec(def)[1];
    assert.equal(bytes, vornex.PROTOTYPES.includes(p) ? `@${args ? args.split(',').length * 4 : 0}` : undefined, p);
  }
  const robot = x.ROBOT_Create();
  const port = x.ROBOT_AttachTcpPort(robot, '127.0.0.1', simPort, 5000);
  assert.ok(robot && port);
  assert.equal(x.ROBOT_Destroy(robot), 1);
  assert.equal(x.TCP_ReleasePort(port), 1);
  assert.equal(x.ROBOT_Destroy(null), 0);
  assert.equal(lib.liveArrays(), 0);
  // A thread that has just ended may still hold its handles for a moment: a leak is what stays.
  let count;
  assert.ok(await poll(() => (count = handleCount()) === baseline, 100, 50), `${count} handles, ${baseline} before`);
});
