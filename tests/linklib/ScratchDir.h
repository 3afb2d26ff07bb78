#ifndef TESTS_LINKLIB_SCRATCHDIR_H
#define TESTS_LINKLIB_SCRATCHDIR_H

#include <stdlib.h>

#include <stdexcept>
#include <string>

// A fresh directory under /tmp, removed with everything in it afterwards.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/linklib-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("cannot create a scratch directory");
        }
        path_ = pattern;
    }
    ~ScratchDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        if (system(command.c_str()) != 0) {
            // Leftovers in /tmp are harmless; the test result stands.
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

#endif
