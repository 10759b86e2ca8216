// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a file back from a CD image through Debian's libiso9660 and libcdio, as a reader
// independent of ours: `iso9660_reader IMAGE.cue /NAME.EXT;1 OUTPUT` prints the file's XA
// attributes, first sector and sector count, and writes the 2324 data bytes of each of its
// Form 2 sectors to OUTPUT (for a Form 1 file: its recorded length of 2048-byte sectors).

#include <cdio/bytesex.h>
#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/xa.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: iso9660_reader IMAGE.cue PATH OUTPUT\n");
        return 2;
    }
    CdIo_t* disc = cdio_open(argv[1], DRIVER_BINCUE);
    if (!disc) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    iso9660_stat_t* file = iso9660_fs_stat(disc, argv[2]);
    if (!file) {
        std::fprintf(stderr, "no %s in the image\n", argv[2]);
        return 1;
    }
    const unsigned attributes = uint16_from_be(file->xa.attributes);
    std::printf("attributes 0x%04x lsn %d sectors %u size %u\n", attributes, int(file->lsn),
                unsigned(file->secsize), unsigned(file->size));
    std::FILE* out = std::fopen(argv[3], "wb");
    const bool form2 = attributes & XA_ATTR_MODE2FORM2;
    std::vector<unsigned char> sector(M2RAW_SECTOR_SIZE);
    int status = 0;
    unsigned remaining = file->size;
    for (unsigned i = 0; i < file->secsize && status == 0; ++i) {
        if (cdio_read_mode2_sectors(disc, sector.data(), file->lsn + lsn_t(i), form2, 1) !=
            DRIVER_OP_SUCCESS) {
            status = 1;
        } else if (form2) {
            std::fwrite(sector.data() + CDIO_CD_SUBHEADER_SIZE, 1, M2F2_SECTOR_SIZE, out);
        } else {
            const unsigned size = remaining < 2048 ? remaining : 2048;
            std::fwrite(sector.data(), 1, size, out);
            remaining -= size;
        }
    }
    std::fclose(out);
    iso9660_stat_free(file);
    cdio_destroy(disc);
    return status;
}
