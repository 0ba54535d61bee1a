# Third-party code, built from the Debian source packages that scripts/setup unpacks.
set(NV_DEPS_SRC "${CMAKE_BINARY_DIR}/deps/src" CACHE PATH "Unpacked dependency sources")
set(NV_LUA_DIR "${NV_DEPS_SRC}/lua5.3-5.3.6")
set(NV_ZLIB_DIR "${NV_DEPS_SRC}/zlib-1.2.13.dfsg")
set(NV_JSON_DIR "${NV_DEPS_SRC}/nlohmann-json3-3.11.2")
set(NV_GTEST_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")

foreach(dir IN ITEMS "${NV_LUA_DIR}/src" "${NV_ZLIB_DIR}/contrib/minizip" "${NV_JSON_DIR}/single_include/nlohmann")
  if(NOT EXISTS "${dir}")
    message(FATAL_ERROR "Missing ${dir}: run scripts/setup first")
  endif()
endforeach()

file(GLOB nv_lua_sources "${NV_LUA_DIR}/src/*.c")
list(REMOVE_ITEM nv_lua_sources "${NV_LUA_DIR}/src/lua.c" "${NV_LUA_DIR}/src/luac.c")
add_library(lua53 STATIC ${nv_lua_sources})
target_include_directories(lua53 SYSTEM PUBLIC "${NV_LUA_DIR}/src")
target_compile_definitions(lua53 PUBLIC LUA_COMPAT_5_2)
target_compile_options(lua53 PRIVATE -w)

set(nv_zlib_names adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate
                  inftrees trees uncompr zutil)
list(TRANSFORM nv_zlib_names PREPEND "${NV_ZLIB_DIR}/")
list(TRANSFORM nv_zlib_names APPEND ".c")
add_library(zlib STATIC ${nv_zlib_names})
target_include_directories(zlib SYSTEM PUBLIC "${NV_ZLIB_DIR}")
target_compile_options(zlib PRIVATE -w)

add_library(minizip STATIC "${NV_ZLIB_DIR}/contrib/minizip/ioapi.c" "${NV_ZLIB_DIR}/contrib/minizip/unzip.c")
target_include_directories(minizip SYSTEM PUBLIC "${NV_ZLIB_DIR}/contrib/minizip")
target_compile_definitions(minizip PUBLIC NOCRYPT NOUNCRYPT)
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC zlib)

# Header-only; only its own include folder reaches the cross build.
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE "${NV_JSON_DIR}/single_include")
