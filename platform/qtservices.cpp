// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtservices.h"

#include "platform/commandlinesplit.h"
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
#include <direct.h>
#include <qt_windows.h>
#endif

namespace velmora {

namespace {

QString reasonOf(const std::error_code& error) {
    return QString::fromLocal8Bit(error.message());
}

QWidget* dialogParent() {
    return QApplication::activeWindow();
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

QtServices::QtServices(QString console)
    : m_console(std::move(console)) {}

QString QtServices::consoleBesideProgram() {
#ifdef Q_OS_WIN
    return {}; // the system gives every console program its console
#else
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("velmora_console"));
#endif
}

void QtServices::messageBox(const QString& text, int style) {
    const std::unique_ptr<QDialog> box(createMessageBox(text, style, dialogParent()));
    box->exec();
}

Outcome QtServices::launch(const QString& commandLine) {
#ifdef Q_OS_WIN
    // The system takes the command line whole and finds the program itself.
    std::wstring line = commandLine.toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return Outcome::failure(qt_error_string(int(GetLastError())));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return Outcome::success();
#else
    const QStringList arguments = splitCommandLine(commandLine);
    if (arguments.isEmpty())
        return Outcome::failure(qt_error_string(ENOENT));
    const QString program =
        findProgram(arguments.first(), QCoreApplication::applicationDirPath(), systemSearchPath());
    if (program.isEmpty())
        return Outcome::failure(qt_error_string(ENOENT));
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments.mid(1));
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
#endif
}

Outcome QtServices::changeDrive(const QString& path) {
#ifdef Q_OS_WIN
    if (path.isEmpty() || !path.at(0).isLetter() || path.at(0).unicode() > 'z')
        return Outcome::failure(qt_error_string(ERROR_INVALID_DRIVE));
    if (_chdrive(path.at(0).toUpper().unicode() - 'A' + 1) != 0)
        return Outcome::failure(qt_error_string(errno));
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
