# Sanitizer builds: ZENTA_SANITIZE=address (AddressSanitizer and
# UndefinedBehaviorSanitizer), ZENTA_SANITIZE=thread (ThreadSanitizer) or
# ZENTA_SANITIZE=fuzz (libFuzzer builds, clang only).
if(ZENTA_SANITIZE STREQUAL "address")
  set(_zenta_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(ZENTA_SANITIZE STREQUAL "thread")
  set(_zenta_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(ZENTA_SANITIZE STREQUAL "fuzz")
  # Fuzz targets: coverage for libFuzzer, with AddressSanitizer and
  # UndefinedBehaviorSanitizer; the targets link the fuzzer itself.
  # Neither the build tool nor ccache reads the ignore list itself, so the
  # compilers get a copy named by its digest: an edit to the list changes
  # every compile line and rebuilds what it covers. Editing it reconfigures.
  set(_zenta_ignore ${PROJECT_SOURCE_DIR}/fuzz/coverage_ignore.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_zenta_ignore})
  file(SHA1 ${_zenta_ignore} _zenta_ignore_digest)
  set(_zenta_ignore_copy ${CMAKE_BINARY_DIR}/coverage_ignore-${_zenta_ignore_digest}.txt)
  configure_file(${_zenta_ignore} ${_zenta_ignore_copy} COPYONLY)
  set(_zenta_san -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer -fsanitize-coverage-ignorelist=${_zenta_ignore_copy})
elseif(NOT ZENTA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZENTA_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_zenta_san)
  add_compile_options(${_zenta_san})
  add_link_options(${_zenta_san})
endif()
# What the code may ask of the build, whichever the compiler (GCC defines
# __SANITIZE_ADDRESS__ and __SANITIZE_THREAD__, clang 14 neither).
if(ZENTA_SANITIZE STREQUAL "address" OR ZENTA_SANITIZE STREQUAL "fuzz")
  add_compile_definitions(ZENTA_SANITIZE_ADDRESS=1)
elseif(ZENTA_SANITIZE STREQUAL "thread")
  add_compile_definitions(ZENTA_SANITIZE_THREAD=1)
endif()
