// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace velmora {

class Services;

// The window's one open-file dialog. It keeps its settings from one showing to the next, so
// it opens where the last choice was made, whichever box asked for it.
struct CommonDialog {
    QString Filter;   // "description|pattern" pairs
    int Flags = 0;    // option bits; no behaviour here depends on them
    QString FileName; // the last file chosen

    // Shows the dialog; true when the user chose a file, which is then in FileName. A dialog
    // closed without a choice leaves FileName as it was.
    bool ShowOpen(Services& services);
};

} // namespace velmora
