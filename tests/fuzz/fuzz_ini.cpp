// Feeds arbitrary bytes to the INI reader as a file, runs lookups and changes
// on the store, and checks that what ini_save writes reads back to the same
// entries and saves to the same bytes again.
#include "config/ini.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_out_dir;
std::string g_out_path;

void remove_out_dir()
{
    unlink(g_out_path.c_str());
    rmdir(g_out_dir.c_str());
}

// A private directory for the saved files; on tmpfs when there is one, so the
// fsync of every save costs nothing.
const std::string &out_path()
{
    if (g_out_path.empty()) {
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz_ini.XXXXXX"
                                                         : "/tmp/fuzz_ini.XXXXXX";
        if (!mkdtemp(&tmpl[0]))
            abort();
        g_out_dir = tmpl;
        g_out_path = g_out_dir + "/out.ini";
        atexit(remove_out_dir);
    }
    return g_out_path;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void require(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_ini: %s\n", what);
        abort();
    }
}

// The entries as "section\x01key\x01value" in order, after checking the list's bookkeeping.
std::vector<std::string> entries(const IniFile *ini)
{
    std::vector<std::string> out;
    const IniEntry *last = nullptr;
    for (const IniEntry *e = ini->first_entry; e; e = e->next) {
        out.push_back(std::string(e->section) + '\x01' + e->key + '\x01' + e->value);
        last = e;
    }
    require(last == ini->last_entry, "last_entry is not the list's end");
    require(static_cast<int32_t>(out.size()) == ini->entry_count, "entry_count is off");
    return out;
}

// Addresses to try: fixed forms, forms built from the store's own entries, and
// the input's first bytes taken as an address.
std::vector<std::string> addresses(const IniFile *ini, const uint8_t *data, size_t size)
{
    std::vector<std::string> list = {"OPTION@USER", "USER", "@USER", "OPTION@", "General@a",
                                     "", "@", "S@k@x", "Z@z"};
    const IniEntry *picks[] = {ini->first_entry, ini->last_entry,
                               ini->first_entry ? ini->first_entry->next : nullptr};
    for (const IniEntry *e : picks) {
        if (e) {
            list.push_back(std::string(e->section) + "@" + e->key);
            list.push_back(std::string(e->section) + "@");
            list.push_back(e->key);
        }
    }
    size_t n = 0;
    while (n < size && n < 80 && data[n] != '\0' && data[n] != '\n')
        n++;
    list.emplace_back(reinterpret_cast<const char *>(data), n);
    return list;
}

void read_checks(IniFile *ini, const std::string &address, size_t out_size)
{
    char out[24];
    memset(out, 0x5a, sizeof out);
    ini_get(ini, address.c_str(), out, out_size);
    for (size_t i = out_size; i < sizeof out; i++)
        require(out[i] == 0x5a, "ini_get wrote past its buffer size");
    (void)ini_get_int(ini, address.c_str());
    IniEntry *e = list_search(ini, address.c_str());
    if (e && out_size > 0)
        require(strncmp(out, e->value, out_size - 1) == 0, "ini_get copied another value");
}

// Changes use values that the file format can carry back unchanged.
void change(IniFile *ini, const std::string &address, unsigned op)
{
    static const char *const values[] = {"fuzz", "", "a b", "-12"};
    const char *value = values[op % 4];
    switch (op % 5) {
    case 0: (void)ini_set(ini, address.c_str(), value); break;
    case 1: (void)ini_append(ini, address.c_str(), value); break;
    case 2: (void)ini_set_int(ini, address.c_str(), static_cast<int>(op) - 100); break;
    case 3: (void)ini_append_int(ini, address.c_str(), static_cast<int>(op)); break;
    default: (void)ini_remove(ini, address.c_str()); break;
    }
}

void exercise(IniFile *ini, const uint8_t *data, size_t size)
{
    unsigned seed = size ? data[size - 1] : 0;
    std::vector<std::string> list = addresses(ini, data, size);
    for (size_t i = 0; i < list.size(); i++) {
        read_checks(ini, list[i], (seed + i) % 25);
        change(ini, list[i], seed + static_cast<unsigned>(i) * 7);
        (void)entries(ini);
    }
}

// Saves the store, reads the file back and saves that again: same entries, same bytes.
void round_trip(IniFile *ini)
{
    free(ini->file_path);
    ini->file_path = strdup(out_path().c_str());
    require(ini->file_path != nullptr, "out of memory");
    std::vector<std::string> before = entries(ini);
    int saved = ini_save(ini);
    require(saved == (before.empty() ? 0 : 1), "ini_save result does not match the store");
    if (!saved)
        return;
    std::string text = read_file(ini->file_path);
    IniFile *again = ini_open(ini->file_path);
    require(again != nullptr, "saved file does not open");
    require(entries(again) == before, "saved file reads back to other entries");
    require(ini_save(again) == 1, "second save failed");
    require(read_file(again->file_path) == text, "second save wrote other bytes");
    ini_close(again);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int fd = memfd_create("fuzz_ini", MFD_CLOEXEC);
    require(fd >= 0, "memfd_create failed");
    require(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size), "memfd write");
    std::string in_path = "/proc/self/fd/" + std::to_string(fd);
    IniFile *ini = ini_open(in_path.c_str());
    close(fd);
    require(ini != nullptr, "a readable file did not open");
    (void)entries(ini);
    exercise(ini, data, size);
    round_trip(ini);
    ini_close(ini);
    return 0;
}
