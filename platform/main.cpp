// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux program's entry: the toolkit starts, then the Win32 entry point runs.
#include "platform/host.h"

int main(int argc, char** argv) {
    return platform::host_main(argc, argv, &WinMain);
}
