// A hostile segment: norvane-sim floods the running page with 100,000 mixed
// datagrams (valid and unsolicited replies of every type, error statuses,
// garbage, empty, truncated, oversized, wrong source port) while boxes nest.
// Nothing may crash, memory stays bounded, boxes never nest past their cap,
// and a discovery afterwards lists exactly the appliances present.
#include "alerts.h"
#include "recorder.h"
#include "residentmemory.h"
#include "setupsheet.h"
#include "simprocess.h"
#include "testmain.h"
#include "waitfor.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(HostileSegment, FloodLeavesThePageWhole)
{
    constexpr int FLOOD = 100000;
    CRecorderUi ui;
    CSetupSheet sheet(QStringLiteral("hostile"));
    sheet.OnInitDialog();
    CChooseDlg& page = sheet.m_pageChoose;
    // Only the flood and the one discovery below may touch the list.
    page.KillTimer(TIMER_FIRST_DISCOVERY);
    page.KillTimer(TIMER_REFRESH);

    // Now and then a box stays open for a moment: the datagrams that arrive
    // meanwhile are handled inside it, and their boxes nest.
    int nBoxes = 0;
    ui.onMessage = [&](const QString&) {
        if (++nBoxes % 64 == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    };
    const double dRssBefore = ResidentMiB();

    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--count", "3", "--flood", QString::number(FLOOD), "--unsolicited-to",
                           QStringLiteral("10.200.0.1:%1").arg(page.m_socket.LocalPort())}));
    ASSERT_TRUE(WaitFor([&] { return sim.ErrorOutput().contains("flood sent="); }, 120000));

    // Handled once the counts stop moving.
    const auto handled = [&] {
        const DeviceReceiveStats& s = page.m_socket.Stats();
        return s.nReceiveErrors + s.nWrongPort + s.nTooShort + s.nStatusErrors + s.nReplies + s.nIgnored;
    };
    quint64 nLast = 0;
    while (WaitFor([&] { return handled() != nLast; }, 1000))
        nLast = handled();

    const DeviceReceiveStats& stats = page.m_socket.Stats();
    const QString strFlood =
        QRegularExpression(QStringLiteral("flood [^\n]*")).match(sim.ErrorOutput()).captured(0);
    std::printf("hostile %s\nhostile handled=%llu replies=%llu ignored=%llu status_errors=%llu receive_errors=%llu "
                "wrong_port=%llu too_short=%llu boxes=%lld max_box_depth=%d rss_growth_mb=%.1f\n",
                qPrintable(strFlood), static_cast<unsigned long long>(handled()),
                static_cast<unsigned long long>(stats.nReplies), static_cast<unsigned long long>(stats.nIgnored),
                static_cast<unsigned long long>(stats.nStatusErrors),
                static_cast<unsigned long long>(stats.nReceiveErrors),
                static_cast<unsigned long long>(stats.nWrongPort), static_cast<unsigned long long>(stats.nTooShort),
                static_cast<long long>(ui.m_messages.size()), ui.m_nMaxDepth, ResidentMiB() - dRssBefore);

    EXPECT_GT(handled(), quint64(FLOOD / 2)); // most of the flood got through the kernel buffer
    EXPECT_GT(stats.nStatusErrors, 0u);
    EXPECT_GT(stats.nReceiveErrors, 0u);
    EXPECT_GT(stats.nWrongPort, 0u);
    EXPECT_EQ(ui.m_nMaxDepth, MAX_MODAL_DEPTH);
    EXPECT_EQ(ModalDepth(), 0);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(ResidentMiB() - dRssBefore, 256.0); // the sanitizer keeps freed memory aside
#else
    EXPECT_LT(ResidentMiB() - dRssBefore, 100.0);
#endif
    EXPECT_EQ(page.m_nDeviceCount, page.m_listDevices->GetItemCount());

    // The segment is quiet again: a refresh lists exactly the three appliances.
    ui.onMessage = nullptr;
    ui.m_messages.clear();
    page.OnTimer(TIMER_REFRESH);
    ASSERT_TRUE(WaitFor([&] { return page.m_listDevices->GetItemCount() >= 3; }));
    WaitFor([] { return false; }, 300);
    ASSERT_EQ(page.m_listDevices->GetItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString strLine = QStringLiteral("appliance mac=%1 ip=%2 ")
                                    .arg(page.m_listDevices->GetItemText(i, 0), page.m_listDevices->GetItemText(i, 1));
        EXPECT_TRUE(sim.Output().contains(strLine)) << qPrintable(strLine);
    }
    EXPECT_TRUE(ui.m_messages.isEmpty());
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}
