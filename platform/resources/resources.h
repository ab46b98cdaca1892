// Resources compiled into the program (bitmaps, icons, menu bars, dialog
// templates): the generated resource file of an executable registers them
// here when the program starts; the device's resource calls find them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zenta::platform {

// A resource of a numbered type (RT_BITMAP 2, RT_ICON 3, RT_DIALOG 5,
// RT_RCDATA 10) with a number, or with a name when `name` is not empty.
void registerResource(uint16_t type, uint16_t id, const std::u16string& name, const uint8_t* data,
                      size_t size);

// The bytes from `at` to the end of the registered resource that holds it;
// nothing when no resource does.
std::optional<size_t> resourceBytesFrom(const void* at);

struct ResourceRegistrar {
  ResourceRegistrar(uint16_t type, uint16_t id, const char16_t* name, const uint8_t* data,
                    size_t size) {
    registerResource(type, id, name, data, size);
  }
};

}  // namespace zenta::platform
