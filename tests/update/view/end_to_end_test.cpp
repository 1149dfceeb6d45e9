// Whole updates in the real view, offscreen, with real timers, the real workflow and our
// simulated GPlusUSBLibEx.so beside the test program: a good device, one slow to confirm the
// checksum, a declined update, and a window closed in the middle of the block writes.
#include <gtest/gtest.h>

#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "view_test_support.h"

namespace {

const QString kConfirmText = QString::fromUtf8("SCRIBOLANTE X をUpdateしますか？");
const QString kCompleteText =
    QString::fromUtf8("SCRIBOLANTE X のUpdateが完了しました。\nアプリを終了します。");
const QString kCancelledText =
    QString::fromUtf8("SCRIBOLANTE X のUpdateを中止します。\nアプリを終了します。");

// Answers the update question with the given button and every other box with its default.
BoxDriver::Handler AnswerConfirmation(const QString& button) {
  return [button](QMessageBox& box) {
    if (box.text() == kConfirmText) {
      ClickButton(box, button);
    } else {
      box.defaultButton()->click();
    }
  };
}

std::vector<char> ImageBytes(std::size_t size) {
  std::vector<char> bytes(size);
  for (std::size_t index = 0; index < size; ++index) {
    bytes[index] = static_cast<char>((index * 7 + index / 251) & 0xFF);
  }
  return bytes;
}

std::vector<char> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Notes the value a progress bar had at its latest paint.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QProgressBar* bar) : m_bar(bar) { bar->installEventFilter(this); }
  int last = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_bar && event->type() == QEvent::Paint) last = m_bar->value();
    return false;
  }

 private:
  QProgressBar* m_bar;
};

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetPhaseStepsForTesting();
    ASSERT_TRUE(folder.isValid());
    if (const char* scenario = std::getenv("GPLUS_SIM_SCENARIO")) savedScenario = scenario;
    ::unsetenv("GPLUS_SIM_SCENARIO");
    savedDirectory = std::filesystem::current_path();
    std::filesystem::current_path(folder.path().toStdString());
  }

  void TearDown() override {
    view.reset();
    std::filesystem::current_path(savedDirectory);
    if (savedScenario) {
      ::setenv("GPLUS_SIM_SCENARIO", savedScenario->c_str(), 1);
    } else {
      ::unsetenv("GPLUS_SIM_SCENARIO");
    }
  }

  void WriteImage(std::size_t size) {
    image = ImageBytes(size);
    std::ofstream out(imagePath, std::ios::binary);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
  }

  void UseScenario(const std::string& text) {
    const std::filesystem::path path = std::filesystem::current_path() / "device.scenario";
    std::ofstream(path) << text;
    ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  }

  void Start() {
    view = std::make_unique<CFWUpdaterView>();
    view->show();
    ASSERT_TRUE(view->OnCreate());
  }

  QStringList LogLines() const {
    QStringList lines;
    auto* log = view->findChild<QListWidget*>(QStringLiteral("operationLog1009"));
    for (int row = 0; log && row < log->count(); ++row) lines << log->item(row)->text();
    return lines;
  }

  QString Field(const char* name) const {
    auto* edit = view->findChild<QLineEdit*>(QString::fromLatin1(name));
    return edit ? edit->text() : QString();
  }

  QTemporaryDir folder;
  const std::filesystem::path imagePath = "SC5_Firmware_v1.2.bin";
  std::vector<char> image;
  std::optional<std::string> savedScenario;
  std::filesystem::path savedDirectory;
  std::unique_ptr<CFWUpdaterView> view;
};

TEST_F(EndToEndTest, GoodDeviceIsUpdatedAndTheWindowCloses) {
  WriteImage(64 * 1024);
  UseScenario("list 1 SCRIBOLANTE-X-1\n");
  Start();
  BoxDriver driver(AnswerConfirmation(QString::fromUtf8("はい")));
  ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }, 60000))
      << LogLines().join("|").toStdString();

  const QStringList lines = LogLines();
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines.mid(lines.size() - 3),
            (QStringList{"Confirming checksum.", "Update Complete.", "End Application"}));
  EXPECT_EQ(lines.first(), QStringLiteral("Startup FW updater."));
  EXPECT_TRUE(lines.contains("USB Connecting..."));
  EXPECT_EQ(view->GetProgressPosition(), 10000);
  EXPECT_EQ(Field("targetVersion1008"), QStringLiteral("1.2"));
  EXPECT_EQ(Field("currentVersion1007"), QStringLiteral("1.0"));

  ASSERT_EQ(driver.seen().size(), 2u);
  EXPECT_EQ(driver.seen()[0].title, QString::fromUtf8("確認"));
  EXPECT_EQ(driver.seen()[1].text, kCompleteText);
  EXPECT_EQ(driver.seen()[1].title, QStringLiteral("SCRIBOLANTE X FW Updater"));
  EXPECT_EQ(ReadFile(imagePath), image) << "the firmware file is never changed";
}

// A device that takes a while to confirm the checksum: the last block's position (9800, the
// cap) is on screen, painted, before the confirmation starts, not skipped for 10000 later.
TEST_F(EndToEndTest, TheLastBlocksPositionIsPaintedBeforeTheChecksumConfirmation) {
  WriteImage(16 * 32 * 1024);
  UseScenario("list 1 SCRIBOLANTE-X-1\nchecksum-delay 300\n");
  Start();
  auto* bar = view->findChild<QProgressBar*>(QStringLiteral("progress1001"));
  auto* log = view->findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  ASSERT_TRUE(bar && log);
  PaintRecorder painted(bar);
  int paintedWhenConfirming = -1;
  QObject::connect(log->model(), &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex&, int first, int) {
                     if (log->item(first)->text() == QStringLiteral("Confirming checksum.")) {
                       paintedWhenConfirming = painted.last;
                     }
                   });
  BoxDriver driver(AnswerConfirmation(QString::fromUtf8("はい")));
  ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }, 60000))
      << LogLines().join("|").toStdString();
  EXPECT_EQ(paintedWhenConfirming, 9800);
  EXPECT_EQ(bar->value(), 10000);
}

TEST_F(EndToEndTest, DecliningEndsTheApplicationWithoutWriting) {
  WriteImage(64 * 1024);
  UseScenario("list 1 SCRIBOLANTE-X-1\n");
  Start();
  BoxDriver driver(AnswerConfirmation(QString::fromUtf8("いいえ")));
  ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }, 60000));
  ASSERT_EQ(driver.seen().size(), 2u);
  EXPECT_EQ(driver.seen()[1].text, kCancelledText);
  EXPECT_EQ(LogLines().last(), QStringLiteral("End Application"));
  EXPECT_EQ(view->GetProgressPosition(), 0);
}

TEST_F(EndToEndTest, ClosingTheWindowMidWriteStopsCleanly) {
  // Eight blocks at a device's pace: a quarter of a second each.
  WriteImage(8 * 32 * 1024);
  UseScenario("list 1 SCRIBOLANTE-X-1\nrate 131072\n");
  Start();
  BoxDriver driver([](QMessageBox& box) {
    if (box.text() == kConfirmText) ClickButton(box, QString::fromUtf8("はい"));
  });
  ASSERT_TRUE(WaitUntil([&] { return view->GetProgressPosition() > 0; }, 60000))
      << LogLines().join("|").toStdString();
  view->close();
  EXPECT_FALSE(view->isVisible());
  EXPECT_LT(view->GetProgressPosition(), 9800);
  QCoreApplication::processEvents();
  const QStringList lines = LogLines();
  EXPECT_FALSE(lines.contains("Confirming checksum."));
  EXPECT_FALSE(lines.contains("End Application"));
  EXPECT_EQ(driver.seen().size(), 1u) << "no message after the close";
  EXPECT_EQ(ReadFile(imagePath), image);
}

}  // namespace
