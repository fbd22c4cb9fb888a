# SPDX-License-Identifier: GPL-3.0-or-later
# The host's audio (libpulse) with a private sound server that is missing, has no devices, is
# killed and started again under the running program, or whose input stops delivering. One
# process per case, each with a server of its own.
set(faults_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(test_faults ${faults_dir}/test_sound_server.cpp ${faults_dir}/test_wave_pulse.cpp)
target_link_libraries(test_faults PRIVATE tavrene_app tavrene_resources tavrene_app_fixture
                      tavrene_qt_test_main)

function(fault_test name mode filter)
  add_test(NAME ${name}
           COMMAND bash ${faults_dir}/with_pulse.sh ${mode} ${CMAKE_BINARY_DIR}/faults/${name}
                   $<TARGET_FILE:test_faults> --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES LABELS "faults" TIMEOUT 60
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

fault_test(faults_no_sound_server none
           SoundServer.NoServerAtStartWarnsAndStaysUsable:PulseWave.WithoutAServerOrADevice*)
fault_test(faults_sound_server_without_devices empty PulseWave.WithoutAServerOrADevice*)
fault_test(faults_wave_on_loopback pulse PulseWave.OnALoopback*)
fault_test(faults_server_killed_while_playing pulse SoundServer.ServerKilledWhileTheTonePlaysThenBack)
fault_test(faults_server_killed_while_off pulse SoundServer.ServerKilledWhileTheToneIsOff)
# The output underrun on purpose, on both servers: nothing queued is skipped.
fault_test(faults_underrun_pulse pulse PulseWave.StalledWhileTheTonePlays*)
fault_test(faults_underrun_pipewire pipewire PulseWave.StalledWhileTheTonePlays*)
fault_test(faults_input_stops_delivering pulse SoundServer.AnInputThatStopsDelivering*)
