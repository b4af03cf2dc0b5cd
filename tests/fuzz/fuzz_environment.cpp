// SPDX-License-Identifier: GPL-2.0-or-later
// Environments and command lines of any content through what the set-user-ID
// process keeps of them: only the kept names, each once, with plain values,
// and only a display option for GTK.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/environment.h"

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_environment: %s\n", what);
        abort();
    }
}

bool only(const std::string &value, const char *allowed)
{
    for (unsigned char c : value) {
        bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && !strchr(allowed, c))
            return false;
    }
    return true;
}

bool plain_path(const std::string &value)
{
    if (value.empty() || value[0] != '/' || value.size() >= 4096)
        return false;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

bool is_locale_name(const std::string &name)
{
    return name == "LANG" || name == "LANGUAGE" ||
           (name.size() > 3 && name.compare(0, 3, "LC_") == 0 && only(name.substr(3), "_"));
}

// The input split at NUL bytes: the first piece is the user's home, the rest
// are environment entries (at most 64) and, after an empty piece, arguments.
void split(const uint8_t *data, size_t size, std::string *home, std::vector<std::string> *env,
           std::vector<std::string> *args)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size && pieces.size() < 130; i++) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }
    *home = pieces[0];
    size_t i = 1;
    for (; i < pieces.size() && !pieces[i].empty() && env->size() < 64; i++)
        env->push_back(pieces[i]);
    for (i++; i < pieces.size(); i++)
        args->push_back(pieces[i]);
}

void check_environment(const std::vector<std::string> &in, const std::string &home,
                       const std::vector<std::string> &out)
{
    std::set<std::string> names;
    bool path = false, dbus = false;
    for (const std::string &entry : out) {
        size_t eq = entry.find('=');
        require(eq != std::string::npos && eq > 0, "entry without a name");
        std::string name = entry.substr(0, eq), value = entry.substr(eq + 1);
        require(names.insert(name).second, "a name kept twice");
        if (name == "PATH") {
            require(value == SAFE_PATH, "PATH is not the fixed one");
            path = true;
        } else if (name == "DBUS_SESSION_BUS_ADDRESS") {
            require(value.empty(), "session bus address not empty");
            dbus = true;
        } else if (name == "DISPLAY") {
            require(!value.empty() && value.size() < 256 && only(value, "._:/-"), "display value");
        } else if (name == "XAUTHORITY") {
            require(plain_path(value), "XAUTHORITY is no plain absolute path");
        } else {
            require(is_locale_name(name), "a name that is not kept");
            require(!value.empty() && value.size() <= 64 && value[0] != '.' &&
                        only(value, name == "LANGUAGE" ? "_.@+-,:" : "_.@+-,"),
                    "locale value that could name a path");
        }
        // A value taken from the caller is the one getenv would have seen: the first.
        if (name != "PATH" && name != "DBUS_SESSION_BUS_ADDRESS") {
            bool from_caller = false;
            for (const std::string &e : in) {
                if (e.compare(0, name.size() + 1, name + "=") == 0) {
                    from_caller = e == entry;
                    break;
                }
            }
            // The only value of another origin: the fallback in the user's home.
            bool fallback = name == "XAUTHORITY" && value == home + "/.Xauthority";
            require(from_caller || fallback, "kept value is neither the caller's first nor the fallback");
        }
    }
    require(path && dbus, "PATH or the empty session bus address missing");
}

void check_args(const std::vector<std::string> &args)
{
    std::vector<const char *> argv = {"Corvix"};
    for (const std::string &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::vector<std::string> out = gtk_safe_args(static_cast<int>(argv.size()) - 1, argv.data());
    require(!out.empty() && out[0] == "Corvix", "program name handed to GTK");
    require(out.size() <= 2, "more than one option handed to GTK");
    if (out.size() == 2) {
        require(out[1].compare(0, 10, "--display=") == 0, "an option other than the display");
        std::string value = out[1].substr(10);
        require(!value.empty() && value.size() < 256 && only(value, "._:/-"), "display option");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string home;
    std::vector<std::string> env, args;
    split(data, size, &home, &env, &args);
    check_environment(env, home, reduced_environment(env, home));
    check_args(args);
    return 0;
}
