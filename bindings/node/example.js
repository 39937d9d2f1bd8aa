'use strict';
// A first Node.js host of vornex.dll: lists the COM ports and FTDI devices,
// talks to vornex-sim over TCP, reads the tool information, downloads 100
// pages with the library's progress window and prints the rate.
// Usage: node example.js [PATH\TO\vornex.dll] [HOST:PORT]
//   Without HOST:PORT it starts the vornex-sim.exe beside the DLL.
const path = require('node:path');
const fs = require('node:fs');
const os = require('node:os');
const { spawn } = require('node:child_process');
const vornex = require('./index.js');

const dllPath = path.resolve(process.argv[2] || path.join(__dirname, '..', '..', 'vornex.dll'));

// vornex-sim on a free loopback port; resolves to [process, port].
async function startSim() {
  const out = path.join(os.tmpdir(), `vornex-sim-${process.pid}.out`);
  const fd = fs.openSync(out, 'w');
  const sim = spawn(path.join(path.dirname(dllPath), 'vornex-sim.exe'), ['--tcp', '0', '--pace', '--rate', '230400'],
    { stdio: ['ignore', fd, fd] });
  fs.closeSync(fd);
  for (let i = 0; i < 100; i++) {
    const m = /listening on 127\.0\.0\.1:(\d+)/.exec(fs.readFileSync(out, 'latin1'));
    if (m) return [sim, Number(m[1])];
    await new Promise((r) => setTimeout(r, 100));
  }
  sim.kill();
  throw new Error('vornex-sim did not start');
}

async function main() {
  const lib = vornex.load(dllPath);
  console.log(`vornex.dll: ${dllPath} (${process.arch})`);

  console.log('COM ports:');
  for (const p of lib.comPorts()) console.log(`  COM${p.number}  ${p.description}`);
  console.log('FTDI devices:');
  // Without Ftd2xx.dll every FTDI call would show the library's message box.
  const devices = lib.ftdiPresent() ? lib.ftdiDevices() : null;
  if (!devices) console.log('  none: no Ftd2xx.dll (the FTDI driver) on the DLL search path');
  for (const d of devices || []) {
    console.log(`  #${d.index}  location 0x${d.location.toString(16)}  COM${d.comPort}  ${d.serial}  ${d.description}`);
  }

  let sim = null;
  let host = '127.0.0.1';
  let port;
  if (process.argv[3]) {
    [host, port] = process.argv[3].split(':');
    port = Number(port);
  } else {
    [sim, port] = await startSim();
  }

  const robot = new lib.Robot();
  try {
    robot.attachTcp(host, port, 5000);
    robot.setTimeout(3000);
    robot.startPolling();
    console.log(`attached to ${host}:${port}`);

    const info = robot.waitReply(robot.toolInfo(), 5000);
    console.log(`tool information: ${info ? info.toString('latin1') : '(no reply)'}`);

    const begin = process.hrtime.bigint();
    const frames = robot.download([[0, 100]], { timeoutMs: 5000 });
    const seconds = Number(process.hrtime.bigint() - begin) / 1e9;
    const bytes = frames.reduce((n, f) => n + f.length, 0);
    console.log(`downloaded ${frames.length} pages (${bytes} bytes) in ${seconds.toFixed(2)} s`);
    console.log(`throughput: ${(bytes / 1000 / seconds).toFixed(1)} kB/s, ${(frames.length / seconds).toFixed(1)} pages/s`);
    robot.stopPolling();
  } finally {
    robot.destroy();
    if (sim) sim.kill();
  }
}

main().catch((e) => {
  console.error(`example: ${e.message}`);
  process.exitCode = 1;
});
