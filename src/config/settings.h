// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file: options, stored accounts and the last-used values.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "app/records.h"

// Where the settings live; tests point it elsewhere.
extern const char *settings_path;

// The section of a user's own values: "UID" and the decimal user id.
std::string user_section(uid_t uid);

// Root's view: the machine-wide options of [OPTION] alone.
int get_ini_message(ClientSettings *settings);
// The view of the user real_uid who started the client: the options that user
// saved in their own section are read over the machine-wide ones, except the
// program line, which only root's [OPTION] holds. Root (0) sees [OPTION].
int get_ini_message(ClientSettings *settings, uid_t real_uid);
// Stores account, password (when remember_password is on; what the user typed)
// and device as the last-used values of the user settings->real_uid and as an
// account of theirs; 1 when the file was written whole, 0 when it could not be
// read or written (it is then unchanged).
int set_msg(const char *account, const char *password, const char *device, AppContext *ctx);
void encrypt(char *text);
void decrypt(char *text);

// The settings file's work behind the window's handlers, without widgets. Each
// stored account belongs to the user who stored it: uid reads and deletes
// only their own, root any. An account an older version stored has no owner:
// only root reads it until a log-on with it stores it for that user.
// The stored password of uid's account, unscrambled: 1 found, 0 not stored, -1 no file.
int stored_password(const char *account, uid_t uid, char (&clear)[21]);
// Stores uid's automatic log-on (root's: OPTION@AutoLogon): 1 stored, 0 when
// the file cannot be read, -1 when it cannot be written (it is then unchanged).
int store_auto_logon(int on, uid_t uid);
// Removes a stored account: 1 removed (names: uid's remaining accounts, newest
// first), 0 not stored, -1 no file, -2 the file could not be written (the
// account stays).
int delete_stored_account(const std::string &account, uid_t uid, std::vector<std::string> &names);
