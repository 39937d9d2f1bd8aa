// Type declarations of the vornex binding for Node.js (see README.md).

/** A pointer the library made (robot object, port, array, BSTR), as koffi 3 gives it: a bigint (null for none). */
export type Pointer = bigint;
/** A SAFEARRAY** parameter of a raw export: pass [array or null]; [0] holds the result after the call. */
export type ArrayRef = [Pointer | null];

export class VornexError extends Error {
  /** The export's result that reports the failure: 0 (failed, nothing issued), -1 (abandoned, cancelled), -2 (no matrix). */
  code: number;
}

/** Page runs of a download: [first page, page count] per row. */
export type PageRuns = Array<[number, number]>;

export interface DownloadOptions {
  /** Rate the tool sends pages at (FTDI links only): 38400 (default), 76800, 115200, 153600, 230400. */
  rate?: number;
  /** Longest wait for a page frame, ms (default 2000). */
  timeoutMs?: number;
  /** Sum-checked instead of CRC-checked page frames (default false). */
  sumCheck?: boolean;
  /** An addressed tool's address (first five characters sent): ROBOT_ReadToolMemoryAddressed. */
  address?: string | null;
}

export interface FlashPageOptions {
  rate?: number;
  sumCheck?: boolean;
  address?: string | null;
}

/** A complete reply: one Buffer, or one Buffer per part (each as wide as the largest, zero-padded). */
export type Reply = Buffer | Buffer[];

export interface FtdiDevice {
  description: string;
  serial: string;
  /** COM port number; 0 or -1 when the device has none (as the library reports it). */
  comPort: number;
  index: number;
  location: number;
}

export interface ComPort {
  number: number;
  description: string;
}

export type PortKind = 'serial' | 'tcp' | 'ftdi';

export interface Robot {
  /** ROBOT_HANDLE, null once destroyed. */
  readonly handle: Pointer | null;
  /** PORT_HANDLE of the attached port, null when none. */
  readonly port: Pointer | null;
  readonly portKind: PortKind | null;
  readonly alive: boolean;
  attachSerial(comPort: number): this;
  attachTcp(host: string, tcpPort: number, connectMs?: number): this;
  attachFtdi(description: string): this;
  attachFtdiByLoc(location: number): this;
  attachFtdiByIndex(index: number): this;
  releasePort(): boolean;
  setTimeout(ms: number): void;
  setKeepAlive(on: boolean): void;
  startLogging(path: string): void;
  startPolling(): boolean;
  stopPolling(): void;
  isIdle(): boolean;
  send(command: string | Buffer | Uint8Array | number[], kind?: number): number;
  toolInfo(): number;
  readFlashPages(firstPage: number, pageCount: number, options?: FlashPageOptions): number;
  writeToPort(bytes: Buffer | Uint8Array | number[], length?: number): number;
  getReply(id: number): Reply | null;
  waitReply(id: number, timeoutMs: number): Reply | null;
  waitReplyAsync(id: number, timeoutMs: number): Promise<Reply | null>;
  deleteReply(id: number): boolean;
  download(pages: PageRuns, options?: DownloadOptions): Buffer[];
  downloadAsync(pages: PageRuns, options?: DownloadOptions): Promise<Buffer[]>;
  openDevice(description: string): boolean;
  getLocId(): number;
  resetDevice(): number;
  cyclePort(): number;
  setBaud(rate: number): number;
  setLatency(ms: number): number;
  setUsbParameters(inSize: number, outSize: number): number;
  resetToolRate(): number;
  destroy(): boolean;
}

/** A koffi function: call it, or .async(...args, callback) on a worker thread. */
export interface RawFunction {
  (...args: any[]): any;
  async(...args: any[]): void;
}

export interface Arrays {
  bytesArray(bytes: Buffer | Uint8Array | number[]): Pointer;
  pagesArray(runs: PageRuns): Pointer;
  takeBytes(array: Pointer | null): Reply | null;
  takeRows(array: Pointer | null): Buffer[];
  takeInts(array: Pointer | null): number[];
  takeStrings(array: Pointer | null): string[];
  takeBstr(bstr: Pointer | null): string;
  destroyArray(array: Pointer | null): void;
  adopt(array: Pointer | null): Pointer | null;
}

export interface Vornex {
  /** Every plain export by its plain name, plus ROBOT_ReadFlashPages. */
  exports: { [name: string]: RawFunction };
  Robot: { new (): Robot };
  VornexError: typeof VornexError;
  comPorts(): ComPort[];
  ftdiDevices(): FtdiDevice[];
  ftdiDeviceStrings(): string[];
  ftdiPresent(): boolean;
  ftdiLibraryVersion(): number;
  ftdiDriverStatus(): number;
  pumpMessages(): number;
  cancelDownload(): boolean;
  arrays: Arrays;
  liveArrays(): number;
}

export interface LoadOptions {
  /** An Ftd2xx.dll to load first and keep loaded while the library lives. */
  ftd2xx?: string;
}

export function load(dllPath: string, options?: LoadOptions): Vornex;
