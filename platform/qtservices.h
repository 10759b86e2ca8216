#pragma once

#include "platform/services.h"

#include <QString>

class QWidget;

namespace velmora {

// The real services, on Qt and the standard library.
class QtServices final : public Services {
public:
    void messageBox(const QString& text, int style) override;
    Outcome launch(const QString& commandLine) override;
    Outcome changeDrive(const QString& path) override;
    Outcome changeDirectory(const QString& path) override;
    FileLength fileLength(const QString& path) override;
    std::optional<QString> openFile(const QString& filter, const QString& startFile) override;
};

} // namespace velmora
