// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// Refused calls, made in a process of their own: the switch is read once per process.
TEST(Trace, DISABLED_RefusedCalls) {
    DestroyWindow(reinterpret_cast<HWND>(0x1234));
    waveOutWrite(nullptr, nullptr, 32);
    CreatePen(PS_SOLID + 1, 1, RGB(1, 2, 3));
}

std::string stderr_of_refused_calls(const std::string& environment) {
    const std::string command = environment + " timeout 30 " +
                                std::filesystem::read_symlink("/proc/self/exe").string() +
                                " --gtest_also_run_disabled_tests" +
                                " --gtest_filter=Trace.DISABLED_RefusedCalls 2>&1 >/dev/null";
    std::string out;
    FILE* child = popen(command.c_str(), "r");
    char buffer[512];
    while (child && std::fgets(buffer, sizeof buffer, child)) {
        out += buffer;
    }
    EXPECT_TRUE(child && pclose(child) == 0) << command;
    return out;
}

TEST(Trace, ARefusedCallPrintsItsLineOnlyWhenSwitchedOn) {
    const std::string on = stderr_of_refused_calls("TAVRENE_TRACE=1");
    for (const char* line :
         {"tavrene trace: DestroyWindow(0x1234): not a window\n",
          "tavrene trace: waveOutWrite(NULL, NULL, 32): MMSYSERR_INVALHANDLE: not an open device\n",
          "tavrene trace: CreatePen(1, 1, 197121): only PS_SOLID\n"}) {
        EXPECT_NE(on.find(line), std::string::npos) << on;
    }
    for (const char* off : {"env -u TAVRENE_TRACE", "TAVRENE_TRACE=0"}) {
        EXPECT_EQ(stderr_of_refused_calls(off).find("tavrene trace"), std::string::npos) << off;
    }
}

} // namespace
