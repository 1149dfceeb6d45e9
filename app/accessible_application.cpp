// The application object's accessible interface with the product's name.
#include "app/accessible_application.h"

#include <QAccessible>
#include <QAccessibleApplication>
#include <QCoreApplication>

namespace {

QString& AccessibleApplicationName() {
  static QString name;
  return name;
}

// Qt's own application interface, but named for the user. Qt names it after the application
// name, which here is the id the desktop matches the windows and the desktop entry with.
class NamedAccessibleApplication : public QAccessibleApplication {
 public:
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name) return AccessibleApplicationName();
    return QAccessibleApplication::text(kind);
  }
};

QAccessibleInterface* NamedApplicationFactory(const QString& /*className*/, QObject* object) {
  if (object == nullptr || object != QCoreApplication::instance()) return nullptr;
  return new NamedAccessibleApplication;
}

}  // namespace

void InstallAccessibleApplicationName(const QString& name) {
  static bool installed = false;
  AccessibleApplicationName() = name;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(&NamedApplicationFactory);
}
