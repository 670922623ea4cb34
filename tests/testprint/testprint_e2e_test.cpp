// The Testing page used as an operator uses it, in the window: boxes chosen,
// the Test button pressed, and the two requests taken by the spool ticks and
// printed on a private CUPS scheduler's queue.
#include "app/mainwindow.h"
#include "app/serverfixture.h"
#include "testprint/testingpage.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

TEST(TestPrintEndToEnd, TheTestButtonsRequestsArePrintedOnTheChosenPrinter)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Lab-Laser", "-m drv:///sample.drv/generpcl.ppd"));
    ASSERT_TRUE(cups.AddQueue("Lab-Plain"));  // keeps the PDF, so its text can be read
    ASSERT_TRUE(cups.SetDefault("Lab-Laser"));
    TTestHome home;
    WriteFile(home.Dir / "templates/LH.doc", "{\\rtf1{\\header Pathology Laboratory\\par} x\\par}");
    WriteFile(home.Dir / "templates/P1.tpl", "{\\rtf1 Template test for <<PATSUR>>\\par}");
    WriteFile(home.Dir / "tags.txt", "3|PATSUR\r\n");
    home.WriteSettings(home.Critical() + "PRINTER1=Lab-Laser\r\nPRINTER2=Lab-Plain\r\n");
    TPrintServerForm form(home.Dir.Path(), &home.Prompts);
    ASSERT_TRUE(form.StartedUp());
    form.Server().Pipeline().Stop();  // the test runs the ticks itself
    form.show();

    form.OptionPages->setCurrentWidget(form.testingtab);
    TTestingPage& page = *form.testingtab;
    ASSERT_EQ(page.TestPrintNum->count(), 2);
    EXPECT_EQ(page.TestPrintNum->itemText(0), "1 - Lab-Laser");
    EXPECT_EQ(page.TestPrintNum->itemText(1), "2 - Lab-Plain");
    EXPECT_EQ(page.TestProcEdit->itemText(0), "P1");
    EXPECT_EQ(page.TestlhEdit->itemText(0), "LH");
    page.TestPrintNum->setCurrentIndex(0);
    emit page.TestPrintNum->activated(0);
    ASSERT_GE(page.PaperTrayCombo->findText("Tray 2"), 0) << "the trays of the printer's driver";
    EXPECT_FALSE(page.OverlayLabel->isEnabled()) << "no driver data: no overlays";
    page.TestPrintNum->setCurrentIndex(1);
    emit page.TestPrintNum->activated(1);
    EXPECT_EQ(page.PaperTrayCombo->count(), 0) << "a queue without a driver has no trays";
    page.TestlhEdit->setEditText("LH.doc");
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(page.TestlhEdit, &leave);
    EXPECT_EQ(page.TestlhEdit->currentText(), "LH") << "tidied on leaving the box";
    page.TestProcEdit->setEditText("P1");
    page.TestPrint->click();
    ASSERT_TRUE(page.TestInfo->isVisible());
    EXPECT_TRUE(home.Prompts.Questions.empty() && home.Prompts.Messages.empty());
    EXPECT_TRUE(page.TestInfo->text().startsWith("Test spooler files submitted."));

    TPrintServer& server = form.Server();
    for (int tick = 0; tick < 3; ++tick) {
        server.Pipeline().SpoolTimerTimer();
        if (server.Pipeline().State().PrintPending)
            server.Pipeline().printingtimerTimer();
    }
    const auto jobs = cups.Jobs("Lab-Plain", 2);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Title, "00000001 P1 Page 1");
    EXPECT_EQ(jobs[1].Title, "00000000 P1 Page 1");
    EXPECT_NE(TextOfPdf(jobs[0].Data).find("Template test for XXXXXXXXXXXXXXXXXXX"), std::string::npos)
        << TextOfPdf(jobs[0].Data);

    // The result test's lines, in their order.
    const std::string text = TextOfPdf(jobs[1].Data);
    std::size_t at = 0;
    for (const char* line : {"Pathology Laboratory", "TOVA PrintORB Test Result", "This line is underlined",
                             "This line is bold", "This line is italics", "This line has small fonts",
                             "This line has large font", "T h i s", "End Test Result."}) {
        const std::size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " after " << at << " in:\n" << text;
        at = found;
    }
}
