// The page's decoder, in a worker of its own: the coded pictures of each
// watched channel come in ({channel, payload}), one decoder a channel
// decodes every one of them (each predicts from the one before), and the
// latest picture of a channel goes back to the page as its three planes
// ({channel, width, height, y, cb, cr}, tightly packed) when the page has
// drawn the one before: a page that draws slowly gets the newest, never a
// queue.
import { loadDecoder } from "/load_decoder.mjs";

const decoders = new Map();
const waiting = new Map();  // channel -> the newest picture the page has not taken
const drawing = new Set();  // channels whose last picture the page is drawing
let module = null;
const early = [];

function pack(plane, stride, width, height) {
  const out = new Uint8Array(width * height);
  for (let y = 0; y < height; ++y) out.set(plane.subarray(y * stride, y * stride + width), y * width);
  return out;
}

function send(channel) {
  const p = waiting.get(channel);
  if (!p || drawing.has(channel)) return;
  waiting.delete(channel);
  drawing.add(channel);
  postMessage(p, [p.y.buffer, p.cb.buffer, p.cr.buffer]);
}

function decode(channel, payload, stamp) {
  let decoder = decoders.get(channel);
  if (!decoder) {
    decoder = module.create(704 * 576);
    decoders.set(channel, decoder);
  }
  const p = decoder.decode(payload);
  if (!p) return;
  waiting.set(channel, {
    channel, stamp, width: p.width, height: p.height,
    y: pack(p.y, p.stride, p.width, p.height),
    cb: pack(p.cb, p.stride / 2, p.width / 2, p.height / 2),
    cr: pack(p.cr, p.stride / 2, p.width / 2, p.height / 2),
  });
  send(channel);
}

onmessage = (m) => {
  const d = m.data;
  if (d.drawn !== undefined) {
    drawing.delete(d.drawn);
    send(d.drawn);
  } else if (d.forget !== undefined) {
    // The channel is no longer watched: its next picture starts a new stream.
    decoders.get(d.forget)?.free();
    decoders.delete(d.forget);
    waiting.delete(d.forget);
    drawing.delete(d.forget);
  } else if (module) {
    decode(d.channel, d.payload, d.stamp);
  } else {
    early.push(d);
  }
};

fetch("/decoder.wasm")
  .then((r) => r.arrayBuffer())
  .then((bytes) => loadDecoder(bytes))
  .then((m) => {
    module = m;
    for (const d of early.splice(0)) decode(d.channel, d.payload, d.stamp);
    postMessage({ ready: true });
  })
  .catch((e) => postMessage({ failed: String(e) }));
