// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtservices.h"

#include "platform/detachedlaunch.h"
#include "platform/filenamecodec.h"
#include "platform/filesystem.h"
#include "platform/messagebox.h"
#include "platform/programlookup.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QProcess>
#include <QSortFilterProxyModel>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <shellapi.h>
#endif

namespace velmora {

namespace {

QString reasonOf(const std::error_code& error) {
    return QString::fromLocal8Bit(error.message());
}

// The window a box or dialog belongs to: the active one, or, while another program's window has
// the keyboard (a console that came up), this program's own window.
QWidget* dialogParent() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto own = std::find_if(windows.begin(), windows.end(), [](const QWidget* window) {
        return window->isVisible() && !qobject_cast<const QDialog*>(window) &&
               window->windowType() == Qt::Window;
    });
    return own == windows.end() ? nullptr : *own;
}

// One entry of a "description|pattern|description|pattern" filter.
struct FilterEntry {
    QString description;
    QStringList patterns;
};

QList<FilterEntry> parseFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QList<FilterEntry> entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries.append({parts.at(i), parts.at(i + 1).split(u';', Qt::SkipEmptyParts)});
    return entries;
}

#ifndef Q_OS_WIN
// Programs here rarely carry a Windows ending: a file matches the filter when its name matches
// one of the patterns, or when it has execute permission.
class ExecutableFilter final : public QSortFilterProxyModel {
public:
    ExecutableFilter(QStringList patterns, QObject* parent)
        : QSortFilterProxyModel(parent)
        , m_patterns(std::move(patterns)) {}

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable() || QDir::match(m_patterns, info.fileName());
    }

private:
    QStringList m_patterns;
};

// Whether the system would start `program`: an existing file that may be run.
Outcome startableProgram(const QString& program) {
    const QFileInfo file(program);
    if (!file.exists())
        return Outcome::failure(qt_error_string(ENOENT));
    if (file.isDir() || !file.isExecutable())
        return Outcome::failure(qt_error_string(EACCES));
    return Outcome::success();
}
#endif

} // namespace

QtServices::QtServices(QString messageTitle, QString console)
    : m_messageTitle(std::move(messageTitle))
    , m_console(std::move(console)) {}

QString QtServices::consoleBesideProgram() {
#ifdef Q_OS_WIN
    return {}; // the system gives every console program its console
#else
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("velmora_console"));
#endif
}

void QtServices::messageBox(const QString& text, MessageStyle style) {
    QWidget* const parent = dialogParent();
    const std::unique_ptr<QDialog> box(createMessageBox(text, style, m_messageTitle, parent));
    // A console window that a launch brings up meanwhile (another program's window, which the
    // user may not see come) never covers the box that waits for its OK: the box stands in the
    // window manager's layer above ordinary windows for as long as it waits. That is stacking
    // alone: the box never takes the keyboard back from a window the user went to.
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->exec();
    // The keyboard goes back to the window that showed the box, not to a window that came up
    // while it was open; only while the user is in this program, who just answered the box.
    if (parent && parent->isVisible() && !QApplication::activeModalWidget() &&
        QGuiApplication::applicationState() == Qt::ApplicationActive)
        parent->activateWindow();
}

#ifdef Q_OS_WIN
namespace {

// The arguments of a command line as Windows parses them.
QStringList windowsArguments(const QString& commandLine) {
    int count = 0;
    const std::wstring line = commandLine.toStdWString();
    wchar_t** parsed = ::CommandLineToArgvW(line.c_str(), &count);
    QStringList arguments;
    for (int i = 0; parsed && i < count; ++i)
        arguments.append(QString::fromWCharArray(parsed[i]));
    ::LocalFree(parsed);
    return arguments;
}

// The longest command line Windows starts a program with, its terminating zero included.
constexpr qsizetype kLongestCommandLine = 32767;

} // namespace
#endif

namespace {

// The program a command names, found beside this one, then on PATH, never in the current
// folder (the storage folder); empty when it is nowhere.
QString programOf(const QString& name) {
    if (name.isEmpty())
        return {};
    return findProgram(name, QCoreApplication::applicationDirPath(), systemSearchPath());
}

} // namespace

Outcome QtServices::launch(const ToolCommand& command) {
    return startTool(command);
}

#ifdef Q_OS_WIN
Outcome QtServices::fitLine(const QStringList& arguments, QString& whole) {
    // A build of more files than the line holds: the files go in a list the tool reads.
    const qsizetype files = arguments.indexOf(u"-m"_qs);
    if (whole.size() < kLongestCommandLine || files <= 0)
        return Outcome::success();
    auto list =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + u"/velmora-files-XXXXXX.txt"_qs);
    if (!list->open() || list->write(arguments.mid(files + 1).join(u"\r\n"_qs).toUtf8()) < 0 ||
        !list->flush())
        return Outcome::failure(list->errorString());
    whole.clear();
    for (const QString& argument : arguments.mid(0, files))
        whole += u'"' + argument + u"\" "_qs;
    whole += u"--files-from \""_qs + QDir::toNativeSeparators(list->fileName()) + u'"';
    m_fileLists.push_back(std::move(list));
    return Outcome::success();
}

Outcome QtServices::startTool(const ToolCommand& command) {
    // The program is found first, as elsewhere, and named to the system: left to find it,
    // CreateProcessW would look in the current folder first. The system gets the line shown,
    // parsed as Windows parses it.
    const QStringList arguments = windowsArguments(command.text);
    const QString program = programOf(arguments.value(0));
    if (program.isEmpty())
        return Outcome::failure(qt_error_string(ERROR_FILE_NOT_FOUND));
    QString whole = command.text;
    if (const Outcome listed = fitLine(arguments, whole); !listed)
        return listed;
    std::wstring line = whole.toStdWString();
    const std::wstring application = QDir::toNativeSeparators(program).toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return Outcome::failure(qt_error_string(int(GetLastError())));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return Outcome::success();
}
#else
Outcome QtServices::startTool(const ToolCommand& command) {
    const QString program = programOf(command.program);
    if (program.isEmpty())
        return Outcome::failure(qt_error_string(ENOENT));
    QProcess process;
    process.setProgram(program);
    process.setArguments(command.arguments);
    if (const QFileInfo console(m_console); console.isFile() && console.isExecutable()) {
        // The console starts the tool: what would stop the tool from starting is told here.
        if (const Outcome startable = startableProgram(program); !startable)
            return startable;
        process.setArguments(QStringList{program} + process.arguments());
        process.setProgram(m_console);
    }
    process.setWorkingDirectory(QDir::currentPath());
    // A name that is not UTF-8 goes to the tool as its own bytes.
    const QStringList all = QStringList{process.program()} + process.arguments();
    if (std::any_of(all.begin(), all.end(),
                    [](const QString& part) { return holdsForeignBytes(part); })) {
        QList<QByteArray> bytes;
        for (const QString& argument : process.arguments())
            bytes.append(encodeFileName(argument));
        // The current folder, kept as it is: the storage folder's own bytes.
        if (const std::optional<QString> why =
                launchDetached(encodeFileName(process.program()), bytes, QByteArray()))
            return Outcome::failure(*why);
        return Outcome::success();
    }
    if (!process.startDetached())
        return Outcome::failure(process.errorString());
    return Outcome::success();
}
#endif

Outcome QtServices::changeDrive(const QString& path) {
#ifdef Q_OS_WIN
    // The drive is checked here and made current with its folder by changeDirectory (a whole
    // path names its drive): a folder that then cannot be made current leaves the current drive
    // as it was.
    if (path.size() < 2 || !path.at(0).isLetter() || path.at(0).unicode() > 'z' ||
        path.at(1) != u':')
        return Outcome::failure(qt_error_string(ERROR_INVALID_DRIVE));
    const std::wstring root = QString(path.left(2) + u"\\"_qs).toStdWString();
    if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR)
        return Outcome::failure(qt_error_string(ERROR_INVALID_DRIVE));
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr) &&
        ::GetLastError() == ERROR_NOT_READY)
        return Outcome::failure(qt_error_string(ERROR_NOT_READY));
#else
    Q_UNUSED(path); // one tree: there is no drive to change
#endif
    return Outcome::success();
}

Outcome QtServices::changeDirectory(const QString& path) {
    std::error_code error;
    std::filesystem::current_path(fsPath(path), error);
    if (error)
        return Outcome::failure(reasonOf(error));
    return Outcome::success();
}

FileLength QtServices::fileLength(const QString& path) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(fsPath(path), error);
    if (error)
        return {0, Outcome::failure(reasonOf(error))};
    return {static_cast<qint64>(bytes), Outcome::success()};
}

std::optional<QString> QtServices::openFile(const QString& filter, const QString& startFile) {
    QFileDialog dialog(dialogParent());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList nameFilters;
    QStringList patterns;
    for (const FilterEntry& entry : parseFilter(filter)) {
        patterns += entry.patterns;
#ifdef Q_OS_WIN
        nameFilters.append(entry.description + u" (" + entry.patterns.join(u' ') + u')');
#else
        // The dialog shows the description alone; the proxy decides which files match.
        nameFilters.append(entry.description + u" (*)");
#endif
    }
#ifndef Q_OS_WIN
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new ExecutableFilter(patterns, &dialog));
#endif
    dialog.setNameFilters(nameFilters);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!startFile.isEmpty())
        dialog.selectFile(startFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

} // namespace velmora
