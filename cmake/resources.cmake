# SPDX-License-Identifier: GPL-3.0-or-later
# Resource scripts compiled as for Windows, for the Linux programs: the dialog manager reads the
# binary templates. The host's C preprocessor stands in for the cross compiler's, with the MinGW
# headers and the macros a Windows target defines.
find_program(TAVRENE_WINDRES x86_64-w64-mingw32-windres)
find_program(TAVRENE_RC_PREPROCESSOR cpp)
find_path(TAVRENE_WINDOWS_HEADERS windows.h PATHS /usr/share/mingw-w64/include
          /usr/x86_64-w64-mingw32/include NO_DEFAULT_PATH)
if(NOT TAVRENE_WINDRES OR NOT TAVRENE_RC_PREPROCESSOR OR NOT TAVRENE_WINDOWS_HEADERS)
  message(FATAL_ERROR "Compiling the resource scripts needs x86_64-w64-mingw32-windres, cpp and "
    "the MinGW-w64 headers (Debian packages binutils-mingw-w64-x86-64, cpp and mingw-w64-common; "
    "`make deps` installs them).")
endif()

# tavrene_embed_resources(OUT_VAR RC_FILE [DEPENDS FILE...] [INCLUDE_DIRS DIR...]): compiles
# RC_FILE (its own folder and the INCLUDE_DIRS on the include path) into resources/NAME.res of the calling folder's build tree, and sets OUT_VAR
# to a generated source whose platform::resources::embedded_resources() returns those bytes.
# Each program links exactly one such source.
function(tavrene_embed_resources out_var rc_file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "DEPENDS;INCLUDE_DIRS")
  set(more_includes)
  foreach(dir ${arg_INCLUDE_DIRS})
    list(APPEND more_includes --include-dir=${dir})
  endforeach()
  get_filename_component(name ${rc_file} NAME_WE)
  get_filename_component(rc_dir ${rc_file} DIRECTORY)
  # A folder of its own: the fuzzer takes tavrene's as seeds.
  set(compiled ${CMAKE_CURRENT_BINARY_DIR}/resources/${name}.res)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/resources)
  add_custom_command(
    OUTPUT ${compiled}
    COMMAND ${TAVRENE_WINDRES} --preprocessor=${TAVRENE_RC_PREPROCESSOR} --preprocessor-arg=-E
            --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED --preprocessor-arg=-D_WIN32
            --preprocessor-arg=-D_WIN64 --preprocessor-arg=-I${TAVRENE_WINDOWS_HEADERS}
            --include-dir=${rc_dir} ${more_includes} -O res ${rc_file} -o ${compiled}
    DEPENDS ${rc_file} ${arg_DEPENDS}
    COMMENT "Compiling the resource script ${name}.rc")
  set(embedded ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.cpp)
  add_custom_command(
    OUTPUT ${embedded}
    COMMAND ${CMAKE_COMMAND} -DIN=${compiled} -DOUT=${embedded}
            -DNAMESPACE=platform::resources -DFUNCTION=embedded_resources
            -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${compiled} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding the resources of ${name}.rc")
  set(${out_var} ${embedded} PARENT_SCOPE)
endfunction()
