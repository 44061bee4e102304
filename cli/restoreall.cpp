// norvane restore-all: DIR/<MAC>.cfg, as backup-all writes them, loaded back
// into each appliance that answers with that MAC, one fleet job each
// (fleet.h). Every file is read and checked before anything is sent.
#include "subcommands.h"

#include "exitcodes.h"
#include "flashinfofile.h"
#include "fleetreport.h"
#include "messages.h"
#include "resource.h"
#include "session.h"
#include "steps.h"
#include "targets.h"
#include "terminal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

namespace {
struct ImageFile {
    QString strPath;
    QByteArray image;
};

class CRestoreJob : public CFleetJob {
public:
    // pAppliance: the one answering with the file's MAC; null when none does.
    CRestoreJob(const Appliance* pAppliance, const QString& strMac, const ImageFile& file)
        : CFleetJob(pAppliance ? *pAppliance : Appliance{.strMac = strMac, .strMacKey = strMac}), m_file(file)
    {
        if (!pAppliance)
            Settle(QStringLiteral("no appliance answers for this MAC (%1)").arg(file.strPath));
    }

    QJsonObject ReportEntry() const override
    {
        const bool bFound = !m_appliance.strIp.isEmpty();
        return QJsonObject{
            {"mac", m_appliance.strMac},
            {"ip", bFound ? QJsonValue(m_appliance.strIp) : QJsonValue()},
            {"serial", bFound ? QJsonValue(m_appliance.strSerial) : QJsonValue()},
            {"file", m_file.strPath},
            {"sha256",
             QString::fromLatin1(QCryptographicHash::hash(m_file.image, QCryptographicHash::Sha256).toHex())},
            {"outcome", Succeeded() ? QStringLiteral("ok") : bFound ? QStringLiteral("failed") : QStringLiteral("not found")},
            {"attempts", m_nAttempts},
            {"error", Succeeded() ? QJsonValue() : QJsonValue(Error())},
        };
    }

private:
    void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) override
    {
        const DeviceRequest request{DM_PUT_FLASHINFO, options.strPassword, m_appliance.strIp, m_appliance.nInterface,
                                    {}, {}, m_file.image};
        session.Start(request, options.nTimeoutMs,
                      [end = calls.end](const RequestResult& result) { end(AttemptEnd::Of(result)); });
    }

    ImageFile m_file;
};

// An appliance chosen that has no file: in the report, left as it is.
QJsonObject UntouchedEntry(const Appliance& a)
{
    return QJsonObject{{"mac", a.strMac},        {"ip", a.strIp},  {"serial", a.strSerial},
                       {"file", QJsonValue()},   {"sha256", QJsonValue()}, {"outcome", QStringLiteral("no file")},
                       {"attempts", 0},          {"error", QJsonValue()}};
}

// Every DIR/<MAC>.cfg by its MAC, each read whole; refused, every problem
// named, when one cannot be an image: an entry named like an image that is
// no readable regular file is a mistake to be told (a directory left by a
// copy, a link to nothing), never one to pass over.
std::map<QString, ImageFile> ReadImages(const QString& strDir)
{
    const QFileInfo dirInfo(strDir);
    if (!dirInfo.isDir())
        Usage(QStringLiteral("not a directory: %1").arg(strDir));
    // QDir lists a directory it cannot read as empty; the system says why.
    std::error_code error;
    QStringList names;
    for (std::filesystem::directory_iterator it(dirInfo.filesystemFilePath(), error), end; !error && it != end;
         it.increment(error)) {
        const QString strName = QFileInfo(it->path()).fileName();
        if (strName.endsWith(QLatin1String(".cfg"), Qt::CaseInsensitive))
            names << strName;
    }
    if (error)
        Usage(QStringLiteral("cannot list %1: %2; nothing was sent").arg(strDir, QString::fromLocal8Bit(error.message())));
    names.sort();

    const QDir dir(strDir);
    std::map<QString, ImageFile> images;
    QStringList problems;
    for (const QString& strName : std::as_const(names)) {
        const QString strPath = dir.filePath(strName);
        const QFileInfo info(strPath);
        const QString strMac = CanonicalMac(info.completeBaseName());
        if (strMac.isEmpty()) {
            Warn(QStringLiteral("%1: not named after a MAC address; left out").arg(strPath));
            continue;
        }
        if (images.count(strMac)) {
            problems << QStringLiteral("%1 and %2 are both for %3").arg(images[strMac].strPath, strPath, strMac);
            continue;
        }
        // Opening a FIFO would wait for a writer.
        if (!info.isFile()) {
            const std::errc why = info.isDir()                              ? std::errc::is_a_directory
                                  : info.isSymLink() && !info.exists()      ? std::errc::no_such_file_or_directory
                                                                            : std::errc::invalid_argument;
            problems << QStringLiteral("%1: not a regular file%2")
                            .arg(strPath, why == std::errc::invalid_argument
                                              ? QString()
                                              : QStringLiteral(": ") +
                                                    QString::fromLocal8Bit(std::make_error_code(why).message()));
            continue;
        }
        QByteArray image(FLASHINFO_SIZE, '\0');
        QString strError;
        switch (LoadFlashInfoFile(strPath, reinterpret_cast<unsigned char*>(image.data()), strError)) {
        case FlashFileResult::Ok:
            images[strMac] = {strPath, image};
            break;
        case FlashFileResult::ShortFile:
            problems << QStringLiteral("%1 holds fewer than %2 bytes: not an image").arg(strPath).arg(FLASHINFO_SIZE);
            break;
        default:
            problems << QStringLiteral("cannot read %1: %2").arg(strPath, strError);
        }
    }
    if (!problems.isEmpty()) {
        for (const QString& strProblem : problems)
            Note(strProblem);
        Usage(QStringLiteral("nothing was sent"));
    }
    if (images.empty())
        Usage(QStringLiteral("no <MAC>.cfg file in %1; nothing was sent").arg(strDir));
    return images;
}
} // namespace

int RunRestoreAll(CContext& ctx)
{
    FleetStart start = ReadFleetStart(ctx, "restore-all");
    FleetOptions& options = start.options;
    const QRegularExpression& match = start.match;
    CheckConfirmable(ctx, "restore");
    const std::map<QString, ImageFile> images = ReadImages(ctx.args[0]);
    if (!options.strReport.isEmpty()) {
        QStringList files;
        for (const auto& [strMac, file] : images)
            files << file.strPath;
        CheckReportApart(ctx, options.strReport, files, ctx.args[0]);
        CheckWritable(options.strReport);
    }
    options.strPassword = ReadPassword(ctx);

    const FleetFound discovered = DiscoverFleet(ctx, start);
    const QList<Appliance>& found = discovered.all;
    const QList<Appliance>& chosen = discovered.chosen;
    std::vector<std::unique_ptr<CRestoreJob>> jobs;
    QJsonArray untouched;
    QHash<QString, const Appliance*> answering; // every appliance found, by MAC
    for (const Appliance& a : found)
        answering.insert(a.strMacKey, &a);
    QHash<QString, const Appliance*> byMac; // those chosen
    QStringList withoutFile;
    for (const Appliance& a : chosen) {
        byMac.insert(a.strMacKey, &a);
        if (!images.count(a.strMacKey)) {
            withoutFile << QStringLiteral("%1 (%2)").arg(a.strMac, a.strIp);
            untouched.append(UntouchedEntry(a));
        }
    }
    // Hundreds of lines would bury the question: the report has them all.
    constexpr qsizetype nShown = 5;
    if (!withoutFile.isEmpty())
        Note(QStringLiteral("%1 appliances have no file in %2 and are left as they are: %3%4")
                 .arg(withoutFile.size())
                 .arg(ctx.args[0], QStringList(withoutFile.mid(0, nShown)).join(QStringLiteral(", ")),
                      withoutFile.size() > nShown ? QStringLiteral(", ...") : QString()));

    int nToLoad = 0;
    for (const auto& [strMac, file] : images) {
        const Appliance* pChosen = byMac.value(strMac);
        // A file for an appliance that answers but is not chosen is not wanted.
        if (!pChosen && answering.contains(strMac))
            continue;
        if (!pChosen && ctx.IsSet("match") && !match.match(strMac).hasMatch() &&
            !match.match(QFileInfo(file.strPath).completeBaseName()).hasMatch())
            continue;
        if (!pChosen)
            Note(QStringLiteral("%1: no appliance answers for %2").arg(file.strPath, strMac));
        nToLoad += pChosen != nullptr;
        jobs.push_back(std::make_unique<CRestoreJob>(pChosen, strMac, file));
    }
    if (!nToLoad) {
        int nExit = EXIT_NONE_MATCHED;
        if (chosen.isEmpty())
            nExit = NoneChosen(ctx, found.size());
        else
            Note(QStringLiteral("none of the %1 appliances chosen has a file in %2").arg(chosen.size()).arg(ctx.args[0]));
        return EndUnrun(options, nExit, JobList(jobs), LeftAlone(untouched));
    }
    Note(QStringLiteral("%1 appliances will get the image of their file").arg(nToLoad));
    Confirm(ctx, IDS_CONFIRM_LOAD);
    RefuseUnsafe(JobList(jobs), false);
    return RunFleet(*ctx.pSession, options, JobList(jobs), [] { return QStringLiteral("restored"); }, {},
                    LeftAlone(untouched));
}
