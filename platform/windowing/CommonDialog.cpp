#include "platform/windowing/CommonDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace windowing {

namespace {
CommonDialog::Responder g_responder;

QSettings memory()
{
    return QSettings(QStringLiteral("kurimo"), QStringLiteral("kurimo"));
}

const QString kFolderKey = QStringLiteral("open-dialog/folder");
const QString kEntryKey = QStringLiteral("open-dialog/entry");

// "description|pattern|..." as pairs.
QList<std::pair<QString, QString>> entries(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QList<std::pair<QString, QString>> pairs;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        pairs.append({parts[i], QStringLiteral("%1 (%2)").arg(parts[i], patterns)});
    }
    return pairs;
}

} // namespace

void CommonDialog::setResponder(Responder responder)
{
    g_responder = std::move(responder);
}

QString CommonDialog::toQtFilter(const QString &filter)
{
    QStringList qtEntries;
    for (const auto &[description, entry] : entries(filter))
        qtEntries << entry;
    return qtEntries.join(QLatin1String(";;"));
}

QString CommonDialog::qtFilterEntry(const QString &filter, const QString &description)
{
    for (const auto &[name, entry] : entries(filter))
        if (name == description)
            return entry;
    return {};
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
    const bool open = mode == Mode::Open;
    Request request{mode, m_title, m_filter, m_fileName, {}, {}, {}};
    if (open) {
        const QSettings settings = memory();
        request.folder = settings.value(kFolderKey).toString();
        request.filterEntry = settings.value(kEntryKey).toString();
        // A folder that has gone since is no place to start: the working folder is.
        if (!QFileInfo(request.folder).isDir())
            request.folder = QDir::currentPath();
    }
    if (g_responder) {
        m_fileName = g_responder(request);
    } else {
        QFileDialog dialog(parent, m_title, request.folder, toQtFilter(m_filter));
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        const QString startEntry = qtFilterEntry(m_filter, request.filterEntry);
        if (!startEntry.isEmpty())
            dialog.selectNameFilter(startEntry);
        if (!open && !m_fileName.isEmpty())
            dialog.selectFile(m_fileName);
        m_fileName = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                         ? dialog.selectedFiles().first()
                         : QString();
        for (const auto &[description, entry] : entries(m_filter))
            if (entry == dialog.selectedNameFilter())
                request.chosenEntry = description;
    }
    if (!open || m_fileName.isEmpty())
        return;
    QSettings settings = memory();
    settings.setValue(kFolderKey, QFileInfo(m_fileName).absolutePath());
    if (!request.chosenEntry.isEmpty())
        settings.setValue(kEntryKey, request.chosenEntry);
}

} // namespace windowing
