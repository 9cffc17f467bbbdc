// Internal to the probe: the pseudo-files it reads, opened as text and closed by their owner.
#ifndef TESSARY_TEXT_FILE_H
#define TESSARY_TEXT_FILE_H

#include <cstdio>
#include <memory>

namespace probe {

struct file_closer {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

// A null path counts as a file that cannot be opened.
inline unique_file open_text(const char *path) {
    return unique_file(path ? std::fopen(path, "r") : nullptr);
}

} // namespace probe

#endif
