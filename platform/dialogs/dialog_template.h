// The device's binary dialog template (DLGTEMPLATE with its items) read
// into plain records: every read is checked against the template's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/dialogs/dialogs_api.h"

namespace zenta::platform {

struct ItemTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  std::u16string className, text;
};

struct ParsedTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::u16string title, fontName;
  int pointSize = 0;
  std::vector<ItemTemplate> items;
};

// False for a template that does not fit in `size` bytes.
bool parseDialogTemplate(const uint8_t* data, size_t size, ParsedTemplate& out);

}  // namespace zenta::platform
