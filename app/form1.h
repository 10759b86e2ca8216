// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's one window.
//
// How a double-click travels to the source list: File1 raises DblClick; File1_DblClick forms the
// file's full path from File1's Path and FileName, asks the services for its length, keeps the
// size in FileSizeKB and, above 400 kilobytes, appends the path to List1 (else a message box).
// Double-clicking a folder in Dir1 changes its Path, which raises Change; Dir1_Change refills
// File1 and, while Check1 is ticked, copies the folder into the storage path Text3.
//
// How a button press becomes a launched tool: Command1 raises Click; Command1_Click checks the
// inputs (one message box per missing one, InputMissing set), joins List1's entries into the
// quoted file list, makes Text3 the current folder, builds the command line from the rules in
// tools/commandlines.h, shows it in a message box and hands it to the services' launcher.
// Extraire_Click does the same once per entry of List1, without changing folder.
//
// The controls and the two window variables carry the names of the window's description; the
// handlers are named after their control and event, and are defined beside the behaviour they
// implement: app/ (Form_Load), browse/ (drive, folder and source list), tools/ (requests and
// tool pickers). Every system operation goes through the Services given at construction.

#include "platform/commondialog.h"
#include "platform/drives.h"

#include <QIcon>
#include <QWidget>

namespace velmora {

class Services;
struct ToolCommand;
class CheckBox;
class CommandButton;
class DirListBox;
class DriveListBox;
class FileListBox;
class Label;
class ListBox;
class TextBox;

class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(Services& services, DriveTable drives, QWidget* parent = nullptr);
    explicit Form1(Services& services);

    // The program's icon, in 16 and 32 pixels.
    static QIcon icon();

    // The Load event: runs once, after the controls exist and before the window is shown.
    void Form_Load();

    // Whether the request under way (or the last one) found an input missing.
    bool inputMissing() const { return InputMissing; }
    // The size in kilobytes of the file last double-clicked in File1.
    qint64 fileSizeKB() const { return FileSizeKB; }

private:
    void createControls();
    void createLabels();
    void createInputs();
    void setTabOrder();
    void connectHandlers();

    // Handlers
    void Command1_Click();
    void Extraire_Click();
    void Drive1_Change();
    void Dir1_Change();
    void File1_DblClick();
    void List1_DblClick();
    void Velmora_Click();
    void Dat2File_Click();

    // Shared steps of the handlers
    void requireInput(bool missing, const QString& message);
    bool refuseDoubleQuotes(const QList<std::pair<QString, QString>>& namedInputs,
                            const QStringList& entries);
    bool launch(const ToolCommand& command);
    void pickTool(TextBox* box);
    void reportFailure(const QString& what, const QString& subject, const QString& reason);

    Services& m_services;
    DriveTable m_drives;

    DriveListBox* Drive1 = nullptr;
    DirListBox* Dir1 = nullptr;
    FileListBox* File1 = nullptr;
    CommandButton* Command1 = nullptr;
    TextBox* Volume = nullptr;
    Label* Label3 = nullptr;
    ListBox* List1 = nullptr;
    CheckBox* Check1 = nullptr;
    TextBox* Text3 = nullptr;
    Label* Label1 = nullptr;
    CommandButton* Extraire = nullptr;
    Label* Label2 = nullptr;
    Label* Label4 = nullptr;
    Label* Label5 = nullptr;
    TextBox* Velmora = nullptr;
    TextBox* Dat2File = nullptr;
    Label* location1 = nullptr;
    Label* location2 = nullptr;
    TextBox* ImageCD = nullptr;
    Label* Label6 = nullptr;
    Label* Label7 = nullptr;
    CommonDialog CommonDialog1;

    bool InputMissing = false;
    qint64 FileSizeKB = 0;
};

} // namespace velmora
