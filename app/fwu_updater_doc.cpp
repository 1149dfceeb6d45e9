// The empty document.
#include "app/fwu_updater_doc.h"

CFWUpdaterDoc::CFWUpdaterDoc(QObject* parent) : QObject(parent) {}

bool CFWUpdaterDoc::OnNewDocument() {
  m_pathName.clear();
  return true;
}

bool CFWUpdaterDoc::OnOpenDocument(const QString& path) {
  m_pathName = path;
  return true;
}

bool CFWUpdaterDoc::OnSaveDocument() {
  return true;
}
