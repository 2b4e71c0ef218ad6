// The package against the Linux binary (the package's prebuilt one, or
// PROCLOOP_BINARY) and a private PulseAudio server: a tone played in, the
// same samples out; the program's exact errors; stop() and an AbortSignal end
// a capture cleanly; --list and --version; wavHeader().
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { readFileSync, readlinkSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { after, before, test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';

import { capture, list, ProcloopError, version, wavHeader } from '../index.js';
import { startComponent, useEnvironment } from './support.js';

let server, player, source;

// The samples of a float32 WAVE file: its data chunk.
function samplesOf(path) {
  const file = readFileSync(path);
  for (let at = 12; at < file.length; at += 8 + file.readUInt32LE(at + 4)) {
    if (file.toString('ascii', at, at + 4) === 'data') {
      const bytes = file.subarray(at + 8, at + 8 + file.readUInt32LE(at + 4));
      return new Float32Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
    }
  }
  throw new Error(`${path} has no data chunk`);
}

before(async () => {
  // PulseAudio now and then aborts when a client whose shared memory it imported is killed.
  process.env.PULSEAUDIO_OPTIONS = '--disable-shm=yes';
  server = await startComponent('audio-server', ['pulseaudio']);
  useEnvironment(server.env);
  const wav = join(server.dir, 'tone.wav');
  execFileSync('sox', ['-n', '-r', '48000', '-c', '2', '-e', 'float', '-b', '32', wav,
    'synth', '20', 'sine', '440', 'sine', '660', 'vol', '0.25']);
  source = samplesOf(wav);
  player = spawn('paplay', ['--latency-msec=50', wav], { stdio: 'ignore' });
  for (let looks = 0; !(await list()).some((row) => row.pid === player.pid); ++looks) {
    assert.ok(looks < 200, 'the player never appeared in --list');
    await sleep(50);
  }
});

after(async () => {
  player?.kill();
  await server?.stop();
});

test('version() is the package version', async () => {
  const pkg = JSON.parse(readFileSync(new URL('../package.json', import.meta.url)));
  assert.equal(await version(), pkg.version);
});

test('list() has the player as a row of its own', async () => {
  const executable = basename(readlinkSync(`/proc/${player.pid}/exe`));
  assert.deepEqual((await list()).filter((row) => row.pid === player.pid),
    [{ pid: player.pid, state: 'active', executable, rootPid: player.pid }]);
});

// Ends a capture of the player once half a second has arrived; everything it yielded, joined.
async function half(end, options = {}) {
  const c = capture({ pid: player.pid, includeChildProcesses: true, ...options });
  const chunks = [];
  let frames = 0, ended = false;
  for await (const chunk of c) {
    assert.equal(chunk.length % 2, 0, 'a chunk of part of a frame');
    chunks.push(chunk);
    frames += chunk.length / 2;
    if (frames >= 24000 && !ended) {
      ended = true;
      end(c);
    }
  }
  const samples = new Float32Array(frames * 2);
  chunks.reduce((at, chunk) => (samples.set(chunk, at), at + chunk.length), 0);
  return { c, samples, end: await c.done };
}

for (const [how, run] of [
  ['stop()', () => half((c) => c.stop())],
  ['an AbortSignal', () => {
    const controller = new AbortController();
    return half(() => controller.abort(), { signal: controller.signal });
  }],
]) {
  test(`${how} ends a capture in order, the player's samples as they were played`, async () => {
    const { c, samples, end } = await run();
    assert.deepEqual(await c.format, { sampleRate: 48000, channels: 2 });
    assert.deepEqual(end, {
      exitCode: 0,
      lines: [`info: pid=${player.pid} includeChildren=true`, `info: audio server ${server.ready}`,
        'info: capture format 48000 Hz 2 ch 32 bit float', 'info: capture started sampleRate=48000 channels=2',
        'info: capture stopped'],
    });
    // Where the capture's first frame is in the file, then every frame after it.
    let at = -1;
    for (let f = 0; f + 1 < source.length / 2 && at < 0; ++f) {
      if (source[2 * f] === samples[0] && source[2 * f + 1] === samples[1]) at = 2 * f;
    }
    assert.ok(at >= 0, `the first frame ${samples[0]}, ${samples[1]} is not in the file`);
    const mismatch = samples.findIndex((s, i) => s !== source[at + i]);
    assert.equal(mismatch, -1, `sample ${mismatch} of ${samples.length} differs`);
    // wavHeader() before them makes a file another program reads back as the same samples.
    const wav = join(server.dir, 'captured.wav');
    writeFileSync(wav, Buffer.concat([wavHeader(await c.format, samples.byteLength), Buffer.from(samples.buffer)]));
    assert.ok(Buffer.from(samples.buffer).equals(execFileSync('sox', [wav, '-t', 'f32', '-'], { maxBuffer: 1 << 24 })));
  });
}

test('a command is captured from its start and its exit status is the end\'s', async () => {
  const c = capture({ command: ['sh', '-c', 'exit 3'] });
  assert.deepEqual(await c.format, { sampleRate: 48000, channels: 2 });
  const end = await c.done;
  assert.equal(end.exitCode, 3);
  assert.match(end.lines[0], /^info: pid=\d+ includeChildren=true$/);
  await assert.rejects(capture({ command: ['no-such-command-here'] }).done,
    { line: 'error: command not found: no-such-command-here', exitCode: 127 });
});

test('a run that cannot start rejects with the program\'s own line', async (t) => {
  const cases = [
    [{}, 'error: --pid <pid> or --hwnd <hwnd> is required'],
    [{ pid: 1, sampleRate: 'fast' }, 'error: invalid value for --sample-rate: fast'],
    [{ name: 'no-such-program-here' }, 'error: no process named no-such-program-here'],
  ];
  for (const [options, line] of cases) {
    await t.test(line, async () => {
      const c = capture(options);
      const expected = (e) => e instanceof ProcloopError && e.line === line && e.exitCode === 1 && e.hresult === undefined;
      await assert.rejects(c.format, expected);
      await assert.rejects(c.done, expected);
      await assert.rejects(async () => { for await (const chunk of c) assert.fail(`yielded ${chunk.length}`); }, expected);
    });
  }
  const saved = process.env.PULSE_SERVER;
  process.env.PULSE_SERVER = 'unix:/nonexistent/procloop-node/native';
  try {
    await assert.rejects(list(), { line: 'error: cannot connect to the audio server: Connection refused', exitCode: 1 });
  } finally {
    process.env.PULSE_SERVER = saved;
  }
});
