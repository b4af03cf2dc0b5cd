// Runs a fuzz target's seeds once each, in the test build (the sanitizers on,
// no clang needed): every file of the folders named on the command line goes
// through the target's entry point. A seed that crashes stops the run.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corpus/fuzz_entry.h"

namespace {

// Runs every regular file of dir; -1 when the folder can't be read.
int run_folder(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return -1;
    int count = 0;
    while (dirent *e = readdir(d)) {
        std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
        if (e->d_name[0] == '.' || !in)
            continue;
        std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        (void)LLVMFuzzerTestOneInput(seed.data(), seed.size());
        count++;
    }
    closedir(d);
    return count;
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        (void)LLVMFuzzerInitialize(&argc, &argv);
    int total = 0;
    for (int i = 1; i < argc; ++i) {
        int n = run_folder(argv[i]);
        if (n <= 0) {
            std::fprintf(stderr, "%s: no seeds\n", argv[i]);
            return 1;
        }
        total += n;
    }
    std::printf("%d seeds run\n", total);
    return total > 0 ? 0 : 1;
}
