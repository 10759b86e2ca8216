// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/read/recordfile.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace cdimage {

RecordFile::RecordFile(std::istream& in, std::filesystem::path path, std::uint64_t offset,
                       std::size_t stride, std::uint32_t records, std::uint32_t longestRun,
                       std::optional<std::uint64_t> decodedSize)
    : m_in(in)
    , m_path(std::move(path))
    , m_decodedSize(decodedSize)
    , m_offset(offset)
    , m_stride(stride)
    , m_records(records)
    , m_readable(records)
    , m_buffer(std::size_t(longestRun) * stride) {}

int RecordFile::readRun(std::uint32_t from, std::uint32_t count) {
    m_in.clear();
    m_in.seekg(std::streamoff(m_offset + std::uint64_t(from) * m_stride));
    errno = 0;
    m_in.read(reinterpret_cast<char*>(m_buffer.data()), std::streamsize(count * m_stride));
    const int error = errno;
    m_first = from;
    m_count = std::uint32_t(std::size_t(m_in.gcount()) / m_stride);
    return error;
}

const std::uint8_t* RecordFile::record(std::uint32_t index, std::uint32_t run) {
    if (index >= m_readable || (!m_failed.empty() && m_failed.count(index)))
        return nullptr;
    if (index >= m_first && index - m_first < m_count)
        return m_buffer.data() + std::size_t(index - m_first) * m_stride;
    std::uint32_t count =
        std::min({run, std::uint32_t(m_buffer.size() / m_stride), m_readable - index});
    if (const auto failed = m_failed.upper_bound(index); failed != m_failed.end())
        count = std::min(count, *failed - index);
    const int error = readRun(index, count);
    if (m_count < count) {
        // Short: the file shrank, or a block of the disk cannot be read.
        std::error_code sizeError;
        const std::uint64_t size =
            m_decodedSize ? *m_decodedSize : std::filesystem::file_size(m_path, sizeError);
        const std::uint64_t end = m_offset + std::uint64_t(index + count) * m_stride;
        if (!sizeError && size < end) {
            const std::uint64_t whole = size < m_offset ? 0 : (size - m_offset) / m_stride;
            m_readable = std::uint32_t(std::min<std::uint64_t>(m_readable, whole));
            m_count = std::min(m_count, m_readable > index ? m_readable - index : 0);
        } else if (m_count == 0) {
            // The record where the run stopped, read alone: lost, or the run's end alone was.
            const int alone = count > 1 ? readRun(index, 1) : error;
            if (m_count == 0) {
                m_failed.insert(index);
                m_failure = std::generic_category().message(alone != 0 ? alone : EIO);
            }
        }
        // Else the records before the failure are in the buffer; the next read begins there.
    }
    return m_count > 0 && index - m_first < m_count
               ? m_buffer.data() + std::size_t(index - m_first) * m_stride
               : nullptr;
}

std::optional<std::string> RecordFile::failure(std::uint32_t index) const {
    if (!m_failed.count(index))
        return std::nullopt;
    return m_failure;
}

} // namespace cdimage
