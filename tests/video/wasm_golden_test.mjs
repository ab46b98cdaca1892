// The WebAssembly build of the decoder is the decoder: the streams kept in
// the tree decode under node to the same checksums, picture by picture, as
// the native build's (tests/inputs/h263/*.md5).
// Usage: node wasm_golden_test.mjs DECODER.wasm LOADER.mjs STREAMS-DIR
import { createHash } from "node:crypto";
import { readFileSync, readdirSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [wasmPath, loaderPath, dir] = process.argv.slice(2);
const { loadDecoder } = await import(pathToFileURL(loaderPath).href);
const module = await loadDecoder(readFileSync(wasmPath));

// The pictures of a stream: each from a byte-aligned picture start code
// (0x00 0x00, then 100000xx) to the next.
function pictures(stream) {
  const starts = [];
  for (let i = 0; i + 2 < stream.length; ++i) {
    if (stream[i] === 0 && stream[i + 1] === 0 && (stream[i + 2] & 0xfc) === 0x80) starts.push(i);
  }
  return starts.map((s, k) => stream.subarray(s, k + 1 < starts.length ? starts[k + 1] : stream.length));
}

function md5(p) {
  const hash = createHash("md5");
  const rows = (plane, stride, w, h) => {
    for (let y = 0; y < h; ++y) hash.update(plane.subarray(y * stride, y * stride + w));
  };
  rows(p.y, p.stride, p.width, p.height);
  rows(p.cb, p.stride / 2, p.width / 2, p.height / 2);
  rows(p.cr, p.stride / 2, p.width / 2, p.height / 2);
  return hash.digest("hex");
}

let failed = 0;
let streams = 0;
for (const name of readdirSync(dir).filter((n) => n.endsWith(".263")).sort()) {
  const expected = readFileSync(join(dir, name.replace(/\.263$/, ".md5")), "utf8").trim().split("\n");
  const decoder = module.create();
  const got = [];
  for (const picture of pictures(readFileSync(join(dir, name)))) {
    const planes = decoder.decode(picture);
    if (planes) got.push(`${got.length + 1} ${planes.width}x${planes.height} ${md5(planes)}`);
  }
  decoder.free();
  ++streams;
  if (got.join("\n") !== expected.join("\n")) {
    ++failed;
    console.log(`FAIL ${name}: ${got.length} pictures, ${expected.length} kept`);
    for (let i = 0; i < Math.max(got.length, expected.length); ++i) {
      if (got[i] !== expected[i]) {
        console.log(`  got  ${got[i]}\n  kept ${expected[i]}`);
        break;
      }
    }
  }
}
if (streams < 12) {
  console.log(`FAIL: only ${streams} streams`);
  process.exit(1);
}
console.log(failed === 0 ? `wasm golden streams: ${streams} streams, every picture as kept` : `${failed} streams differ`);
process.exit(failed === 0 ? 0 : 1);
