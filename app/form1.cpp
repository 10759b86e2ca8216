// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"

#include "app/texts.h"
#include "browse/texts.h"
#include "platform/accessibility.h"
#include "platform/controls.h"
#include "platform/services.h"

#include <QDir>
#include <QIcon>

#include <cmath>

namespace velmora {

namespace {

// Positions and sizes are given in twips: 15 to the pixel at 96 dots per inch.
int pixels(int twips) {
    return int(std::lround(twips / 15.0));
}

template <class Control>
Control* place(Control* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QLatin1StringView(name));
    control->setGeometry(pixels(left), pixels(top), pixels(width), pixels(height));
    return control;
}

void describe(QWidget* control, const QString& toolTip, const QString& accessibleName = {}) {
    control->setToolTip(toolTip);
    control->setAccessibleDescription(toolTip);
    if (!accessibleName.isEmpty())
        control->setAccessibleName(accessibleName);
}

// The geometry is fixed, in pixels: the controls' own texts take the size they were drawn for
// (8 points at 96 dots per inch), whatever size the desktop's font has. Displays of high
// density still scale everything, pixels included.
QFont fontForTheGeometry(QFont font) {
    font.setPixelSize(11);
    return font;
}

enum class Slant { Upright, Italic };

// The font of the captions that explain an input.
QFont captionFont(const QFont& base, Slant slant) {
    QFont font = base;
    font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue")});
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Bold);
    font.setItalic(slant == Slant::Italic);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

Label* caption(Label* label, const QString& text, Slant slant, bool highlighted,
               Qt::Alignment alignment = Qt::AlignLeft) {
    label->setText(text);
    label->setFont(captionFont(label->font(), slant));
    label->setHighlighted(highlighted);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

} // namespace

Form1::Form1(Services& services, DriveTable drives, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_drives(std::move(drives)) {
    installAccessibility(staticMetaObject);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(texts::kFormCaption);
    setAccessibleName(texts::kFormCaption);
    setFont(fontForTheGeometry(font()));
    setWindowIcon(icon());
    resize(pixels(7560), pixels(7470));

    createControls();
    setTabOrder();

    // The browser starts on the current folder (else the root), before any handler listens; a
    // folder whose files cannot be read shows none, which is all there is to say at start-up.
    if (!Dir1->setPath(QDir::currentPath()))
        static_cast<void>(Dir1->setPath(QDir::rootPath()));
    static_cast<void>(File1->setPath(Dir1->Path()));
    Drive1->showDriveOf(Dir1->Path());
    Drive1->setFocus();

    connectHandlers();
}

Form1::Form1(Services& services)
    : Form1(services, DriveTable::mounted()) {}

QIcon Form1::icon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/velmora-gui-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/velmora-gui-32.png"), QSize(32, 32));
    return icon;
}

void Form1::createControls() {
    // Labels first, so that they lie beneath the other controls.
    createLabels();
    createInputs();
}

void Form1::createLabels() {
    using namespace texts;
    Label3 = caption(place(new Label(this), "Label3", 120, 120, 1455, 255), kLabel3, Slant::Upright,
                     true, Qt::AlignHCenter);
    Label1 = caption(place(new Label(this), "Label1", 120, 4440, 7335, 255), kLabel1,
                     Slant::Upright, true);
    Label2 = caption(place(new Label(this), "Label2", 120, 4680, 5895, 255), kLabel2, Slant::Italic,
                     false);
    Label4 = caption(place(new Label(this), "Label4", 120, 360, 1215, 255), kLabel4, Slant::Italic,
                     false, Qt::AlignHCenter);
    Label5 = caption(place(new Label(this), "Label5", 2640, 1440, 2535, 615), kLabel5,
                     Slant::Italic, false);
    location1 = place(new Label(this), "location1", 120, 6720, 1815, 375);
    location1->setText(kLocation1);
    location2 = place(new Label(this), "location2", 120, 7080, 975, 375);
    location2->setText(kLocation2);
    Label6 = caption(place(new Label(this), "Label6", 120, 960, 1215, 255), kLabel6, Slant::Italic,
                     false, Qt::AlignHCenter);
    Label7 = caption(place(new Label(this), "Label7", 120, 720, 1455, 255), kLabel7, Slant::Upright,
                     true, Qt::AlignHCenter);
    for (Label* label : {location1, location2})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void Form1::createInputs() {
    using namespace texts;
    Drive1 = place(new DriveListBox(m_drives, this), "Drive1", 4080, 2520, 3255, 315);
    Drive1->setAccessibleName(kDrive1Name);
    Dir1 = place(new DirListBox(m_drives, this), "Dir1", 4080, 2880, 3255, 1440);
    Dir1->setAccessibleName(kDir1Name);
    File1 = place(new FileListBox(this), "File1", 120, 2520, 3855, 1845);
    describe(File1, kFile1Tip, kFile1Name);

    Command1 = place(new CommandButton(this), "Command1", 5280, 240, 2055, 375);
    Command1->setText(kCommand1);
    describe(Command1, kCommand1Tip);
    Extraire = place(new CommandButton(this), "Extraire", 5280, 720, 2055, 375);
    Extraire->setText(kExtraire);
    describe(Extraire, kExtraireTip);

    Volume = place(new TextBox(this), "Volume", 1680, 240, 3015, 375);
    Volume->setText(kDefaultName);
    describe(Volume, kNameTip, kLabel3);
    ImageCD = place(new TextBox(this), "ImageCD", 1680, 840, 3015, 375);
    ImageCD->setText(kDefaultName);
    describe(ImageCD, kNameTip, kLabel7);

    List1 = place(new ListBox(this), "List1", 120, 4920, 7335, 1620);
    describe(List1, kList1Tip, kLabel1);

    Check1 = place(new CheckBox(this), "Check1", 240, 1320, 2415, 735);
    Check1->setText(kCheck1);
    Check1->setFont(captionFont(Check1->font(), Slant::Upright));
    Check1->setHighlighted(true);
    describe(Check1, kCheck1Tip);
    Text3 = place(new TextBox(this), "Text3", 120, 2040, 7215, 375);
    describe(Text3, kText3Tip, kCheck1);

    Velmora = place(new TextBox(this), "Velmora", 1920, 6600, 5535, 375);
    Velmora->setAccessibleName(kLocation1);
    Velmora->setAccessibleDescription(kToolBoxHint);
    Dat2File = place(new TextBox(this), "Dat2File", 1920, 7080, 5535, 375);
    Dat2File->setAccessibleName(kLocation2);
    Dat2File->setAccessibleDescription(kToolBoxHint);
}

void Form1::setTabOrder() {
    const QList<QWidget*> order = {Drive1, Dir1,  File1,    Command1, Volume,   List1,
                                   Check1, Text3, Extraire, Velmora,  Dat2File, ImageCD};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order.at(i), order.at(i + 1));
}

void Form1::connectHandlers() {
    connect(Command1, &CommandButton::Click, this, &Form1::Command1_Click);
    connect(Extraire, &CommandButton::Click, this, &Form1::Extraire_Click);
    connect(Drive1, &DriveListBox::Change, this, &Form1::Drive1_Change);
    connect(Dir1, &DirListBox::Change, this, &Form1::Dir1_Change);
    connect(File1, &FileListBox::DblClick, this, &Form1::File1_DblClick);
    connect(List1, &ListBox::DblClick, this, &Form1::List1_DblClick);
    connect(Velmora, &TextBox::Click, this, &Form1::Velmora_Click);
    connect(Dat2File, &TextBox::Click, this, &Form1::Dat2File_Click);
    // The drive list shows the volume of the folder shown, wherever the folder list went.
    connect(Dir1, &DirListBox::Change, this, [this] { Drive1->showDriveOf(Dir1->Path()); });
    connect(Dir1, &DirListBox::openFailed, this, [this](const QString& folder, const QString& why) {
        reportFailure(texts::kCannotOpenFolder, folder, why);
    });
}

void Form1::Form_Load() {
    using namespace texts;
    m_services.messageBox(kWarningHeading + kWarningBreak + kWarningFrench + kWarningBreak +
                              kWarningEnglish,
                          MessageStyle::Exclamation);
    Text3->setText(Dir1->Path());
}

void Form1::reportFailure(const QString& what, const QString& subject, const QString& reason) {
    m_services.messageBox(what + u"\r\n" + subject + u"\r\n" + reason, MessageStyle::Critical);
}

} // namespace velmora
