#include "statefile.h"

#include "flashinfofile.h"
#include "messages.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
constexpr int STATE_VERSION = 1;
// Ten thousand appliances take about 2 MB.
constexpr qint64 MAX_STATE_BYTES = 64 * 1024 * 1024;

bool ReadStrings(const QJsonValue& value, QStringList& list)
{
    if (!value.isArray())
        return false;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return false;
        list << item.toString();
    }
    return true;
}
} // namespace

CStateFile::CStateFile(QString strPath, QString strCommand)
    : m_strPath(std::move(strPath)), m_strCommand(std::move(strCommand))
{
}

QByteArray CStateFile::Text(const WatchState& state) const
{
    QJsonArray believed;
    for (const Appliance& a : state.believed)
        believed.append(QJsonObject{{"mac", a.strMac},
                                    {"ip", a.strIp},
                                    {"serial", a.strSerial},
                                    {"interfaces", QJsonArray::fromStringList(a.interfaces)},
                                    {"found_by", QJsonArray::fromStringList(a.foundBy)}});
    QJsonArray done;
    for (const ZeroTouchDone& d : state.done) {
        QJsonArray corrections;
        for (const qint64 nWhen : d.corrections)
            corrections.append(double(nWhen));
        done.append(QJsonObject{{"mac", d.strMacKey},
                                {"ip", d.strIp},
                                {"moved", d.bMoved},
                                {"numbered", d.bNumbered},
                                {"corrections", corrections}});
    }
    const QJsonObject object{{"norvane_state", STATE_VERSION},
                             {"command", m_strCommand},
                             {"believed", believed},
                             {"done", done}};
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool CStateFile::Parse(const QByteArray& text, WatchState& state, QString& strWhy) const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (!document.isObject()) {
        strWhy = error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("no JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    if (object.value(QLatin1String("norvane_state")).toInt() != STATE_VERSION ||
        object.value(QLatin1String("command")).toString() != m_strCommand) {
        strWhy = QStringLiteral("not the state of norvane %1").arg(m_strCommand);
        return false;
    }
    WatchState read;
    for (const QJsonValue& value : object.value(QLatin1String("believed")).toArray()) {
        const QJsonObject o = value.toObject();
        Appliance a = Appliance::Heard(o.value(QLatin1String("mac")).toString(),
                                       o.value(QLatin1String("ip")).toString(),
                                       o.value(QLatin1String("serial")).toString(), 0);
        a.nFrom = a.nIp;
        if (a.strMacKey.isEmpty() || !a.bIp || !ReadStrings(o.value(QLatin1String("interfaces")), a.interfaces) ||
            !ReadStrings(o.value(QLatin1String("found_by")), a.foundBy)) {
            strWhy = QStringLiteral("an appliance with no MAC or address");
            return false;
        }
        read.believed.append(a);
    }
    for (const QJsonValue& value : object.value(QLatin1String("done")).toArray()) {
        const QJsonObject o = value.toObject();
        ZeroTouchDone d{o.value(QLatin1String("mac")).toString(), o.value(QLatin1String("ip")).toString(),
                        o.value(QLatin1String("moved")).toBool(), o.value(QLatin1String("numbered")).toBool(), {}};
        const Appliance check = Appliance::Heard(d.strMacKey, d.strIp, {}, 0);
        if (check.strMacKey != d.strMacKey || !check.bIp) {
            strWhy = QStringLiteral("a promise with no MAC or address");
            return false;
        }
        for (const QJsonValue& when : o.value(QLatin1String("corrections")).toArray())
            d.corrections.append(qint64(when.toDouble()));
        read.done.append(d);
    }
    state = read;
    return true;
}

WatchState CStateFile::Load()
{
    WatchState state;
    if (m_strPath.isEmpty())
        return state;
    QFile file(m_strPath);
    if (!file.exists()) {
        Warn(QStringLiteral("no state in %1 yet: a clean start").arg(m_strPath));
        return state;
    }
    QString strWhy;
    QByteArray text;
    if (!file.open(QIODevice::ReadOnly))
        strWhy = file.errorString();
    else if ((text = file.read(MAX_STATE_BYTES + 1)).size() > MAX_STATE_BYTES)
        strWhy = QStringLiteral("too large");
    else if (Parse(text, state, strWhy))
        m_written = text;
    if (!strWhy.isEmpty())
        Warn(QStringLiteral("the state in %1 is unusable (%2): a clean start").arg(m_strPath, strWhy));
    return state;
}

void CStateFile::Save(const WatchState& state)
{
    if (m_strPath.isEmpty())
        return;
    const QByteArray text = Text(state);
    if (text == m_written)
        return;
    QString strError;
    if (SaveWholeFile(m_strPath, text, strError) != FlashFileResult::Ok) {
        // Said once while it lasts; the run goes on, and so does trying.
        if (!m_bFailing)
            Warn(QStringLiteral("cannot keep the state in %1: %2").arg(m_strPath, strError));
        m_bFailing = true;
        return;
    }
    if (m_bFailing)
        Note(QStringLiteral("the state is kept in %1 again").arg(m_strPath));
    m_bFailing = false;
    m_written = text;
}
