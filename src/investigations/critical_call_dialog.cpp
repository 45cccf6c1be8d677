#include "critical_call.h"

#include "boxes.h"
#include "message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

std::optional<CallAnswer> real_dialog(const CallQuestion& q) {
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("critical_call"));
    dialog.setWindowTitle(QStringLiteral("Critical value call"));
    dialog.setMinimumWidth(460);
    auto* about = new QLabel(q.findings_message, &dialog);
    about->setTextFormat(Qt::PlainText);
    about->setWordWrap(true);
    // A reader reads the finding itself; what it is, as its description.
    about->setAccessibleDescription(QStringLiteral("Critical results"));
    auto* by = new QLineEdit(q.informed_by, &dialog);
    by->setObjectName(QStringLiteral("informed_by"));
    by->setAccessibleName(QStringLiteral("Informed by"));
    auto* whom = new QLineEdit(q.informed_whom, &dialog);
    whom->setObjectName(QStringLiteral("informed_whom"));
    whom->setAccessibleName(QStringLiteral("Doctor informed"));
    auto* at = new QDateTimeEdit(q.at, &dialog);
    at->setObjectName(QStringLiteral("called_at"));
    at->setAccessibleName(QStringLiteral("When informed"));
    at->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm"));
    auto* read_back = new QCheckBox(QStringLiteral("Read &back by the recipient"), &dialog);
    read_back->setObjectName(QStringLiteral("read_back"));
    read_back->setAccessibleName(QStringLiteral("Read back by the recipient"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(about);
    form->addRow(QStringLiteral("Informed &by"), by);
    form->addRow(QStringLiteral("&Doctor informed"), whom);
    form->addRow(QStringLiteral("&When"), at);
    form->addRow(read_back);
    auto* record = named_button(&dialog, "record_call", "&Record call");
    auto* later = named_button(&dialog, "not_yet", "&Not yet");
    record->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(record);
    buttons->addWidget(later);
    form->addRow(buttons);
    QObject::connect(later, &QPushButton::clicked, &dialog, &QDialog::reject);
    QObject::connect(record, &QPushButton::clicked, &dialog, [&] {
        if (by->text().trimmed().isEmpty() || whom->text().trimmed().isEmpty())
            show_message(QStringLiteral("Say who informed the doctor and which doctor was informed."));
        else
            dialog.accept();
    });
    whom->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return CallAnswer{by->text().trimmed(), whom->text().trimmed(), at->dateTime(), read_back->isChecked()};
}

} // namespace

void use_critical_call_dialog() {
    set_critical_call_dialog(real_dialog);
}
