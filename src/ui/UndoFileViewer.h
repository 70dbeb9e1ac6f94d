#pragma once
// A window of the program's own that shows an undo file as text, read-only, with its path.
// An undo file is never handed to the desktop: a desktop whose handler of ".reg" files is
// a registry importer would import it into another registry.

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace ui {

class ElidedLabel;

class UndoFileViewer : public QDialog {
    Q_OBJECT
public:
    explicit UndoFileViewer(QWidget* parent = nullptr);

    // Files larger than this are not shown (an undo file holds what one repair deleted).
    static constexpr qint64 kLargestShown = 64ll * 1024 * 1024;

    // Reads `path` (a host path) into the window. False, with `why` as a sentence, when it
    // cannot be read; the window then shows nothing.
    bool Load(const QString& path, QString* why);
    QString Path() const { return path_; }
    QString Text() const;

    // The text of an undo file's bytes: UTF-16 after its byte-order mark (as the registry
    // editor of Windows writes), UTF-8 after its mark, else the machine's ANSI code page
    // (as the program writes); lines end with LF.
    static QString DecodeRegFile(const QByteArray& bytes);

private:
    QString path_;
    ElidedLabel* lblPath_;
    QPlainTextEdit* edtText_;
};

} // namespace ui
