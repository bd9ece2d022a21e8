#pragma once

#include <QIcon>
#include <QPixmap>

namespace sonavel {

// The pictures compiled into the program (resources/sonavel.qrc). The first
// call registers them, which a static library needs to keep them linked in.
QIcon ProgramIcon();
QPixmap AboutPicture();

} // namespace sonavel
