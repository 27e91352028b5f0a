#include "app/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTranslator>

#include "platform/MainThread.h"

namespace {

// The toolkit's own texts (the file dialog, the OK and Cancel buttons) in
// Russian like the rest of the program, from the system's translations.
void UseRussianToolkitTexts(QApplication& application) {
  auto* translator = new QTranslator(&application);
  if (translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(translator);
  }
}

}  // namespace

void ConfigureApplication(QApplication& application) {
  platform::SetMainThread();
  application.setApplicationName("VEQ_Program");
  application.setStyle(QStyleFactory::create("Fusion"));
  UseRussianToolkitTexts(application);
}
