// Form 101 as it is placed on the screen: the controls' rectangles in dialog units and their
// conversion to pixels with the form font's metrics, so the form keeps its proportions
// whatever the font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// A rectangle of the form's template, in dialog units.
struct DialogRect {
  int x;
  int y;
  int width;
  int height;
};

// Template 101: 263 x 180 dialog units, no caption.
namespace form101 {
inline constexpr int kWidth = 263;
inline constexpr int kHeight = 180;
inline constexpr DialogRect kProgress{14, 54, 235, 17};           // 1001
inline constexpr DialogRect kCurrentVersionLabel{19, 19, 62, 8};  // "現在のバージョン"
inline constexpr DialogRect kTargetVersionLabel{167, 19, 74, 8};  // "アップデートするバージョン"
inline constexpr DialogRect kCurrentVersionEdit{17, 31, 73, 12};  // 1007
inline constexpr DialogRect kTargetVersionEdit{165, 31, 73, 12};  // 1008
inline constexpr DialogRect kOperationLog{14, 87, 235, 84};       // 1009

// Translated by the view (context "CFWUpdaterView").
inline constexpr const char* kCurrentVersionLabelText =
    QT_TRANSLATE_NOOP("CFWUpdaterView", "現在のバージョン");
inline constexpr const char* kTargetVersionLabelText =
    QT_TRANSLATE_NOOP("CFWUpdaterView", "アップデートするバージョン");
}  // namespace form101

// The form font: "MS UI Gothic" 9 pt where it is installed, otherwise the first installed
// Japanese UI font of a short list, otherwise the application font at 9 pt.
QFont FormFont();

// Dialog base units of a font: the average width of the 52 Latin letters, rounded, and the
// font's height. One horizontal dialog unit is a quarter of the first, one vertical unit an
// eighth of the second; every coordinate is scaled and rounded on its own.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

  int baseX() const { return m_baseX; }
  int baseY() const { return m_baseY; }

  int ToPixelsX(int dialogUnits) const;
  int ToPixelsY(int dialogUnits) const;
  QRect ToPixels(const DialogRect& rect) const;
  QSize ToPixels(int width, int height) const;

 private:
  // value * numerator / denominator rounded half away from zero, without overflow on the way.
  static int Scale(int value, int numerator, int denominator);

  int m_baseX;
  int m_baseY;
};
