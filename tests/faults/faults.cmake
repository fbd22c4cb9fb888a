# The application in process on the host's real audio, with a private PulseAudio server that is
# missing from the start or killed under the running program. One process per case: the toolkit
# looks for the server once, when it starts.
set(faults_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(test_faults ${faults_dir}/test_sound_server.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/app/app_fixture.cpp qt_test_main.cpp)
target_link_libraries(test_faults PRIVATE tavrene_app tavrene_radio_path GTest::gtest)

function(fault_test name mode filter)
  add_test(NAME ${name}
           COMMAND bash ${faults_dir}/with_pulse.sh ${mode} ${CMAKE_BINARY_DIR}/faults/${name}
                   $<TARGET_FILE:test_faults> --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES LABELS "faults" TIMEOUT 60
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

fault_test(faults_no_sound_server none SoundServer.NoServerAtStartWarnsAndStaysUsable)
fault_test(faults_server_killed_while_playing pulse SoundServer.ServerKilledWhileTheTonePlays)
fault_test(faults_server_killed_while_off pulse SoundServer.ServerKilledWhileTheToneIsOff)
