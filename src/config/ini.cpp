#include "config/ini.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kLineMax = 126;        // characters of a line, without its line break
constexpr size_t kSectionMax = 63;      // section name taken from a header line
constexpr size_t kAddressMax = 63;      // any address, also the one ini_append completes
constexpr size_t kWrittenLineMax = 127; // a written line including its line feed
constexpr size_t kIntTextMax = 71;      // value text looked at by ini_get_int
constexpr const char *kDefaultSection = "General";

// ---------------------------------------------------------------- entries

void free_entry(IniEntry *entry)
{
    free(entry->key);
    free(entry->value);
    free(entry->section);
    free(entry);
}

// A new unlinked entry holding copies of the three texts; null when memory runs out.
IniEntry *make_entry(const char *key, size_t key_len, const char *value, size_t value_len,
                     const char *section)
{
    auto *entry = static_cast<IniEntry *>(calloc(1, sizeof(IniEntry)));
    if (!entry)
        return nullptr;
    entry->key = strndup(key, key_len);
    entry->value = strndup(value, value_len);
    entry->section = strdup(section);
    if (!entry->key || !entry->value || !entry->section) {
        free_entry(entry);
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

// Whether "key = value\n" stays within one written line and cannot split into
// several lines (a line break in a text would smuggle extra entries into the file).
bool entry_fits(const char *key, const char *value)
{
    size_t len = strlen(key) + 3 + strlen(value) + 1;
    return len <= kWrittenLineMax && !has_line_break(key) && !has_line_break(value);
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
    if (!address || strnlen(address, kAddressMax + 1) > kAddressMax)
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

// Reads one line into buf (room for kLineMax + 2 bytes) without its LF and a CR
// before it; false at the end of the file. A longer line is consumed to its LF
// and flagged, so its tail can never be taken for a line of its own.
bool read_line(FILE *file, char *buf, bool *too_long)
{
    size_t n = 0;
    int c;
    bool any = false;
    *too_long = false;
    while ((c = getc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (n <= kLineMax)
            buf[n++] = static_cast<char>(c);
        else
            *too_long = true;
    }
    if (n > 0 && buf[n - 1] == '\r')
        n--;
    if (n > kLineMax)
        *too_long = true;
    buf[n] = '\0';
    return any;
}

struct ReadState {
    std::string section = kDefaultSection;
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
    state->skipping = len > kSectionMax || memchr(p, '\r', len) != nullptr;
    if (!state->skipping)
        state->section.assign(p, len);
}

// "key<separators>value<comment>". A line without any separator gives the key
// an empty value. A line without a key ("= 5") and one whose entry could not be
// written back (longer than one line, a CR inside the key) are dropped, so
// everything read can be saved again.
bool read_key_line(IniFile *ini, const char *p, const ReadState &state)
{
    size_t key_len = strcspn(p, " \t=:");
    const char *value = p + key_len;
    while (is_separator(*value))
        value++;
    size_t value_len = strcspn(value, "#;\r\n");
    while (value_len > 0 && value[value_len - 1] == ' ')
        value_len--;
    if (state.skipping || key_len == 0 || key_len + 3 + value_len + 1 > kWrittenLineMax ||
        memchr(p, '\r', key_len))
        return true;
    IniEntry *entry = make_entry(p, key_len, value, value_len, state.section.c_str());
    if (!entry)
        return false;
    insert_after(ini, nullptr, entry);
    return true;
}

// One line of the file; false only when memory runs out. Text after a NUL byte
// in a line is not looked at.
bool read_one_line(IniFile *ini, const char *line, ReadState *state)
{
    const char *p = line;
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

// ---------------------------------------------------------------- writing

// The file's text for the store; false when an entry or header would not fit
// one written line (only possible for entries linked in by hand).
bool format_store(const IniFile *ini, std::string *text)
{
    const char *section = nullptr;
    for (const IniEntry *e = ini->first_entry; e; e = e->next) {
        if (!section || strcmp(section, e->section) != 0) {
            section = e->section;
            if (strlen(section) + 3 > kWrittenLineMax || has_line_break(section))
                return false;
            *text += '[';
            *text += section;
            *text += "]\n";
        }
        if (!entry_fits(e->key, e->value))
            return false;
        *text += e->key;
        *text += " = ";
        *text += e->value;
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

// The file a save must replace: the target of a symbolic link, so the link stays.
std::string save_target(const char *path)
{
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char *real = realpath(path, nullptr);
        if (real) {
            std::string target = real;
            free(real);
            return target;
        }
    }
    return path;
}

std::string directory_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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

// Writes the complete text to a fresh file beside the target, flushes it to the
// disk and renames it over the target, so an interrupted save (full disk, kill,
// power loss) leaves the old file as it was. The old file's mode and owner stay.
bool replace_file(const char *path, const std::string &text)
{
    std::string target = save_target(path);
    struct stat old;
    bool exists = stat(target.c_str(), &old) == 0;
    mode_t mode = exists ? (old.st_mode & 07777) : 0644;
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    bool ok = write_all(fd, text) && fchmod(fd, mode) == 0;
    if (ok && exists && (old.st_uid != geteuid() || old.st_gid != getegid())) {
        // Only root can give the file back to its owner; anyone else ends up
        // owning the new file, which does not stop the save.
        int rc = fchown(fd, old.st_uid, old.st_gid);
        (void)rc;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
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

IniFile *ini_open(const char *path)
{
    if (!path)
        return nullptr;
    FILE *file = fopen(path, "r");
    if (!file)
        return nullptr;
    IniFile *ini = new_store(path);
    char line[kLineMax + 2];
    bool too_long = false;
    ReadState state;
    bool ok = ini != nullptr;
    while (ok && read_line(file, line, &too_long)) {
        if (!too_long)
            ok = read_one_line(ini, line, &state);
    }
    // A read error (a directory, an I/O fault) must not pass for a short file:
    // saving that partial store would throw away the rest.
    ok = ok && !ferror(file);
    fclose(file);
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
    FILE *file = fopen(path, "w");
    if (!file)
        return nullptr;
    if (fclose(file) != 0)
        return nullptr;
    return new_store(path);
}

int ini_save(IniFile *ini)
{
    if (!ini || !ini->first_entry)
        return 0;
    std::string text;
    if (!format_store(ini, &text))
        return 0;
    return replace_file(ini->file_path, text) ? 1 : 0;
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
    char text[kIntTextMax + 1];
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
    free(e->value);
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
        a.section = ini->first_entry ? ini->first_entry->section : kDefaultSection;
    if (a.key.empty() || a.section.size() + 1 + a.key.size() > kAddressMax)
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
