// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/scratch.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "app/records.h"
#include "config/settings.h"
#include "support/sandbox.h"

void ScratchTest::SetUp()
{
    char tmpl[] = "/tmp/corvix-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
}

void ScratchTest::TearDown()
{
    if (dir_.empty())
        return;
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
}

void SettingsFolderTest::SetUp()
{
    ASSERT_NO_FATAL_FAILURE(ScratchTest::SetUp());
    path_ = dir_ + "/Corvix.conf";
    settings_path = path_.c_str();
    status = STATUS_IDLE;
}

const char kDesktopEntryText[] = "[Desktop Entry]\nName=Corvix\nExec=Corvix\n";

std::string private_desktop_layout(const std::string &scratch)
{
    for (const char *dir : {"/usr/share", "/etc/xdg"})
        if (!mount_overlay(dir, scratch))
            return std::string("overlay on ") + dir;
    if (std::system("rm -rf /usr/share/Corvix2 /etc/xdg/autostart && "
                    "mkdir -p /usr/share/Corvix2 /etc/xdg/autostart") != 0)
        return "installed folder and autostart folder";
    const char entry[] = "/usr/share/Corvix2/Corvix.desktop";
    std::ofstream(entry) << kDesktopEntryText;
    if (file_text(entry) != kDesktopEntryText || chmod(entry, 0644) != 0)
        return "installed desktop entry";
    return "";
}
