#include "gui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace sonavel {

bool InstallGermanTranslations(QCoreApplication& application) {
  const QLocale german(QLocale::German, QLocale::Germany);
  QLocale::setDefault(german);
  // The application owns the translator; it stays installed for the program's life.
  auto* translator = new QTranslator(&application);
  if (!translator->load(german, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace sonavel
