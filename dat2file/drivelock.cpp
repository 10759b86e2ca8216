// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/drivelock.h"

#include "cdimage/stopsignals.h"

#include <cerrno>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace dat2file {

DriveLock::DriveLock(const std::string& device, const std::function<void()>& waiting) {
#ifdef _WIN32
    (void)device;
    (void)waiting;
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
#ifndef _WIN32
    if (m_descriptor >= 0)
        ::close(m_descriptor); // the lock goes with it
#endif
}

} // namespace dat2file
