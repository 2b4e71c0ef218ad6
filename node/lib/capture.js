// One run of procloop as a capture: its samples as whole frames, its lines as
// events and promises, and a stop that ends it in order on every platform.
import { spawn } from 'node:child_process';
import { EventEmitter } from 'node:events';

import { binaryPath } from './binary.js';
import { errorOf, onLines, startedFormat } from './lines.js';

// The command line for the options a caller gives; the program itself judges them.
export function captureArguments(options = {}) {
  const args = [];
  const value = (flag, v) => {
    if (v !== undefined && v !== null) args.push(flag, String(v));
  };
  value('--pid', options.pid);
  value('--hwnd', options.windowHandle);
  value('--name', options.name);
  value('--sample-rate', options.sampleRate);
  value('--channels', options.channels);
  value('--duration', options.durationSeconds);
  if (options.includeChildProcesses) args.push('--include-child-processes');
  if (options.continuous) args.push('--continuous');
  if (options.stopWithTarget) args.push('--stop-with-target');
  // Closing standard input is how stop() ends the run in order, Windows included.
  args.push('--stop-with-stdin');
  if (options.command) args.push('--', ...options.command);
  return args;
}

// A promise whose rejection nobody has to handle: callers await the ones they want.
function settled() {
  let resolve, reject;
  const promise = new Promise((res, rej) => {
    resolve = res;
    reject = rej;
  });
  promise.catch(() => {});
  return { promise, resolve, reject };
}

export class Capture extends EventEmitter {
  constructor(options = {}) {
    super();
    const format = settled(), done = settled();
    this.format = format.promise;
    this.done = done.promise;
    this.lines = [];
    this.child = spawn(binaryPath(), captureArguments(options), { stdio: 'pipe', windowsHide: true });
    this.stream = this.child.stdout;
    // A run that has ended no longer reads its input: nothing to report.
    this.child.stdin.on('error', () => {});

    let started = false, exit = null, linesEnded = false;
    const finish = () => {
      if (!exit || !linesEnded) return;
      const [code, signal] = exit;
      // Once capture has run the exit code is the run's result: 0, or with a
      // command, the command's own status.
      if (started && code !== null) {
        done.resolve({ exitCode: code, lines: this.lines });
      } else {
        const error = errorOf(this.lines, code, signal);
        format.reject(error);
        done.reject(error);
      }
      this.emit('end');
    };
    onLines(this.child.stderr, (line) => {
      this.lines.push(line);
      this.emit('line', line);
      if (line.startsWith('warn: ')) this.emit('warning', line);
      const f = startedFormat(line);
      if (f && !started) {
        started = true;
        format.resolve(f);
      }
    }, () => {
      linesEnded = true;
      finish();
    });
    this.child.on('error', (error) => {  // no such binary, not executable
      format.reject(error);
      done.reject(error);
    });
    this.child.on('exit', (code, signal) => {
      exit = [code, signal];
      finish();
    });

    const { signal } = options;
    if (signal) {
      if (signal.aborted) this.stop();
      else signal.addEventListener('abort', () => this.stop(), { once: true });
    }
  }

  get pid() {
    return this.child.pid;
  }

  // Ends the capture in order, as Ctrl+C would: the program sees its input end.
  stop() {
    this.child.stdin.end();
    return this.done;
  }

  // Float32Array chunks of whole frames, interleaved; ends with the run, or
  // throws its error when capture never started. Use this or .stream, not both.
  async *[Symbol.asyncIterator]() {
    const { channels } = await this.format;
    const frameBytes = 4 * channels;
    let carried = Buffer.alloc(0);
    for await (const data of this.stream) {
      const bytes = carried.length ? Buffer.concat([carried, data]) : data;
      const whole = bytes.length - (bytes.length % frameBytes);
      carried = Buffer.from(bytes.subarray(whole));
      if (whole === 0) continue;
      // Copied, so the samples are aligned whatever the buffer's offset.
      const samples = new Float32Array(whole / 4);
      new Uint8Array(samples.buffer).set(bytes.subarray(0, whole));
      yield samples;
    }
    await this.done;
  }
}

export function capture(options) {
  return new Capture(options);
}
