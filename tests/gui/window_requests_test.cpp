// SPDX-License-Identifier: GPL-2.0-or-later
// Each handler that used to start a worker sends the request that names what
// the user did, whatever the run-state globals of the window hold: a stand-in
// engine on the other end of the socket reads what arrives.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "app/ipc.h"
#include "app/startup.h"
#include "app/window_half.h"
#include "gui_harness.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

// Every request waiting on fd, in order (each within 200 ms of the last).
std::vector<uint16_t> drain(int fd)
{
    std::vector<uint16_t> kinds;
    IpcRecord r;
    struct pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 200) == 1 && ipc_recv(fd, r) == RecvResult::Record)
        kinds.push_back(r.kind);
    return kinds;
}

struct HandlerCase {
    const char *name;
    int status_before;
    std::function<void(AppContext *)> act;
    std::vector<uint16_t> sent;
};

const HandlerCase kCases[] = {
    {"log-on button", STATUS_IDLE, [](AppContext *c) { on_logon_button_clicked(nullptr, c); },
     {REQ_LOGON}},
    {"automatic log-on at start", STATUS_IDLE,
     [](AppContext *c) {
         c->settings->auto_logon = 1;
         startup_decision(c);
         c->settings->auto_logon = 0;
     },
     {REQ_LOGON}},
    {"failure window's re-authenticate", STATUS_FAILED,
     [](AppContext *c) {
         c->settings->msg_kind = 1;
         c->settings->msg_buttons = 0;
         on_button_ok_clicked(nullptr, c);
     },
     {REQ_LOGON}},
    {"progress window's disconnect", STATUS_ONLINE,
     [](AppContext *c) {
         c->settings->msg_kind = 0;
         c->settings->msg_buttons = 0;
         on_button_cancel_clicked(nullptr, c);
     },
     {REQ_DISCONNECT}},
    {"tray's disconnect", STATUS_ONLINE, [](AppContext *c) { on_menu_item_disconnect_clicked(nullptr, c); },
     {REQ_DISCONNECT, REQ_STOP_DHCP}},
    {"tray's exit", STATUS_ONLINE, [](AppContext *c) { on_menu_item_exit_clicked(nullptr, c); },
     {REQ_STOP_DHCP, REQ_EXIT}},
};

TEST(WindowRequests, EachHandlerSaysWhatTheUserAskedFor)
{
    GuiApp &app = gui_app();
    int fds[2];
    ASSERT_TRUE(ipc_socketpair(fds));
    window_attach(fds[0]);
    for (const HandlerCase &c : kCases) {
        SCOPED_TRACE(c.name);
        // What an exit left behind once made every start an exit: no longer read.
        thread_auth_num = -100;
        status = c.status_before;
        c.act(&app.ctx);
        EXPECT_EQ(drain(fds[1]), c.sent);
    }
    thread_auth_num = 0;
    // fds[1] stays open: the stand-in engine's end would end the window after the exit.
}

}  // namespace
