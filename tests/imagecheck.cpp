// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagecheck.h"

#include "referencecode.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <sstream>

namespace velmora::test {

namespace {

constexpr std::size_t kRaw = 2352;
constexpr std::size_t kForm1 = 2048;
constexpr std::size_t kForm2 = 2324;
constexpr std::uint8_t kForm2Bit = 0x20;

std::uint32_t le32(const std::uint8_t* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
           std::uint32_t(at[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* at) {
    return std::uint16_t(at[0] | at[1] << 8);
}
// A reflected CRC of 32 bits over `bytes`, from `initial`, by a table made bit by bit.
std::uint32_t reflectedCrc(std::uint32_t polynomial, std::uint32_t initial,
                           const std::uint8_t* bytes, std::size_t size) {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = value & 1 ? (value >> 1) ^ polynomial : value >> 1;
        table[i] = value;
    }
    std::uint32_t crc = initial;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The EDC of ECMA-130 (annex, x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1).
std::uint32_t edcOf(const std::uint8_t* bytes, std::size_t size) {
    return reflectedCrc(0xD8018001u, 0, bytes, size);
}

int bcd(int value) {
    return value / 10 * 16 + value % 10;
}

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::vector<std::uint8_t> sha256Bytes(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(bytes, size, digest.data(), &length, EVP_sha256(), nullptr);
    digest.resize(length);
    return digest;
}

class Checker {
public:
    Checker(const std::uint8_t* bin, std::size_t size, const CheckOptions& options)
        : m_bin(bin)
        , m_options(options) {
        if (size % kRaw != 0 || size == 0)
            fault("the image's size, " + std::to_string(size) + ", is no whole number of sectors");
        m_facts.sectors = std::uint32_t(size / kRaw);
    }

    ImageFacts run() {
        if (!m_facts.faults.empty())
            return m_facts;
        for (std::uint32_t lba = 0; lba < m_facts.sectors; ++lba)
            checkSector(lba);
        if (!checkDescriptors())
            return m_facts;
        m_facts.isoFiles = folder(m_isoRoot, m_isoRootBytes, false);
        for (const auto& [name, file] : folder(m_jolietRoot, m_jolietRootBytes, true)) {
            std::u16string units;
            for (std::size_t c = 0; c + 1 < name.size(); c += 2)
                units += char16_t(std::uint8_t(name[c]) << 8 | std::uint8_t(name[c + 1]));
            m_facts.jolietFiles.emplace(units, file);
        }
        checkFolders();
        checkFileList();
        checkRepairData();
        return m_facts;
    }

private:
    void fault(const std::string& what) {
        if (m_facts.faults.size() < 50)
            m_facts.faults.push_back(what);
    }
    const std::uint8_t* raw(std::uint32_t lba) const { return m_bin + std::size_t(lba) * kRaw; }
    const std::uint8_t* data(std::uint32_t lba) const { return raw(lba) + 24; }
    bool form2(std::uint32_t lba) const { return raw(lba)[18] & kForm2Bit; }

    void checkSector(std::uint32_t lba) {
        const std::uint8_t* s = raw(lba);
        static const std::uint8_t kSync[12] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
        const std::string at = "sector " + std::to_string(lba) + ": ";
        if (std::memcmp(s, kSync, 12) != 0)
            return fault(at + "no sync pattern");
        const std::uint32_t frames = lba + 150;
        if (s[12] != bcd(int(frames / 4500)) || s[13] != bcd(int(frames / 75 % 60)) ||
            s[14] != bcd(int(frames % 75)))
            return fault(at + "its header names another address");
        if (s[15] != 2)
            return fault(at + "not a Mode 2 sector");
        if (std::memcmp(s + 16, s + 20, 4) != 0)
            return fault(at + "the two copies of its subheader differ");
        const std::size_t covered = form2(lba) ? 8 + kForm2 : 8 + kForm1;
        if (edcOf(s + 16, covered) != le32(s + 16 + covered))
            fault(at + "its EDC is wrong");
    }

    // The directory record of a root in a volume descriptor.
    bool checkDescriptors() {
        if (m_facts.sectors < 20)
            return fault("the image is too short for a volume"), false;
        const std::uint8_t* pvd = data(16);
        if (pvd[0] != 1 || std::memcmp(pvd + 1, "CD001", 5) != 0 || pvd[6] != 1)
            return fault("sector 16 holds no primary volume descriptor"), false;
        if (le32(pvd + 80) != m_facts.sectors)
            fault("the volume's size, " + std::to_string(le32(pvd + 80)) +
                  " sectors, is not the image's " + std::to_string(m_facts.sectors));
        if (le16(pvd + 128) != 2048)
            fault("the logical block is not 2,048 bytes");
        if (std::memcmp(pvd + 1024, "CD-XA001", 8) != 0)
            fault("the primary volume descriptor has no CD-ROM XA signature");
        m_isoRoot = le32(pvd + 156 + 2);
        m_isoRootBytes = le32(pvd + 156 + 10);
        const std::uint8_t* svd = data(17);
        if (svd[0] != 2 || std::memcmp(svd + 1, "CD001", 5) != 0 || svd[88] != '%' ||
            svd[89] != '/' || (svd[90] != '@' && svd[90] != 'C' && svd[90] != 'E'))
            return fault("sector 17 holds no Joliet volume descriptor"), false;
        m_jolietRoot = le32(svd + 156 + 2);
        m_jolietRootBytes = le32(svd + 156 + 10);
        if (data(18)[0] != 255 || std::memcmp(data(18) + 1, "CD001", 5) != 0)
            fault("sector 18 holds no volume descriptor set terminator");
        return true;
    }

    // The files of a root folder, their names as they stand (UCS-2 as 16-bit units for Joliet).
    std::map<std::string, CheckedFile> folder(std::uint32_t lba, std::uint32_t bytes, bool joliet) {
        std::map<std::string, CheckedFile> files;
        const std::string which = joliet ? "the Joliet root" : "the ISO 9660 root";
        if (bytes % kForm1 != 0 || lba + bytes / kForm1 > m_facts.sectors || bytes == 0) {
            fault(which + " lies outside the image");
            return files;
        }
        const std::uint32_t sectors = bytes / kForm1;
        for (std::uint32_t i = 0; i < sectors; ++i) {
            m_folderSectors.insert(lba + i);
            const std::uint8_t submode = raw(lba + i)[18];
            if (form2(lba + i) || ((submode & 0x01) != 0) != (i + 1 == sectors))
                fault(which + ": sector " + std::to_string(lba + i) +
                      " is not a Form 1 sector of a folder that ends where its record does");
            const std::uint8_t* sector = data(lba + i);
            for (std::size_t at = 0; at < kForm1;) {
                const std::uint8_t length = sector[at];
                if (length == 0)
                    break;
                if (length < 34 || at + length > kForm1) {
                    fault(which + ": a record crosses its sector's end");
                    break;
                }
                const std::uint8_t* record = sector + at;
                at += length;
                const std::uint8_t nameLength = record[32];
                if (33u + nameLength > length) {
                    fault(which + ": a name runs past its record");
                    continue;
                }
                if (nameLength == 1 && (record[33] == 0 || record[33] == 1))
                    continue; // itself, its parent
                std::string name;
                if (joliet) { // UCS-2, big-endian: kept as its bytes
                    name.assign(reinterpret_cast<const char*>(record + 33), nameLength);
                } else {
                    name.assign(reinterpret_cast<const char*>(record + 33), nameLength);
                    if (name.size() < 2 || name.compare(name.size() - 2, 2, ";1") != 0)
                        fault(which + ": " + name + " has no version ;1");
                    else
                        name.resize(name.size() - 2);
                }
                // The XA record after the name (padded to an even length).
                const std::size_t su = 33 + nameLength + ((nameLength + 1) % 2);
                CheckedFile file{le32(record + 2), le32(record + 10), false};
                if (su + 14 > length || record[su + 6] != 'X' || record[su + 7] != 'A') {
                    fault(which + ": a record has no CD-ROM XA attributes");
                } else {
                    const unsigned attributes = unsigned(record[su + 4]) << 8 | record[su + 5];
                    file.form2 = attributes & 0x1000;
                    if (!(attributes & 0x1800))
                        fault(which + ": a record's XA attributes name no form");
                }
                if (!files.emplace(name, file).second)
                    fault(which + ": a name stands twice");
            }
        }
        return files;
    }

    // Each file's sectors inside the image, of its form, none shared; both trees alike.
    void checkFolders() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
        for (const auto& [name, file] : m_facts.isoFiles) {
            const std::uint32_t sectors = (file.recordedBytes + kForm1 - 1) / kForm1;
            if (std::uint64_t(file.lba) + sectors > m_facts.sectors) {
                fault(name + " lies past the image's end");
                continue;
            }
            for (std::uint32_t i = 0; i < sectors; ++i) {
                const std::uint8_t submode = raw(file.lba + i)[18];
                if (form2(file.lba + i) != file.form2 ||
                    ((submode & 0x80) != 0) != (i + 1 == sectors)) {
                    fault(name + ": sector " + std::to_string(file.lba + i) +
                          " is not of the file's form, or its end of file is misplaced");
                    break;
                }
            }
            if (sectors > 0)
                extents.emplace_back(file.lba, sectors);
        }
        std::sort(extents.begin(), extents.end());
        for (std::size_t i = 1; i < extents.size(); ++i)
            if (extents[i - 1].first + extents[i - 1].second > extents[i].first)
                fault("two files share sector " + std::to_string(extents[i].first));
        std::multiset<std::pair<std::uint32_t, std::uint32_t>> iso, joliet;
        for (const auto& [name, file] : m_facts.isoFiles)
            iso.emplace(file.lba, file.recordedBytes);
        for (const auto& [name, file] : m_facts.jolietFiles)
            joliet.emplace(file.lba, file.recordedBytes);
        if (iso != joliet)
            fault("the Joliet tree names other extents than the ISO 9660 one");
    }

    std::vector<std::uint8_t> formBytes(const CheckedFile& file, std::uint64_t length) const {
        std::vector<std::uint8_t> bytes;
        const std::size_t per = file.form2 ? kForm2 : kForm1;
        for (std::uint32_t lba = file.lba; bytes.size() < length; ++lba) {
            if (lba >= m_facts.sectors)
                break;
            const std::size_t take =
                std::size_t(std::min<std::uint64_t>(per, length - bytes.size()));
            bytes.insert(bytes.end(), data(lba), data(lba) + take);
        }
        return bytes;
    }

    // The list: its lines against the folders, each file's SHA-256 against its sectors.
    void checkFileList() {
        const auto found = m_facts.isoFiles.find("VELMORA.LST");
        if (found == m_facts.isoFiles.end() || found->second.form2)
            return fault("no Form 1 file list VELMORA.LST in the root");
        m_list = found->second;
        const std::vector<std::uint8_t> bytes = formBytes(m_list, m_list.recordedBytes);
        m_facts.fileList.assign(bytes.begin(), bytes.end());
        std::istringstream lines(m_facts.fileList);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("# repair code ", 0) == 0) {
                std::istringstream fields(line.substr(14));
                std::string word;
                fields >> m_listedCode >> word >> m_facts.m >> word >> m_facts.bandLength >> word >>
                    m_facts.protectedSectors >> word >> m_facts.parityLba >> word >>
                    m_listedHeaders[0] >> m_listedHeaders[1];
                continue;
            }
            if (line.empty() || line[0] == '#' || line.rfind("Velmora", 0) == 0)
                continue;
            std::istringstream fields(line);
            std::string sha, identifier;
            std::uint64_t length = 0;
            std::uint32_t lba = 0;
            std::int64_t modified = 0;
            if (!(fields >> sha >> length >> lba >> modified >> identifier) || sha.size() != 64)
                continue; // the heading's own lines
            ++m_facts.listedFiles;
            const auto file = m_facts.isoFiles.find(identifier);
            if (file == m_facts.isoFiles.end()) {
                fault("the list names " + identifier + ", which no folder record does");
                continue;
            }
            if (file->second.lba != lba && length > 0)
                fault(identifier + ": the list says sector " + std::to_string(lba) +
                      ", its record " + std::to_string(file->second.lba));
            if ((length + kForm2 - 1) / kForm2 * kForm1 != file->second.recordedBytes)
                fault(identifier + ": its record's size does not hold " + std::to_string(length) +
                      " bytes");
            if (m_options.fileSums && sha256Hex(formBytes(file->second, length)) != sha)
                fault(identifier + ": its sectors do not match the list's SHA-256");
        }
        // The list's own sectors end the protected ones, and what follows its text is zeros.
        const std::uint32_t listSectors = (m_list.recordedBytes + kForm1 - 1) / kForm1;
        for (std::uint32_t i = 0; i < listSectors; ++i)
            m_listSectors.insert(m_list.lba + i);
    }

    void checkRepairData() {
        const auto rph = m_facts.isoFiles.find("VELMORA.RPH");
        const auto rpd = m_facts.isoFiles.find("VELMORA.RPD");
        if (rph == m_facts.isoFiles.end() && rpd == m_facts.isoFiles.end() && m_facts.m == 0)
            return; // none
        if (rph == m_facts.isoFiles.end() || rpd == m_facts.isoFiles.end() || m_facts.m == 0)
            return fault("the repair data is named in part only");
        const std::uint8_t* h = data(rph->second.lba);
        if (std::memcmp(h, "VLMREPR\x1A", 8) != 0)
            return fault("VELMORA.RPH holds no repair header");
        const int k = le16(h + 18), m = le16(h + 20);
        const std::uint32_t L = le32(h + 24), D = le32(h + 28);
        const std::uint32_t entries = le32(h + 44);
        const auto expect = [&](bool holds, const std::string& what) {
            if (!holds)
                fault("repair header: " + what);
        };
        expect(le32(h + 8) == 1 && le32(h + 12) == 2324 && le16(h + 16) == 255 && le32(h + 48) == 1,
               "version, symbol size, n or code id");
        expect(k + m == 255 && m == m_facts.m && m >= 8 && m <= 127, "k and m");
        expect(D == m_list.lba + (m_list.recordedBytes + kForm1 - 1) / kForm1 &&
                   D == m_facts.protectedSectors,
               "D is not the end of the file list");
        expect(L >= 1 && L == (D + std::uint32_t(k) - 1) / std::uint32_t(k) &&
                   L == m_facts.bandLength,
               "L");
        expect(entries == D + std::uint32_t(m) * L, "entries");
        expect(le32(h + 32) == rpd->second.lba && rpd->second.lba == m_facts.parityLba &&
                   rpd->second.recordedBytes == std::uint32_t(m) * L * kForm1 && rpd->second.form2,
               "the parity's place");
        expect(le32(h + 36) == rph->second.lba && le32(h + 36) == m_listedHeaders[0] &&
                   le32(h + 40) == m_listedHeaders[1],
               "the header copies' places");
        expect(le32(h + 52) == std::uint32_t(m - 1) * L + 1, "the longest run");
        expect(le32(h + 160) == bitwiseCrc32c(h, 160), "its CRC-32C");
        if (!m_facts.faults.empty())
            return;
        const std::uint32_t headerSectors = 1 + (entries + 511) / 512;
        expect(rph->second.recordedBytes == headerSectors * kForm1, "VELMORA.RPH's size");
        expect(le32(h + 40) + headerSectors == m_facts.sectors,
               "the second copy does not end the image");
        if (std::uint64_t(le32(h + 40)) + headerSectors > m_facts.sectors ||
            std::uint64_t(m_facts.parityLba) + std::uint64_t(m) * L > m_facts.sectors)
            return;
        for (std::uint32_t i = 0; i < headerSectors; ++i)
            if (std::memcmp(data(le32(h + 36) + i), data(le32(h + 40) + i), kForm1) != 0)
                fault("the header's copies differ in sector " + std::to_string(i));
        // Every table entry, the CRC-32C of its symbol.
        std::vector<std::uint8_t> table(std::size_t(entries) * 4);
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::uint32_t at = 2048 + i * 4;
            std::memcpy(&table[std::size_t(i) * 4], data(le32(h + 36) + at / 2048) + at % 2048, 4);
            const std::uint32_t lba = i < D ? i : m_facts.parityLba + (i - D);
            const std::vector<std::uint8_t> symbol = symbolOfSector(raw(lba));
            if (le32(&table[std::size_t(i) * 4]) != crc32cOf(symbol.data(), symbol.size()))
                fault("check table entry " + std::to_string(i) + " (sector " + std::to_string(lba) +
                      ") is not its symbol's CRC-32C");
        }
        if (sha256Bytes(table.data(), table.size()) != std::vector<std::uint8_t>(h + 88, h + 120))
            fault("the check table's SHA-256 is wrong");
        std::vector<std::uint8_t> parity;
        parity.reserve(std::size_t(m) * L * kForm2);
        for (std::uint32_t i = 0; i < std::uint32_t(m) * L; ++i)
            parity.insert(parity.end(), data(m_facts.parityLba + i),
                          data(m_facts.parityLba + i) + kForm2);
        if (sha256Bytes(parity.data(), parity.size()) != std::vector<std::uint8_t>(h + 56, h + 88))
            fault("the parity's SHA-256 is wrong");
        checkParity(k, m, L, D);
    }

    // The parity of chosen words by the formula.
    void checkParity(int k, int m, std::uint32_t L, std::uint32_t D) {
        std::set<std::uint32_t> words;
        if (m_options.parityWords == 0)
            return;
        if (L <= m_options.parityWords) {
            for (std::uint32_t j = 0; j < L; ++j)
                words.insert(j);
        } else {
            for (std::uint32_t i = 0; i < m_options.parityWords; ++i)
                words.insert(std::uint32_t(std::uint64_t(i) * L / m_options.parityWords));
            if (m_options.everyListWord) {
                for (const std::uint32_t lba : m_folderSectors)
                    words.insert(lba % L);
                for (const std::uint32_t lba : m_listSectors)
                    words.insert(lba % L);
            } else if (!m_listSectors.empty()) {
                words.insert(*m_listSectors.begin() % L);
                words.insert((*m_listSectors.begin() + 1) % L);
                words.insert(*m_listSectors.rbegin() % L);
                words.insert(m_isoRoot % L);
                words.insert(m_jolietRoot % L);
            }
        }
        for (const std::uint32_t j : words) {
            std::vector<Bytes> members;
            for (int c = 0; c < k; ++c) {
                const std::uint32_t lba = std::uint32_t(c) * L + j;
                members.push_back(lba < D ? symbolOfSector(raw(lba)) : Bytes(kForm2, 0));
            }
            const std::vector<Bytes> parity = referenceParity(members, m);
            for (int r = 0; r < m; ++r) {
                const std::uint32_t lba = m_facts.parityLba + std::uint32_t(r) * L + j;
                if (!form2(lba) ||
                    std::memcmp(data(lba), parity[std::size_t(r)].data(), kForm2) != 0) {
                    fault("parity member " + std::to_string(r) + " of word " + std::to_string(j) +
                          " is not what the formula gives");
                    break;
                }
            }
            ++m_facts.wordsRecomputed;
        }
    }

    const std::uint8_t* m_bin;
    CheckOptions m_options;
    ImageFacts m_facts;
    std::uint32_t m_isoRoot = 0, m_isoRootBytes = 0, m_jolietRoot = 0, m_jolietRootBytes = 0;
    CheckedFile m_list;
    int m_listedCode = 0;
    std::array<std::uint32_t, 2> m_listedHeaders{};
    std::set<std::uint32_t> m_folderSectors, m_listSectors;
};

} // namespace

std::uint32_t crc32cOf(const std::uint8_t* bytes, std::size_t size) {
    return ~reflectedCrc(0x82F63B78u, 0xFFFFFFFFu, bytes, size);
}

std::vector<std::uint8_t> symbolOfSector(const std::uint8_t* raw) {
    std::vector<std::uint8_t> symbol(kForm2, 0);
    std::memcpy(symbol.data(), raw + 24, (raw[18] & kForm2Bit) ? kForm2 : kForm1);
    return symbol;
}

ImageFacts checkImage(const std::uint8_t* bin, std::size_t size, const CheckOptions& options) {
    return Checker(bin, size, options).run();
}

} // namespace velmora::test
