// Every test binary, and every program it runs, keeps its results in a directory of its own,
// never in the user's store: XDG_DATA_HOME points at a fresh temporary directory, removed
// when the binary ends.
#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <string>
#include <unistd.h>

namespace {

int remove_entry(const char *path, const struct stat *, int, FTW *) {
    return std::remove(path);
}

struct private_data_home {
    pid_t owner = getpid();
    std::string path;

    private_data_home() {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/tessary-test-data.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("private_data_home: mkdtemp");
            std::abort();
        }
        path = pattern;
        setenv("XDG_DATA_HOME", path.c_str(), 1);
    }

    // Forked children that end through exit() leave it to the binary that made it.
    ~private_data_home() {
        if (getpid() == owner) {
            nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
        }
    }
};

const private_data_home data_home;

} // namespace
