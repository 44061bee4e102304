// Message texts, ShowAlert and the bounds on nested boxes.
#include "alerts.h"
#include "recorder.h"
#include "resource.h"
#include "stringtable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(MessageTexts, EveryTextReadsExactly)
{
    const std::pair<unsigned, const char*> expected[] = {
        {103, "Windows sockets initialization failed."},
        {104, "UDP Socket Creation fails"},
        {105, "No Response !!!"},
        {106, "Invalid IP Address"},
        {107, "Bad IP Address"},
        {108, "The old-version Norvane detected.\nUse Norvane Setup Program v1.0"},
        {109, "Rebooting ... OK."},
        {110, "Invalid Password !!!"},
        {111, "Invalid REQUEST !!!"},
        {112, "Internal Error !!!"},
        {113, "FlashInfo Version Mismatched Error !!!"},
        {114, "UnKnown Error !!!"},
        {115, "IP Address changed - OK"},
        {116, "The selected Norvane will be rebooted. It takes 10 or 20 seconds. Do you want to reboot ... ?"},
        {117, "After replacing the configuration information, The Norvane will be rebooted. Are you sure?"},
        {118, "File Open Error"},
        {119, "Load FlashInfo ... OK."},
        {120, "ReceiveFrom error"},
        {121, "SendTo Error"},
        {122, "the Internet Explorer or Netscape Navigator not installed properly in your system."},
        {123, "Norvane Setup v1.2"},
    };
    for (const auto& [nId, pszText] : expected) {
        QString strText;
        EXPECT_TRUE(LoadString(nId, strText)) << nId;
        EXPECT_EQ(strText, QString::fromLatin1(pszText)) << nId;
    }
    QString strText = QStringLiteral("unchanged");
    EXPECT_FALSE(LoadString(102, strText));
    EXPECT_FALSE(LoadString(124, strText));
}

TEST(ShowAlert, ShowsTheTextOrLoadStringError)
{
    CRecorderUi ui;
    ShowAlert(IDS_OLD_DEVICE_VERSION);
    ShowAlert(999);
    ShowAlert(0);
    EXPECT_EQ(ui.m_messages, (QStringList{"The old-version Norvane detected.\nUse Norvane Setup Program v1.0",
                                          "LoadString Error", "LoadString Error"}));
    EXPECT_EQ(ModalDepth(), 0);
}

TEST(ShowAlert, BoxesRaisedWhileOneIsOpenStackUpToTheCap)
{
    CRecorderUi ui;
    ui.onMessage = [](const QString&) { ShowAlert(IDS_NO_RESPONSE); };
    ShowAlert(IDS_REBOOT_DONE);
    EXPECT_EQ(ui.m_messages.size(), MAX_MODAL_DEPTH);
    EXPECT_EQ(ui.m_messages.first(), QStringLiteral("Rebooting ... OK."));
    EXPECT_EQ(ui.m_nMaxDepth, MAX_MODAL_DEPTH);
    EXPECT_EQ(ModalDepth(), 0);
}

TEST(ShowAlert, SendErrorsAreHeldBackWhileOneIsOpen)
{
    CRecorderUi ui;
    int nRaised = 0;
    ui.onMessage = [&](const QString& strText) {
        if (strText == QLatin1String("SendTo Error") && nRaised++ == 0) {
            ShowAlert(IDS_SEND_ERROR); // the discovery timer failing again
            ShowAlert(IDS_NO_RESPONSE);
        }
    };
    ShowAlert(IDS_SEND_ERROR);
    EXPECT_EQ(ui.m_messages, (QStringList{"SendTo Error", "No Response !!!"}));
    ShowAlert(IDS_SEND_ERROR); // closed again: the next one shows
    EXPECT_EQ(ui.m_messages.size(), 3);
}

TEST(AskQuestion, AnswersAndCountsAsAModalWindow)
{
    CRecorderUi ui;
    ui.m_bAnswerYes = false;
    EXPECT_FALSE(AskQuestion(IDS_CONFIRM_REBOOT));
    ui.m_bAnswerYes = true;
    EXPECT_TRUE(AskQuestion(IDS_CONFIRM_LOAD));
    EXPECT_EQ(ui.m_questions.size(), 2);
    EXPECT_EQ(ui.m_nMaxDepth, 1);

    // Past the cap no question is asked and the answer is No.
    bool bAnswer = true;
    ui.onMessage = [&](const QString&) {
        if (ModalDepth() == MAX_MODAL_DEPTH)
            bAnswer = AskQuestion(IDS_CONFIRM_REBOOT);
        else
            ShowAlert(IDS_NO_RESPONSE);
    };
    ShowAlert(IDS_NO_RESPONSE);
    EXPECT_FALSE(bAnswer);
    EXPECT_EQ(ui.m_questions.size(), 2);
}

TEST(WidgetUi, RealBoxHasIconCaptionTextAndOneOkButton)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString strCaption, strText;
    QList<QAbstractButton*> buttons;
    QTimer::singleShot(0, [&] {
        auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(pBox, nullptr);
        icon = pBox->icon();
        strCaption = pBox->windowTitle();
        strText = pBox->text();
        buttons = pBox->buttons();
        pBox->button(QMessageBox::Ok)->click();
    });
    ShowAlert(IDS_SET_IP_DONE);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(strCaption, QStringLiteral("tst_alerts"));
    EXPECT_EQ(strText, QStringLiteral("IP Address changed - OK"));
    EXPECT_EQ(buttons.size(), 1);
}

// Boxes opened over boxes step down and to the right of the one below, so
// that a stack of alike boxes shows as several.
TEST(WidgetUi, NestedBoxesAreOffsetFromTheOneBelow)
{
    QList<QRect> frames;
    std::function<void()> onShown = [&] {
        frames << QApplication::activeModalWidget()->frameGeometry();
        if (frames.size() < 3) {
            QTimer::singleShot(0, onShown);
            ShowAlert(IDS_NO_RESPONSE);
        }
        static_cast<QDialog*>(QApplication::activeModalWidget())->done(0);
    };
    QTimer::singleShot(0, onShown);
    ShowAlert(IDS_NO_RESPONSE);
    ASSERT_EQ(frames.size(), 3);
    for (int i = 1; i < 3; ++i)
        EXPECT_TRUE(frames[i].left() > frames[i - 1].left() && frames[i].top() > frames[i - 1].top()) << i;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
