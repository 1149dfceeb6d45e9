// Unique guard names, the start of one whole update and the box watcher.
#include "app_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "update/firmware_image.h"

std::string UniqueGuardName() {
  static std::atomic<int> counter{0};
  return "fwu-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

OneGoodDeviceStart::OneGoodDeviceStart() {
  if (!m_folder.isValid()) ADD_FAILURE() << "no temporary folder for the firmware";
  QFile firmware(m_folder.filePath(QStringLiteral("SC5_Firmware_v1.3.bin")));
  if (!firmware.open(QIODevice::WriteOnly)) ADD_FAILURE() << "cannot write the firmware file";
  firmware.write(QByteArray(65536, '\x5A'));
  firmware.close();
  SetFirmwareSource({m_folder.path().toStdString(), ""});
  QFile scenario(m_folder.filePath(QStringLiteral("device.scenario")));
  if (!scenario.open(QIODevice::WriteOnly)) ADD_FAILURE() << "cannot write the scenario";
  scenario.write("list 1 SCRIBOLANTE-X-1\n");
  scenario.close();
  m_device.emplace("GPLUS_SIM_SCENARIO", scenario.fileName().toStdString());
}

OneGoodDeviceStart::~OneGoodDeviceStart() {
  SetFirmwareSource({});
}

BoxWatcher::BoxWatcher(Handler handler) : m_handler(std::move(handler)) {
  if (!m_handler) {
    m_handler = [](QMessageBox& box) {
      if (QAbstractButton* escape = box.escapeButton()) {
        escape->click();
      } else {
        box.reject();
      }
    };
  }
  connect(&m_timer, &QTimer::timeout, this, &BoxWatcher::Poll);
  m_timer.start(10);
}

void BoxWatcher::Poll() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box == nullptr || !box->isVisible()) continue;
    if (std::find(m_handled.begin(), m_handled.end(), box) != m_handled.end()) continue;
    m_handled.emplace_back(box);
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    seen.icon = box->icon();
    m_seen.push_back(seen);
    m_handler(*box);
  }
}
