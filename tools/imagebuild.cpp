// SPDX-License-Identifier: GPL-3.0-or-later
// "CD Image build": checks the four inputs, makes the storage path the current folder, and
// shows and launches the image-building tool's command line.

#include "app/form1.h"
#include "platform/controls.h"
#include "platform/services.h"
#include "tools/commandlines.h"
#include "tools/texts.h"

namespace velmora {

void Form1::Command1_Click() {
    using namespace texts;
    InputMissing = false;
    requireInput(Volume->text().isEmpty(), kVolumeMissing);
    requireInput(ImageCD->text().isEmpty(), kImageMissing);
    requireInput(List1->ListCount() == 0, kFilesMissing);
    requireInput(Text3->text().isEmpty(), kStoragePathMissing);
    if (InputMissing)
        return;

    const QStringList entries = List1->entries();
    if (refuseDoubleQuotes({{kInVolume, Volume->text()},
                            {kInImage, ImageCD->text()},
                            {kInStoragePath, Text3->text()},
                            {kInImageTool, Velmora->text()}},
                           entries))
        return;

    const QString storagePath = Text3->text();
    if (const Outcome changed = m_services.changeDrive(storagePath); !changed)
        return reportFailure(kCannotChangeFolder, storagePath, changed.reason);
    if (const Outcome changed = m_services.changeDirectory(storagePath); !changed)
        return reportFailure(kCannotChangeFolder, storagePath, changed.reason);

    const QString program = programOrDefault(Velmora->text(), kDefaultImageTool);
    const ToolCommand command =
        imageBuildCommand(program, Volume->text(), ImageCD->text(), entries);
    m_services.messageBox(command.text, MessageStyle::OkOnly);
    launch(command);
}

} // namespace velmora
