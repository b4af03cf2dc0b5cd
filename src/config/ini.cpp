// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/ini.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t INI_LINE_MAX = 126;        // characters of a line, without its line break
constexpr size_t SECTION_MAX = 63;      // section name taken from a header line
constexpr size_t ADDRESS_MAX = 63;      // any address, also the one ini_append completes
constexpr size_t WRITTEN_LINE_MAX = 127; // a written line including its line feed
constexpr size_t INT_TEXT_MAX = 71;      // value text looked at by ini_get_int
constexpr size_t FILE_MAX = 1 << 20;    // a settings file is a few dozen lines
constexpr const char *DEFAULT_SECTION = "General";
// What stands between key and value in a written line. The plain form carries
// every byte but a line break verbatim; a value holding CR or LF is written in
// the escaped form, where '%', CR and LF appear as %25, %0D and %0A.
constexpr const char PLAIN_SEPARATOR[] = " = ";
constexpr const char ESCAPED_SEPARATOR[] = " =% ";

// ---------------------------------------------------------------- entries

// An entry and its key and section texts are one block; the value, which
// ini_set replaces, is a block of its own.
// Values hold scrambled passwords: freed memory keeps nothing of them, since
// the process that read the file may go on as an ordinary user's window.
void free_value(char *value)
{
    if (value)
        explicit_bzero(value, strlen(value));
    free(value);
}

void wipe(std::string *text)
{
    if (!text->empty())
        explicit_bzero(&(*text)[0], text->size());
}

void free_entry(IniEntry *entry)
{
    free_value(entry->value);
    free(entry);
}

// A new unlinked entry holding copies of the three texts; null when memory runs out.
IniEntry *make_entry(const char *key, size_t key_len, const char *value, size_t value_len,
                     const char *section)
{
    size_t section_len = strlen(section);
    auto *entry =
        static_cast<IniEntry *>(calloc(1, sizeof(IniEntry) + key_len + 1 + section_len + 1));
    if (!entry)
        return nullptr;
    entry->key = reinterpret_cast<char *>(entry + 1);
    memcpy(entry->key, key, key_len);
    entry->section = entry->key + key_len + 1;
    memcpy(entry->section, section, section_len);
    entry->value = strndup(value, value_len);
    if (!entry->value) {
        free(entry);
        return nullptr;
    }
    return entry;
}

// Links entry in after `after`, or at the list's end when `after` is null.
void insert_after(IniFile *ini, IniEntry *after, IniEntry *entry)
{
    if (!after)
        after = ini->last_entry;
    if (!after) {
        ini->first_entry = entry;
    } else {
        entry->next = after->next;
        after->next = entry;
    }
    if (!entry->next)
        ini->last_entry = entry;
    ini->entry_count++;
}

IniEntry *find_entry(IniFile *ini, const char *section, const char *key)
{
    for (IniEntry *e = ini->first_entry; e; e = e->next) {
        if (strcmp(e->key, key) == 0 && strcmp(e->section, section) == 0)
            return e;
    }
    return nullptr;
}

// The last entry of the first run of `section`; null when no entry carries it.
IniEntry *first_run_end(IniFile *ini, const char *section)
{
    IniEntry *e = ini->first_entry;
    while (e && strcmp(e->section, section) != 0)
        e = e->next;
    while (e && e->next && strcmp(e->next->section, section) == 0)
        e = e->next;
    return e;
}

bool has_line_break(const char *text)
{
    return strpbrk(text, "\r\n") != nullptr;
}

bool needs_escape(char c)
{
    return c == '%' || c == '\r' || c == '\n';
}

bool has_line_break(const char *text, size_t len)
{
    return memchr(text, '\r', len) || memchr(text, '\n', len);
}

// Length of the text after the key in a written line, without its line feed.
size_t written_length(const char *value, size_t len)
{
    if (!has_line_break(value, len))
        return sizeof PLAIN_SEPARATOR - 1 + len;
    size_t escapes = 0;
    for (size_t i = 0; i < len; i++)
        escapes += needs_escape(value[i]) ? 1 : 0;
    return sizeof ESCAPED_SEPARATOR - 1 + len + 2 * escapes;
}

// Appends the text after the key in a written line, without its line feed.
void append_written_value(std::string *out, const char *value, size_t len)
{
    if (!has_line_break(value, len)) {
        *out += PLAIN_SEPARATOR;
        out->append(value, len);
        return;
    }
    static const char hex[] = "0123456789ABCDEF";
    *out += ESCAPED_SEPARATOR;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (needs_escape(static_cast<char>(c))) {
            *out += '%';
            *out += hex[c >> 4];
            *out += hex[c & 15];
        } else {
            *out += static_cast<char>(c);
        }
    }
}

// Whether the key's line stays within one written line. A line break in a key
// would smuggle extra entries into the file; one in a value is escaped.
bool entry_fits(const char *key, size_t key_len, const char *value, size_t value_len)
{
    if (has_line_break(key, key_len) || key_len > WRITTEN_LINE_MAX ||
        value_len > WRITTEN_LINE_MAX)
        return false;
    return key_len + written_length(value, value_len) + 1 <= WRITTEN_LINE_MAX;
}

bool entry_fits(const char *key, const char *value)
{
    return entry_fits(key, strlen(key), value, strlen(value));
}

// Whether a key and section written by ini_save read back as themselves: a
// separator inside a key would split it ("USER = 9 #" would write a USER entry),
// a leading '#' or '[' would turn its line into a comment or a header, and a
// blank or ']' would end a section name early.
bool names_readable(const std::string &section, const std::string &key)
{
    return key.find_first_of(" \t=:") == std::string::npos && key[0] != '#' && key[0] != '[' &&
           section.find_first_of(" \t]") == std::string::npos;
}

// ---------------------------------------------------------------- addresses

struct Address {
    std::string section;
    std::string key;
    bool default_section = false; // no section named: use the store's first one
};

// Splits "SECTION@KEY" at its first '@'; false for a null or over-long address.
bool split_address(const char *address, Address *out)
{
    if (!address || strnlen(address, ADDRESS_MAX + 1) > ADDRESS_MAX)
        return false;
    const char *at = strchr(address, '@');
    out->default_section = !at || at == address;
    if (out->default_section) {
        out->key = at ? at + 1 : address;
    } else {
        out->section.assign(address, static_cast<size_t>(at - address));
        out->key = at + 1;
    }
    return true;
}

// ---------------------------------------------------------------- reading

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_separator(char c) { return is_blank(c) || c == '=' || c == ':'; }

struct ReadState {
    std::string section = DEFAULT_SECTION;
    bool skipping = false; // inside a section whose name is over the limit
};

// "[name]": the name stops at a blank or ']'. A header that lacks its ']' still
// opens the section (the next save writes the bracket back). A name over the
// limit, or one holding a CR (which no save may write), is refused, and the key
// lines under it are dropped up to the next header rather than filed under a
// cut name or under the section before.
void read_header(const char *p, ReadState *state)
{
    p++;
    while (is_blank(*p))
        p++;
    size_t len = strcspn(p, " \t]");
    state->skipping = len > SECTION_MAX || memchr(p, '\r', len) != nullptr;
    if (!state->skipping)
        state->section.assign(p, len);
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The value of an escaped line: %XX gives that byte, any other '%' stands for
// itself. Decoded in place: the value only ever gets shorter.
size_t unescape_in_place(char *text)
{
    char *out = text;
    for (const char *p = text; *p; p++) {
        int hi = *p == '%' ? hex_digit(p[1]) : -1;
        int lo = hi >= 0 ? hex_digit(p[2]) : -1;
        if (lo >= 0 && (hi | lo) != 0) {
            *out++ = static_cast<char>(hi * 16 + lo);
            p += 2;
        } else {
            *out++ = *p;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - text);
}

// The value of a key line, from what follows the key (a NUL-terminated text the
// caller owns, which may be changed). A line as the store writes it
// ("key = value") keeps its value whole: '#', ';', leading separators and
// trailing blanks are part of it. Any other form skips a run of blanks, tabs,
// '=' and ':' and drops trailing blanks, as hand-written files expect.
const char *line_value(char *rest, size_t *len)
{
    if (strncmp(rest, PLAIN_SEPARATOR, 3) == 0) {
        *len = strlen(rest + 3);
        return rest + 3;
    }
    if (strncmp(rest, ESCAPED_SEPARATOR, 4) == 0) {
        *len = unescape_in_place(rest + 4);
        return rest + 4;
    }
    while (is_separator(*rest))
        rest++;
    *len = strlen(rest);
    while (*len > 0 && rest[*len - 1] == ' ')
        (*len)--;
    return rest;
}

// "key<separators>value". A line without any separator gives the key an empty
// value. A line without a key ("= 5") and one whose entry could not be written
// back (longer than one line, a CR inside the key) are dropped, so everything
// read can be saved again.
bool read_key_line(IniFile *ini, char *p, const ReadState &state)
{
    size_t key_len = strcspn(p, " \t=:");
    if (state.skipping || key_len == 0)
        return true;
    size_t value_len = 0;
    const char *value = line_value(p + key_len, &value_len);
    if (!entry_fits(p, key_len, value, value_len))
        return true;
    IniEntry *entry = make_entry(p, key_len, value, value_len, state.section.c_str());
    if (!entry)
        return false;
    insert_after(ini, nullptr, entry);
    return true;
}

// One line of the file; false only when memory runs out. Text after a NUL byte
// in a line is not looked at.
bool read_one_line(IniFile *ini, char *line, ReadState *state)
{
    char *p = line;
    while (is_blank(*p))
        p++;
    if (*p == '\0' || *p == '#' || *p == '\r')
        return true;
    if (*p == '[') {
        read_header(p, state);
        return true;
    }
    return read_key_line(ini, p, *state);
}

// An empty store bound to a copy of path; null when memory runs out.
IniFile *new_store(const char *path)
{
    auto *ini = static_cast<IniFile *>(calloc(1, sizeof(IniFile)));
    if (!ini)
        return nullptr;
    ini->file_path = strdup(path);
    if (!ini->file_path) {
        free(ini);
        return nullptr;
    }
    return ini;
}

// Reads every line of text into ini; false only when memory runs out. Lines
// end at LF (a CR before it is dropped); a line longer than the store ever
// writes is skipped whole, so its tail can never be taken for a line of its own.
bool parse_text(IniFile *ini, const char *text, size_t size)
{
    ReadState state;
    char line[INI_LINE_MAX + 1];
    size_t pos = 0;
    while (pos < size) {
        const char *start = text + pos;
        const char *lf = static_cast<const char *>(memchr(start, '\n', size - pos));
        size_t len = lf ? static_cast<size_t>(lf - start) : size - pos;
        pos += len + (lf ? 1 : 0);
        if (len > 0 && start[len - 1] == '\r')
            len--;
        if (len > INI_LINE_MAX)
            continue;
        memcpy(line, start, len);
        line[len] = '\0';
        bool read = read_one_line(ini, line, &state);
        explicit_bzero(line, sizeof line);
        if (!read)
            return false;
    }
    return true;
}

// The whole content of an open file, at most FILE_MAX bytes; false with errno
// set on a read error or a longer file.
bool read_all(int fd, std::string *text)
{
    // Sized once, so that no copy is left behind by the string growing
    // (a file that grows meanwhile may still move it).
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size >= 0)
        text->reserve(std::min<size_t>(static_cast<size_t>(st.st_size), FILE_MAX) + 1);
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (text->size() + static_cast<size_t>(n) > FILE_MAX) {
            errno = EFBIG;
            return false;
        }
        text->append(buf, static_cast<size_t>(n));
        explicit_bzero(buf, sizeof buf);
    }
}

// ---------------------------------------------------------------- writing

// The file's text for the store; false when an entry or header would not fit
// one written line (only possible for entries linked in by hand).
bool format_store(const IniFile *ini, std::string *text)
{
    const char *section = nullptr;
    for (const IniEntry *e = ini->first_entry; e; e = e->next) {
        if (!section || strcmp(section, e->section) != 0) {
            section = e->section;
            if (strlen(section) + 3 > WRITTEN_LINE_MAX || has_line_break(section))
                return false;
            *text += '[';
            *text += section;
            *text += "]\n";
        }
        if (!entry_fits(e->key, e->value))
            return false;
        *text += e->key;
        append_written_value(text, e->value, strlen(e->value));
        *text += '\n';
    }
    return true;
}

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directory_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes the rename itself durable. Its result is not looked at: the new file
// is already complete and in place when this runs.
void sync_directory(const std::string &path)
{
    int fd = open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)fsync(fd);
    close(fd);
}

void step(const std::string &path)
{
    if (ini_step_hook)
        ini_step_hook(path.c_str());
}

// Whether name is one of the temporary files a save of `base` makes: base, '.'
// and the six letters or digits mkstemp chose.
bool is_temp_name(const char *name, const std::string &base)
{
    if (strlen(name) != base.size() + 7 || strncmp(name, base.c_str(), base.size()) != 0 ||
        name[base.size()] != '.')
        return false;
    for (const char *p = name + base.size() + 1; *p; p++) {
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
            return false;
    }
    return true;
}

// Removes the temporary files that a save killed half-way left beside the
// file. A save in progress holds a lock on its own temporary file, so only
// those of saves that are gone are removed.
void remove_stale_temps(const std::string &path)
{
    std::string base = name_of(path);
    DIR *dir = opendir(directory_of(path).c_str());
    if (!dir)
        return;
    int dfd = dirfd(dir);
    while (dirent *e = readdir(dir)) {
        if (!is_temp_name(e->d_name, base))
            continue;
        int fd = openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held, named;
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(dfd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            (void)unlinkat(dfd, e->d_name, 0);
        close(fd);
    }
    closedir(dir);
}

// A new temporary file beside path, created exclusively with mode 0600 and
// locked for as long as it is open; -1 on failure.
int create_temp(const std::string &path, std::string *temp)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        *temp = path + ".XXXXXX";
        int fd = mkostemp(&(*temp)[0], O_CLOEXEC);
        if (fd < 0)
            return -1;
        struct stat st;
        // Another save's clean-up may have taken it before the lock was held.
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        close(fd);
        (void)unlink(temp->c_str());
    }
    return -1;
}

// Writes the complete text to a fresh file beside the target, flushes it to the
// disk and renames it over the target, so an interrupted save (full disk, size
// limit, kill, power loss) leaves the old file as it was. The new file is
// created 0600 and belongs to the saving process; it takes an older file's mode
// only where that is narrower. A name that is no regular file (a link, a
// folder) is never written through or replaced.
bool replace_file(const char *path, const std::string &text)
{
    std::string target = path;
    struct stat old;
    bool exists = lstat(path, &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return false;
    remove_stale_temps(target);
    mode_t mode = exists ? (old.st_mode & 0600) : 0600;
    std::string temp;
    int fd = create_temp(target, &temp);
    if (fd < 0)
        return false;
    step(temp);
    bool ok = write_all(fd, text);
    step(temp);
    ok = ok && (mode == 0600 || fchmod(fd, mode) == 0);
    ok = ok && fsync(fd) == 0;
    step(temp);
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    step(target);
    sync_directory(target);
    return true;
}

// Base-10 text to int: leading blanks, optional sign, digits up to the first
// other character; 0 without digits. Out-of-range values stop at INT_MIN/INT_MAX.
int parse_int(const char *text)
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (*p - '0');
    }
    long long v = negative ? -magnitude : magnitude;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

void (*ini_step_hook)(const char *path) = nullptr;

IniFile *ini_open(const char *path)
{
    return ini_load(path, nullptr);
}

IniFile *ini_load(const char *path, int *error)
{
    int err = 0;
    IniFile *ini = nullptr;
    int fd = path ? open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    if (fd < 0) {
        err = path ? errno : EINVAL;
    } else {
        // Reading as a whole: a read error (a folder, an I/O fault, memory
        // running out) must not pass for a short file, which a save would
        // then cut the rest from.
        try {
            std::string text;
            if (!read_all(fd, &text))
                err = errno ? errno : EIO;
            else if (!(ini = ini_parse(path, text.data(), text.size())))
                err = ENOMEM;
            wipe(&text);
        } catch (const std::bad_alloc &) {
            err = ENOMEM;
        }
        close(fd);
    }
    if (error)
        *error = err;
    if (err)
        errno = err;
    return ini;
}

IniFile *ini_parse(const char *path, const char *text, size_t size)
{
    if (!path || (!text && size > 0))
        return nullptr;
    IniFile *ini = new_store(path);
    bool ok = false;
    try {
        ok = ini && parse_text(ini, text, size);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (!ok) {
        ini_close(ini);
        return nullptr;
    }
    return ini;
}

IniFile *ini_create(const char *path)
{
    if (!path)
        return nullptr;
    // Mode 0600 from the first byte, whatever the umask; an existing file is
    // emptied in place with the mode it has, and a link is never followed.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
        fd = open(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (close(fd) != 0 || !regular)
        return nullptr;
    step(path);
    return new_store(path);
}

bool ini_format(const IniFile *ini, std::string *text)
{
    if (!ini || !text)
        return false;
    try {
        text->clear();
        return format_store(ini, text);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int ini_save(IniFile *ini)
{
    if (!ini || !ini->first_entry)
        return 0;
    try {
        std::string text;
        bool saved = format_store(ini, &text) && replace_file(ini->file_path, text);
        wipe(&text);
        return saved ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

void ini_close(IniFile *ini)
{
    if (!ini)
        return;
    IniEntry *e = ini->first_entry;
    while (e) {
        IniEntry *next = e->next;
        free_entry(e);
        e = next;
    }
    free(ini->file_path);
    free(ini);
}

IniEntry *list_search(IniFile *ini, const char *address)
{
    Address a;
    if (!ini || !split_address(address, &a))
        return nullptr;
    if (a.default_section) {
        // Keys are never empty, so "@" and "" find nothing here.
        if (!ini->first_entry)
            return nullptr;
        return find_entry(ini, ini->first_entry->section, a.key.c_str());
    }
    if (a.key.empty())
        return first_run_end(ini, a.section.c_str());
    return find_entry(ini, a.section.c_str(), a.key.c_str());
}

char *ini_get(IniFile *ini, const char *address, char *out, size_t out_size)
{
    if (!out || out_size == 0)
        return out;
    out[0] = '\0';
    IniEntry *e = list_search(ini, address);
    if (e) {
        size_t n = strnlen(e->value, out_size - 1);
        memcpy(out, e->value, n);
        out[n] = '\0';
    }
    return out;
}

int ini_get_int(IniFile *ini, const char *address)
{
    char text[INT_TEXT_MAX + 1];
    return parse_int(ini_get(ini, address, text, sizeof text));
}

int ini_set(IniFile *ini, const char *address, const char *value)
{
    IniEntry *e = list_search(ini, address);
    if (!e || !value || !entry_fits(e->key, value))
        return 0;
    char *copy = strdup(value);
    if (!copy)
        return 0;
    free_value(e->value);
    e->value = copy;
    return 1;
}

int ini_set_int(IniFile *ini, const char *address, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    return ini_set(ini, address, text);
}

int ini_append(IniFile *ini, const char *address, const char *value)
{
    Address a;
    if (!ini || !value || !split_address(address, &a))
        return 0;
    if (a.default_section)
        a.section = ini->first_entry ? ini->first_entry->section : DEFAULT_SECTION;
    if (a.key.empty() || a.section.size() + 1 + a.key.size() > ADDRESS_MAX)
        return 0;
    if (has_line_break(a.section.c_str()) || !entry_fits(a.key.c_str(), value) ||
        !names_readable(a.section, a.key))
        return 0;
    if (find_entry(ini, a.section.c_str(), a.key.c_str()))
        return 0;
    IniEntry *entry =
        make_entry(a.key.data(), a.key.size(), value, strlen(value), a.section.c_str());
    if (!entry)
        return 0;
    insert_after(ini, first_run_end(ini, a.section.c_str()), entry);
    return 1;
}

int ini_append_int(IniFile *ini, const char *address, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    return ini_append(ini, address, text);
}

int ini_put(IniFile *ini, const char *address, const char *value)
{
    return ini_set(ini, address, value) || ini_append(ini, address, value);
}

int ini_put_int(IniFile *ini, const char *address, int value)
{
    return ini_set_int(ini, address, value) || ini_append_int(ini, address, value);
}

int ini_remove(IniFile *ini, const char *address)
{
    IniEntry *target = list_search(ini, address);
    if (!target)
        return 0;
    IniEntry *prev = nullptr;
    for (IniEntry *e = ini->first_entry; e != target; e = e->next)
        prev = e;
    if (prev)
        prev->next = target->next;
    else
        ini->first_entry = target->next;
    if (ini->last_entry == target)
        ini->last_entry = prev;
    ini->entry_count--;
    free_entry(target);
    return 1;
}
