// The questions answered without capturing: --list and --version.
import { execFile } from 'node:child_process';

import { binaryPath } from './binary.js';
import { errorOf } from './lines.js';

function run(args) {
  return new Promise((resolve, reject) => {
    execFile(binaryPath(), args, { windowsHide: true, maxBuffer: 16 << 20 }, (error, stdout, stderr) => {
      const lines = stderr.split('\n').map((l) => l.replace(/\r$/, '')).filter(Boolean);
      if (error) reject(typeof error.code === 'number' || error.signal ? errorOf(lines, error.code ?? null, error.signal) : error);
      else resolve(stdout.split('\n').map((l) => l.replace(/\r$/, '')).filter(Boolean));
    });
  });
}

// The processes with an audio session: "pid\tstate\texecutable\troot" rows after a header.
export async function list() {
  const [, ...rows] = await run(['--list']);
  return rows.map((row) => {
    const [pid, state, executable, root] = row.split('\t');
    return { pid: Number(pid), state, executable, rootPid: Number(root) };
  });
}

// "procloop 1.0.0" -> "1.0.0"
export async function version() {
  const [line] = await run(['--version']);
  return line.replace(/^procloop /, '');
}
