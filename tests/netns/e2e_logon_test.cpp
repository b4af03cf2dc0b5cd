// Log-on against hostapd in the lab: the real worker, GTK main loop and dhclient.
#include <gtest/gtest.h>

#include "app/records.h"
#include "netns/e2e_support.h"

namespace {

TEST(E2eLogon, ReachesOnlineWithAnAddressAndStoresTheAccount)
{
    e2e_isolate_process();
    Lab lab;
    LabGuard guard{lab};
    ASSERT_TRUE(lab_up(lab, LabOptions{})) << lab.error;
    E2eClient *c = e2e_client(lab, "e2euser", "labpass1");
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status == STATUS_ONLINE; }, 30000))
            << "status " << status << ", text " << e2e_msg_text(c);
        EXPECT_EQ(e2e_msg_text(c), "认证成功！");
        EXPECT_EQ(e2e_client_address(lab).rfind("10.77.0.", 0), 0u) << e2e_client_address(lab);
        EXPECT_EQ(e2e_dhcp_runs(c), 1);
        EXPECT_TRUE(e2e_tray_shown(c));
        std::string conf = e2e_settings_text(c);
        EXPECT_NE(conf.find("e2euser"), std::string::npos) << conf;
    });
}

}  // namespace
