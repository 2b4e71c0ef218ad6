// What procloop's standard error says, one line at a time.

// A run that ended before capture started, or a request it refused: the
// program's own error line, its exit code and, for a failed Windows call, the
// call's HRESULT.
export class ProcloopError extends Error {
  constructor(line, exitCode, signal = null) {
    super(line || (signal ? `procloop ended by ${signal}` : `procloop exited with code ${exitCode}`));
    this.name = 'ProcloopError';
    this.line = line;
    this.exitCode = exitCode;
    this.signal = signal;
    const hr = /hr=0x([0-9A-Fa-f]{8})/.exec(line);
    this.hresult = hr ? parseInt(hr[1], 16) : undefined;
  }
}

// The error from a run's lines: its last "error:" line, else its last line.
export function errorOf(lines, exitCode, signal) {
  const line = lines.findLast((l) => l.startsWith('error: ')) ?? lines.at(-1) ?? '';
  return new ProcloopError(line, exitCode, signal);
}

// "info: capture started sampleRate=48000 channels=2" (capture_lines.h).
export function startedFormat(line) {
  const m = /^info: capture started sampleRate=(\d+) channels=(\d+)$/.exec(line);
  return m ? { sampleRate: Number(m[1]), channels: Number(m[2]) } : null;
}

// Splits a stream of text into lines without their "\n" or Windows' "\r\n".
export function onLines(stream, onLine, onEnd) {
  let rest = '';
  stream.setEncoding('utf8');
  stream.on('data', (text) => {
    const parts = (rest + text).split('\n');
    rest = parts.pop();
    for (const part of parts) onLine(part.replace(/\r$/, ''));
  });
  stream.on('end', () => {
    if (rest) onLine(rest.replace(/\r$/, ''));
    onEnd();
  });
}
