// The about box (dialog template 100): the program icon, the file version read from the
// running program's own version stamp, and the maker's copyright line.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "platform/version_stamp.h"

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // Shows the running program's stamp, read as the box opens. UI thread.
  explicit CAboutDlg(QWidget* parent = nullptr);

  // "Version:" followed directly by the stamp's four parts, or "Version:" alone without one.
  static QString VersionLabelText(const std::optional<platform::VersionStamp>& stamp);

  QLabel* versionLabel() const { return m_versionLabel; }
  QPushButton* okButton() const { return m_okButton; }

 private:
  void OnInitDialog();

  QLabel* m_versionLabel = nullptr;
  QPushButton* m_okButton = nullptr;
};
