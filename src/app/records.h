// SPDX-License-Identifier: GPL-2.0-or-later
// The records and process-wide values that every subsystem shares.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>

#include <glib.h>

// The record keeps the message dialog's and the tray icon's widgets, but the
// engine never touches them: declared only, so nothing here pulls in GTK.
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkStatusIcon GtkStatusIcon;
struct MainWidgets;  // the main window's widgets (ui/main_widgets.h)

// The run state held in `status`.
enum {
    STATUS_FAILED = 0,
    STATUS_ONLINE = 1,
    STATUS_IDLE = 2,
    STATUS_AUTHENTICATING = 3,
    STATUS_LOGOFF = 4,
    STATUS_ERROR = 5,
    STATUS_GETTING_IP = 6,
    STATUS_NIC_LIST_FAILED = 7,
    STATUS_NO_NIC = 8,
    STATUS_NOT_ROOT = 9,
    STATUS_ALREADY_RUNNING = 10,
};

// One per run, zero-filled by the entry sequence and never freed.
struct ClientSettings {
    GList *devices;          // usable interface names (UTF-8, owned)
    GList *users;            // stored account names (UTF-8, owned)
    GtkWidget *msg_dialog;   // the status message dialog while it exists
    GtkWidget *msg_label;    // its text label
    GtkStatusIcon *tray_icon;
    int device_found;
    int auto_logon;
    int auto_start;
    int remember_password;
    int use_own_dhcp;
    int open_url;
    int private_auth;
    int timeout_reconnect;
    int timeout;             // seconds; 0 waits without limit
    char last_user[51];
    char last_password[21];  // never loaded: passwords stay in the engine
    // The password entry shows the placeholder of a stored password, which
    // the engine uses on request (at start: the last-used account has one).
    int last_password_stored;
    char last_device[60];
    // Wide enough for any login name the system allows, so the post-login
    // page can never open as a user whose name is a prefix of ours.
    char login_name[256];
    int msg_kind;            // 0 information, 1 error
    int msg_buttons;         // see the message dialog
    char msg_title[20];
    char msg_text[90];
    char url[92];
    // The settings file exists but could not be read at start-up: nothing was
    // loaded, and the file is left as it is.
    int settings_unreadable;
    uid_t real_uid;          // who started the client: whose accounts these are
};

// Handed to every GTK handler and to every authentication worker.
struct AppContext {
    MainWidgets *widgets;  // the window's own; the engine, which shows nothing, has none
    ClientSettings *settings;
};

// Shared between the main thread and the workers without a lock.
extern std::atomic<int> status;
extern std::atomic<int> thread_auth_num;
// Non-null while a message dialog creation is pending on the main loop.
extern std::atomic<GMutex *> mutex;
extern int is_msg_dlg_delete_event;
// IEEE 802.1X PAE group address: destination of every frame the client sends.
extern const unsigned char MultcastAddr[6];

// Copies src into a fixed-width field, always terminated, never past the field.
template <size_t N> inline void copy_field(char (&dst)[N], const char *src)
{
    g_strlcpy(dst, src ? src : "", N);
}
