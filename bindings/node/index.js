'use strict';
// vornex for Node.js (Windows Node, 32 or 64 bit): the plain exports of
// vornex.dll through koffi, and a Robot class above them.
const koffi = require('koffi');

const is32 = process.arch === 'ia32';
const VT_I4 = 3;
const VT_UI1 = 17;
const PM_REMOVE = 1;
const WM_COMMAND = 0x0111;
const IDCANCEL = 2;
const PUMP_MS = 5;
const POLL_MS = 5;

// One line per plain export, as vornex.h declares it. SAFEARRAY** parameters
// are _Inout_ void **: pass [array or null]; [0] holds the result after.
const PROTOTYPES = [
  'void *ROBOT_Create()',
  'int ROBOT_Destroy(void *robot)',
  'int ROBOT_StartPolling(void *robot)',
  'void ROBOT_StopPolling(void *robot)',
  'int ROBOT_IsIdle(void *robot)',
  'void ROBOT_SetTimeout(void *robot, uint32_t ms)',
  'void ROBOT_SetKeepAlive(void *robot, int on)',
  'void ROBOT_StartLogging(void *robot, str path)',
  'int32_t ROBOT_SendCommand(void *robot, str16 text)',
  'void *ROBOT_GetReply(void *robot, int32_t id)',
  'void *ROBOT_WaitReply(void *robot, int32_t id, uint32_t timeoutMs)',
  'int ROBOT_DeleteReply(void *robot, int32_t id)',
  'void *ROBOT_AttachSerialPort(void *robot, int comPort)',
  'int ReleaseSerialPort(void *port)',
  'int Serial_ReleasePort(void *port)',
  'void *ROBOT_AttachTcpPort(void *robot, str16 host, uint32_t tcpPort, uint32_t connectMs)',
  'int ReleaseTcpPort(void *port)',
  'int TCP_ReleasePort(void *port)',
  'void *ROBOT_AttachFTDIDevice(void *robot, str16 description)',
  'void *ROBOT_AttachFTDIDeviceByLoc(void *robot, uint32_t location)',
  'void *ROBOT_AttachFTDIDeviceByIndex(void *robot, uint32_t index)',
  'int ReleaseFTDIDevice(void *port)',
  'int FTDI_Release(void *port)',
  'int32_t ROBOT_SendCommandBytes(void *robot, _Inout_ void **bytes, int32_t kind)',
  'int32_t ROBOT_GetToolInfo(void *robot)',
  'int32_t ROBOT_WriteToPort(void *robot, _Inout_ void **bytes, int32_t length)',
  'int32_t ROBOT_GetReplyBytes(void *robot, int32_t id, _Inout_ void **reply)',
  'int32_t ROBOT_WaitReplyBytes(void *robot, int32_t id, uint32_t timeoutMs, _Inout_ void **reply)',
  'int32_t ROBOT_ReadToolMemory(void *robot, _Inout_ void **pages, int32_t baudRate, int32_t timeoutMs, int32_t flag, _Inout_ void **out)',
  'int32_t ROBOT_ReadToolMemoryAddressed(void *robot, _Inout_ void **pages, int32_t baudRate, int32_t timeoutMs, int32_t flag, _Inout_ void **out, str16 address)',
  'int32_t FTDI_ResetToolRate(void *port)',
  'int32_t FTDI_GetLocID(void *port)',
  'int32_t FTDI_ResetDevice(void *port)',
  'int32_t FTDI_CyclePort(void *port)',
  'uint32_t SetFTDIBaud(void *port, uint32_t rate)',
  'uint32_t FTDI_SetBaud(void *port, uint32_t rate)',
  'uint32_t SetFTDILatency(void *port, uint32_t ms)',
  'uint32_t FTDI_SetLatency(void *port, uint32_t ms)',
  'uint32_t SetFTDIUSBParameters(void *port, uint32_t inSize, uint32_t outSize)',
  'uint32_t FTDI_SetUSBParameters(void *port, uint32_t inSize, uint32_t outSize)',
  'int32_t FTDI_GetDeviceStrings(_Inout_ void **descriptions)',
  'int32_t FTDI_Enumerate(_Inout_ void **descriptions, _Inout_ void **comPorts, _Inout_ void **indexes, _Inout_ void **locations, _Inout_ void **serials)',
  'int32_t FTDI_GetLibraryVersion()',
  'int32_t FTDI_GetDriverStatus()',
  'int GetPortCount()',
  'int Serial_GetPortCount()',
  'void *GetPortDescription(int index)',
  'void *Serial_GetPortDescription(int index)',
  'int GetPortNumber(int index)',
  'int Serial_GetPortNumber(int index)',
];
// Default calling convention (cdecl on 32 bit), not __stdcall.
const CDECL_PROTOTYPES = [
  'int OpenFTDIDevice(void *port, str16 description)',
  'int FTDI_Open(void *port, str16 description)',
];
// Exported under its C++ name only (mingw-w64's mangling of each architecture).
const READ_FLASH_PAGES = is32 ? '_Z20ROBOT_ReadFlashPagesPvllllPKw@24' : '_Z20ROBOT_ReadFlashPagesPvllllPKw';

const nameOf = (prototype) => /(\w+)\(/.exec(prototype)[1];
function stdcall(lib, prototype) {
  return lib.func(prototype.replace(/(\w+)\(/, '__stdcall $1('));
}

class VornexError extends Error {
  constructor(message, code) {
    super(message);
    this.name = 'VornexError';
    this.code = code;
  }
}

// The system functions the binding needs: arrays and strings (oleaut32),
// copies (kernel32), the message pump and the progress window (user32).
function systemFunctions() {
  const ole = koffi.load('oleaut32.dll');
  const k32 = koffi.load('kernel32.dll');
  const user = koffi.load('user32.dll');
  const decl = (lib, list) => Object.fromEntries(list.map((p) => {
    return [nameOf(p), stdcall(lib, p)];
  }));
  return Object.assign(decl(ole, [
    'void *SafeArrayCreateVector(uint16_t vt, int32_t lower, uint32_t count)',
    'void *SafeArrayCreate(uint16_t vt, uint32_t dims, void *bounds)',
    'int32_t SafeArrayDestroy(void *array)',
    'uint32_t SafeArrayGetDim(void *array)',
    'uint32_t SafeArrayGetElemsize(void *array)',
    'int32_t SafeArrayGetLBound(void *array, uint32_t dim, _Out_ int32_t *bound)',
    'int32_t SafeArrayGetUBound(void *array, uint32_t dim, _Out_ int32_t *bound)',
    'int32_t SafeArrayAccessData(void *array, _Out_ void **data)',
    'int32_t SafeArrayUnaccessData(void *array)',
    'uint32_t SysStringLen(void *text)',
    'void SysFreeString(void *text)',
  ]), decl(k32, [
    'void RtlMoveMemory(void *to, void *from, size_t size)',
  ]), decl(user, [
    'int PeekMessageW(void *msg, void *hwnd, uint32_t first, uint32_t last, uint32_t remove)',
    'int TranslateMessage(void *msg)',
    'intptr_t DispatchMessageW(void *msg)',
    'void *FindWindowW(str16 className, str16 title)',
    'int PostMessageW(void *hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)',
  ]));
}

// options.ftd2xx: an Ftd2xx.dll to load first (e.g. the simulated one), so
// that the library's own load by name finds it.
function load(dllPath, options = {}) {
  // Held by the object returned: koffi unloads a library it collects, and
  // the library loads Ftd2xx.dll again whenever it opens a device.
  const held = options.ftd2xx ? [koffi.load(options.ftd2xx)] : [];
  const dll = koffi.load(dllPath);
  held.push(dll);
  const sys = systemFunctions();
  const exports = {};
  for (const p of PROTOTYPES) exports[nameOf(p)] = stdcall(dll, p);
  for (const p of CDECL_PROTOTYPES) exports[nameOf(p)] = dll.func(p);
  exports.ROBOT_ReadFlashPages = dll.func('__stdcall', READ_FLASH_PAGES, 'int32_t',
    ['void *', 'int32_t', 'int32_t', 'int32_t', 'int32_t', 'str16']);
  const x = exports;
  let liveArrays = 0;

  // ---- Arrays and strings ----
  function destroyArray(array) {
    if (!array) return;
    sys.SafeArrayDestroy(array);
    liveArrays--;
  }
  function adopt(array) {
    if (array) liveArrays++;
    return array;
  }
  // The data of an array as a copied Buffer, and its shape; the array stays.
  function readArray(array) {
    const dims = sys.SafeArrayGetDim(array);
    const counts = [];
    for (let d = 1; d <= dims; d++) {
      const lo = [0];
      const hi = [0];
      sys.SafeArrayGetLBound(array, d, lo);
      sys.SafeArrayGetUBound(array, d, hi);
      counts.push(Math.max(0, hi[0] - lo[0] + 1));
    }
    const size = counts.reduce((a, b) => a * b, 1) * sys.SafeArrayGetElemsize(array);
    const data = Buffer.alloc(size);
    const at = [null];
    if (size > 0 && sys.SafeArrayAccessData(array, at) === 0) {
      sys.RtlMoveMemory(data, at[0], size);
      sys.SafeArrayUnaccessData(array);
    }
    return { counts, data };
  }
  // Copies bytes into an array's data (its elements in storage order).
  function fillArray(array, bytes) {
    const at = [null];
    if (bytes.length > 0 && sys.SafeArrayAccessData(array, at) === 0) {
      sys.RtlMoveMemory(at[0], bytes, bytes.length);
      sys.SafeArrayUnaccessData(array);
    }
    return array;
  }
  // A byte vector (VT_UI1) of the bytes given, for an export to read.
  function bytesArray(bytes) {
    const b = Buffer.from(bytes);
    const array = adopt(sys.SafeArrayCreateVector(VT_UI1, 0, b.length));
    if (!array) throw new VornexError('SafeArrayCreateVector failed', 0);
    return fillArray(array, b);
  }
  // The page list of a download: VT_I4 matrix, row i = (first page, count).
  function pagesArray(runs) {
    const bounds = Buffer.alloc(16);
    bounds.writeUInt32LE(runs.length, 0);
    bounds.writeUInt32LE(2, 8);
    const array = adopt(sys.SafeArrayCreate(VT_I4, 2, bounds));
    if (!array) throw new VornexError('SafeArrayCreate failed', 0);
    const cells = Buffer.alloc(runs.length * 8);
    runs.forEach(([first, count], i) => {
      cells.writeInt32LE(first, i * 4);
      cells.writeInt32LE(count, (runs.length + i) * 4);
    });
    return fillArray(array, cells);
  }
  // Reads and destroys an array the library made. A vector: a Buffer; a
  // matrix (a, b): b Buffers of a bytes, Buffer k holding (0..a-1, k).
  function takeBytes(array) {
    if (!array) return null;
    try {
      const { counts, data } = readArray(array);
      if (counts.length < 2) return data;
      const [a, b] = counts;
      return Array.from({ length: b }, (_, k) => data.subarray(k * a, k * a + a));
    } finally {
      destroyArray(array);
    }
  }
  // A download's page matrix (row per page frame): one Buffer per row.
  function takeRows(array) {
    if (!array) return [];
    try {
      const { counts, data } = readArray(array);
      const [rows, width] = counts.length === 2 ? counts : [0, 0];
      return Array.from({ length: rows }, (_, r) => {
        const row = Buffer.alloc(width);
        for (let c = 0; c < width; c++) row[c] = data[r + c * rows];
        return row;
      });
    } finally {
      destroyArray(array);
    }
  }
  function takeInts(array) {
    if (!array) return [];
    try {
      const { data } = readArray(array);
      return Array.from({ length: data.length / 4 }, (_, i) => data.readInt32LE(i * 4));
    } finally {
      destroyArray(array);
    }
  }
  function bstrText(bstr) {
    if (!bstr) return '';
    const n = sys.SysStringLen(bstr);
    const data = Buffer.alloc(n * 2);
    if (n > 0) sys.RtlMoveMemory(data, bstr, n * 2);
    return data.toString('utf16le');
  }
  function takeBstr(bstr) {
    const text = bstrText(bstr);
    if (bstr) sys.SysFreeString(bstr);
    return text;
  }
  // The texts of a BSTR vector; destroying the array frees its strings.
  function takeStrings(array) {
    if (!array) return [];
    try {
      const { data } = readArray(array);
      const width = is32 ? 4 : 8;
      return Array.from({ length: data.length / width }, (_, i) =>
        bstrText(koffi.decode(data.subarray(i * width), 'void *')));
    } finally {
      destroyArray(array);
    }
  }

  // ---- Window messages of this thread ----
  const msg = Buffer.alloc(64);
  function pumpMessages() {
    let n = 0;
    while (sys.PeekMessageW(msg, null, 0, 0, PM_REMOVE)) {
      sys.TranslateMessage(msg);
      sys.DispatchMessageW(msg);
      n++;
    }
    return n;
  }
  let pumpTimer = null;
  let tcpPorts = 0;
  function tcpAttached(delta) {
    tcpPorts += delta;
    if (tcpPorts > 0 && !pumpTimer) {
      pumpTimer = setInterval(pumpMessages, PUMP_MS);
      pumpTimer.unref();
    } else if (tcpPorts === 0 && pumpTimer) {
      clearInterval(pumpTimer);
      pumpTimer = null;
    }
  }
  // Presses Cancel of the library's progress window; false when none is shown.
  function cancelDownload() {
    const w = sys.FindWindowW(null, 'Download in Progress');
    return !!w && !!sys.PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  }

  // ---- Lists of ports and devices ----
  function comPorts() {
    const n = x.GetPortCount();
    const list = [];
    for (let i = 1; i <= n; i++) {
      list.push({ number: x.GetPortNumber(i), description: takeBstr(x.GetPortDescription(i)) });
    }
    return list;
  }
  function ftdiDevices() {
    const out = [[null], [null], [null], [null], [null]];
    const n = x.FTDI_Enumerate(...out);
    const [descriptions, comPort, index, location, serials] = [
      takeStrings(adopt(out[0][0])), takeInts(adopt(out[1][0])), takeInts(adopt(out[2][0])),
      takeInts(adopt(out[3][0])), takeStrings(adopt(out[4][0]))];
    return Array.from({ length: n }, (_, i) => ({
      description: descriptions[i], serial: serials[i], comPort: comPort[i], index: index[i],
      location: location[i] >>> 0,
    }));
  }
  // Whether Ftd2xx.dll can be loaded: without it every FTDI export shows the
  // library's modal message box.
  function ftdiPresent() {
    try {
      held.push(koffi.load('Ftd2xx.dll'));
      return true;
    } catch (e) {
      return false;
    }
  }
  function ftdiDeviceStrings() {
    const out = [null];
    return x.FTDI_GetDeviceStrings(out) > 0 ? takeStrings(adopt(out[0])) : [];
  }

  const RELEASE = { serial: x.ReleaseSerialPort, tcp: x.ReleaseTcpPort, ftdi: x.ReleaseFTDIDevice };

  class Robot {
    constructor() {
      this.handle = x.ROBOT_Create();
      if (!this.handle) throw new VornexError('ROBOT_Create failed', 0);
      this.port = null;
      this.portKind = null;
    }
    get alive() { return this.handle !== null; }
    h() {
      if (!this.handle) throw new VornexError('the robot was destroyed', 0);
      return this.handle;
    }
    attached(port, kind, what) {
      if (!port) throw new VornexError(`cannot attach ${what}`, 0);
      if (kind === 'tcp') tcpAttached(1);
      this.releasePort();
      this.port = port;
      this.portKind = kind;
      return this;
    }
    attachSerial(comPort) {
      return this.attached(x.ROBOT_AttachSerialPort(this.h(), comPort), 'serial', `COM${comPort}`);
    }
    attachTcp(host, tcpPort, connectMs = 3000) {
      return this.attached(x.ROBOT_AttachTcpPort(this.h(), host, tcpPort, connectMs), 'tcp', `${host}:${tcpPort}`);
    }
    attachFtdi(description) {
      return this.attached(x.ROBOT_AttachFTDIDevice(this.h(), description), 'ftdi', `FTDI device "${description}"`);
    }
    attachFtdiByLoc(location) {
      return this.attached(x.ROBOT_AttachFTDIDeviceByLoc(this.h(), location), 'ftdi', `FTDI location ${location}`);
    }
    attachFtdiByIndex(index) {
      return this.attached(x.ROBOT_AttachFTDIDeviceByIndex(this.h(), index), 'ftdi', `FTDI index ${index}`);
    }
    releasePort() {
      if (!this.port) return false;
      const released = !!RELEASE[this.portKind](this.port);
      if (this.portKind === 'tcp') tcpAttached(-1);
      this.port = null;
      this.portKind = null;
      return released;
    }
    setTimeout(ms) { x.ROBOT_SetTimeout(this.h(), ms); }
    setKeepAlive(on) { x.ROBOT_SetKeepAlive(this.h(), on ? 1 : 0); }
    startLogging(path) { x.ROBOT_StartLogging(this.h(), path); }
    startPolling() { return !!x.ROBOT_StartPolling(this.h()); }
    stopPolling() { x.ROBOT_StopPolling(this.h()); }
    isIdle() { return !!x.ROBOT_IsIdle(this.h()); }
    issued(id, what) {
      if (!id) throw new VornexError(`${what}: nothing was issued`, 0);
      return id;
    }
    send(command, kind = 0) {
      if (typeof command === 'string') {
        if (kind !== 0) throw new TypeError('a command kind goes with bytes only');
        return this.issued(x.ROBOT_SendCommand(this.h(), command), 'ROBOT_SendCommand');
      }
      const array = bytesArray(command);
      const ref = [array];
      try {
        return this.issued(x.ROBOT_SendCommandBytes(this.h(), ref, kind), 'ROBOT_SendCommandBytes');
      } finally {
        destroyArray(ref[0]);
      }
    }
    toolInfo() { return this.issued(x.ROBOT_GetToolInfo(this.h()), 'ROBOT_GetToolInfo'); }
    readFlashPages(firstPage, pageCount, { rate = 38400, sumCheck = false, address = null } = {}) {
      return this.issued(x.ROBOT_ReadFlashPages(this.h(), firstPage, pageCount, rate, sumCheck ? 0 : 1, address),
        'ROBOT_ReadFlashPages');
    }
    writeToPort(bytes, length = 0) {
      const ref = [bytesArray(bytes)];
      try {
        return x.ROBOT_WriteToPort(this.h(), ref, length);
      } finally {
        destroyArray(ref[0]);
      }
    }
    reply(size, ref) {
      const array = adopt(ref[0]);
      if (size === -1 || size === -2) {
        destroyArray(array);
        throw new VornexError(size === -1 ? 'the command was abandoned' : 'the reply matrix could not be made', size);
      }
      if (size === 0) {
        destroyArray(array);
        return null;
      }
      return takeBytes(array);
    }
    getReply(id) {
      const ref = [null];
      return this.reply(x.ROBOT_GetReplyBytes(this.h(), id, ref), ref);
    }
    // Blocks the event loop for up to timeoutMs.
    waitReply(id, timeoutMs) {
      const ref = [null];
      const got = this.reply(x.ROBOT_WaitReplyBytes(this.h(), id, timeoutMs, ref), ref);
      // A reply of several parts comes whole only from ROBOT_GetReplyBytes.
      return got !== null ? got : this.getReply(id);
    }
    waitReplyAsync(id, timeoutMs) {
      const handle = this.h();
      if (this.portKind !== 'tcp') {
        const ref = [null];
        return new Promise((resolve, reject) => {
          x.ROBOT_WaitReplyBytes.async(handle, id, timeoutMs, ref, (err, size) => {
            if (err) return reject(err);
            try {
              const got = this.reply(size, ref);
              resolve(got !== null || !this.handle ? got : this.getReply(id));
            } catch (e) {
              reject(e);
            }
          });
        });
      }
      // TCP: the socket's messages come to this thread, so look on a timer.
      const end = Date.now() + timeoutMs;
      return new Promise((resolve, reject) => {
        const look = () => {
          try {
            if (!this.handle) return resolve(null);
            pumpMessages();
            const got = this.getReply(id);
            if (got !== null || Date.now() >= end) return resolve(got);
            setTimeout(look, POLL_MS);
          } catch (e) {
            reject(e);
          }
        };
        look();
      });
    }
    deleteReply(id) { return !!x.ROBOT_DeleteReply(this.h(), id); }
    downloadArgs(pages, { rate = 38400, timeoutMs = 2000, sumCheck = false, address = null } = {}) {
      const ref = [pagesArray(pages)];
      const args = [this.h(), ref, rate, timeoutMs, sumCheck ? 0 : 1, [null]];
      if (address !== null) args.push(address);
      return { ref, args, fn: address !== null ? x.ROBOT_ReadToolMemoryAddressed : x.ROBOT_ReadToolMemory };
    }
    downloaded(result, ref, out) {
      destroyArray(ref[0]);
      const rows = takeRows(adopt(out[0]));
      if (result === 0) throw new VornexError('the download failed', 0);
      if (result === -1) throw new VornexError('the download was cancelled', -1);
      return rows;
    }
    // Blocks the event loop until the download ends; shows the progress window.
    download(pages, options) {
      const { ref, args, fn } = this.downloadArgs(pages, options);
      return this.downloaded(fn(...args), ref, args[5]);
    }
    downloadAsync(pages, options) {
      if (this.portKind === 'tcp') {
        return Promise.reject(new TypeError('a TCP download runs on the attaching thread: use download()'));
      }
      const { ref, args, fn } = this.downloadArgs(pages, options);
      return new Promise((resolve, reject) => {
        fn.async(...args, (err, result) => {
          if (err) return reject(err);
          try {
            resolve(this.downloaded(result, ref, args[5]));
          } catch (e) {
            reject(e);
          }
        });
      });
    }
    ftdi(fn, ...args) {
      if (this.portKind !== 'ftdi') throw new TypeError('no FTDI device is attached');
      return x[fn](this.port, ...args);
    }
    openDevice(description) { return !!this.ftdi('OpenFTDIDevice', description); }
    getLocId() { return this.ftdi('FTDI_GetLocID') >>> 0; }
    resetDevice() { return this.ftdi('FTDI_ResetDevice'); }
    cyclePort() { return this.ftdi('FTDI_CyclePort'); }
    setBaud(rate) { return this.ftdi('SetFTDIBaud', rate); }
    setLatency(ms) { return this.ftdi('SetFTDILatency', ms); }
    setUsbParameters(inSize, outSize) { return this.ftdi('SetFTDIUSBParameters', inSize, outSize); }
    resetToolRate() { return this.ftdi('FTDI_ResetToolRate'); }
    // Stops the worker, destroys the robot object, then releases the port.
    destroy() {
      if (!this.handle) return false;
      const done = !!x.ROBOT_Destroy(this.handle);
      this.handle = null;
      this.releasePort();
      return done;
    }
  }

  return {
    held,
    exports,
    Robot,
    VornexError,
    comPorts,
    ftdiDevices,
    ftdiDeviceStrings,
    ftdiPresent,
    ftdiLibraryVersion: () => x.FTDI_GetLibraryVersion(),
    ftdiDriverStatus: () => x.FTDI_GetDriverStatus(),
    pumpMessages,
    cancelDownload,
    arrays: { bytesArray, pagesArray, takeBytes, takeRows, takeInts, takeStrings, takeBstr, destroyArray, adopt },
    liveArrays: () => liveArrays,
  };
}

module.exports = { load, VornexError, PROTOTYPES, CDECL_PROTOTYPES };
