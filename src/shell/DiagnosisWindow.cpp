#include "DiagnosisWindow.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace morvane {

DiagnosisWindow::DiagnosisWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_text(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("diagnosisWindow"));
    setWindowTitle(QStringLiteral("Diagnóstico de Morvane"));
    m_text->setObjectName(QStringLiteral("diagnosisText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setAccessibleName(QStringLiteral("Informe de diagnóstico"));

    auto* copy = new QPushButton(QStringLiteral("Copiar"), this);
    copy->setObjectName(QStringLiteral("copyDiagnosisButton"));
    copy->setAccessibleName(QStringLiteral("Copiar el diagnóstico"));
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_text->toPlainText()); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copy);
    auto* l = new QVBoxLayout(this);
    l->addWidget(m_text, 1);
    l->addLayout(buttons);
    resize(620, 420);
}

void DiagnosisWindow::showReport(const QString& report) {
    m_text->setPlainText(report);
    show();
    raise();
    activateWindow();
}

QString DiagnosisWindow::report() const {
    return m_text->toPlainText();
}

} // namespace morvane
