// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/spillfile.h"

#include "cdimage/base/paths.h"

#include <random>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dat2file {

namespace {

std::FILE* unnamedFileIn(const std::filesystem::path& folder) {
#ifdef _WIN32
    // Made new (never a file someone put there), deleted by the system when closed, even when
    // the run is killed.
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path name =
            folder / (L"dat2file-kept-" + std::to_wstring(random()) + L".tmp");
        HANDLE handle =
            CreateFileW(cdimage::systemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR);
        if (descriptor < 0) {
            CloseHandle(handle);
            return nullptr;
        }
        std::FILE* file = _fdopen(descriptor, "w+b");
        if (!file)
            _close(descriptor);
        return file;
    }
    return nullptr;
#else
    int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0) { // a file system without unnamed files: a name, removed at once
        std::string name = (folder / "dat2file-kept-XXXXXX").string();
        descriptor = mkostemp(name.data(), O_CLOEXEC);
        if (descriptor >= 0)
            unlink(name.c_str());
    }
    if (descriptor < 0)
        return nullptr;
    std::FILE* file = fdopen(descriptor, "w+b");
    if (!file)
        close(descriptor);
    return file;
#endif
}

} // namespace

SpillFile::SpillFile(const std::filesystem::path& folder, std::size_t blockSize)
    : m_file(folder.empty() ? nullptr : unnamedFileIn(folder))
    , m_blockSize(blockSize) {}

bool SpillFile::seek(std::uint64_t index) {
#ifdef _WIN32
    return _fseeki64(m_file.get(), static_cast<__int64>(index * m_blockSize), SEEK_SET) == 0;
#else
    return fseeko(m_file.get(), static_cast<off_t>(index * m_blockSize), SEEK_SET) == 0;
#endif
}

bool SpillFile::write(std::uint64_t index, const std::uint8_t* bytes) {
    if (!m_file || !seek(index))
        return false;
    m_writing = true;
    return std::fwrite(bytes, 1, m_blockSize, m_file.get()) == m_blockSize;
}

bool SpillFile::read(std::uint64_t index, std::uint8_t* into) {
    if (!m_file)
        return false;
    if (m_writing && std::fflush(m_file.get()) != 0)
        return false;
    m_writing = false;
    return seek(index) && std::fread(into, 1, m_blockSize, m_file.get()) == m_blockSize;
}

} // namespace dat2file
