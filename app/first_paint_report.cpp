// The start-up diagnostic: an application-wide event filter, present only when asked for,
// that reports the first paint of a widget of the main window and then removes itself.
#include "app/first_paint_report.h"

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/test_switches.h"

namespace {

// Seconds since boot at which this process started, from field 22 of /proc/self/stat; -1 if
// it cannot be read.
double ProcessStartSinceBoot() {
  std::ifstream file("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold blanks; the fields after it start behind the last ')'.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // After the name, the state is field 3; the start time is field 22.
  for (int number = 3; number < 22 && fields >> field; ++number) {
  }
  unsigned long long ticks = 0;
  if (!(fields >> ticks)) return -1;
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class FirstPaintWatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !m_reported) {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && qobject_cast<QMainWindow*>(widget->window())) {
        m_reported = true;
        Report();
        deleteLater();
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  static void Report() {
    timespec boot{}, real{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    clock_gettime(CLOCK_REALTIME, &real);
    const double start = ProcessStartSinceBoot();
    const double sinceStart =
        start < 0 ? -1 : (static_cast<double>(boot.tv_sec) + boot.tv_nsec / 1e9 - start) * 1000;
    std::fprintf(stderr, "FWU first paint: %.0f ms after process start (realtime %lld.%06ld)\n",
                 sinceStart, static_cast<long long>(real.tv_sec), real.tv_nsec / 1000);
    std::fflush(stderr);
  }

  bool m_reported = false;
};

}  // namespace

void InstallFirstPaintReport(QApplication& application) {
  if (!platform::test_switches::ReportFirstPaint()) return;
  application.installEventFilter(new FirstPaintWatcher(&application));
}
