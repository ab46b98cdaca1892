# Compiles resource files into a target. The manifest has one line per
# resource: TYPE ID FILE, where TYPE is the device's numbered resource type
# (2 bitmap, 3 icon, 5 dialog, 10 raw data), ID a number or a name, and FILE
# a path relative to the manifest. Bitmap files lose their 14-byte file
# header, as the device keeps bitmap resources.
include(${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake)
set(ZENTA_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake)

function(zenta_add_resources target manifest)
  get_filename_component(base "${manifest}" DIRECTORY)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  zenta_embed_resources("${manifest}" "${base}" "${output}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${manifest}" ${ZENTA_EMBEDDED_FILES})
  target_sources(${target} PRIVATE "${output}")
endfunction()

# The same for resources made in the build: FILE is relative to `base`, and
# the files listed after DEPENDS are made before the source is written.
function(zenta_add_built_resources target manifest base)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest} -DBASE=${base} -DOUTPUT=${output}
            -P ${ZENTA_EMBED_SCRIPT}
    DEPENDS "${manifest}" ${ZENTA_EMBED_SCRIPT} ${ARG_DEPENDS}
    COMMENT "Compiling the resources of ${target}")
  target_sources(${target} PRIVATE "${output}")
endfunction()
