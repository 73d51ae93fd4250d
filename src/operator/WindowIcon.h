// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon: a clock face.
#pragma once

#include <QIcon>

namespace tavex::ui {

QIcon WindowIcon();

}  // namespace tavex::ui
