// Dialog units to pixels for form 101, and the choice of the form font.
#include "update/view/form_template.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStringList>

QFont FormFont() {
  // The first is the form's own font; the others are Japanese UI fonts of the same kind
  // found on Linux desktops.
  static const char* const kFamilies[] = {"MS UI Gothic", "Noto Sans CJK JP", "IPAPGothic",
                                          "IPAexGothic",  "VL PGothic",       "TakaoPGothic"};
  const QStringList installed = QFontDatabase::families();
  for (const char* family : kFamilies) {
    if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) {
      return QFont(QString::fromUtf8(family), 9);
    }
  }
  QFont font = QGuiApplication::font();
  font.setPointSize(9);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabetWidth = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The horizontal base unit is the average width of the 52 letters, rounded: (width / 26 + 1) / 2.
  m_baseX = (alphabetWidth / 26 + 1) / 2;
  m_baseY = metrics.height();
  if (m_baseX < 1) m_baseX = 1;
  if (m_baseY < 1) m_baseY = 1;
}

int DialogUnits::Scale(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  const long long rounded =
      product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
  return static_cast<int>(rounded);
}

int DialogUnits::ToPixelsX(int dialogUnits) const {
  return Scale(dialogUnits, m_baseX, 4);
}

int DialogUnits::ToPixelsY(int dialogUnits) const {
  return Scale(dialogUnits, m_baseY, 8);
}

QRect DialogUnits::ToPixels(const DialogRect& rect) const {
  return QRect(ToPixelsX(rect.x), ToPixelsY(rect.y), ToPixelsX(rect.width), ToPixelsY(rect.height));
}

QSize DialogUnits::ToPixels(int width, int height) const {
  return QSize(ToPixelsX(width), ToPixelsY(height));
}
