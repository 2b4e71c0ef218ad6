// A WAVE header for 32-bit float samples (58 bytes: RIFF, fmt with its
// extension size, fact, data), to write before them and again over the first
// bytes once their size is known.
export function wavHeader({ sampleRate, channels }, dataBytes) {
  const header = Buffer.alloc(58);
  header.write('RIFF', 0, 'ascii');
  header.writeUInt32LE(50 + dataBytes, 4);
  header.write('WAVEfmt ', 8, 'ascii');
  header.writeUInt32LE(18, 16);
  header.writeUInt16LE(3, 20);  // WAVE_FORMAT_IEEE_FLOAT
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(sampleRate, 24);
  header.writeUInt32LE(sampleRate * channels * 4, 28);
  header.writeUInt16LE(channels * 4, 32);
  header.writeUInt16LE(32, 34);
  header.writeUInt16LE(0, 36);  // no extension
  header.write('fact', 38, 'ascii');
  header.writeUInt32LE(4, 42);
  header.writeUInt32LE(Math.floor(dataBytes / (channels * 4)), 46);
  header.write('data', 50, 'ascii');
  header.writeUInt32LE(dataBytes, 54);
  return header;
}
