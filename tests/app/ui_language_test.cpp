// The user's language: which language a locale gets, a whole update in English without a
// Japanese character left in any box or widget, the Japanese texts untouched under a Japanese
// or the C locale, Qt's own dialogs in Japanese, and the command line in the same language.
#include "app/ui_language.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <optional>

#include "app/about_dialog.h"
#include "app/fwu_updater_app.h"
#include "app_test_support.h"
#include "process_test_support.h"
#include "update/expected_texts.h"
#include "update/firmware_image.h"
#include "update/update_view.h"
#include "update/view/view_message_box.h"

namespace {

bool HasJapanese(const QString& text) {
  for (const QChar character : text) {
    const char16_t code = character.unicode();
    // Kana and CJK punctuation, the unified ideographs, and full-width forms.
    if ((code >= 0x3000 && code <= 0x30FF) || (code >= 0x4E00 && code <= 0x9FFF) ||
        (code >= 0xFF00 && code <= 0xFFEF)) {
      return true;
    }
  }
  return false;
}

// Every text a user can see or hear from widget and its children: titles, labels, buttons,
// menus and their items, accessible names.
QStringList VisibleTexts(QWidget* widget) {
  QStringList texts;
  QList<QWidget*> widgets = widget->findChildren<QWidget*>();
  widgets.prepend(widget);
  for (QWidget* each : widgets) {
    texts << each->windowTitle() << each->accessibleName();
    if (auto* label = qobject_cast<QLabel*>(each)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(each)) texts << button->text();
    if (auto* menu = qobject_cast<QMenu*>(each)) texts << menu->title();
    for (QAction* action : each->actions()) texts << action->text();
  }
  texts.removeAll(QString());
  return texts;
}

// The texts with a Japanese character, one per line; empty when there is none.
std::string JapaneseAmong(const QStringList& texts) {
  QStringList found;
  for (const QString& text : texts) {
    if (HasJapanese(text)) found << text;
  }
  return found.join(u'\n').toStdString();
}

class UiLanguageTest : public testing::Test {
 protected:
  void TearDown() override {
    // Deleting a translator takes it out of the application again.
    qDeleteAll(qApp->findChildren<QTranslator*>());
    SetFirmwareSource({});
  }

  struct WholeUpdate {
    int status = -1;
    std::vector<SeenBox> boxes;  // in the order shown
    QStringList windowTexts;     // of every window open while a box was shown
  };

  // A whole accepted update against one good simulated device.
  WholeUpdate RunWholeUpdate() {
    const OneGoodDeviceStart start;

    WholeUpdate update;
    CFWUpdaterApp application(UniqueGuardName());
    BoxWatcher watcher([&](QMessageBox& box) {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) update.windowTexts << VisibleTexts(window);
      }
      if (application.editPopupMenu() != nullptr) {
        update.windowTexts << VisibleTexts(application.editPopupMenu());
      }
      QAbstractButton* button = box.button(QMessageBox::Yes);
      if (button == nullptr) button = box.defaultButton();
      button->click();
    });
    QTimer::singleShot(60000, &application, &CFWUpdaterApp::OnTerminationRequested);
    update.status = application.Run();
    update.boxes = watcher.seen();
    return update;
  }

  // The normal-mode box as it appears: its text, then its OK and Cancel buttons.
  static QStringList NormalModeBox() {
    const std::unique_ptr<QMessageBox> box(
        CreateMessageBox(nullptr, kNormalModeText, "", MB_OKCANCEL));
    RenameButtonsHook hook(box.get());
    box->show();
    return {box->text(), box->button(QMessageBox::Ok)->text(),
            box->button(QMessageBox::Cancel)->text()};
  }
};

TEST(UiLanguageChoiceTest, JapaneseForJapaneseAndTheCLocaleEnglishForEveryOtherLanguage) {
  const struct {
    QStringList uiLanguages;
    UiLanguage expected;
  } cases[] = {
      {{"ja-JP", "ja"}, UiLanguage::Japanese},
      {{"ja_JP.UTF-8"}, UiLanguage::Japanese},
      {{"C.UTF-8"}, UiLanguage::Japanese},
      {{"POSIX"}, UiLanguage::Japanese},
      {{}, UiLanguage::Japanese},
      {{"de-DE", "ja-JP"}, UiLanguage::English},
      {{"jv-ID"}, UiLanguage::English},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseUiLanguage(c.uiLanguages), c.expected)
        << c.uiLanguages.join(u',').toStdString();
  }
}

TEST_F(UiLanguageTest, AWholeUpdateInEnglishLeavesNoJapaneseInAnyBoxOrWidget) {
  InstallUiTranslations(*qApp, UiLanguage::English);
  const WholeUpdate update = RunWholeUpdate();
  EXPECT_EQ(update.status, 0);
  ASSERT_GE(update.boxes.size(), 2u);
  EXPECT_EQ(update.boxes.front().text, QStringLiteral("Update the SCRIBOLANTE X?"));
  EXPECT_EQ(update.boxes.front().title, QStringLiteral("Confirm"));
  EXPECT_TRUE(update.boxes.front().buttons.contains(QStringLiteral("Yes")));
  EXPECT_TRUE(update.boxes.front().buttons.contains(QStringLiteral("No")));
  EXPECT_EQ(
      update.boxes.back().text,
      QStringLiteral("The update of the SCRIBOLANTE X is complete.\nThe application will close."));
  ASSERT_FALSE(update.windowTexts.isEmpty());
  EXPECT_TRUE(update.windowTexts.contains(QStringLiteral("Current version")));
  EXPECT_EQ(JapaneseAmong(update.windowTexts), "");
  for (const SeenBox& box : update.boxes) {
    EXPECT_EQ(JapaneseAmong(QStringList{box.title, box.text} + box.buttons), "");
  }
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About SCRIBOLANTE X FW Updater"));
  EXPECT_EQ(JapaneseAmong(VisibleTexts(&about)), "");

  // Texts that end with a line of their own (an address, a file name) keep that line, and the
  // relabelled buttons are translated too.
  EXPECT_EQ(NormalModeBox(),
            (QStringList{"The device's firmware is too old to connect.\nUpdate the device's "
                         "firmware to version 1.1.\nhttps://support.veldra.co.jp/stationery/"
                         "scribolantex/support.html",
                         "Go", "Cancel"}));
  EXPECT_EQ(TranslatedMessageText(kUnreadableText + "\nSC5_Firmware_v1.3.bin"),
            QStringLiteral("The firmware file could not be read.\nSC5_Firmware_v1.3.bin"));
}

TEST_F(UiLanguageTest, UnderAJapaneseOrTheCLocaleEveryTextStaysAsWritten) {
  // Both get Japanese; Qt's own translation, where installed, is the one thing loaded.
  InstallUiTranslations(*qApp, UiLanguage::Japanese);
  const WholeUpdate update = RunWholeUpdate();
  EXPECT_EQ(update.status, 0);
  ASSERT_GE(update.boxes.size(), 2u);
  EXPECT_EQ(update.boxes.front().text, QString::fromStdString(kConfirmUpdateText));
  EXPECT_EQ(update.boxes.front().title, QStringLiteral("確認"));
  EXPECT_TRUE(update.boxes.front().buttons.contains(QStringLiteral("はい")));
  EXPECT_TRUE(update.boxes.front().buttons.contains(QStringLiteral("いいえ")));
  EXPECT_EQ(update.boxes.back().text, QString::fromStdString(kCompleteText));
  for (const char* text : {"現在のバージョン", "操作ログ", "ファイル(&F)", "コピー(&C)\tCtrl+C"}) {
    EXPECT_TRUE(update.windowTexts.contains(QString::fromUtf8(text))) << text;
  }
  EXPECT_EQ(NormalModeBox(),
            (QStringList{QString::fromStdString(kNormalModeText), "移動", "キャンセル"}));
}

TEST_F(UiLanguageTest, QtsOwnOpenDialogIsInJapaneseWhereQtsTranslationIsInstalled) {
  if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                     QStringLiteral("/qtbase_ja.qm"))) {
    GTEST_SKIP() << "Qt's Japanese translation is not installed";
  }
  EXPECT_TRUE(InstallUiTranslations(*qApp, UiLanguage::Japanese));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  auto* fileNameLabel = dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
  ASSERT_NE(fileNameLabel, nullptr);
  EXPECT_TRUE(HasJapanese(fileNameLabel->text())) << fileNameLabel->text().toStdString();
}

class UiLanguageProcessTest : public ProcessTest {};

TEST_F(UiLanguageProcessTest, TheCommandLineSpeaksTheUsersLanguage) {
  const std::vector<std::string> noDisplay{"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  const QString japaneseError = QStringLiteral(
      "scribolante-fw-updater: 引数は FILE または FOLDER の1つだけです。 (--help)\n");
  // LANGUAGE counts unless the messages locale is C, as gettext has it.
  const struct {
    const char* locale;
    const char* languages;
    QString helpStart;
    QString error;
  } cases[] = {
      {"en_US.UTF-8", "",
       QStringLiteral("Usage: scribolante-fw-updater [--record TRACE] [FILE|FOLDER]\n"),
       QStringLiteral("scribolante-fw-updater: Give at most one argument, a FILE or a FOLDER. "
                      "(--help)\n")},
      {"ja_JP.UTF-8", "",
       QStringLiteral("使い方: scribolante-fw-updater [--record TRACE] [FILE|FOLDER]\n"),
       japaneseError},
      {"C", "en:de",
       QStringLiteral("使い方: scribolante-fw-updater [--record TRACE] [FILE|FOLDER]\n"),
       japaneseError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    const std::map<std::string, std::string> environment{{"LC_ALL", c.locale},
                                                         {"LANGUAGE", c.languages}};
    SpawnedProgram& help = Start(environment, {"--help"}, noDisplay);
    ASSERT_TRUE(help.WaitForEnd(kHangTimeoutMs));
    EXPECT_EQ(help.ExitCode(), 0);
    EXPECT_TRUE(help.StandardOutput().startsWith(c.helpStart))
        << help.StandardOutput().toStdString();
    SpawnedProgram& error = Start(environment, {"one", "two"}, noDisplay);
    ASSERT_TRUE(error.WaitForEnd(kHangTimeoutMs));
    EXPECT_EQ(error.ExitCode(), 2);
    EXPECT_EQ(error.ErrorOutput(), c.error);
  }
}

}  // namespace
