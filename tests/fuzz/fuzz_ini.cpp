// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the INI reader (from memory: no file per input),
// runs lookups and changes on the store, stores values cut from the input, and
// checks that the text the store writes reads back to exactly the same entries
// and writes the same bytes again.
#include "config/ini.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_ini: %s\n", what);
        abort();
    }
}

// The list's bookkeeping: last_entry is its end and entry_count its length.
void check_list(const IniFile *ini)
{
    const IniEntry *last = nullptr;
    int32_t count = 0;
    for (const IniEntry *e = ini->first_entry; e; e = e->next) {
        last = e;
        count++;
    }
    require(last == ini->last_entry, "last_entry is not the list's end");
    require(count == ini->entry_count, "entry_count is off");
}

// Whether two stores hold the same entries in the same order.
bool same_entries(const IniFile *a, const IniFile *b)
{
    check_list(a);
    check_list(b);
    const IniEntry *x = a->first_entry, *y = b->first_entry;
    for (; x && y; x = x->next, y = y->next) {
        if (strcmp(x->section, y->section) != 0 || strcmp(x->key, y->key) != 0 ||
            strcmp(x->value, y->value) != 0)
            return false;
    }
    return !x && !y;
}

// Addresses to try: fixed forms, forms built from the store's own entries, and
// the input's first bytes taken as an address.
std::vector<std::string> addresses(const IniFile *ini, const uint8_t *data, size_t size)
{
    std::vector<std::string> list = {"OPTION@USER", "@USER", "OPTION@"};
    list.reserve(8);
    if (const IniEntry *e = ini->first_entry) {
        list.push_back(std::string(e->section) + "@" + e->key);
        list.push_back(e->key);
    }
    if (const IniEntry *e = ini->last_entry)
        list.push_back(std::string(e->section) + "@");
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
    if (out_size % 4 == 0)
        (void)ini_get_int(ini, address.c_str());
    IniEntry *e = list_search(ini, address.c_str());
    if (e && out_size > 0)
        require(strncmp(out, e->value, out_size - 1) == 0, "ini_get copied another value");
}

// A value cut from the input: any bytes but NUL, up to 40 of them, taken from
// the input's end so that it differs from the text the store was read from.
std::string value_from(const uint8_t *data, size_t size, unsigned skip)
{
    std::string value;
    size_t from = size > skip ? size - skip : 0;
    for (size_t i = from; i < size && value.size() < 40; i++) {
        if (data[i] != 0)
            value += static_cast<char>(data[i]);
    }
    return value;
}

// Changes: fixed values and values cut from the input, which the store must
// carry back byte for byte.
void change(IniFile *ini, const std::string &address, unsigned op, const std::string &input_value)
{
    static const char *const values[] = {"fuzz", "", "a b", "-12"};
    const char *value = op % 3 == 0 ? input_value.c_str() : values[op % 4];
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
        std::string value = value_from(data, size, 1 + static_cast<unsigned>(i) * 3);
        change(ini, list[i], seed + static_cast<unsigned>(i) * 7, value);
        check_list(ini);
    }
    // A value of the input's own bytes under a key of its own: it must come back whole.
    std::string value = value_from(data, size, 40);
    if (ini_append(ini, "FUZZ@value", value.c_str()) == 1) {
        IniEntry *e = list_search(ini, "FUZZ@value");
        require(e && value == e->value, "appended value is not kept as given");
    }
}

// Writes the store, reads the text back and writes that again: same entries, same bytes.
void round_trip(IniFile *ini)
{
    std::string text;
    require(ini_format(ini, &text), "a store made of readable entries does not format");
    IniFile *again = ini_parse("fuzz", text.data(), text.size());
    require(again != nullptr, "written text does not parse");
    require(same_entries(again, ini), "written text reads back to other entries");
    std::string text2;
    require(ini_format(again, &text2) && text2 == text, "second write gave other bytes");
    ini_close(again);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    IniFile *ini = ini_parse("fuzz", reinterpret_cast<const char *>(data), size);
    require(ini != nullptr, "input did not parse");
    exercise(ini, data, size);
    round_trip(ini);
    ini_close(ini);
    return 0;
}
