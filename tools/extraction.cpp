// SPDX-License-Identifier: GPL-3.0-or-later
// "Extract files from CD": checks the source list and the storage path, then shows and
// launches one extraction command line per entry, in list order.

#include "app/form1.h"
#include "platform/controls.h"
#include "platform/services.h"
#include "tools/commandlines.h"
#include "tools/texts.h"

#include <QDir>

namespace velmora {

void Form1::Extraire_Click() {
    using namespace texts;
    InputMissing = false;
    requireInput(List1->ListCount() == 0, kFilesMissing);
    requireInput(Text3->text().isEmpty(), kExtractionPathMissing);
    if (InputMissing)
        return;

    const QStringList entries = List1->entries();
    if (refuseDoubleQuotes({{kInStoragePath, Text3->text()}, {kInExtractionTool, Dat2File->text()}},
                           entries))
        return;

    const QString program = programOrDefault(Dat2File->text(), kDefaultExtractionTool);
    for (const QString& entry : entries) {
        const std::optional<QString> piece = destinationPiece(entry, m_drives.rootLength(entry));
        if (!piece) {
            m_services.messageBox(kEntryTooShort + u"\r\n" + entry, MessageStyle::OkOnly);
            continue;
        }
        const ToolCommand command =
            extractionCommand(program, entry, Text3->text(), *piece, QDir::separator());
        m_services.messageBox(command.text, MessageStyle::OkOnly);
        if (!launch(command))
            return;
    }
}

} // namespace velmora
