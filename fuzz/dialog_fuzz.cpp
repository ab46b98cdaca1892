// The dialog template reader on arbitrary bytes, within their size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_target.h"
#include "platform/dialogs/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zenta::platform::ParsedTemplate parsed;
  if (zenta::platform::parseDialogTemplate(data, size, parsed)) {
    size_t characters = parsed.title.size() + parsed.fontName.size();
    for (const auto& item : parsed.items)
      characters += item.className.size() + item.text.size();
    if (characters > size) __builtin_trap();  // every character came from the input
  }
  return 0;
}
