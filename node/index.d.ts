import { EventEmitter } from 'node:events';
import { Readable } from 'node:stream';

export interface CaptureOptions {
  /** The process to capture. */
  pid?: number;
  /** A window whose owner is captured (Windows: an HWND; Linux: an X11 window id). */
  windowHandle?: number | bigint;
  /** The root of the tree of processes with this executable name. */
  name?: string;
  /** The target and its descendants; without it, everything except them. */
  includeChildProcesses?: boolean;
  /** 8000 to 192000 (default 48000). */
  sampleRate?: number;
  /** 1 to 8 (default 2). */
  channels?: number;
  /** Time without audio as zeros, so frame n is n / rate seconds after the start. */
  continuous?: boolean;
  /** Stop after this many seconds (0: no limit). */
  durationSeconds?: number;
  /** Stop once the target has exited. */
  stopWithTarget?: boolean;
  /** Start this program and capture it from its first sample (`-- <command> [args...]`). */
  command?: string[];
  /** Aborting it stops the capture, as stop() does. */
  signal?: AbortSignal;
}

export interface CaptureFormat {
  sampleRate: number;
  channels: number;
}

export interface CaptureEnd {
  /** 0; with `command`, the command's exit status (128 + N when signal N ended it). */
  exitCode: number;
  /** Every line the program wrote on standard error, without line ends. */
  lines: string[];
}

export declare class Capture extends EventEmitter implements AsyncIterable<Float32Array> {
  /** The raw little-endian float32 interleaved bytes, for piping; use it or the iterator, not both. */
  readonly stream: Readable;
  /** Once capture has started; rejects with a ProcloopError when it never does. */
  readonly format: Promise<CaptureFormat>;
  /** Once the run has ended after capture started; rejects with a ProcloopError otherwise. */
  readonly done: Promise<CaptureEnd>;
  /** Standard error's lines so far. */
  readonly lines: string[];
  readonly pid: number | undefined;
  /** Ends the capture in order (its input closed) and resolves as done does. */
  stop(): Promise<CaptureEnd>;
  /** Whole frames, interleaved. */
  [Symbol.asyncIterator](): AsyncIterator<Float32Array>;

  on(event: 'warning' | 'line', listener: (line: string) => void): this;
  on(event: 'end', listener: () => void): this;
  on(event: string | symbol, listener: (...args: any[]) => void): this;
}

export declare class ProcloopError extends Error {
  /** The program's line, e.g. "error: IAudioClient::Initialize hr=0x88890008". */
  readonly line: string;
  /** null when a signal ended it. */
  readonly exitCode: number | null;
  readonly signal: string | null;
  /** The failed Windows call's status, when the line carries one. */
  readonly hresult: number | undefined;
}

export interface SessionRow {
  pid: number;
  state: 'active' | 'inactive';
  executable: string;
  /** The root of its tree of processes with that executable. */
  rootPid: number;
}

export declare function capture(options: CaptureOptions): Capture;
export declare function list(): Promise<SessionRow[]>;
/** "1.0.0" */
export declare function version(): Promise<string>;
/** PROCLOOP_BINARY, else the package's prebuilt binary for this platform. */
export declare function binaryPath(): string;
/** A WAVE header (58 bytes) for 32-bit float samples: write it first, and again at 0 once the size is known. */
export declare function wavHeader(format: CaptureFormat, dataBytes: number): Buffer;
