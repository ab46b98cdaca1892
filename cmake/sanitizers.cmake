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
  set(_zenta_san -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer
      -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/coverage_ignore.txt)
elseif(NOT ZENTA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZENTA_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_zenta_san)
  add_compile_options(${_zenta_san})
  add_link_options(${_zenta_san})
endif()
