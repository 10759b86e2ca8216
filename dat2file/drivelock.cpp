// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/drivelock.h"

#include "cdimage/base/stopsignals.h"

#include <cerrno>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace dat2file {

DriveLock::DriveLock(const std::string& device, const std::function<void()>& waiting) {
#ifdef _WIN32
    // A device cannot be locked on Windows: the turn is a mutex named after the drive, held by
    // the run that reads it.
    std::wstring name = L"Local\\velmora-drive-";
    for (const char c : device)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            name += wchar_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex)
        return;
    m_mutex = mutex;
    bool told = false;
    // Polled rather than blocked on, so that a stop ends the wait at once.
    for (;;) {
        const DWORD result = ::WaitForSingleObject(mutex, 100);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
            return;
        if (result != WAIT_TIMEOUT) {
            ::CloseHandle(mutex);
            m_mutex = nullptr;
            return;
        }
        if (!told && waiting)
            waiting();
        told = true;
        try {
            cdimage::stopIfAsked();
        } catch (...) {
            ::CloseHandle(mutex);
            m_mutex = nullptr;
            throw;
        }
    }
#else
    // Opened without waiting for a disc or for anything else the path may be.
    m_descriptor = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_descriptor < 0)
        return;
    bool told = false;
    // Polled rather than blocked on, so that a stop signal ends the wait at once.
    while (::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(m_descriptor);
            m_descriptor = -1;
            return;
        }
        if (!told && waiting)
            waiting();
        told = true;
        cdimage::stopIfAsked();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
#endif
}

DriveLock::~DriveLock() {
#ifdef _WIN32
    if (m_mutex) {
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
#else
    if (m_descriptor >= 0)
        ::close(m_descriptor); // the lock goes with it
#endif
}

} // namespace dat2file
