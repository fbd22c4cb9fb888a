# SPDX-License-Identifier: GPL-3.0-or-later
# Soak: the tone toggled every half second while capture runs. In process, an hour of virtual
# time on the simulated radio path; and the real program for a short while of real time, under
# a private X display and PulseAudio loopback (`make soak` runs it for longer).
set(soak_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(test_soak ${soak_dir}/test_soak.cpp)
target_link_libraries(test_soak PRIVATE tavrene_app tavrene_resources tavrene_app_fixture
                      tavrene_qt_test_main)
# Under the sanitizers (slower, and their allocators keep freed memory) a quarter of an hour
# checks windows and button states; resident memory is judged in the plain build only.
if(TAVRENE_SANITIZE)
  set(soak_minutes 15)
else()
  set(soak_minutes 60)
endif()
add_test(NAME soak_virtual_hour COMMAND test_soak)
set_tests_properties(soak_virtual_hour PROPERTIES LABELS "soak" TIMEOUT 180
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TAVRENE_SOAK_MINUTES=${soak_minutes}")

# The real program for 20 s of real time. The growth bound is loose: 20 s cannot resolve 1 MB/h
# (`make soak` runs long enough to); this catches gross leaks, lost windows and a stuck button.
add_test(NAME soak_real_program
         COMMAND bash ${soak_dir}/soak_real.sh $<TARGET_FILE:tavrene> ${CMAKE_BINARY_DIR}
                 ${CMAKE_BINARY_DIR}/soak/short 20 100)
set_tests_properties(soak_real_program PROPERTIES LABELS "soak;no-sanitizer" TIMEOUT 90
                     RUN_SERIAL TRUE)
