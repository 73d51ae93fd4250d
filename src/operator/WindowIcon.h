// The program's icon: a clock face.
#pragma once

#include <QIcon>

namespace tavex::ui {

QIcon WindowIcon();

}  // namespace tavex::ui
