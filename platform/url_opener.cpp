// Opens an address in the default browser; the address is handed over as one argument and
// never passes through a shell.
#include "platform/url_opener.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace platform {

void DesktopUrlOpener::Open(const std::string& address) {
  const QUrl url(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())));
  // Only web pages: anything else (a local file, a program, text that a helper would read as
  // an option) is not handed on.
  if (!url.isValid() || url.host().isEmpty() ||
      (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
    return;
  }
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    QDesktopServices::openUrl(url);
    return;
  }
  // Without a GUI application QDesktopServices has no platform services to ask.
  QProcess::startDetached(QStringLiteral("xdg-open"),
                          QStringList{url.toString(QUrl::FullyEncoded)});
}

}  // namespace platform
