// SPDX-License-Identifier: GPL-2.0-or-later
// Every text the user sees, in one table keyed by an id. The engine reports
// ids and their arguments (the attempt number, the server's failure code);
// whoever shows them renders the text, so a translation has one place to go.
#pragma once

#include <cstdint>
#include <string>

enum TextId : int32_t {
    T_NONE,
    T_TITLE_REMINDER,
    T_TITLE_ERROR,
    T_TITLE_NOTICE,
    T_TITLE_AUTH_FAILED,
    T_TITLE_DROPPED,
    T_TITLE_NO_ADDRESS,
    T_TITLE_FAILED,
    T_TITLE_SETTINGS,
    T_APP_NAME,
    T_ACCOUNT_EMPTY,
    T_PASSWORD_LENGTH,
    T_NIC_LIST_FAILED,
    T_NO_NIC,
    T_NIC_MISSING,
    T_NIC_OPEN_FAILED,
    T_AUTHENTICATING,
    T_PROGRESS_START,
    T_PROGRESS_IDENTITY,
    T_PROGRESS_IDENTITY2,
    T_PROGRESS_MD5,
    T_PASSED_GETTING_IP,
    T_AUTH_SUCCEEDED,
    T_RECONNECT,
    T_NO_ANSWER,
    T_LINK_TIMEOUT,
    T_SERVER_FAILURE,
    T_NO_DHCP_CLIENT,
    T_POPEN_FAILED,
    T_DHCP_FAILED,
    T_NOT_ROOT,
    T_ALREADY_RUNNING,
    T_SETTINGS_UNREADABLE,
    T_SETTING_NOT_SAVED,
    T_SETTINGS_NOT_SAVED,
    T_PROGRAM_REFUSED,
    T_ENGINE_GONE,
    T_CANNOT_DROP_ROOT,
    T_DELETE_ACCOUNT_TIP,
    T_ACCOUNT_LABEL,
    T_PASSWORD_LABEL,
    T_DEVICE_LABEL,
    T_REMEMBER_PASSWORD,
    T_AUTO_LOGON,
    T_ABOUT_COMMENTS,
    T_MENU_HIDE,
    T_MENU_DISCONNECT,
    T_MENU_EXIT,
    T_OPEN_URL,
    T_OWN_DHCP,
    T_AUTO_START,
    T_LAUNCHER,
    T_PRIVATE_AUTH,
    T_TIMEOUT_RECONNECT,
    T_PRIVATE_AUTH_TIP,
    T_TIMEOUT_CAPTION,
    T_NOT_INSTALLED,
    T_ROOT_HINTS,
    T_INSTALL_NEEDS_ROOT,
    T_ALREADY_INSTALLED,
    T_INSTALLING,
    T_INSTALL_DONE,
    T_UNINSTALL_NEEDS_ROOT,
    T_UNINSTALLING,
    T_UNINSTALL_DONE,
    T_INSTALLED_BY_PACKAGE,
    T_REMOVED_BY_PACKAGE,
    T_CABLE_UNPLUGGED,
    T_NIC_DISABLED_WAIT,
    T_NO_CARRIER,
    T_NIC_DOWN,
    T_NIC_REMOVED,
    T_USAGE,
    T_SURFACE_HINT,
    T_SETTINGS_WRITE_FAILED,
    T_AUTOSTART_FAILED,
    T_CAPTION_LOGON,
    T_CAPTION_ABOUT,
    T_CAPTION_HIDE,
    T_CAPTION_RECONNECT,
    T_CAPTION_RETURN,
    T_CAPTION_OK,
    T_CAPTION_SAVE,
    T_CAPTION_CANCEL,
    TEXT_COUNT
};

// A text to show: its id and the arguments the id takes.
struct UserText {
    TextId id = T_NONE;
    int32_t number = 0;       // T_RECONNECT: the attempt number
    uint8_t code[4] = {};     // T_SERVER_FAILURE: bytes 30..33 of the EAP-Failure
};

inline UserText user_text(TextId id)
{
    UserText t;
    t.id = id;
    return t;
}
UserText reconnect_text(int attempt_number);
UserText server_failure_text(const uint8_t failure_code[4]);

// The language the texts are shown in. Chinese, the source texts, unless a
// process chose otherwise: only the window does (choose_text_language).
enum class TextLanguage { Chinese, English };
// The message catalogues' domain and where the installed client finds them.
extern const char *const TEXT_DOMAIN;
extern const char *const CATALOGUE_DIR;
// Binds the catalogues under dir (UTF-8 whatever the locale's encoding) and
// takes the language that LANGUAGE, LC_ALL, LC_MESSAGES and LANG choose
// through them, as gettext does; after setlocale. Returns the language.
TextLanguage choose_text_language(const char *dir = CATALOGUE_DIR);
TextLanguage text_language();

// Whether a number names a text (a record from the other half is checked).
bool text_id_valid(int32_t id);
// The text of an id that takes no argument ("" for one out of range), in
// the chosen language.
const char *text_of(TextId id);
// The source (Chinese) text of an id, whatever the chosen language.
const char *source_text(TextId id);
// The text with its arguments filled in.
std::string render_text(const UserText &t);

// The server's message for a failure code (bytes 30..33 of an EAP-Failure),
// in the chosen language.
const char *failure_message(const uint8_t failure_code[4]);
// The same message as the source (Chinese) text.
const char *failure_source(const uint8_t failure_code[4]);
