// The edit popup menu (menu 119, "編集") that the form view shows on a right click.
#pragma once

#include <memory>

class QMenu;

// The menu with its three items, cut, copy and paste, each with its key name at the right.
// No handler is connected: choosing an item does nothing. The caller owns the menu.
std::unique_ptr<QMenu> CreateEditPopupMenu();
