// SPDX-License-Identifier: GPL-2.0-or-later
// A small reader and writer for INI-style text files. Entries are addressed
// as "SECTION@KEY"; an address without a section means the store's first section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Texts are owned by the store (key and section live in the entry's own
// block): callers read them, and change a value only through ini_set.
struct IniEntry {
    char *key;
    char *value;
    char *section;   // every entry carries its own copy
    IniEntry *next;
};

struct IniFile {
    char *file_path;
    IniEntry *first_entry;
    IniEntry *last_entry;
    int32_t entry_count;
};

// Loads every entry of the file; null when it cannot be read whole (errno then
// tells why: ENOENT only when there is no file). A symbolic link is not followed.
IniFile *ini_open(const char *path);
// The same, with the reason for a null result (0 otherwise) in *error when given.
IniFile *ini_load(const char *path, int *error);
// A store holding the entries of text, bound to path; null when memory runs out.
IniFile *ini_parse(const char *path, const char *text, size_t size);
// Creates the file with mode 0600 (or empties an existing one in place) and
// returns an empty store bound to it; null on failure or for a link.
IniFile *ini_create(const char *path);
// Rewrites the file from the store through a new file renamed into place: mode
// 0600 or the old file's narrower one, owned by the saving process; never
// through a link. 0 when the store is empty or the file can't be written.
int ini_save(IniFile *ini);
// The text ini_save writes for the store; false when an entry does not fit a line.
bool ini_format(const IniFile *ini, std::string *text);
// Releases the store without saving.
void ini_close(IniFile *ini);
// Copies the first matching value into out (at most out_size - 1 bytes); empty when none.
char *ini_get(IniFile *ini, const char *address, char *out, size_t out_size);
// The first matching value read as a base-10 int; 0 when none or not numeric.
int ini_get_int(IniFile *ini, const char *address);
// Replaces the value of the first matching entry; 0 when none matches.
int ini_set(IniFile *ini, const char *address, const char *value);
int ini_set_int(IniFile *ini, const char *address, int value);
// Adds a new entry after the first run of its section; 0 when it exists or the key is empty.
int ini_append(IniFile *ini, const char *address, const char *value);
int ini_append_int(IniFile *ini, const char *address, int value);
// ini_set, or ini_append when no entry matches (a hand-edited file, a
// user's first value of their own); 0 when neither worked.
int ini_put(IniFile *ini, const char *address, const char *value);
int ini_put_int(IniFile *ini, const char *address, int value);
// Removes the first matching entry; 0 when none matches.
int ini_remove(IniFile *ini, const char *address);
// The entry an address names, or null.
IniEntry *list_search(IniFile *ini, const char *address);

// Called with the file's name after every step of creating and saving a file
// (creation, each stage of the temporary file, the rename); null in the
// client. Lets tests look at the folder between the steps.
extern void (*ini_step_hook)(const char *path);
