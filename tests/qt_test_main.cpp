// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry for everything that needs the toolkit: one QApplication for the whole run, on the
// offscreen platform unless the environment names another.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
