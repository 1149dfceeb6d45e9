// The program icon (resource number 128), for the main window, the about box and
// message boxes.
#pragma once

#include <QIcon>

// The icon in all the sizes the resources carry (16 to 256 pixels). Needs a QGuiApplication.
QIcon ProgramIcon();
