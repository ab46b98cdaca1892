# Warning flags for every target of the project (not for third-party code).
add_library(zenta_warnings INTERFACE)
target_compile_options(zenta_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wcast-align -Wformat=2 -Wimplicit-fallthrough -Wmissing-declarations
  $<$<BOOL:${ZENTA_WERROR}>:-Werror>)
