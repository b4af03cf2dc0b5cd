// SPDX-License-Identifier: GPL-2.0-or-later
// Fixtures for tests that keep their files in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>

// A fresh folder /tmp/corvix-test-XXXXXX (mode 0700) for each test, removed
// with everything in it afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir_;
};

// ScratchTest whose settings file (settings_path) is path_, Corvix.conf in
// the folder, not yet created; the client's status is idle.
class SettingsFolderTest : public ScratchTest {
protected:
    void SetUp() override;
    std::string path_;
};

// What private_desktop_layout puts in the installed desktop entry.
extern const char kDesktopEntryText[];

// In a private mount namespace: overlays over /usr/share and /etc/xdg whose
// changes land under scratch (a tmpfs), the installed folder holding only its
// desktop entry, and an empty autostart folder. "" when done, else what failed.
std::string private_desktop_layout(const std::string &scratch);
