// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// Run in a process of its own by the test below: the switch is read once per process.
TEST(Trace, DISABLED_RefusedCalls) {
    DestroyWindow(reinterpret_cast<HWND>(0x1234));
    waveOutWrite(nullptr, nullptr, 32);
    CreatePen(PS_SOLID + 1, 1, RGB(1, 2, 3));
}

TEST(Trace, ARefusedCallPrintsItsLineOnlyWhenSwitchedOn) {
    for (const std::string environment :
         {"TAVRENE_TRACE=1", "TAVRENE_TRACE=0", "env -u TAVRENE_TRACE"}) {
        const std::string command = environment + " timeout 30 " +
                                    std::filesystem::read_symlink("/proc/self/exe").string() +
                                    " --gtest_also_run_disabled_tests" +
                                    " --gtest_filter=Trace.DISABLED_RefusedCalls 2>&1 >/dev/null";
        std::string out;
        char buffer[512];
        FILE* child = popen(command.c_str(), "r");
        while (child && std::fgets(buffer, sizeof buffer, child)) {
            out += buffer;
        }
        ASSERT_TRUE(child && pclose(child) == 0) << command;
        for (const char* line : {"tavrene trace: DestroyWindow(0x1234): not a window\n",
                                 "tavrene trace: waveOutWrite(NULL, NULL, 32): "
                                 "MMSYSERR_INVALHANDLE: not an open device\n",
                                 "tavrene trace: CreatePen(1, 1, 197121): only PS_SOLID\n"}) {
            EXPECT_EQ(out.find(line) != std::string::npos, environment == "TAVRENE_TRACE=1")
                << environment << ":\n"
                << out;
        }
    }
}

} // namespace
