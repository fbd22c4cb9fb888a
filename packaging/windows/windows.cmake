# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows release: version information and a manifest in each program, and the two things a
# user downloads, the installer (NSIS) and the portable zip, named with the project's version.
set(tavrene_windows_dir ${CMAKE_CURRENT_LIST_DIR})
set(tavrene_publisher "The Tavrene developers")
set(tavrene_copyright
    "Copyright © 2026 ${tavrene_publisher}. GNU General Public License, version 3 or later")

# tavrene_windows_version(TARGET DESCRIPTION): TARGET.exe gets the version resource and manifest.
function(tavrene_windows_version program description)
  string(REPLACE "-" "." assembly "Tavrene.${program}")
  set(version4 ${PROJECT_VERSION}.0)
  string(REPLACE "." "," version_commas ${version4})
  set(dir ${CMAKE_BINARY_DIR}/windows-version)
  set(manifest ${dir}/${program}.manifest)
  configure_file(${tavrene_windows_dir}/program.manifest.in ${manifest} @ONLY)
  configure_file(${tavrene_windows_dir}/version.rc.in ${dir}/${program}.rc @ONLY)
  target_sources(${program} PRIVATE ${dir}/${program}.rc)
  # windres reads the manifest without telling the build.
  set_source_files_properties(${dir}/${program}.rc PROPERTIES OBJECT_DEPENDS ${manifest})
  # No link time in the PE header: two builds of one commit give the same bytes.
  target_link_options(${program} PRIVATE -Wl,--no-insert-timestamp)
endfunction()

# What both downloads hold: the programs and the README and licence as Windows text files.
set(release_name tavrene-${PROJECT_VERSION})
set(stage ${CMAKE_BINARY_DIR}/windows-stage/${release_name})
foreach(text README.md LICENSE)
  file(READ ${CMAKE_SOURCE_DIR}/${text} content)
  # (NEWLINE_STYLE would convert only the template's own line ends, not the content's.)
  string(REPLACE "\n" "\r\n" content "${content}")
  get_filename_component(name ${text} NAME_WE)
  file(CONFIGURE OUTPUT ${stage}/${name}.txt CONTENT "@content@" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${text})
endforeach()

# The files are dated by the last commit, so that the downloads do not depend on when they were
# made.
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                OUTPUT_VARIABLE release_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT release_time)
  set(release_time 1767225600) # 2026-01-01, outside a git clone
endif()

set(installer ${CMAKE_BINARY_DIR}/${release_name}-setup-x64.exe)
set(portable ${CMAKE_BINARY_DIR}/${release_name}-portable-x64.zip)
set(nsi ${tavrene_windows_dir}/tavrene.nsi)
add_custom_command(OUTPUT ${installer} ${portable}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tavrene> $<TARGET_FILE:tavrene-meter> ${stage}
  COMMAND find ${release_name} -exec touch -d @${release_time} {} +
  COMMAND makensis -V2 -DVERSION=${PROJECT_VERSION} "-DPUBLISHER=${tavrene_publisher}"
          -DSTAGE=${stage} -DICON=${CMAKE_SOURCE_DIR}/app/tavrene.ico -DOUTFILE=${installer} ${nsi}
  # zip adds to an archive that is already there.
  COMMAND ${CMAKE_COMMAND} -E rm -f ${portable}
  # Named one by one: a folder would be read in the file system's order.
  COMMAND zip -q -X -D ${portable} ${release_name}/LICENSE.txt ${release_name}/README.txt
          ${release_name}/tavrene-meter.exe ${release_name}/tavrene.exe
  WORKING_DIRECTORY ${stage}/..
  DEPENDS tavrene tavrene-meter ${nsi} ${stage}/README.txt ${stage}/LICENSE.txt
  COMMENT "Making ${release_name}-setup-x64.exe and ${release_name}-portable-x64.zip"
  VERBATIM)
add_custom_target(windows_package DEPENDS ${installer} ${portable})
