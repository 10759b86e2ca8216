// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The standard controls of the window, one to a file: thin Qt widgets that offer the properties
// and events the handlers use, under the names the handlers use. Setting a property that raises
// an event (the directory list's Path raises Change) runs that event's handlers before the
// setter returns.

#include "platform/checkbox.h"
#include "platform/commandbutton.h"
#include "platform/dirlistbox.h"
#include "platform/drivelistbox.h"
#include "platform/filelistbox.h"
#include "platform/label.h"
#include "platform/listbox.h"
#include "platform/textbox.h"
