// Maps a file, cuts it short, then reads where its bytes were: the read error must end the
// program with the message and without the leftover named on its command line.
//   mapped_reader FILE LEFTOVER

#include "cdimage/mappedfile.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const auto file = cdimage::MappedFile::open(argv[1]);
    if (!file)
        return 3;
    cdimage::MappedFile::whenUnreadable("mapped_reader: cannot read\n", argv[2]);
    volatile std::uint8_t sum = file->data()[0];
    std::filesystem::resize_file(argv[1], 0);
    sum = sum + file->data()[file->size() - 1];
    std::printf("read past the end without an error (%d)\n", int(sum));
    return 0;
}
