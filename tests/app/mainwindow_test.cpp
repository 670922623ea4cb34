#include "app/mainwindow.h"

#include "app/lightwidget.h"
#include "app/serverfixture.h"
#include "support/regfiles.h"
#include "app/settingstab.h"
#include "platform/docengine/view/resultbox.h"
#include "util/fileutil.h"
#include "printers/printerspage.h"
#include "testprint/testingpage.h"
#include "support/pipelineaccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QTableWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

struct TWindowHome : TTestHome {
    std::unique_ptr<TPrintServerForm> MakeForm(const std::string& extra = "PRINTER2=Laser A\r\nPRINTER10=Laser B\r\n")
    {
        WriteSettings(Critical() + extra);
        auto form = std::make_unique<TPrintServerForm>(Dir.Path(), &Prompts);
        form->show();
        return form;
    }
};

}  // namespace

TEST(MainWindow, StartsOnThePrintersPageWithItsLayout)
{
    TWindowHome home;
    auto form = home.MakeForm();
    ASSERT_TRUE(form->StartedUp());
    EXPECT_EQ(form->windowTitle(), "TovaORB Print Server 4.4.3 - 2206 Beta");
    EXPECT_EQ(form->OptionPages->currentWidget(), form->PrinterPage);
    QStringList tabs;
    for (int i = 0; i < form->OptionPages->count(); ++i)
        tabs << form->OptionPages->tabText(i);
    EXPECT_EQ(tabs, (QStringList {"Printers", "Log", "Settings", "Testing"}));
    EXPECT_EQ(form->PrintQueue->text(), "0000");
    EXPECT_EQ(form->LPRQueue->text(), "0000");
    EXPECT_EQ(form->Startstopbutton->text(), "Stop");
    EXPECT_FALSE(form->HideScribButton->isVisible());
    const TJobPipeline& pipeline = form->Server().Pipeline();
    EXPECT_TRUE(pipeline.State().Ticking);
    EXPECT_EQ(pipeline.State().TickInterval, 5000);
    EXPECT_FALSE(pipeline.State().PrintRunDue);
    EXPECT_EQ(pipeline.State().PrintRunInterval, 1500);
    EXPECT_EQ(form->width(), 578);
    EXPECT_EQ(form->minimumHeight(), 266);

    // The Printers page shows the table as loaded.
    ASSERT_EQ(form->PrinterPage->Printerlist->count(), 2);
    EXPECT_EQ(form->PrinterPage->Printerlist->item(0)->text(), "10=Laser B");
    EXPECT_EQ(form->PrinterPage->Printerlist->currentRow(), 0);
    EXPECT_EQ(form->PrinterPage->DefaultLabel->text(), "Default is :Laser B");
}

TEST(MainWindow, LightsAndCountersFollowTheServer)
{
    TWindowHome home;
    auto form = home.MakeForm();
    TIndicators& indicators = form->Server().Indicators();
    const QColor face = form->SpoolLight->palette().color(QPalette::Button);
    EXPECT_EQ(form->SpoolLight->PaintColor(), face);

    indicators.SetLight(TLight::Spool, TLightColor::Green);
    indicators.SetLight(TLight::Printing, TLightColor::Red);
    EXPECT_EQ(form->SpoolLight->Color(), TLightColor::Green);
    EXPECT_EQ(form->PrintingLight->PaintColor(), QColor(255, 0, 0));
    EXPECT_EQ(form->ConvertLight->Color(), TLightColor::Off);
    indicators.SetLight(TLight::Spool, TLightColor::Off);
    EXPECT_EQ(form->SpoolLight->PaintColor(), face);

    // Painted at once, without waiting for the event loop.
    indicators.SetLight(TLight::LPR, TLightColor::Green);
    const QImage shot = form->LPRLight->grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(0, 128, 0));

    indicators.SetPrintQueue(7);
    indicators.SetLPRQueue(12345);
    EXPECT_EQ(form->PrintQueue->text(), "0007");
    EXPECT_EQ(form->LPRQueue->text(), "12345");
}

TEST(MainWindow, StartStopSwitchesTheSpoolTimerOnly)
{
    TWindowHome home;
    auto form = home.MakeForm();
    TJobPipeline& pipeline = form->Server().Pipeline();
    pipeline.HoldSpool();
    TJobPipelineTestAccess::DuePrintRun(pipeline);
    form->StartstopbuttonClick();
    EXPECT_FALSE(pipeline.State().Ticking);
    EXPECT_EQ(form->Startstopbutton->text(), "Start");
    EXPECT_FALSE(pipeline.State().SpoolHeld);
    EXPECT_TRUE(pipeline.State().PrintRunDue);

    pipeline.HoldSpool();
    QTest::mouseClick(form->Startstopbutton, Qt::LeftButton);
    EXPECT_TRUE(pipeline.State().Ticking);
    EXPECT_EQ(form->Startstopbutton->text(), "Stop");
    EXPECT_FALSE(pipeline.State().SpoolHeld);
}

TEST(MainWindow, ShowAndHideScrib)
{
    TWindowHome home;
    auto form = home.MakeForm();
    form->ShowTXBtnClick();
    EXPECT_FALSE(form->OptionPages->isVisible());
    EXPECT_FALSE(form->MultiImage->isVisible());
    EXPECT_TRUE(form->ResultBox->isVisible());
    EXPECT_TRUE(form->HideScribButton->isVisible());
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);

    form->HideScribButtonClick();
    EXPECT_TRUE(form->OptionPages->isVisible());
    EXPECT_TRUE(form->MultiImage->isVisible());
    EXPECT_FALSE(form->HideScribButton->isVisible());
    EXPECT_FALSE(form->windowState() & Qt::WindowMaximized);
}

TEST(MainWindow, TheLeftPanelKeepsItsCountersAndLightsWhenHideScribShows)
{
    TWindowHome home;
    auto form = home.MakeForm();
    form->ShowTXBtnClick();
    form->showNormal();  // the window keeps its size: only the button appears
    form->resize(578, 326);
    QCoreApplication::processEvents();
    auto whole = [](QWidget* widget) { return widget->height() >= widget->minimumSizeHint().height(); };
    EXPECT_GE(form->QueuePanel->height(), form->QueuePanel->sizeHint().height());
    for (QWidget* part : std::initializer_list<QWidget*> {form->PrintQueue, form->LPRQueue, form->SpoolLight,
                                                          form->LPRLight, form->HideScribButton, form->Button2})
        EXPECT_TRUE(whole(part)) << part->metaObject()->className() << " " << part->height();
    EXPECT_LE(form->QueuePanel->geometry().bottom(), form->ImagePanel->height());
}

TEST(MainWindow, TheCountersReadWell)
{
    TWindowHome home;
    auto form = home.MakeForm();
    // Relative luminance and contrast as the web's accessibility rules define them.
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    for (QLabel* counter : {form->PrintQueue, form->LPRQueue}) {
        const double text = luminance(counter->palette().color(QPalette::WindowText));
        const double field = luminance(counter->palette().color(QPalette::Window));
        const double contrast = (std::max(text, field) + 0.05) / (std::min(text, field) + 0.05);
        EXPECT_GE(contrast, 4.5);
        EXPECT_TRUE(counter->autoFillBackground());
    }
}

TEST(MainWindow, AThreeOverlayListShowsWholeAtTheFirstSize)
{
    TWindowHome home;
    WriteFile(home.Dir / "printerdriverdata.reg",
              "REGEDIT4\r\n\r\n" + PrinterKey("Laser B") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
                  RegHex(MacroRecords({{1, "LAB LETTERHEAD"}, {2, "PATHOLOGY FORM"}, {3, "COPY"}})) + "\r\n");
    auto form = home.MakeForm();
    ASSERT_EQ(form->size(), QSize(578, 326));
    form->OverlayList().ShowOverlayList("Laser B");  // as choosing the printer does
    form->PrinterPage->Refresh();
    QCoreApplication::processEvents();
    QTableWidget* grid = form->PrinterPage->MacroValueList;
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->verticalScrollBar()->maximum(), 0) << "rows hidden below the grid";
    EXPECT_GE(grid->viewport()->height(), grid->rowViewportPosition(2) + grid->rowHeight(2));
}

TEST(MainWindow, PictureTopIsHalfThePanelLessHalfThePicture)
{
    EXPECT_EQ(TPrintServerForm::PrintingImageTop(326, 168), 79);
    EXPECT_EQ(TPrintServerForm::PrintingImageTop(301, 167), 67);  // 150 - 83
    EXPECT_EQ(TPrintServerForm::PrintingImageTop(100, 168), -34);

    TWindowHome home;
    auto form = home.MakeForm();
    form->resize(578, 600);
    QCoreApplication::processEvents();
    const QRect picture = form->PrintingImage->geometry();
    const QRect queue = form->QueuePanel->geometry();
    // Room to spare: the whole picture, and the queue panel right under it.
    EXPECT_EQ(picture.height(), 168);
    EXPECT_EQ(queue.top(), picture.bottom() + 1);
    EXPECT_LT(queue.bottom(), form->ImagePanel->height() - 1);
    EXPECT_EQ(picture.top(), TPrintServerForm::PrintingImageTop(queue.top(), picture.height()));
}

namespace {

QRect InPanel(const TPrintServerForm& form, const QWidget* widget)
{
    return QRect(widget->mapTo(form.ImagePanel, QPoint(0, 0)), widget->size());
}

// The counters, their captions' row and the four lights, as one block.
QRect CountersAndLights(const TPrintServerForm& form)
{
    QRect block;
    for (const QWidget* part : std::initializer_list<const QWidget*> {
             form.PrintQueue, form.LPRQueue, form.SpoolLight, form.ConvertLight, form.PrintingLight, form.LPRLight})
        block |= InPanel(form, part);
    return block;
}

void ResizeTo(TPrintServerForm& form, int width, int height)
{
    form.resize(width, height);
    QCoreApplication::processEvents();
}

}  // namespace

TEST(MainWindow, ALargeWindowKeepsTheLeftPanelsControlsTogetherAtTheTop)
{
    TWindowHome home;
    auto form = home.MakeForm();
    const int panelWidth = form->ImagePanel->width();
    const QRect small = CountersAndLights(*form);
    const QRect smallButtons = InPanel(*form, form->Startstopbutton) | InPanel(*form, form->Button2);
    ResizeTo(*form, 1300, 850);
    ASSERT_EQ(form->ImagePanel->height(), 850);

    EXPECT_EQ(form->ImagePanel->width(), panelWidth) << "the extra width goes to the pages";
    const QRect large = CountersAndLights(*form);
    EXPECT_LT(large.bottom(), form->ImagePanel->height() / 2) << "counters and lights drifted down";
    EXPECT_EQ(large.height(), small.height()) << "counters and lights drifted apart";
    // The picture shows whole and the controls follow right under it.
    const QRect picture = form->PrintingImage->geometry();
    EXPECT_EQ(picture.height(), 168);
    EXPECT_EQ(form->QueuePanel->geometry().top(), picture.bottom() + 1);
    const QRect buttons = InPanel(*form, form->Startstopbutton) | InPanel(*form, form->Button2);
    EXPECT_EQ(buttons.height(), smallButtons.height());
}

TEST(MainWindow, ALargeWindowGivesTheLogItsRoom)
{
    TWindowHome home;
    auto form = home.MakeForm();
    form->OptionPages->setCurrentWidget(form->LogPage);
    QCoreApplication::processEvents();
    const QSize small = form->logmemo->size();
    ResizeTo(*form, 1300, 850);
    const QSize large = form->logmemo->size();
    EXPECT_GE(large.height() - small.height(), 0.95 * (850 - 326));
    EXPECT_GE(large.width() - small.width(), 0.95 * (1300 - 578));
}

TEST(MainWindow, ALargeWindowGrowsThePrinterListsButNotTheirNames)
{
    TWindowHome home;
    auto form = home.MakeForm("PRINTER2=Laser A\r\nPRINTER10=Histology Lexmark T654 Level 2\r\n");
    TPrintersPage& page = *form->PrinterPage;
    const QSize smallList = page.Printerlist->size();
    const QSize smallGrid = page.MacroValueList->size();
    const int smallHost = page.IPEdit->width();
    ResizeTo(*form, 1300, 850);

    EXPECT_LE(page.Printerlist->width(), 260) << "a list of short lines stretched across the window";
    EXPECT_GE(page.Printerlist->width(), smallList.width());
    // Its longest line still shows whole.
    EXPECT_LE(page.Printerlist->sizeHintForColumn(0), page.Printerlist->viewport()->width());
    // The editing fields grow a little, not across the window.
    EXPECT_GE(page.IPEdit->width(), smallHost);
    EXPECT_LE(page.IPEdit->width(), 400);
    // The list and the overlay grid take the added height between them, the
    // grid all the added width.
    const int addedHeight =
        page.Printerlist->height() - smallList.height() + page.MacroValueList->height() - smallGrid.height();
    EXPECT_GE(addedHeight, 0.95 * (850 - 326));
    EXPECT_GT(page.Printerlist->height() - smallList.height(), page.MacroValueList->height() - smallGrid.height());
    EXPECT_GE(page.MacroValueList->width() - smallGrid.width(), 0.95 * (1300 - 578));
}

TEST(MainWindow, ALargeWindowKeepsTheSettingsAndTestingControlsTogether)
{
    TWindowHome home;
    auto form = home.MakeForm();
    TSettingsTab& settings = *form->FilePage;
    TTestingPage& testing = *form->testingtab;
    form->OptionPages->setCurrentWidget(&settings);
    ResizeTo(*form, 1300, 850);

    // "Update Now" right under the fields it saves, at their right edge.
    const QRect check =
        QRect(settings.FTPFailOVerCheck->mapTo(&settings, QPoint(0, 0)), settings.FTPFailOVerCheck->size());
    const QRect update = QRect(settings.UpdateButton->mapTo(&settings, QPoint(0, 0)), settings.UpdateButton->size());
    const QRect field = QRect(settings.SpoolerEdit->mapTo(&settings, QPoint(0, 0)), settings.SpoolerEdit->size());
    EXPECT_LE(update.top() - check.bottom(), 2 * update.height()) << "the button drifted away from its fields";
    EXPECT_EQ(update.right(), field.right());
    EXPECT_LE(field.width(), 800);
    EXPECT_GE(field.width(), 400) << "a path field too narrow for a long path";

    form->OptionPages->setCurrentWidget(&testing);
    QCoreApplication::processEvents();
    for (QWidget* widget : std::initializer_list<QWidget*> {
             testing.TestlhEdit, testing.TestPrintNum, testing.PaperTrayCombo, testing.TestPrint, testing.ShowTXBtn})
        EXPECT_LE(widget->width(), 320) << widget->metaObject()->className() << " stretched across the window";
    EXPECT_LE(testing.ShowTXBtn->geometry().top() - testing.TestPrint->geometry().bottom(),
              testing.TestPrint->height());
}

TEST(MainWindow, LogPageShowsNewestFirst)
{
    TWindowHome home;
    auto form = home.MakeForm();
    form->Server().loginfo("first");
    form->Server().loginfo("second");
    const QStringList lines = form->logmemo->toPlainText().split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(">second"));
    EXPECT_TRUE(lines[1].endsWith(">first"));
}

TEST(MainWindow, LogPageColoursEachLineByItsLevelNotItsWords)
{
    TWindowHome home;
    auto form = home.MakeForm();
    form->Server().loginfo("ERROR: Request for OVERLAY failed a.prn does not exist.");
    form->Server().logwarning("Found file a.tvq");
    form->Server().logerror("Printed R1 P1:\r\n1 page(s) on Laser-A");
    // Newest first; both lines of the last message are an error's.
    const QTextBlock first = form->logmemo->document()->firstBlock();
    const auto format = [](const QTextBlock& block) { return block.begin().fragment().charFormat(); };
    ASSERT_TRUE(first.text().endsWith(">Printed R1 P1:"));
    EXPECT_EQ(format(first).foreground().color(), QColor(0xa1, 0x1d, 0x1d));
    const QTextBlock second = first.next();
    ASSERT_EQ(second.text(), "1 page(s) on Laser-A");
    EXPECT_EQ(format(second).foreground().color(), QColor(0xa1, 0x1d, 0x1d));
    const QTextBlock warning = second.next();
    ASSERT_TRUE(warning.text().endsWith(">Found file a.tvq"));
    EXPECT_EQ(format(warning).foreground().color(), QColor(0x7a, 0x4b, 0x00));
    const QTextBlock info = warning.next();
    ASSERT_TRUE(info.text().endsWith(">ERROR: Request for OVERLAY failed a.prn does not exist."));
    EXPECT_FALSE(format(info).hasProperty(QTextFormat::ForegroundBrush));
}

TEST(MainWindow, PagesAnswerTheOperatorsClicks)
{
    TWindowHome home;
    WriteFile(home.Dir / "templates/P1.tpl", "{\\rtf1 x}");
    auto form = home.MakeForm("PRINTER2=Laser A\r\nPRINTER10=Laser B\r\nHOSTIP-2=lab-2\r\n");
    TPrintersPage& printers = *form->PrinterPage;
    printers.Printerlist->setCurrentRow(1);
    EXPECT_EQ(printers.printernumberedit->currentText(), "2");
    EXPECT_EQ(printers.IPEdit->text(), "lab-2");
    EXPECT_EQ(printers.PrinterPopUp()->actions().front()->text(), "&Delete Printer 2, Laser A");
    home.Prompts.InputAnswers = {"7"};
    printers.NewButton->click();
    ASSERT_EQ(printers.Printerlist->count(), 3);
    EXPECT_EQ(printers.Printerlist->item(2)->text(), "7=NEW HALVORIN PRINTER");
    EXPECT_EQ(printers.printernumberedit->currentText(), "7");

    // Entering the Testing page fills its boxes; leaving it hides the
    // information of the last test.
    form->OptionPages->setCurrentWidget(form->testingtab);
    TTestingPage& testing = *form->testingtab;
    ASSERT_EQ(testing.TestPrintNum->count(), 3);
    EXPECT_EQ(testing.TestPrintNum->itemText(0), "10 - Laser B");
    EXPECT_EQ(testing.TestProcEdit->itemText(0), "P1");
    form->TestPrint().InfoVisible = true;
    testing.Refresh();
    EXPECT_TRUE(testing.TestInfo->isVisible());
    form->OptionPages->setCurrentWidget(form->LogPage);
    EXPECT_FALSE(testing.TestInfo->isVisible());

    // Beside the tab bar the window's own colour, not the document view.
    const QImage shot = form->grab().toImage();
    const QPoint besideTabs = form->OptionPages->mapTo(form.get(), QPoint(form->OptionPages->width() - 30, 4));
    EXPECT_EQ(shot.pixelColor(besideTabs), form->OptionPages->palette().color(QPalette::Window));
}

TEST(MainWindow, SettingsPageMirrorsTheServer)
{
    TWindowHome home;
    auto form = home.MakeForm("PRINTER1=Laser A\r\nFTPFAILOVER=Y\r\n");
    TSettingsTab* page = form->FilePage;
    EXPECT_EQ(page->SpoolerEdit->text().toStdString(), home.Dir / "spool/");
    EXPECT_EQ(page->PageMarginsEdit->text(), "5,5,8,5");
    EXPECT_EQ(page->LPDDataDelay->text(), "1");
    EXPECT_TRUE(page->FTPFailOVerCheck->isChecked());
    EXPECT_TRUE(page->UpdateButton->isEnabled());

    // Typing into the overlay field keeps a trailing slash behind the cursor.
    form->OptionPages->setCurrentWidget(page);
    page->OverlayEdit->setFocus();
    QTest::keyClicks(page->OverlayEdit, "/ov");
    EXPECT_EQ(page->OverlayEdit->text(), "/ov/");
    EXPECT_EQ(form->Server().Settings().Value("OVERLAY"), "/ov/");

    // Typed delay and "Update Now" through the widgets.
    page->LPDDataDelay->setFocus();
    page->LPDDataDelay->selectAll();
    QTest::keyClicks(page->LPDDataDelay, "9999");
    QTest::mouseClick(page->UpdateButton, Qt::LeftButton);
    EXPECT_EQ(page->LPDDataDelay->text(), "1000");
    EXPECT_EQ(form->Server().Config().DataDelay, 1000);
    EXPECT_NE(home.Settings().find("OVERLAY=/ov/\r\n"), std::string::npos);
    EXPECT_NE(home.Settings().find("LPDDATADELAY=1000\r\n"), std::string::npos);

    QTest::mouseClick(page->FTPFailOVerCheck, Qt::LeftButton);
    EXPECT_EQ(form->Server().Settings().Value("FTPFAILOVER"), "FALSE");
}

TEST(MainWindow, FailedStartUpIsReported)
{
    TWindowHome home;
    auto form = std::make_unique<TPrintServerForm>(home.Dir.Path(), &home.Prompts);
    EXPECT_FALSE(form->StartedUp());
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    // The box names the file and the keys: an operator at the window sees no standard error.
    EXPECT_EQ(home.Prompts.Messages[0].Text, "A critical value was not set.  Tovaspooler will close.\r\n\r\nNot set in " +
                                                 home.Dir / "printserver.inf" +
                                                 ": RESULTS, SPOOLER, TEMPLATES, DEFLETTERHEAD.");
}

TEST(MainWindow, SaveButtonsWriteTheComposedDocument)
{
    TWindowHome home;
    auto form = home.MakeForm();
    TPrintServer& server = form->Server();
    server.Pipeline().Engine().SetSelText("Composed report");
    WriteFile(server.Config().TempDir + "scrib.pdf", "stale");
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_EQ(ReadFile(server.Config().TempDir + "scrib.pdf").substr(0, 5), "%PDF-");
    form->Button2Click();
    EXPECT_NE(ReadFile(server.Config().TempDir + "scrib.txw").find("Composed report"), std::string::npos);
    EXPECT_TRUE(home.Prompts.Messages.empty());

    // A temporary folder that is gone: the operator is told.
    for (const char* name : {"scrib.pdf", "scrib.txw"})
        DeleteFileAt(server.Config().TempDir + name);
    ASSERT_EQ(::rmdir(server.Config().TempDir.c_str()), 0);
    form->Button1Click();
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Could not save temp file.");
}

TEST(MainWindow, EngineErrorsShowNoBoxOfTheirOwn)
{
    TWindowHome home;
    auto form = home.MakeForm();
    TEngineErrorEvent event;
    form->ResultBoxError(event);
    EXPECT_TRUE(event.CancelDisplay);
    bool cancelled = false;
    const auto previous = form->Server().Pipeline().Engine().OnError;
    form->Server().Pipeline().Engine().OnError = [&](TEngineErrorEvent& e) {
        previous(e);
        cancelled = e.CancelDisplay;
    };
    EXPECT_FALSE(form->Server().Pipeline().Engine().SetFieldCurrent(12345));
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(home.Prompts.Messages.empty());
}

TEST(MainWindow, ShowScribShowsThePages)
{
    TWindowHome home;
    auto form = home.MakeForm();
    for (int i = 0; i < 120; ++i)
        form->Server().Pipeline().Engine().SetSelText("A line of the report\n");
    form->ShowTXBtnClick();
    QCoreApplication::processEvents();
    const QImage shot = form->ResultBox->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // White paper with dark text on it somewhere in the view.
    int white = 0, dark = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) {
            const int g = qGray(shot.pixel(x, y));
            white += g > 250;
            dark += g < 100;
        }
    EXPECT_GT(white, 100);
    EXPECT_GT(dark, 10);
    EXPECT_GT(form->ResultBox->widget()->height(), 2 * form->ResultBox->widget()->width());  // two pages and more
}

TEST(MainWindow, PrintDocumentSendsOnePdfJobToThePrinter)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    ASSERT_TRUE(cups.SetDefault("Laser-A"));
    TWindowHome home;
    auto form = home.MakeForm();
    DocumentEngine& engine = form->Server().Pipeline().Engine();
    ASSERT_TRUE(engine.SetFontSize(16));
    engine.SetSelText("\r\n\r\nSCAN0001\r\nMissing Image");
    ASSERT_TRUE(engine.PrintDocument("SCAN0001"));
    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-A") + "job-1.info"); }, 10000));
    EXPECT_NE(ReadFile(cups.OutDir("Laser-A") + "job-1.info").find("title=SCAN0001"), std::string::npos);

    form->Server().Pipeline().Printing().CurrentPrinter = "No-Such-Printer";
    EXPECT_FALSE(engine.PrintDocument("x"));
    EXPECT_TRUE(home.LogHas(form->Server(), "No-Such-Printer"));
}
