#include "setupapp.h"

#include "alerts.h"
#include "resource.h"
#include "setupsheet.h"
#include "stringtable.h"

#include <QCommandLineParser>
#include <QUdpSocket>

#include <cstdio>

bool CSetupApp::SocketInit()
{
    // Qt needs no start-up of its socket layer; the nearest equivalent is
    // whether an IPv4 datagram socket can be opened at all.
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, 0);
}

void CSetupApp::RunSheet(CSetupSheet& sheet)
{
    sheet.DoModal();
}

bool CSetupApp::ParseCommandLine(const QStringList& args, QString& strMessage, bool& bHelp)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds Norvane appliances and sets them up."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"scan",
                      QStringLiteral("Also sends discovery by unicast to every address of CIDR (10.9.0.0/24; "
                                     "repeatable, or a comma list) with each refresh: finds appliances behind "
                                     "routers. At most %1 addresses in all.")
                          .arg(WINDOW_SCAN_MAX_ADDRESSES),
                      "CIDR"});
    bHelp = false;
    if (!parser.parse(args)) {
        strMessage = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        bHelp = true;
        strMessage = parser.isSet(QStringLiteral("help"))
                         ? parser.helpText()
                         : QStringLiteral("norvane-setup %1\n").arg(QStringLiteral(NORVANE_VERSION));
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        strMessage = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return false;
    }
    for (const QString& strList : parser.values(QStringLiteral("scan"))) {
        if (!m_scanRanges.Add(strList, strMessage)) {
            strMessage = QStringLiteral("--scan: ") + strMessage;
            return false;
        }
    }
    if (m_scanRanges.Count() > WINDOW_SCAN_MAX_ADDRESSES) {
        strMessage = QStringLiteral("--scan covers %1 addresses; the window sweeps at most %2 with each refresh "
                                    "(norvane discover --scan takes more)")
                         .arg(m_scanRanges.Count())
                         .arg(WINDOW_SCAN_MAX_ADDRESSES);
        return false;
    }
    return true;
}

int CSetupApp::Run(const QStringList& args)
{
    QString strMessage;
    bool bHelp = false;
    if (!ParseCommandLine(args, strMessage, bHelp)) {
        std::fprintf(bHelp ? stdout : stderr, bHelp ? "%s" : "norvane-setup: %s\n", qPrintable(strMessage));
        return bHelp ? 0 : 2;
    }
    InitInstance();
    return 0;
}

bool CSetupApp::InitInstance()
{
    if (!SocketInit()) {
        ShowAlert(IDS_SOCKET_STARTUP_FAILED);
        return false;
    }
    QString strCaption;
    LoadString(IDS_SHEET_CAPTION, strCaption);
    CSetupSheet sheet(strCaption, nullptr, 0);
    sheet.m_pageChoose.SetScanRanges(m_scanRanges);
    RunSheet(sheet);
    return false;
}
