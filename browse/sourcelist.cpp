// SPDX-License-Identifier: GPL-3.0-or-later
// The source list: double-clicking a file of more than 400 kilobytes appends its full path;
// double-clicking an entry removes it.

#include "app/form1.h"
#include "browse/sourcerules.h"
#include "browse/texts.h"
#include "platform/controls.h"
#include "platform/services.h"

#include <QDir>

namespace velmora {

void Form1::File1_DblClick() {
    const QString fileName = File1->FileName();
    if (fileName.isEmpty())
        return;
    const QString path = fullPath(File1->Path(), fileName, QDir::separator());
    const FileLength length = m_services.fileLength(path);
    if (!length.outcome) {
        reportFailure(texts::kCannotReadSize, path, length.outcome.reason);
        return;
    }
    FileSizeKB = sizeInKilobytes(length.bytes);
    if (sizeAccepted(FileSizeKB))
        List1->AddItem(path);
    else
        m_services.messageBox(texts::kFileTooSmall, MessageStyle::OkOnly);
}

void Form1::List1_DblClick() {
    if (List1->ListIndex() < 0)
        return;
    List1->RemoveItem(List1->ListIndex());
}

} // namespace velmora
