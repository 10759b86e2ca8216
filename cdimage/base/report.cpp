// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/report.h"

namespace cdimage {

namespace {

class Silent : public Report {
public:
    void progress(std::uint64_t, std::uint64_t, const std::string&) override {}
    void progressEnds() override {}
    void line(Kind, const std::string&) override {}
};

} // namespace

Report& silentReport() {
    static Silent silent;
    return silent;
}

} // namespace cdimage
