// The about box laid out on its template's dialog-unit grid.
#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/program_icon.h"
#include "update/view/form_template.h"

namespace {

constexpr const char* kCaption =
    QT_TRANSLATE_NOOP("CAboutDlg", "SCRIBOLANTE X FW Updater について");
constexpr const char* kMakerLine = "Copyright (C) 2026 VELDRA Co., Ltd.";
constexpr int kVersionLabelId = 1016;
// The icon control keeps the icon's own size, as a static icon control does.
constexpr int kIconPixels = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("aboutDialog100"));
  setWindowTitle(tr(kCaption));
  setWindowIcon(ProgramIcon());
  setFont(FormFont());
  const DialogUnits units(font());

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("programIcon"));
  icon->setPixmap(ProgramIcon().pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(units.ToPixelsX(14), units.ToPixelsY(14), kIconPixels, kIconPixels);

  m_versionLabel = new QLabel(this);
  m_versionLabel->setObjectName(QStringLiteral("version%1").arg(kVersionLabelId));
  m_versionLabel->setTextFormat(Qt::PlainText);  // no mnemonic or markup in the version
  m_versionLabel->setGeometry(units.ToPixels(DialogRect{42, 14, 114, 8}));

  auto* makerLine = new QLabel(QString::fromUtf8(kMakerLine), this);
  makerLine->setObjectName(QStringLiteral("makerLine"));
  makerLine->setTextFormat(Qt::PlainText);
  makerLine->setGeometry(units.ToPixels(DialogRect{42, 26, 114, 8}));

  m_okButton = new QPushButton(QStringLiteral("OK"), this);
  m_okButton->setObjectName(QStringLiteral("okButton"));
  m_okButton->setGeometry(units.ToPixels(DialogRect{113, 41, 50, 14}));
  m_okButton->setDefault(true);
  m_okButton->setFocus();
  connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(units.ToPixels(170, 62));
  OnInitDialog();
}

QString CAboutDlg::VersionLabelText(const std::optional<platform::VersionStamp>& stamp) {
  QString text = QStringLiteral("Version:");
  if (stamp) text += QString::fromStdString(platform::FormatVersion(*stamp));
  return text;
}

void CAboutDlg::OnInitDialog() {
  m_versionLabel->setText(VersionLabelText(platform::ReadOwnVersionStamp()));
}
