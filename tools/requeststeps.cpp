// SPDX-License-Identifier: GPL-3.0-or-later
// Steps shared by the image build and the extraction.

#include "app/form1.h"
#include "platform/services.h"
#include "tools/commandlines.h"
#include "tools/texts.h"

namespace velmora {

// Reports a missing input and remembers that one was missing; later checks still run.
void Form1::requireInput(bool missing, const QString& message) {
    if (!missing)
        return;
    m_services.messageBox(message, MessageStyle::OkOnly);
    InputMissing = true;
}

// A double quote inside an input would end its argument early and split or add arguments.
// Names the first input, or else the first entry of the source list, that holds one; true when
// the request must stop.
bool Form1::refuseDoubleQuotes(const QList<std::pair<QString, QString>>& namedInputs,
                               const QStringList& entries) {
    const auto refuse = [this](const QString& name, const QString& input) {
        m_services.messageBox(texts::kDoubleQuoteIn + u"\r\n" + name + u"\r\n" + input,
                              MessageStyle::OkOnly);
        return true;
    };
    for (const auto& [name, input] : namedInputs) {
        if (holdsDoubleQuote(input))
            return refuse(name, input);
    }
    for (qsizetype index = 0; index < entries.size(); ++index) {
        if (holdsDoubleQuote(entries.at(index)))
            return refuse(texts::kInEntry.arg(index + 1), entries.at(index));
    }
    return false;
}

bool Form1::launch(const ToolCommand& command) {
    const Outcome started = m_services.launch(command);
    if (!started)
        reportFailure(texts::kCannotStart, command.program, started.reason);
    return started.ok;
}

} // namespace velmora
