// Message texts, ShowAlert and the bounds on nested boxes.
#include "alerts.h"
#include "recorder.h"
#include "resource.h"
#include "stringtable.h"
#include "testmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

namespace {

// The table, not a copy of it: every number from the first text's to the
// last's has one entry, each number finds its own entry's text, and the
// texts are plain ASCII (fromLatin1 would show a UTF-8 character as two).
TEST(MessageTexts, EveryNumberFindsItsOwnText)
{
    const auto table = StringTable();
    ASSERT_EQ(table.size(), IDS_SHEET_CAPTION - IDS_SOCKET_STARTUP_FAILED + 1);
    std::set<unsigned> ids;
    for (const auto& [nId, pszText] : table) {
        SCOPED_TRACE(nId);
        ids.insert(nId);
        const std::string_view text(pszText);
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }));
        QString strText;
        EXPECT_TRUE(LoadString(nId, strText));
        EXPECT_EQ(strText, QString::fromLatin1(pszText));
    }
    EXPECT_EQ(ids.size(), table.size()) << "a number twice";
    EXPECT_EQ(*ids.begin(), IDS_SOCKET_STARTUP_FAILED);
    EXPECT_EQ(*ids.rbegin(), IDS_SHEET_CAPTION);
    QString strText = QStringLiteral("unchanged");
    EXPECT_FALSE(LoadString(IDS_SOCKET_STARTUP_FAILED - 1, strText));
    EXPECT_FALSE(LoadString(IDS_SHEET_CAPTION + 1, strText));
    EXPECT_EQ(strText, QStringLiteral("unchanged"));
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
    return RunTests(argc, argv);
}
