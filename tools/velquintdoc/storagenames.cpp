#include "storagenames.h"

#include "session.h"

#include "platform/ansicodepage.h"
#include "store/tvelquintdoc.h"

#include <QRegularExpression>

#include <limits>

namespace velquintdoc {

namespace {

// The name the short form text stands for; empty when text is not a short form.
QByteArray ExpandShortForm(const QString& text) {
    static const QRegularExpression shortForm(QStringLiteral("^[fF]([0-9A-Fa-f]{1,8})$"));
    const QRegularExpressionMatch match = shortForm.match(text);
    if (!match.hasMatch())
        return {};
    bool ok = false;
    const qulonglong number = match.captured(1).toULongLong(&ok, 16);
    if (!ok || number > std::numeric_limits<uint32_t>::max())
        return {};
    // The document formats its counter as unsigned: past 7FFFFFFF the names go on to FFFFFFFF.
    return store::TVelquintDoc::FormatElementName('f', static_cast<int32_t>(number));
}

} // namespace

store::TFolder& FindItem(const store::TVelquintDoc& doc, const QString& text) {
    if (store::TFolder* const exact = doc.FolderByStorageName(text.toUtf8()))
        return *exact;
    if (const QByteArray expanded = ExpandShortForm(text); !expanded.isEmpty()) {
        if (store::TFolder* const item = doc.FolderByStorageName(expanded))
            return *item;
    }
    throw ToolError(QStringLiteral("no folder or channel with storage name \"%1\"").arg(text));
}

QString ShortName(const QByteArray& storageName) {
    if (storageName.size() == 29 && (storageName.startsWith('f') || storageName.startsWith('t'))) {
        const char letter = storageName.at(0);
        const QByteArray digits = storageName.mid(1).trimmed();
        bool ok = false;
        const uint number = digits.toUInt(&ok, 16);
        if (ok && store::TVelquintDoc::FormatElementName(letter, static_cast<int32_t>(number)) ==
                      storageName)
            return QChar::fromLatin1(letter) + QString::fromLatin1(digits);
    }
    return platform::AnsiToWide(storageName);
}

QString ShortPath(const QByteArray& storagePath) {
    QStringList elements;
    for (const QByteArray& element : storagePath.split('\\'))
        elements.append(ShortName(element));
    return elements.join(u'\\');
}

} // namespace velquintdoc
