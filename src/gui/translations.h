#pragma once
// Qt's own texts (standard buttons, file dialogs, key names) in German, whatever language
// the machine is set to, so that they match the program's own German texts.

class QCoreApplication;

namespace sonavel {

// Makes German (Germany) the default locale and installs Qt's German translations on
// `application`. False when the translations could not be found; Qt then keeps its
// English texts.
bool InstallGermanTranslations(QCoreApplication& application);

}  // namespace sonavel
