// SPDX-License-Identifier: GPL-2.0-or-later
// A fuzz target's entry point run once on each stored input, as libFuzzer runs
// a corpus before it starts mutating, but built with the ordinary compiler and
// the sanitizers of the test build: every input kept in a corpus must still go
// through cleanly.
//   replay_<target> FILE-OR-FOLDER...   (a folder: each file in it, by name)
#include "fuzz_entry.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

bool is_folder(const std::string &path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files a folder holds (not its subfolders), sorted so a failure names the
// same input on every run.
bool list_folder(const std::string &dir, std::vector<std::string> &out)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return false;
    std::vector<std::string> names;
    while (const dirent *e = readdir(d)) {
        std::string path = dir + "/" + e->d_name;
        if (e->d_name[0] != '.' && !is_folder(path))
            names.push_back(path);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    out.insert(out.end(), names.begin(), names.end());
    return true;
}

bool read_file(const std::string &path, std::vector<uint8_t> &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (!is_folder(arg)) {
            inputs.push_back(arg);
        } else if (!list_folder(arg, inputs)) {
            fprintf(stderr, "%s: cannot read the folder %s\n", argv[0], arg.c_str());
            return 2;
        }
    }
    // An empty corpus would make a case that checks nothing.
    if (inputs.empty()) {
        fprintf(stderr, "%s: no inputs\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    for (const std::string &path : inputs) {
        std::vector<uint8_t> bytes;
        if (!read_file(path, bytes)) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
            return 2;
        }
        // A block of exactly the input's length, so that the sanitizers catch
        // a read one byte past it (as in the fuzzer, which copies likewise).
        std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), block.get());
        fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(block.get(), bytes.size());
    }
    printf("%zu inputs replayed cleanly\n", inputs.size());
    return 0;
}
