// The language of the program's texts and of Qt's own dialogs: Japanese, the language the texts
// are written in, or English, chosen from the user's UI languages.
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

enum class UiLanguage { Japanese, English };

// Japanese when the first of uiLanguages (QLocale::uiLanguages order) is Japanese, or the C or
// POSIX locale, or when there is none; English for any other language.
UiLanguage ChooseUiLanguage(const QStringList& uiLanguages);

// The language for this user: Japanese when the messages locale (LC_ALL, else LC_MESSAGES,
// else LANG) is C, POSIX or unset, whatever LANGUAGE says (as gettext reads them); otherwise
// ChooseUiLanguage over the system locale's UI languages (LANGUAGE first).
UiLanguage UserUiLanguage();

// "ja" or "en".
QString LanguageCode(UiLanguage language);

// Loads the program's translation for language (none for Japanese: the texts are written in
// it) and Qt's own translation (qtbase_<code>.qm from Qt's translations folder) and installs
// both on application. Qt's own missing leaves its dialogs in English; nothing fails. Returns
// whether Qt's own translation was loaded. Once per process, UI thread.
bool InstallUiTranslations(QCoreApplication& application, UiLanguage language);

// The translation of source in context for language, usable before the application object
// exists (the command line's help and errors). Japanese, or a text without a translation,
// answers the source itself.
QString TranslateBeforeApplication(UiLanguage language, const char* context, const char* source);
