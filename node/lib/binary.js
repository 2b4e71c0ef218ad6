// Where the procloop executable is: PROCLOOP_BINARY, else the one built for
// this platform in the package's own prebuilds/<platform>-<arch>/.
import { existsSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

export function binaryPath() {
  const chosen = process.env.PROCLOOP_BINARY;
  if (chosen) return chosen;
  const name = process.platform === 'win32' ? 'procloop.exe' : 'procloop';
  const file = fileURLToPath(new URL(`../prebuilds/${process.platform}-${process.arch}/${name}`, import.meta.url));
  if (!existsSync(file)) {
    throw new Error(`procloop has no binary for ${process.platform}-${process.arch} (looked for ${file}); set PROCLOOP_BINARY`);
  }
  return file;
}
