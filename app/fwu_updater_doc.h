// The empty document of the single-document window: it holds no data, so opening a file
// reads nothing from it and saving writes nothing to it.
#pragma once

#include <QObject>
#include <QString>

// UI thread only.
class CFWUpdaterDoc : public QObject {
  Q_OBJECT

 public:
  explicit CFWUpdaterDoc(QObject* parent = nullptr);

  // A new, untitled document; always succeeds.
  bool OnNewDocument();
  // Takes path as the document's file without opening or reading it; always succeeds.
  bool OnOpenDocument(const QString& path);
  // The document has nothing to store: the file at pathName() is never opened for writing,
  // emptied or replaced. Returns true (nothing was lost).
  bool OnSaveDocument();

  // The file last opened; empty for a new document. Never shown in the window title.
  const QString& pathName() const { return m_pathName; }

 private:
  QString m_pathName;
};
