# SPDX-License-Identifier: GPL-3.0-or-later
# Whole-program tests: the real binaries under a private X display and a private PulseAudio or
# PipeWire server, the Windows build under Wine, the installed and packaged program, the icon,
# and the Win32 conformance tests under Wine.
# Labelled e2e and no-sanitizer (they run the shipped binaries, not instrumented ones).
set(e2e_dir ${CMAKE_CURRENT_LIST_DIR})
set(e2e_work ${CMAKE_BINARY_DIR}/e2e)
set(e2e_artifacts ${CMAKE_BINARY_DIR}/artifacts)
set(TAVRENE_WINDOWS_BUILD_DIR ${CMAKE_SOURCE_DIR}/build-windows CACHE PATH
    "Build folder of the Windows program that the Wine tests run")

function(e2e_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "e2e;no-sanitizer" TIMEOUT 120)
endfunction()

e2e_test(e2e_linux_session bash ${e2e_dir}/e2e_session.sh linux $<TARGET_FILE:tavrene>
         ${CMAKE_BINARY_DIR}/tests/tools ${e2e_artifacts} ${e2e_work}/linux_session)
# The same session on PipeWire (with WirePlumber and its pulse server), as most desktops run now.
e2e_test(e2e_linux_pipewire_session bash ${e2e_dir}/e2e_session.sh linux-pipewire
         $<TARGET_FILE:tavrene> ${CMAKE_BINARY_DIR}/tests/tools ${e2e_artifacts}
         ${e2e_work}/linux_pipewire_session)
# Alone, so that a busy machine does not starve the audio: Wine's waveform output in particular
# drops what it could not play in time instead of leaving a gap.
set_tests_properties(e2e_linux_session e2e_linux_pipewire_session PROPERTIES RUN_SERIAL TRUE)
# tavrene-meter: readings on the loopback and on the simulated link, its log, a refused log file,
# a sound server that dies; on PipeWire the cases that use the sound server.
e2e_test(e2e_meter bash ${e2e_dir}/e2e_meter.sh linux $<TARGET_FILE:tavrene-meter>
         ${CMAKE_BINARY_DIR}/tests/tools ${e2e_artifacts} ${e2e_work}/meter)
e2e_test(e2e_pipewire_meter bash ${e2e_dir}/e2e_meter.sh linux-pipewire
         $<TARGET_FILE:tavrene-meter> ${CMAKE_BINARY_DIR}/tests/tools ${e2e_artifacts}
         ${e2e_work}/pipewire_meter)
set_tests_properties(e2e_meter e2e_pipewire_meter PROPERTIES RUN_SERIAL TRUE)
# tavrene-meter --read: shifted speech read without a display or sound server, and the files it
# cannot read; then the voice readings of the shifted copies, which need the voice estimator.
e2e_test(e2e_meter_read bash ${e2e_dir}/e2e_meter_read.sh $<TARGET_FILE:tavrene-meter>
         $<TARGET_FILE:ssb_shift> ${e2e_work}/meter_read)
e2e_test(e2e_meter_read_voice bash ${e2e_dir}/e2e_meter_read.sh $<TARGET_FILE:tavrene-meter>
         $<TARGET_FILE:ssb_shift> ${e2e_work}/meter_read_voice readings)
e2e_test(e2e_linux_no_display bash ${e2e_dir}/e2e_no_display.sh $<TARGET_FILE:tavrene>)
e2e_test(e2e_linux_display_lost bash ${e2e_dir}/e2e_display_lost.sh $<TARGET_FILE:tavrene>
         ${CMAKE_BINARY_DIR}/tests/tools ${e2e_work}/linux_display_lost)
e2e_test(e2e_linux_hardening bash ${e2e_dir}/e2e_hardening.sh $<TARGET_FILE:tavrene>
         ${CMAKE_BINARY_DIR}/compile_commands.json)
e2e_test(e2e_install bash ${e2e_dir}/e2e_install.sh ${CMAKE_BINARY_DIR} ${e2e_work}/install)
e2e_test(e2e_package bash ${e2e_dir}/e2e_package.sh ${CMAKE_BINARY_DIR} ${e2e_work}/package)
e2e_test(e2e_icon bash ${e2e_dir}/e2e_icon.sh $<TARGET_FILE:draw_icon> ${CMAKE_SOURCE_DIR}
         ${e2e_work}/icon)

# The Windows program, built once per run, and a Wine prefix, created once per run.
e2e_test(e2e_windows_build bash ${e2e_dir}/e2e_windows_build.sh ${CMAKE_SOURCE_DIR}
         ${TAVRENE_WINDOWS_BUILD_DIR})
set_tests_properties(e2e_windows_build PROPERTIES FIXTURES_SETUP windows_exe TIMEOUT 300)
e2e_test(e2e_wine_prefix bash ${e2e_dir}/e2e_wine_prefix.sh ${e2e_work}/wine)
set_tests_properties(e2e_wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
e2e_test(e2e_wine_session bash ${e2e_dir}/e2e_session.sh wine
         ${TAVRENE_WINDOWS_BUILD_DIR}/tavrene.exe ${CMAKE_BINARY_DIR}/tests/tools ${e2e_artifacts}
         ${e2e_work}/wine_session ${e2e_work}/wine)
set_tests_properties(e2e_wine_session PROPERTIES FIXTURES_REQUIRED "windows_exe;wine_prefix"
                     RUN_SERIAL TRUE)

# Return, Esc, Space, Tab and Alt+F4 pressed at the X server, the same on both builds.
e2e_test(e2e_linux_keys bash ${e2e_dir}/e2e_keys.sh linux $<TARGET_FILE:tavrene> ${e2e_work}/linux_keys)
e2e_test(e2e_wine_keys bash ${e2e_dir}/e2e_keys.sh wine ${TAVRENE_WINDOWS_BUILD_DIR}/tavrene.exe
         ${e2e_work}/wine_keys ${e2e_work}/wine)
# One wineserver per prefix: the tests that share it take turns.
set_tests_properties(e2e_wine_keys PROPERTIES FIXTURES_REQUIRED "windows_exe;wine_prefix"
                     RESOURCE_LOCK wine_prefix)
# tavrene-meter.exe on the loopback under Wine: its reading, log, Off and close.
e2e_test(e2e_wine_meter bash ${e2e_dir}/e2e_meter.sh wine
         ${TAVRENE_WINDOWS_BUILD_DIR}/tavrene-meter.exe ${CMAKE_BINARY_DIR}/tests/tools
         ${e2e_artifacts} ${e2e_work}/wine_meter ${e2e_work}/wine)
# Alone as well: the reading needs the audio unstarved.
set_tests_properties(e2e_wine_meter PROPERTIES FIXTURES_REQUIRED "windows_exe;wine_prefix"
                     RESOURCE_LOCK wine_prefix RUN_SERIAL TRUE TIMEOUT 60)
# tavrene-meter.exe's rig panel against a real rigctld on the loopback: connected, Correct RX,
# the daemon killed.
e2e_test(e2e_wine_rig bash ${e2e_dir}/e2e_wine_rig.sh
         ${TAVRENE_WINDOWS_BUILD_DIR}/tavrene-meter.exe ${e2e_work}/wine_rig ${e2e_work}/wine)
set_tests_properties(e2e_wine_rig PROPERTIES FIXTURES_REQUIRED "windows_exe;wine_prefix"
                     RESOURCE_LOCK wine_prefix RUN_SERIAL TRUE TIMEOUT 120)
# The installer and the portable zip (make windows-package) under Wine, installing into the
# shared prefix and removing itself from it.
e2e_test(e2e_windows_package bash ${e2e_dir}/e2e_windows_package.sh ${TAVRENE_WINDOWS_BUILD_DIR}
         ${e2e_artifacts} ${e2e_work}/windows_package ${e2e_work}/wine)
set_tests_properties(e2e_windows_package PROPERTIES FIXTURES_REQUIRED "windows_exe;wine_prefix"
                     RESOURCE_LOCK wine_prefix TIMEOUT 240)
set_property(TEST e2e_windows_package APPEND PROPERTY LABELS windows-package)

# The platform conformance tests that call only Win32 (tests/conformance/), built for Windows and
# run under Wine against the real user32, gdi32 and winmm: the same assertions test_platform and
# test_dialog_keys hold platform/ to.
set(conformance_windows_build ${CMAKE_BINARY_DIR}/conformance-windows)
e2e_test(e2e_conformance_build bash ${e2e_dir}/e2e_conformance_build.sh ${CMAKE_SOURCE_DIR}
         ${conformance_windows_build})
set_tests_properties(e2e_conformance_build PROPERTIES FIXTURES_SETUP conformance_exe TIMEOUT 300)
e2e_test(e2e_wine_conformance bash ${e2e_dir}/e2e_wine_conformance.sh
         ${conformance_windows_build}/conformance.exe ${e2e_work}/wine_conformance ${e2e_work}/wine)
set_tests_properties(e2e_wine_conformance PROPERTIES FIXTURES_REQUIRED "conformance_exe;wine_prefix"
                     RESOURCE_LOCK wine_prefix TIMEOUT 180)

# The checking tools themselves, on made-up recordings and pictures.
add_executable(test_e2e_tools ${e2e_dir}/test_tone_check.cpp ${e2e_dir}/test_shot_check.cpp)
target_link_libraries(test_e2e_tools PRIVATE tavrene_tone_check tavrene_shot_check GTest::gtest
                      GTest::gtest_main)
gtest_discover_tests(test_e2e_tools DISCOVERY_MODE PRE_TEST)
