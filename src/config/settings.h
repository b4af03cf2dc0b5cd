// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file: options, stored accounts and the last-used values.
#pragma once

#include <string>
#include <vector>

#include "app/records.h"

// Where the settings live; tests point it elsewhere.
extern const char *settings_path;

int get_ini_message(ClientSettings *settings);
// Stores account, password (when remember_password is on; what the user typed)
// and device as the last-used values and as a stored account.
void set_msg(const char *account, const char *password, const char *device, AppContext *ctx);
void encrypt(char *text);
void decrypt(char *text);

// The settings file's work behind the window's handlers, without widgets.
// The stored password of account, unscrambled: 1 found, 0 not stored, -1 no file.
int stored_password(const char *account, char (&clear)[21]);
// Stores OPTION@AutoLogon; 0 when the file cannot be read.
int store_auto_logon(int on);
// Removes a stored account: 1 removed (names: the remaining accounts, newest
// first), 0 not stored, -1 no file.
int delete_stored_account(const std::string &account, std::vector<std::string> &names);
