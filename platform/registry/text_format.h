// The registry file's text: a version line, then each key as a bracketed
// path followed by its values, one a line. Names and texts keep every
// character through escapes; values that are not plain texts are written
// as bytes, so every value reads back exactly.
#pragma once

#include <string>

#include "platform/registry/tree.h"

namespace zenta::platform {

std::string formatRegistryText(const Key (&roots)[2]);
// False for a text that is not a whole registry file; `roots` may then
// hold part of it.
bool parseRegistryText(const std::string& text, Key (&roots)[2]);

}  // namespace zenta::platform
