// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a run tells while it works, handed to whoever runs it: the command-line front prints it,
// a test keeps it. The working code itself never prints.

#include <cstdint>
#include <string>

namespace cdimage {

class Report {
public:
    enum class Kind {
        Done,    // what was written, the closing line of a run
        Warning, // something the user should know; the run goes on
        Problem, // what went wrong with a part of the run (a damaged copy, an entry left out)
        Listing, // a line of a listing, as it stands
    };

    virtual ~Report() = default;
    // `done` of `total` units, at what (`detail`, may be empty).
    virtual void progress(std::uint64_t done, std::uint64_t total, const std::string& detail) = 0;
    // Progress is over: what follows stands on its own.
    virtual void progressEnds() = 0;
    // One line, without its line break.
    virtual void line(Kind kind, const std::string& text) = 0;

    void warning(const std::string& text) { line(Kind::Warning, text); }
    void problem(const std::string& text) { line(Kind::Problem, text); }
    void done(const std::string& text) { line(Kind::Done, text); }
    void listing(const std::string& text) { line(Kind::Listing, text); }
};

// A report that keeps nothing.
Report& silentReport();

} // namespace cdimage
