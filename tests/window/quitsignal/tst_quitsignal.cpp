// The program ends in good order when told to, even with a box open inside
// the sheet. A program of its own: once told to end, no event loop in the
// process runs again.
#include "alerts.h"
#include "quitsignal.h"
#include "resource.h"
#include "setupapp.h"
#include "testmain.h"

#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

// SIGTERM unless the test is run for another: once told to end, no event
// loop here runs again, so each signal needs a process of its own.
int SignalUnderTest()
{
    const QByteArray name = qgetenv("NORVANE_TEST_SIGNAL");
    return name == "INT" ? SIGINT : name == "HUP" ? SIGHUP : SIGTERM;
}

TEST(QuitOnSignal, TheSignalClosesTheOpenBoxAndTheSheet)
{
    const int nSignal = SignalUnderTest();
    alarm(60);  // a hang fails the test rather than the suite's time-out
    CQuitOnSignal quit;
    bool bBoxShown = false;
    bool bLaterAnswer = true;
    // In the running sheet a real box opens, and the signal arrives while it
    // waits for its OK; a question asked after that must not wait at all.
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            bBoxShown = ModalDepth() == 1;
            ::raise(nSignal);
        });
        ShowAlert(IDS_REBOOT_DONE);
        bLaterAnswer = AskQuestion(IDS_CONFIRM_REBOOT);
    });
    CSetupApp theApp;
    theApp.InitInstance();
    alarm(0);
    EXPECT_TRUE(bBoxShown);
    EXPECT_EQ(quit.ReceivedSignal(), nSignal);
    EXPECT_FALSE(bLaterAnswer) << "a question after the signal counts as No";
    EXPECT_EQ(ModalDepth(), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}
