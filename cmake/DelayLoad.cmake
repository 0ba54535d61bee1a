# Lazily bound libraries: msi.dll (by ordinal) and userenv.dll get delay-load import data instead of ordinary
# imports, so that nothing loads them before the tool has restricted where libraries come from. Code calling them
# includes <msi.h> or <userenv.h> and links nvplatform, which links `nvdelayload` publicly and holds the helper the
# import data calls. A function missing from platform/delay_imports/*.def is an undefined reference, never an
# ordinary import.
include_guard(GLOBAL)

set(nv_delay_import_dir ${CMAKE_BINARY_DIR}/delay_imports)
file(MAKE_DIRECTORY ${nv_delay_import_dir})
set(nv_delay_import_libs)
foreach(library IN ITEMS msi userenv)
  set(definition ${CMAKE_SOURCE_DIR}/platform/delay_imports/${library}.def)
  set(archive ${nv_delay_import_dir}/lib${library}_delay.a)
  # dlltool writes its temporary assembly into the working directory.
  add_custom_command(
    OUTPUT ${archive}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${definition} --output-delaylib lib${library}_delay.a
    WORKING_DIRECTORY ${nv_delay_import_dir}
    DEPENDS ${definition}
    COMMENT "Delay-load import data for ${library}.dll"
    VERBATIM)
  list(APPEND nv_delay_import_libs ${archive})
endforeach()
add_custom_target(nvdelayload_imports DEPENDS ${nv_delay_import_libs})

add_library(nvdelayload INTERFACE)
add_dependencies(nvdelayload nvdelayload_imports)
target_link_libraries(nvdelayload INTERFACE ${nv_delay_import_libs})
# The thunks call __delayLoadHelper2. Asking for it before any archive is searched makes the linker take the
# tool's own (platform/delay_load_helper.cpp, in nvplatform) ahead of the runtime's in libmingwex, which would
# load the libraries by bare name.
target_link_options(nvdelayload INTERFACE -Wl,--undefined=__delayLoadHelper2)

# nv_delay_import_directory(<target>): after each link, the executable's delay-import data directory points at
# the descriptors (ld leaves it empty), ended by the zero entry of descriptor_table_end.c.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
function(nv_delay_import_directory target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/delay_imports/descriptor_table_end.c)
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/delay_import_directory.py $<TARGET_FILE:${target}>
    COMMENT "Delay-import directory of ${target}"
    VERBATIM)
endfunction()
