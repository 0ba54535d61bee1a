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
