#include "recorddialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

bool askRecording(QWidget *parent, const QString &offer, QString *folder, RecordFormat *format) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("recordDialog"));
    dialog.setWindowTitle(QObject::tr("Record"));
    auto *path = new QLineEdit(QDir::toNativeSeparators(offer), &dialog);
    path->setObjectName(QStringLiteral("recordFolder"));
    path->setMinimumWidth(360);
    auto *browse = new QPushButton(QObject::tr("Browse..."), &dialog);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, path] {
        const QString picked = QFileDialog::getExistingDirectory(
            &dialog, QObject::tr("Record into folder"), path->text());
        if (!picked.isEmpty())
            path->setText(QDir::toNativeSeparators(picked));
    });
    auto *separator = new QComboBox(&dialog);
    separator->setObjectName(QStringLiteral("recordSeparator"));
    separator->addItem(QObject::tr("Comma, decimal point (1.5)"), int(RecordFormat::Comma));
    separator->addItem(QObject::tr("Semicolon, decimal comma (1,5)"), int(RecordFormat::Semicolon));
    separator->setCurrentIndex(separator->findData(int(*format)));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QObject::tr("Record"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    // Nothing to record into without a folder.
    QObject::connect(path, &QLineEdit::textChanged, &dialog, [buttons](const QString &text) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!text.trimmed().isEmpty());
    });
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!offer.trimmed().isEmpty());

    auto *row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(browse);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QObject::tr("Folder"), row);
    form->addRow(QObject::tr("Separator"), separator);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *folder = QDir::fromNativeSeparators(path->text().trimmed());
    *format = RecordFormat(separator->currentData().toInt());
    return true;
}
