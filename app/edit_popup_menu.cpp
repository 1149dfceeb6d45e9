// Builds menu 119. The key names are part of the item texts after a tab, so the menu shows
// them without binding the keys a second time (the frame's accelerators already hold them).
#include "app/edit_popup_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include "app/command_ids.h"

namespace {

constexpr const char* kMenuTitle = QT_TRANSLATE_NOOP("EditPopupMenu", "編集");

struct EditItem {
  const char* text;
  CommandId command;
};

const EditItem kEditItems[] = {
    {QT_TRANSLATE_NOOP("EditPopupMenu", "切り取り(&T)\tCtrl+X"), ID_EDIT_CUT},
    {QT_TRANSLATE_NOOP("EditPopupMenu", "コピー(&C)\tCtrl+C"), ID_EDIT_COPY},
    {QT_TRANSLATE_NOOP("EditPopupMenu", "貼り付け(&P)\tCtrl+V"), ID_EDIT_PASTE},
};

}  // namespace

std::unique_ptr<QMenu> CreateEditPopupMenu() {
  auto menu = std::make_unique<QMenu>(QCoreApplication::translate("EditPopupMenu", kMenuTitle));
  menu->setObjectName(QStringLiteral("editPopupMenu119"));
  for (const EditItem& item : kEditItems) {
    QAction* action = menu->addAction(QCoreApplication::translate("EditPopupMenu", item.text));
    action->setObjectName(QStringLiteral("command%1").arg(static_cast<int>(item.command)));
    action->setData(static_cast<int>(item.command));
  }
  return menu;
}
