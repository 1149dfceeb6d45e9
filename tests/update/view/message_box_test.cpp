// The view's message boxes: captions, buttons and their labels, icons, default buttons and
// the answer codes, and the relabelled box whose hook removes itself.
#include <gtest/gtest.h>

#include <QAbstractButton>

#include "update/view/view_message_box.h"
#include "view_test_support.h"

namespace {

const QString kTitle = QStringLiteral("SCRIBOLANTE X FW Updater");
const QString kOk = QStringLiteral("OK");
const QString kCancel = QString::fromUtf8("キャンセル");
const QString kYes = QString::fromUtf8("はい");
const QString kNo = QString::fromUtf8("いいえ");
const QString kGo = QString::fromUtf8("移動");

class MessageBoxTest : public testing::Test {
 protected:
  void SetUp() override { view.show(); }

  // Shows one box on the UI thread and clicks the button labelled click.
  int ShowAndClick(const QString& click, const std::string& text, const char* caption,
                   unsigned type, bool relabelled = false) {
    BoxDriver driver(
        [&](QMessageBox& box) { EXPECT_TRUE(ClickButton(box, click)) << click.toStdString(); });
    const int answer = relabelled ? view.ShowRelabelledMessageBox(text, caption, type)
                                  : view.ShowMessageBox(text, caption, type);
    EXPECT_EQ(driver.seen().size(), 1u);
    if (!driver.seen().empty()) last = driver.seen().back();
    return answer;
  }

  CFWUpdaterView view;
  SeenBox last;
};

TEST_F(MessageBoxTest, NullCaptionShowsTheApplicationTitleAndEmptyShowsNone) {
  EXPECT_EQ(ShowAndClick(kOk, "バイナリファイルが見つかりませんでした。", nullptr, MB_OK), IDOK);
  EXPECT_EQ(last.title, kTitle);
  EXPECT_EQ(last.windowSystemTitle, kTitle);
  EXPECT_EQ(last.text, QString::fromUtf8("バイナリファイルが見つかりませんでした。"));
  EXPECT_EQ(last.buttons, QStringList{kOk});
  EXPECT_EQ(last.icon, QMessageBox::NoIcon);

  EXPECT_EQ(ShowAndClick(kOk, "text", "", MB_OK), IDOK);
  EXPECT_EQ(last.title, QString());
  // Blank, but not empty: an empty one would make X11 show the program's name there.
  EXPECT_FALSE(last.windowSystemTitle.isEmpty());
  EXPECT_TRUE(last.windowSystemTitle.trimmed().isEmpty());

  EXPECT_EQ(ShowAndClick(kOk, "text", "確認", MB_OK), IDOK);
  EXPECT_EQ(last.title, QString::fromUtf8("確認"));
}

TEST_F(MessageBoxTest, YesNoAnswersSixAndSevenWithYesAsDefault) {
  EXPECT_EQ(ShowAndClick(kYes, "SCRIBOLANTE X をUpdateしますか？", "確認", MB_YESNO), IDYES);
  EXPECT_EQ(last.buttons.size(), 2);
  EXPECT_TRUE(last.buttons.contains(kYes) && last.buttons.contains(kNo));
  EXPECT_EQ(last.defaultButton, kYes);
  EXPECT_EQ(ShowAndClick(kNo, "SCRIBOLANTE X をUpdateしますか？", "確認", MB_YESNO), IDNO);
}

TEST_F(MessageBoxTest, OkCancelAnswersOneAndTwoWithOkAsDefault) {
  EXPECT_EQ(ShowAndClick(kOk, "go on?", nullptr, MB_OKCANCEL), IDOK);
  EXPECT_EQ(last.buttons.size(), 2);
  EXPECT_TRUE(last.buttons.contains(kOk) && last.buttons.contains(kCancel));
  EXPECT_EQ(last.defaultButton, kOk);
  EXPECT_EQ(ShowAndClick(kCancel, "go on?", nullptr, MB_OKCANCEL), IDCANCEL);
}

TEST_F(MessageBoxTest, IconBitsPickTheIcon) {
  ShowAndClick(kOk, "error", nullptr, MB_OK | MB_ICONERROR);
  EXPECT_EQ(last.icon, QMessageBox::Critical);
  ShowAndClick(kYes, "warning", nullptr, MB_YESNO | MB_ICONEXCLAMATION);
  EXPECT_EQ(last.icon, QMessageBox::Warning);
  EXPECT_EQ(last.buttons.size(), 2);
}

TEST_F(MessageBoxTest, EscapeTakesTheWayOut) {
  BoxDriver driver([](QMessageBox& box) { box.close(); });  // the close box, or Escape
  EXPECT_EQ(view.ShowMessageBox("q", nullptr, MB_YESNO), IDNO);
  EXPECT_EQ(view.ShowMessageBox("q", nullptr, MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(view.ShowMessageBox("q", nullptr, MB_OK), IDOK);
}

TEST_F(MessageBoxTest, BoxIsModalToTheViewsWindow) {
  BoxDriver driver([this](QMessageBox& box) {
    EXPECT_EQ(box.parentWidget(), &view);
    EXPECT_EQ(box.windowModality(), Qt::WindowModal);
    box.button(QMessageBox::Ok)->click();
  });
  view.ShowMessageBox("text", nullptr, MB_OK);
  EXPECT_EQ(driver.seen().size(), 1u);
}

TEST_F(MessageBoxTest, RelabelledBoxReadsGoAndCancelAndKeepsItsAnswers) {
  const std::string text =
      "本体のバージョンが最新でないため接続ができません。\n本体のバージョンを1."
      "1に更新してください。\n"
      "https://support.veldra.co.jp/stationery/scribolantex/support.html";
  EXPECT_EQ(ShowAndClick(kGo, text, "", MB_OKCANCEL, true), IDOK);
  EXPECT_EQ(last.title, QString());
  EXPECT_EQ(last.buttons.size(), 2);
  EXPECT_TRUE(last.buttons.contains(kGo) && last.buttons.contains(kCancel));
  EXPECT_FALSE(last.buttons.contains(kOk));
  EXPECT_EQ(ShowAndClick(kCancel, text, "", MB_OKCANCEL, true), IDCANCEL);

  // The hook has gone with its box: the next ordinary box keeps its OK.
  EXPECT_EQ(ShowAndClick(kOk, "ordinary", nullptr, MB_OKCANCEL), IDOK);
  EXPECT_TRUE(last.buttons.contains(kOk) && last.buttons.contains(kCancel));
}

TEST(RenameButtonsHookTest, RelabelsOnceThenRemovesItself) {
  CFWUpdaterView owner;
  QMessageBox* box = CreateMessageBox(&owner, "text", "", MB_OKCANCEL);
  RenameButtonsHook hook(box);
  EXPECT_TRUE(hook.installed());
  EXPECT_EQ(box->button(QMessageBox::Ok)->text(), kOk);  // nothing before it appears
  box->show();
  EXPECT_FALSE(hook.installed());
  EXPECT_EQ(box->button(QMessageBox::Ok)->text(), kGo);
  EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), kCancel);

  // A second appearance finds no hook.
  box->hide();
  box->button(QMessageBox::Ok)->setText(kOk);
  box->show();
  EXPECT_EQ(box->button(QMessageBox::Ok)->text(), kOk);
  delete box;
}

TEST(RenameButtonsHookTest, OutlivesABoxThatNeverAppeared) {
  CFWUpdaterView owner;
  auto hook = std::make_unique<RenameButtonsHook>(CreateMessageBox(&owner, "t", "", MB_OKCANCEL));
  qDeleteAll(owner.findChildren<QMessageBox*>());
  EXPECT_TRUE(owner.findChildren<QMessageBox*>().isEmpty());
  // The box never appeared, so nothing was relabelled and the hook still waits; going away
  // now must not reach for the deleted box.
  EXPECT_TRUE(hook->installed());
  hook.reset();

  // A later box of the same owner is not relabelled by the hook that has gone.
  QMessageBox* next = CreateMessageBox(&owner, "next", "", MB_OKCANCEL);
  next->show();
  EXPECT_EQ(next->button(QMessageBox::Ok)->text(), kOk);
  delete next;
}

}  // namespace
