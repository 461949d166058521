#include "platform/windowing/CommonDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace windowing {

namespace {
CommonDialog::Responder g_responder;
}

void CommonDialog::setResponder(Responder responder)
{
    g_responder = std::move(responder);
}

QString CommonDialog::toQtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return entries.join(QLatin1String(";;"));
}

void CommonDialog::showOpen(QWidget *parent)
{
    show(Mode::Open, parent);
}

void CommonDialog::showSave(QWidget *parent)
{
    show(Mode::Save, parent);
}

void CommonDialog::show(Mode mode, QWidget *parent)
{
    if (m_nextAnswer) {
        m_fileName = *m_nextAnswer;
        m_nextAnswer.reset();
        return;
    }
    Request request{mode, m_title, m_filter, m_fileName};
    if (g_responder) {
        m_fileName = g_responder(request);
        return;
    }
    QFileDialog dialog(parent, m_title, QString(), toQtFilter(m_filter));
    dialog.setAcceptMode(mode == Mode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(mode == Mode::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (mode == Mode::Save && !m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    m_fileName = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                     ? dialog.selectedFiles().first()
                     : QString();
}

} // namespace windowing
