#include "messages.h"

#include "exitcodes.h"
#include "terminal.h"

void Note(const QString& strText)
{
    Err(QStringLiteral("norvane: ") + strText + QLatin1Char('\n'));
}

void Warn(const QString& strText)
{
    Note(QStringLiteral("warning: ") + strText);
}

void Fail(int nExit, const QString& strText)
{
    Note(strText);
    throw CExit{nExit};
}

void Usage(const QString& strText)
{
    Fail(EXIT_USAGE, strText);
}
