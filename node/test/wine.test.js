// The package driving the Windows executable under Wine (PROCLOOP_BINARY: a
// script that runs it) beside the test-only fake audio service's DLL of the
// cross build in PROCLOOP_WINDOWS_BUILD: stop() ends the capture in order, a
// set-up failure is a ProcloopError with its HRESULT, warn: lines are
// 'warning' events.
import assert from 'node:assert/strict';
import { chmodSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { capture, ProcloopError } from '../index.js';
import { startComponent, useEnvironment } from './support.js';

const build = process.env.PROCLOOP_WINDOWS_BUILD;
let prefix;

before(async () => {
  assert.ok(build, 'PROCLOOP_WINDOWS_BUILD names no cross build with the test DLL');
  prefix = await startComponent('wine-prefix');
  const wrapper = join(prefix.dir, 'procloop');
  writeFileSync(wrapper, `#!/bin/sh\nexec wine "${build}/engine-run/procloop.exe" "$@"\n`);
  chmodSync(wrapper, 0o755);
  useEnvironment({ ...prefix.env, WINEDLLOVERRIDES: 'mmdevapi=n,b', STANDIN_ENGINE_JOURNAL: '', PROCLOOP_BINARY: wrapper });
});

after(async () => {
  await prefix?.stop();
});

// The fake service plays `script` as Windows 11 would.
function play(script) {
  process.env.STANDIN_ENGINE_SCRIPT = `windows=10.0.22631;${script}`;
}

const head = ['info: pid=1234 includeChildren=true', 'info: windows version 10.0 build 22631',
  'info: capture format 48000 Hz 2 ch 32 bit float'];

test('stop() ends the capture in order, with the tone the service played', async () => {
  play('end=tone');
  const c = capture({ pid: 1234, includeChildProcesses: true });
  let frames = 0, peak = 0, stopped = false;
  for await (const chunk of c) {
    assert.equal(chunk.length % 2, 0, 'a chunk of part of a frame');
    for (let i = 0; i < chunk.length; i += 2) {
      assert.equal(chunk[i], chunk[i + 1], 'the channels of one frame differ');
      peak = Math.max(peak, Math.abs(chunk[i]));
    }
    frames += chunk.length / 2;
    if (frames >= 12000 && !stopped) {
      stopped = true;
      c.stop();
    }
  }
  assert.ok(Math.abs(peak - 0.25) < 1e-3, `the tone's peak is ${peak}`);
  assert.deepEqual(await c.done, {
    exitCode: 0,
    lines: [...head, 'info: capture started sampleRate=48000 channels=2', 'info: capture stopped'],
  });
});

test('a set-up failure rejects with the line, its exit code and its HRESULT', async () => {
  play('fail=SetEventHandle:80070057');
  const c = capture({ pid: 1234, includeChildProcesses: true });
  const expected = (e) => e instanceof ProcloopError && e.line === 'error: SetEventHandle hr=0x80070057' &&
    e.exitCode === 1 && e.hresult === 0x80070057;
  await assert.rejects(c.format, expected);
  await assert.rejects(c.done, expected);
  assert.deepEqual(c.lines, [...head, 'error: SetEventHandle hr=0x80070057']);
});

test('a warn: line is a warning event, and the run still ends well', async () => {
  play('period=1;end=error:88890004;burst=10,20;burst=30');
  const c = capture({ pid: 1234, includeChildProcesses: true });
  const warnings = [];
  c.on('warning', (line) => warnings.push(line));
  let samples = 0;
  for await (const chunk of c) samples += chunk.length;
  assert.equal(samples, 60 * 2);
  assert.deepEqual(warnings, ['warn: GetNextPacketSize hr=0x88890004']);
  assert.equal((await c.done).exitCode, 0);
});
