// What the bridge serves its page from: the page at "/", its decoder (our
// own, built to WebAssembly; empty when the build had no toolchain for it)
// and the scripts of the worker that runs it.
#pragma once

#include <cstddef>

namespace zenta::bridge {

extern const char kPageHtml[];
extern const char kWorkerJs[];
extern const char kLoaderJs[];
extern const unsigned char kDecoderWasm[];
extern const size_t kDecoderWasmSize;

}  // namespace zenta::bridge
