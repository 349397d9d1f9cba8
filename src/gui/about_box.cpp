#include "gui/about_box.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QtGlobal>

namespace sonavel {

void ShowAboutBox(QWidget* parent) {
  QDialog box(parent);
  box.setObjectName("AboutBox");
  box.setWindowTitle("Über Sonavel");
  auto* name = new QLabel("Sonavel", &box);
  name->setObjectName("name");
  QFont font = name->font();
  font.setPointSize(font.pointSize() * 2);
  font.setBold(true);
  name->setFont(font);
  auto* what = new QLabel("Audio-Editor", &box);
  what->setObjectName("what");
  auto* version = new QLabel("Version " + QCoreApplication::applicationVersion(), &box);
  version->setObjectName("version");
  // The Qt the program was compiled against, and the one it runs with when they differ.
  QString qt = QString("Erstellt mit Qt %1").arg(QT_VERSION_STR);
  if (QString(qVersion()) != QT_VERSION_STR) qt += QString(" (läuft mit Qt %1)").arg(qVersion());
  auto* built = new QLabel(qt, &box);
  built->setObjectName("qt");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  auto* layout = new QVBoxLayout(&box);
  layout->setContentsMargins(24, 18, 24, 14);
  layout->setSpacing(6);
  for (QLabel* label : {name, what, version, built}) {
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    if (label == what) layout->addSpacing(10);
  }
  layout->addSpacing(12);
  layout->addWidget(buttons, 0, Qt::AlignCenter);
  box.setFixedSize(box.sizeHint().expandedTo(QSize(320, 0)));
  box.exec();
}

}  // namespace sonavel
