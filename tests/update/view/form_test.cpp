// Form 101 as built by the view: its controls, their places from dialog units, how they follow
// a resize, the frame's shrink to fit, the log, the progress bar and the context menu.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>

#include "update/view/form_template.h"
#include "view_test_support.h"

namespace {

TEST(DialogUnitsTest, ScalesEachCoordinateRoundingHalfAwayFromZero) {
  const DialogUnits units(6, 12);
  // 263 * 6 / 4 = 394.5 rounds up, 180 * 12 / 8 = 270 exactly.
  EXPECT_EQ(units.ToPixels(form101::kWidth, form101::kHeight), QSize(395, 270));
  EXPECT_EQ(units.ToPixels(form101::kProgress), QRect(21, 81, 353, 26));
  EXPECT_EQ(units.ToPixelsX(-3), -5);  // -4.5 rounds away from zero
  const DialogUnits wide(7, 17);
  EXPECT_EQ(wide.ToPixels(form101::kOperationLog), QRect(25, 185, 411, 179));
}

TEST(FormFontTest, IsANinePointJapaneseFont) {
  const QFont font = FormFont();
  EXPECT_EQ(font.pointSize(), 9);
  // Whatever family was chosen must draw the labels' kana and kanji.
  const QFontMetrics metrics(font);
  for (QChar character : QString::fromUtf8("現在のバージョンアップデートする")) {
    EXPECT_TRUE(metrics.inFont(character)) << static_cast<int>(character.unicode());
  }
}

class FormTest : public testing::Test {
 protected:
  template <class Widget>
  Widget* Find(const char* name) {
    auto* widget = view.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  QRect Expected(const DialogRect& rect) const { return DialogUnits(view.font()).ToPixels(rect); }

  CFWUpdaterView view;
};

TEST_F(FormTest, PlacesEveryControlFromTheTemplate) {
  auto* progress = Find<QProgressBar>("progress1001");
  auto* current = Find<QLineEdit>("currentVersion1007");
  auto* target = Find<QLineEdit>("targetVersion1008");
  auto* log = Find<QListWidget>("operationLog1009");
  auto* currentLabel = Find<QLabel>("currentVersionLabel");
  auto* targetLabel = Find<QLabel>("targetVersionLabel");
  ASSERT_TRUE(progress && current && target && log && currentLabel && targetLabel);

  EXPECT_EQ(view.formSize(), DialogUnits(view.font()).ToPixels(263, 180));
  EXPECT_EQ(view.size(), view.formSize());
  EXPECT_EQ(progress->geometry(), Expected(form101::kProgress));
  EXPECT_EQ(current->geometry(), Expected(form101::kCurrentVersionEdit));
  EXPECT_EQ(target->geometry(), Expected(form101::kTargetVersionEdit));
  EXPECT_EQ(log->geometry(), Expected(form101::kOperationLog));
  EXPECT_EQ(currentLabel->geometry().topLeft(), Expected(form101::kCurrentVersionLabel).topLeft());
  EXPECT_EQ(targetLabel->geometry().topLeft(), Expected(form101::kTargetVersionLabel).topLeft());
  EXPECT_EQ(currentLabel->text(), QString::fromUtf8("現在のバージョン"));
  EXPECT_EQ(targetLabel->text(), QString::fromUtf8("アップデートするバージョン"));

  // The arrangement a user sees: labels over their fields, 1007 left of 1008, the bar under
  // the fields and the log under the bar, everything inside the form.
  EXPECT_LT(currentLabel->geometry().bottom(), current->geometry().top());
  EXPECT_LT(targetLabel->geometry().bottom(), target->geometry().top());
  EXPECT_LT(current->geometry().right(), target->geometry().left());
  EXPECT_EQ(current->geometry().top(), target->geometry().top());
  EXPECT_LT(target->geometry().bottom(), progress->geometry().top());
  EXPECT_LT(progress->geometry().bottom(), log->geometry().top());
  const QRect form(QPoint(0, 0), view.formSize());
  for (QWidget* control : std::initializer_list<QWidget*>{progress, current, target, log}) {
    EXPECT_TRUE(form.contains(control->geometry())) << control->objectName().toStdString();
  }
}

TEST_F(FormTest, LabelsShowTheirTextAsFarAsTheFormAllows) {
  const QRect form(QPoint(0, 0), view.formSize());
  for (const char* name : {"currentVersionLabel", "targetVersionLabel"}) {
    auto* label = Find<QLabel>(name);
    ASSERT_NE(label, nullptr);
    const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
    EXPECT_GE(label->width(), std::min(textWidth, form.width() - label->x())) << name;
    EXPECT_TRUE(form.contains(label->geometry())) << name;
  }
}

TEST_F(FormTest, OnlyTheLogFollowsTheFormsWidth) {
  auto* progress = Find<QProgressBar>("progress1001");
  auto* current = Find<QLineEdit>("currentVersion1007");
  auto* target = Find<QLineEdit>("targetVersion1008");
  auto* log = Find<QListWidget>("operationLog1009");
  ASSERT_TRUE(progress && current && target && log);
  const QRect progressBefore = progress->geometry();
  const QRect currentBefore = current->geometry();
  const QRect targetBefore = target->geometry();
  const QRect logBefore = log->geometry();

  // A hidden widget hears of its new size only when shown.
  view.show();
  view.resize(view.formSize() + QSize(120, 60));
  EXPECT_EQ(log->geometry(), logBefore.adjusted(0, 0, 120, 0));
  EXPECT_EQ(progress->geometry(), progressBefore);
  EXPECT_EQ(current->geometry(), currentBefore);
  EXPECT_EQ(target->geometry(), targetBefore);

  view.resize(view.formSize() - QSize(50, 0));
  EXPECT_EQ(log->geometry(), logBefore.adjusted(0, 0, -50, 0));
  EXPECT_EQ(progress->geometry(), progressBefore);
}

TEST_F(FormTest, ControlsBehaveLikeTheTemplatesStyles) {
  auto* progress = Find<QProgressBar>("progress1001");
  auto* current = Find<QLineEdit>("currentVersion1007");
  auto* log = Find<QListWidget>("operationLog1009");
  ASSERT_TRUE(progress && current && log);
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 10000);
  EXPECT_FALSE(progress->isTextVisible());
  EXPECT_EQ(view.GetProgressPosition(), 0);
  EXPECT_FALSE(current->isReadOnly());
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(log->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  EXPECT_FALSE(log->isSortingEnabled());
}

TEST_F(FormTest, LogKeepsOrderAndScrollsOnlyWhenAsked) {
  auto* log = Find<QListWidget>("operationLog1009");
  ASSERT_NE(log, nullptr);
  view.show();
  view.AddLogLine("Startup FW updater.", false);
  for (int line = 0; line < 60; ++line) view.AddLogLine("line " + std::to_string(line), false);
  // Sorting would put "Startup" after the "line" entries.
  EXPECT_EQ(log->item(0)->text(), QStringLiteral("Startup FW updater."));
  EXPECT_EQ(log->count(), 61);
  EXPECT_EQ(log->verticalScrollBar()->value(), 0);

  view.AddLogLine("USB Connecting...", true);
  EXPECT_EQ(log->item(61)->text(), QStringLiteral("USB Connecting..."));
  EXPECT_GT(log->verticalScrollBar()->value(), 0);
  EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
  const QRect last = log->visualItemRect(log->item(61));
  EXPECT_TRUE(log->viewport()->rect().contains(last)) << "the newest line is in view";

  view.AddLogLine("", true);  // the separator between attempts is a line of its own
  EXPECT_EQ(log->count(), 63);
  EXPECT_EQ(log->item(62)->text(), QString());
}

TEST_F(FormTest, ProgressAndVersionFields) {
  auto* progress = Find<QProgressBar>("progress1001");
  auto* current = Find<QLineEdit>("currentVersion1007");
  auto* target = Find<QLineEdit>("targetVersion1008");
  ASSERT_TRUE(progress && current && target);
  view.SetProgressRange(0, 10000);
  view.SetProgressPosition(9800);
  EXPECT_EQ(view.GetProgressPosition(), 9800);
  EXPECT_EQ(progress->value(), 9800);
  // Out of range clamps rather than being ignored.
  view.SetProgressPosition(12000);
  EXPECT_EQ(view.GetProgressPosition(), 10000);
  view.SetProgressPosition(-5);
  EXPECT_EQ(view.GetProgressPosition(), 0);
  view.SetProgressPosition(5000);
  view.SetProgressRange(6000, 10000);  // a position below the new range reads its low end
  EXPECT_EQ(view.GetProgressPosition(), 6000);

  view.SetCurrentVersionText("1.1");
  view.SetTargetVersionText("1.2");
  EXPECT_EQ(current->text(), QStringLiteral("1.1"));
  EXPECT_EQ(target->text(), QStringLiteral("1.2"));
}

TEST(FrameFitTest, ShrinksTheFrameToTheFormAndNeverGrowsIt) {
  QMainWindow frame;
  frame.menuBar()->addMenu(QString::fromUtf8("ファイル(&F)"));
  auto* view = new CFWUpdaterView;
  frame.setCentralWidget(view);
  frame.resize(900, 700);
  frame.show();
  ASSERT_TRUE(WaitUntil([&] { return frame.isVisible(); }));

  view->OnInitialUpdate();
  ASSERT_TRUE(WaitUntil([&] { return view->size() == view->formSize(); }))
      << view->width() << "x" << view->height();
  const QSize fitted = frame.size();
  EXPECT_LT(fitted.width(), 900);
  EXPECT_LT(fitted.height(), 700);

  // Running it again (a new document) changes nothing.
  view->OnInitialUpdate();
  EXPECT_EQ(frame.size(), fitted);

  // A frame narrower than the form keeps its width; only the height shrinks.
  const QSize narrow(view->formSize().width() - 40, 700);
  frame.resize(narrow);
  ASSERT_TRUE(WaitUntil([&] { return frame.size() == narrow; }));
  view->OnInitialUpdate();
  ASSERT_TRUE(WaitUntil([&] { return frame.height() < 700; }));
  EXPECT_EQ(frame.width(), narrow.width());
  EXPECT_EQ(view->height(), view->formSize().height());
}

TEST(FrameFitTest, FitsAFrameThatHasNotBeenShownYet) {
  QMainWindow frame;
  frame.menuBar()->addMenu(QString::fromUtf8("ヘルプ(&H)"));
  auto* view = new CFWUpdaterView;
  frame.setCentralWidget(view);
  frame.resize(900, 700);  // a size chosen before the first display, larger than the form
  view->OnInitialUpdate();
  frame.show();
  ASSERT_TRUE(WaitUntil([&] { return frame.isVisible(); }));
  ASSERT_TRUE(WaitUntil([&] { return view->size() == view->formSize(); }))
      << view->width() << "x" << view->height();
}

TEST(ContextMenuTest, ShowsMenu119AtTheClickOnTheFormAndOnTheLog) {
  CFWUpdaterView view;
  QMenu menu;
  menu.setTitle(QString::fromUtf8("編集"));
  menu.addAction(QString::fromUtf8("切り取り(&T)"));
  view.SetContextMenu(&menu);
  view.move(40, 40);
  view.show();
  ASSERT_TRUE(WaitUntil([&] { return view.isVisible(); }));

  const QPoint onForm(10, 10);
  QContextMenuEvent mouse(QContextMenuEvent::Mouse, onForm, view.mapToGlobal(onForm));
  QApplication::sendEvent(&view, &mouse);
  EXPECT_TRUE(mouse.isAccepted());
  ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
  EXPECT_EQ(menu.pos(), view.mapToGlobal(onForm));
  menu.hide();

  // The list box has no menu of its own: a click on it reaches the view.
  auto* log = view.findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  ASSERT_NE(log, nullptr);
  const QPoint onLog(20, 20);
  QContextMenuEvent onList(QContextMenuEvent::Mouse, onLog, log->viewport()->mapToGlobal(onLog));
  QApplication::sendEvent(log->viewport(), &onList);
  ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
  EXPECT_EQ(menu.pos(), log->viewport()->mapToGlobal(onLog));
  menu.hide();

  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), view.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&view, &key);
  ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
  menu.hide();

  view.SetContextMenu(nullptr);
  QContextMenuEvent without(QContextMenuEvent::Mouse, onForm, view.mapToGlobal(onForm));
  QApplication::sendEvent(&view, &without);
  EXPECT_FALSE(menu.isVisible());
}

// What a screen reader hears for each control, through Qt's accessibility interface.
TEST_F(FormTest, ScreenReadersNameTheFieldsTheBarAndTheLogByTheirLabels) {
  const auto nameOf = [](QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    EXPECT_NE(accessible, nullptr);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
  };
  EXPECT_EQ(nameOf(Find<QLineEdit>("currentVersion1007")), QStringLiteral("現在のバージョン"));
  EXPECT_EQ(nameOf(Find<QLineEdit>("targetVersion1008")),
            QStringLiteral("アップデートするバージョン"));
  EXPECT_EQ(nameOf(Find<QProgressBar>("progress1001")), QStringLiteral("進行状況"));
  EXPECT_EQ(nameOf(Find<QListWidget>("operationLog1009")), QStringLiteral("操作ログ"));
  // The labels lead to their fields, so a label's shortcut or a click on it lands there too.
  EXPECT_EQ(Find<QLabel>("currentVersionLabel")->buddy(), Find<QLineEdit>("currentVersion1007"));
  EXPECT_EQ(Find<QLabel>("targetVersionLabel")->buddy(), Find<QLineEdit>("targetVersion1008"));
}

}  // namespace
