// Choosing the UI language and loading the program's and Qt's translations. The program's
// translations are compiled in (the :/i18n resource folder); Qt's come from its own install.
#include "app/ui_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Where the build puts the program's compiled translations (fwupdater_<code>.qm).
const QString kProgramTranslations = QStringLiteral(":/i18n");

bool LoadProgramTranslation(QTranslator& translator, UiLanguage language) {
  if (language == UiLanguage::Japanese) return false;  // the source texts
  return translator.load(QStringLiteral("fwupdater_") + LanguageCode(language),
                         kProgramTranslations);
}

// The language of a locale or language name, lower case: "ja" of "ja", "ja-JP" and
// "ja_JP.UTF-8@variant"; "c" of "C" and "C.UTF-8".
QString LanguagePart(const QString& name) {
  return name.trimmed()
      .section(QLatin1Char('.'), 0, 0)
      .section(QLatin1Char('@'), 0, 0)
      .section(QLatin1Char('-'), 0, 0)
      .section(QLatin1Char('_'), 0, 0)
      .toLower();
}

// The C or POSIX locale, or none named.
bool IsCLocale(const QString& language) {
  return language.isEmpty() || language == QLatin1String("c") ||
         language == QLatin1String("posix");
}

}  // namespace

UiLanguage ChooseUiLanguage(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) return UiLanguage::Japanese;
  const QString language = LanguagePart(uiLanguages.constFirst());
  return language == QLatin1String("ja") || IsCLocale(language) ? UiLanguage::Japanese
                                                                 : UiLanguage::English;
}

UiLanguage UserUiLanguage() {
  // As gettext does: messages in the C or POSIX locale (LC_ALL, else LC_MESSAGES, else LANG)
  // mean no language at all, whatever LANGUAGE lists.
  QString messages = qEnvironmentVariable("LC_ALL");
  if (messages.isEmpty()) messages = qEnvironmentVariable("LC_MESSAGES");
  if (messages.isEmpty()) messages = qEnvironmentVariable("LANG");
  if (IsCLocale(LanguagePart(messages))) return UiLanguage::Japanese;
  return ChooseUiLanguage(QLocale::system().uiLanguages());
}

QString LanguageCode(UiLanguage language) {
  return language == UiLanguage::English ? QStringLiteral("en") : QStringLiteral("ja");
}

bool InstallUiTranslations(QCoreApplication& application, UiLanguage language) {
  // Owned by the application: they stay installed as long as it lives.
  auto* program = new QTranslator(&application);
  if (LoadProgramTranslation(*program, language)) {
    QCoreApplication::installTranslator(program);
  } else {
    delete program;
  }
  auto* qt = new QTranslator(&application);
  if (qt->load(QStringLiteral("qtbase_") + LanguageCode(language),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
    return true;
  }
  delete qt;
  return false;
}

QString TranslateBeforeApplication(UiLanguage language, const char* context, const char* source) {
  // Loaded once, on first use; main thread only.
  static QTranslator english;
  static const bool englishLoaded = LoadProgramTranslation(english, UiLanguage::English);
  if (language == UiLanguage::English && englishLoaded) {
    const QString text = english.translate(context, source);
    if (!text.isEmpty()) return text;
  }
  return QString::fromUtf8(source);
}
