// SPDX-License-Identifier: GPL-3.0-or-later
// The tool pickers: a click in a tool box opens the open-file dialog and puts the chosen
// executable into that box.

#include "app/form1.h"
#include "platform/controls.h"
#include "tools/texts.h"

namespace velmora {

void Form1::Velmora_Click() {
    pickTool(Velmora);
}

void Form1::Dat2File_Click() {
    pickTool(Dat2File);
}

void Form1::pickTool(TextBox* box) {
    CommonDialog1.Filter = texts::kExecutableFilter;
    CommonDialog1.Flags = 1;
    if (CommonDialog1.ShowOpen(m_services))
        box->setText(CommonDialog1.FileName);
}

} // namespace velmora
