// procloop for Node.js: the program's capture of one process tree as a stream
// of Float32Array chunks, and its --list and --version.
export { capture, Capture } from './lib/capture.js';
export { ProcloopError } from './lib/lines.js';
export { list, version } from './lib/requests.js';
export { binaryPath } from './lib/binary.js';
export { wavHeader } from './lib/wav.js';
