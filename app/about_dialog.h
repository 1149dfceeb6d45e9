// The about box (dialog template 100): the program icon, the file version read from the
// running program's own version stamp, and the maker's copyright line.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // programPath: the file whose stamp is shown; empty means the running program. UI thread.
  explicit CAboutDlg(QWidget* parent = nullptr, const QString& programPath = {});

  // "Version:" followed directly by the stamp's four parts, or "Version:" alone when the
  // program carries no stamp.
  static QString VersionLabelText(const QString& programPath);

  QLabel* versionLabel() const { return m_versionLabel; }
  QPushButton* okButton() const { return m_okButton; }

 private:
  void OnInitDialog(const QString& programPath);

  QLabel* m_versionLabel = nullptr;
  QPushButton* m_okButton = nullptr;
};
