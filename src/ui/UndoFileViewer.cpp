#include "ui/UndoFileViewer.h"

#include "app/AnsiText.h"
#include "ui/ElidedLabel.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace ui {

UndoFileViewer::UndoFileViewer(QWidget* parent) : QDialog(parent) {
    setObjectName("frmUndoFile");
    setWindowTitle("Undo File");
    // A window of its own beside the one that opened it, which stays usable.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(640, 480);

    lblPath_ = new ElidedLabel({}, this);
    lblPath_->setObjectName("lblUndoFilePath");
    edtText_ = new QPlainTextEdit(this);
    edtText_->setObjectName("edtUndoFile");
    edtText_->setReadOnly(true);
    edtText_->setLineWrapMode(QPlainTextEdit::NoWrap);
    edtText_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("btnClose");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblPath_);
    layout->addWidget(edtText_, 1);
    layout->addWidget(buttons);
}

QString UndoFileViewer::Text() const {
    return edtText_->toPlainText();
}

QString UndoFileViewer::DecodeRegFile(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::ConvertInvalidToNull);
        text = utf16.decode(bytes.mid(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else {
        text = app::FromAnsi(std::string_view(bytes.constData(), size_t(bytes.size())));
    }
    text.replace("\r\n", "\n");
    return text;
}

bool UndoFileViewer::Load(const QString& path, QString* why) {
    edtText_->clear();
    path_ = path;
    lblPath_->setText(path);
    QFile file(path);
    const QFileInfo info(path);
    const auto fail = [&](const QString& sentence) {
        if (why)
            *why = sentence;
        return false;
    };
    if (!info.isFile())
        return fail("The undo file \"" + path + "\" does not exist.");
    if (info.size() > kLargestShown)
        return fail(QString("The undo file \"%1\" is too large to show (%2 MB).")
                        .arg(path)
                        .arg(info.size() / (1024 * 1024)));
    if (!file.open(QIODevice::ReadOnly))
        return fail("The undo file \"" + path + "\" cannot be read: " + file.errorString() + ".");
    const QByteArray bytes = file.read(kLargestShown + 1);
    if (file.error() != QFileDevice::NoError)
        return fail("The undo file \"" + path + "\" cannot be read: " + file.errorString() + ".");
    if (bytes.size() > kLargestShown)
        return fail("The undo file \"" + path + "\" is too large to show.");
    edtText_->setPlainText(DecodeRegFile(bytes));
    setWindowTitle("Undo File - " + info.fileName());
    return true;
}

} // namespace ui
