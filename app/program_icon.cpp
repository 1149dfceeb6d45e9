// Loads the program icon from the resources compiled into the application library.
#include "app/program_icon.h"

#include <QString>

namespace {

// The PNGs are rendered from resources/icons/fwupdater.svg by resources/render-icons.sh.
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

}  // namespace

QIcon ProgramIcon() {
  // The resources live in a static library; naming them here links them in and registers
  // them before first use.
  static const bool registered = [] {
    Q_INIT_RESOURCE(fwu_resources);
    return true;
  }();
  (void)registered;

  QIcon icon;
  for (int size : kIconSizes) {
    icon.addFile(QStringLiteral(":/icons/fwupdater-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
