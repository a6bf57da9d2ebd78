#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace morvane {

// "Ver diagnóstico": the diagnosis report as `morvane --diagnose` prints it, in a small window
// with "Copiar", which puts the whole text on the clipboard for a bug report. Closing hides it.
class DiagnosisWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DiagnosisWindow(QWidget* parent = nullptr);

    // Shows `report` and brings the window to the front.
    void showReport(const QString& report);
    QString report() const;

private:
    QPlainTextEdit* m_text;
};

} // namespace morvane
