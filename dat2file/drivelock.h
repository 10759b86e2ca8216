// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs that read one drive take turns: each holds an exclusive lock on the device while it reads
// the disc, so that two readers do not make the drive seek between them for every run of
// sectors. A run started from a terminal waits for one the console started, and the other way
// round.

#include <functional>
#include <string>

namespace dat2file {

class DriveLock {
public:
    // Takes the lock on `device`, first calling `waiting` when another run holds it; a stop
    // signal ends the wait (cdimage::Stopped). A device that cannot be opened is not locked:
    // reading it will say why.
    DriveLock(const std::string& device, const std::function<void()>& waiting);
    ~DriveLock();
    DriveLock(const DriveLock&) = delete;
    DriveLock& operator=(const DriveLock&) = delete;

private:
    int m_descriptor = -1;   // the device, locked (Linux)
    void* m_mutex = nullptr; // the drive's turn, owned (Windows)
};

} // namespace dat2file
