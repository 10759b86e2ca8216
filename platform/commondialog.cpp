// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/commondialog.h"

#include "platform/services.h"

namespace velmora {

bool CommonDialog::ShowOpen(Services& services) {
    const std::optional<QString> chosen = services.openFile(Filter, FileName);
    if (!chosen || chosen->isEmpty())
        return false;
    FileName = *chosen;
    return true;
}

} // namespace velmora
