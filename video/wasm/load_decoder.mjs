// Loads the decoder's WebAssembly module in node or a browser: the module
// asks the host for a few system calls (the environment, writing to a
// file), which answer as on a system without either.
export async function loadDecoder(bytes) {
  let memory = null;
  const nothing = () => 0;
  const wasi = {
    environ_get: nothing,
    environ_sizes_get: (countAt, sizeAt) => {
      const view = new DataView(memory.buffer);
      view.setUint32(countAt, 0, true);
      view.setUint32(sizeAt, 0, true);
      return 0;
    },
    fd_close: nothing,
    fd_seek: nothing,
    fd_write: (fd, iovs, count, writtenAt) => {
      new DataView(memory.buffer).setUint32(writtenAt, 0, true);
      return 0;
    },
    proc_exit: (code) => {
      throw new Error(`the decoder stopped (${code})`);
    },
  };
  const { instance } = await WebAssembly.instantiate(bytes, { wasi_snapshot_preview1: wasi });
  memory = instance.exports.memory;
  const e = instance.exports;
  return {
    // A decoder of its own, for one channel's pictures.
    create(maxPixels = 0) {
      const handle = e.zenta_decoder_new(maxPixels);
      if (handle === 0) throw new Error("no memory for a decoder");
      let buffer = 0;
      let room = 0;
      return {
        // The picture's planes (views into the module's memory, valid until
        // the next decode), or null when the payload brought none.
        decode(payload) {
          if (payload.length > room) {
            if (buffer !== 0) e.zenta_free(buffer);
            room = Math.max(payload.length, 65536);
            buffer = e.zenta_alloc(room);
          }
          new Uint8Array(memory.buffer, buffer, payload.length).set(payload);
          if (e.zenta_decode(handle, buffer, payload.length) !== 1) return null;
          const width = e.zenta_width(handle);
          const height = e.zenta_height(handle);
          const stride = e.zenta_stride(handle);
          const plane = (at, step, rows) => new Uint8Array(memory.buffer, at, step * rows);
          // Chroma rows are half as long (stride / 2) and half as many.
          return {
            width, height, stride,
            y: plane(e.zenta_y(handle), stride, height),
            cb: plane(e.zenta_cb(handle), stride / 2, height / 2),
            cr: plane(e.zenta_cr(handle), stride / 2, height / 2),
          };
        },
        free() {
          if (buffer !== 0) e.zenta_free(buffer);
          e.zenta_decoder_free(handle);
        },
      };
    },
  };
}
