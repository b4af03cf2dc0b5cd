#include "support/scratch.h"

#include <cstdlib>

#include "app/records.h"
#include "config/settings.h"

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
