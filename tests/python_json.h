// Whether Python's own parser, which we did not write, accepts a text as one JSON document.
#ifndef TESSARY_TESTS_PYTHON_JSON_H
#define TESSARY_TESTS_PYTHON_JSON_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline bool python_accepts_json(const std::string &text) {
    const std::string path = testing::TempDir() + "tessary_json." + std::to_string(getpid());
    std::FILE *file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    const bool accepted =
        std::system(("python3 -m json.tool " + path + " >/dev/null").c_str()) == 0;
    unlink(path.c_str());
    return accepted;
}

#endif
