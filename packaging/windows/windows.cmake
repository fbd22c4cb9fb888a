# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows release: version information and a manifest in each program.
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
