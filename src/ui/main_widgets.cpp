// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/main_widgets.h"

MainWidgets main_widgets_initial()
{
    MainWidgets w{};
    w.colors[0] = GdkColor{0, 0xe4e4, 0xf4f4, 0xffff};  // window background
    w.colors[1] = GdkColor{0, 0, 0, 0};                 // label text
    w.colors[2] = GdkColor{0, 0xffff, 0xffff, 0xffff};  // entry background
    w.colors[3] = GdkColor{0, 0xbfbf, 0xe1e1, 0xf9f9};  // bottom strip
    w.colors[4] = GdkColor{0, 0x1616, 0x7070, 0xebeb};  // check text, log-on button
    return w;
}
