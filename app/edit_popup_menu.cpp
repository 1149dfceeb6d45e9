// Builds menu 119. The key names are part of the item texts after a tab, so the menu shows
// them without binding the keys a second time (the frame's accelerators already hold them).
#include "app/edit_popup_menu.h"

#include <QAction>
#include <QMenu>

#include "app/command_ids.h"

namespace {

constexpr const char* kMenuTitle = "編集";

struct EditItem {
  const char* text;
  CommandId command;
};

const EditItem kEditItems[] = {
    {"切り取り(&T)\tCtrl+X", ID_EDIT_CUT},
    {"コピー(&C)\tCtrl+C", ID_EDIT_COPY},
    {"貼り付け(&P)\tCtrl+V", ID_EDIT_PASTE},
};

}  // namespace

std::unique_ptr<QMenu> CreateEditPopupMenu() {
  auto menu = std::make_unique<QMenu>(QString::fromUtf8(kMenuTitle));
  menu->setObjectName(QStringLiteral("editPopupMenu119"));
  for (const EditItem& item : kEditItems) {
    QAction* action = menu->addAction(QString::fromUtf8(item.text));
    action->setObjectName(QStringLiteral("command%1").arg(static_cast<int>(item.command)));
    action->setData(static_cast<int>(item.command));
  }
  return menu;
}
