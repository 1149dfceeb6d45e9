// The SCRIBOLANTE X firmware updater: starts the Qt application and hands over to the
// application object.
#include <QApplication>

#include "app/fwu_updater_app.h"

#if defined(__SANITIZE_THREAD__)
// Sanitizer builds only: Qt is not built with ThreadSanitizer, and its painting thread pool
// synchronises in ways the sanitizer cannot see; our own code stays checked.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char** argv) {
  QApplication qtApplication(argc, argv);
  CFWUpdaterApp application;
  return application.Run();
}
