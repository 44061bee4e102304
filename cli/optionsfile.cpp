#include "optionsfile.h"

#include "messages.h"

#include <QFile>
#include <QRegularExpression>

namespace {
// An options file is a few lines; anything larger is no options file.
constexpr qint64 MAX_OPTIONS_BYTES = 64 * 1024;
} // namespace

QStringList ParseOptionsFile(const QByteArray& text, const QString& strName, QStringList& problems)
{
    static const QRegularExpression name(QStringLiteral("^(?:--)?([a-z][a-z-]*)$"));
    QStringList args;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString strLine = QString::fromUtf8(lines[i]).trimmed();
        if (strLine.isEmpty() || strLine.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype nSpace = strLine.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString strKey = nSpace < 0 ? strLine : strLine.left(nSpace);
        const QString strValue = nSpace < 0 ? QString() : strLine.mid(nSpace).trimmed();
        const QRegularExpressionMatch match = name.match(strKey);
        const QString strWhere = QStringLiteral("%1:%2: ").arg(strName).arg(i + 1);
        if (!match.hasMatch()) {
            problems << strWhere + QStringLiteral("a line is an option's name, then its value");
            continue;
        }
        const QString strOption = match.captured(1);
        if (strOption == QLatin1String("password")) {
            problems << strWhere + QStringLiteral("no password here: give it by --password-file or a credential");
        } else if (strOption == QLatin1String("options-file")) {
            problems << strWhere + QStringLiteral("an options file names no other");
        } else if (strOption == QLatin1String("plan")) {
            if (strValue.isEmpty() || strValue == QLatin1String("-"))
                problems << strWhere + QStringLiteral("plan takes the path of the plan's file");
            args << strValue;
        } else {
            args << QStringLiteral("--") + strOption;
            if (!strValue.isEmpty())
                args << strValue;
        }
    }
    return args;
}

QStringList ReadOptionsFile(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        Usage(QStringLiteral("cannot read the options file %1: %2").arg(strPath, file.errorString()));
    const QByteArray text = file.read(MAX_OPTIONS_BYTES + 1);
    if (text.size() > MAX_OPTIONS_BYTES)
        Usage(QStringLiteral("%1 is no options file: more than %2 bytes").arg(strPath).arg(MAX_OPTIONS_BYTES));
    QStringList problems;
    const QStringList args = ParseOptionsFile(text, strPath, problems);
    for (const QString& strProblem : std::as_const(problems))
        Note(strProblem);
    if (!problems.isEmpty())
        Usage(QStringLiteral("the options file %1 is refused (%2 to mend)").arg(strPath).arg(problems.size()));
    return args;
}
