// What the package's tests share: the private components scripts/lib starts
// (an audio server, a Wine prefix), each in a temporary directory of its own
// and stopped by the pid recorded here.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, openSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';

export const root = fileURLToPath(new URL('../..', import.meta.url));

// scripts/lib/<starter> <dir> <args...>; throws, with its log, unless it is ready in 60 s.
export async function startComponent(starter, args = []) {
  const dir = mkdtempSync(join(tmpdir(), 'procloop-node-'));
  const log = openSync(join(dir, 'log'), 'a');
  const child = spawn(join(root, 'scripts/lib', starter), [join(dir, 'c'), ...args], { stdio: ['ignore', log, log] });
  let exited = false;
  child.on('exit', () => (exited = true));
  for (let waited = 0; !existsSync(join(dir, 'c/ready')); waited += 50) {
    if (exited || waited > 60000) {
      child.kill();
      throw new Error(`${starter} did not start:\n${readFileSync(join(dir, 'log'), 'utf8')}`);
    }
    await sleep(50);
  }
  const env = {};
  for (const line of readFileSync(join(dir, 'c/env'), 'utf8').split('\n').filter(Boolean)) {
    const at = line.indexOf('=');
    env[line.slice(0, at)] = line.slice(at + 1);
  }
  return {
    dir: join(dir, 'c'),
    env,
    ready: readFileSync(join(dir, 'c/ready'), 'utf8').trim(),
    async stop() {
      if (!exited) {
        const gone = new Promise((resolve) => child.on('exit', resolve));
        child.kill('SIGTERM');
        await gone;
      }
      rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Sets variables for the binaries started from now on; an empty value removes one.
export function useEnvironment(env) {
  for (const [key, value] of Object.entries(env)) {
    if (value === '') delete process.env[key];
    else process.env[key] = value;
  }
}
