// The Printers page's operations on a started server: entries shown and
// edited, New, Update, Delete and Set as Default, and the overlay grid with
// its copy and paste, over a driver-data file like the administrators'.
#include "app/serverfixture.h"
#include "printers/overlaylist.h"
#include "printers/printeractions.h"
#include "support/regfiles.h"

#include <gtest/gtest.h>

namespace {

using TSender = TPrinterActions::TSender;

// Lexmark-A lists two overlays, Lexmark-B one, Lexmark-Empty none;
// HP-Laser is marked for PCL macro calls; Laser C has no key.
std::string DriverData()
{
    return "REGEDIT4\r\n\r\n" + PrinterKey("Lexmark-A") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
           RegHex(MacroRecords({{5, "PATHFORM"}, {12, "INVOICE"}})) + "\r\n\r\n" + PrinterKey("Lexmark-B") +
           "\"MANUFACTURER\"=\"Lexmark International\"\r\n\"Macro\"=hex:" + RegHex(MacroRecords({{7, "OLDFORM"}})) +
           "\r\n\r\n" + PrinterKey("Lexmark-Empty") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:\r\n\r\n" +
           PrinterKey("HP-Laser") + "\"HPDUMMY\"=\"\"\r\n";
}

struct TPrintersHome : TTestHome {
    explicit TPrintersHome(const std::string& printers,
                           std::vector<std::string> installed = {"Laser A", "Laser B", "Laser C", "Lexmark-A",
                                                                 "Lexmark-B", "Lexmark-Empty", "HP-Laser"})
    {
        WriteFile(Dir / "printerdriverdata.reg", DriverData());
        WriteSettings(Critical() + printers);
        Server = MakeServer(std::move(installed));
        Started = Server->StartUp();
        Overlays = std::make_unique<TOverlayList>(Server->Pipeline().Overlays(), [this]() -> TPrompts& { return Prompts; });
        Actions = std::make_unique<TPrinterActions>(TPrinterActions::TContext {
            Server->Printers(), Server->Settings(), *Overlays, [this]() -> TPrompts& { return Prompts; },
            [this] { return Server->InstalledPrinters(); }, [this] { Server->UpdateButtonClick(); }});
    }
    TPrinterTable& Table() { return Server->Printers(); }
    // Clicks the list line of that number.
    void Click(const std::string& number)
    {
        const auto& lines = Table().Printerlist();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (TPrinterTable::NumberOf(lines[i]) == number)
                Table().Select(static_cast<int>(i));
        Actions->ShowPrinterEntry(TSender::PrinterList);
    }
    std::string Value(const std::string& name) const { return Server->Settings().Value(name); }

    std::unique_ptr<TPrintServer> Server;
    bool Started = false;
    std::unique_ptr<TOverlayList> Overlays;
    std::unique_ptr<TPrinterActions> Actions;
};

using TRows = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST(PrintersPage, ShowingAnEntryFillsTheFieldsAndKeepsAChoiceForAMissingPrinter)
{
    TPrintersHome home("PRINTER1=Laser A\r\nPRINTER2=Laser B\r\nHOSTIP-2=10.0.0.2\r\nPRINTER3=Laser Gone\r\n"
                       "PRINTER5=Laser C|spare\r\n");
    ASSERT_TRUE(home.Started);
    home.Click("5");
    EXPECT_EQ(home.Table().PrinterNameText, "Laser C") << "the printer the lookup would use";
    home.Click("2");
    EXPECT_EQ(home.Table().NumberBoxText(), "2");
    EXPECT_EQ(home.Table().PrinterNameText, "Laser B");
    EXPECT_EQ(home.Table().HostText, "10.0.0.2");

    // Printer 3 is no longer installed: the box keeps Laser B, and an Update
    // right after writes Laser B for printer 3.
    home.Click("3");
    EXPECT_EQ(home.Table().NumberBoxText(), "3");
    EXPECT_EQ(home.Table().HostText, "");
    EXPECT_EQ(home.Table().PrinterNameText, "Laser B");
    home.Actions->UpdatePrinterList(TSender::Other);
    EXPECT_EQ(home.Value("PRINTER3"), "Laser B");

    // Choosing a number in the number box selects its line and shows it.
    home.Table().SetNumberBoxText("1");
    home.Actions->printernumbereditChange(TSender::NumberBox);
    EXPECT_EQ(home.Table().Printerlist()[static_cast<std::size_t>(home.Table().Selected())], "1=Laser A");
    EXPECT_EQ(home.Table().PrinterNameText, "Laser A");
}

TEST(PrintersPage, UpdateAppliesTheFieldsToTheListAndTheSettings)
{
    struct Case {
        const char* what;
        const char* number;
        const char* name;
        const char* host;
        std::vector<std::string> list;
        const char* printer7;
        const char* host7;
        bool correction;
    };
    const Case cases[] = {
        {"new entry, zeros dropped", " 007 ", "Laser B", "lab-7", {"1=Laser A", "7=Laser B"}, "Laser B", "lab-7", false},
        {"empty name removes the entry", "7", "", "lab-7", {"1=Laser A"}, "", "lab-7", false},
        {"empty host removes the host", "7", "Laser C", "", {"1=Laser A", "7=Laser C"}, "Laser C", "", false},
        {"not a number", "7a", "Laser C", "x", {"1=Laser A", "7=Laser A"}, "Laser A", "old", true},
        {"empty number box", "", "Laser C", "x", {"1=Laser A", "7=Laser A"}, "Laser A", "old", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TPrintersHome home("PRINTER1=Laser A\r\nPRINTER7=Laser A\r\nHOSTIP-7=old\r\n");
        ASSERT_TRUE(home.Started);
        home.Table().SetNumberBoxText(c.number);
        home.Table().PrinterNameText = c.name;
        home.Table().HostText = c.host;
        home.Actions->UpdatePrinterList(TSender::Other);
        EXPECT_EQ(home.Table().Printerlist(), c.list);
        EXPECT_EQ(home.Value("PRINTER7"), c.printer7);
        EXPECT_EQ(home.Value("HOSTIP-7"), c.host7);
        EXPECT_EQ(home.Actions->NumberNeedsCorrection, c.correction);
        EXPECT_EQ(home.Table().NumberBox().size(), c.list.size()) << "the number box follows the list";
        // In memory only; the file changes with the Update button.
        EXPECT_NE(home.Settings().find("HOSTIP-7=old"), std::string::npos);
    }

    TPrintersHome home("PRINTER1=Laser A\r\n");
    home.Table().SetNumberBoxText("00");
    home.Table().PrinterNameText = "Laser C";
    home.Actions->printerupdateClick();
    EXPECT_EQ(home.Table().NumberBoxText(), "0");
    EXPECT_NE(home.Settings().find("PRINTER0=Laser C\r\n"), std::string::npos) << "the Update button saves";
}

TEST(PrintersPage, NewProposesTheFirstFreeNumberAndNeverAddsADuplicate)
{
    TPrintersHome home("PRINTER1=Laser A\r\nPRINTER2=Laser B\r\nPRINTER4=Laser C\r\n");
    ASSERT_TRUE(home.Started);
    home.Prompts.InputAnswers = {"2", "five", " 6 "};
    home.Actions->NewButtonClick();
    ASSERT_EQ(home.Prompts.Inputs.size(), 3u);
    EXPECT_EQ(home.Prompts.Inputs[0].Caption, "Please Entry Halvorin Printer Number");
    EXPECT_EQ(home.Prompts.Inputs[0].Text, "Add a Halvorin Printer");
    EXPECT_EQ(home.Prompts.Presets, (std::vector<std::string> {"3", "2", "2"}));
    ASSERT_EQ(home.Prompts.Messages.size(), 2u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Printer 2 is already present");
    EXPECT_EQ(home.Prompts.Messages[1].Text, "\"five\" is not a valid number");
    EXPECT_EQ(home.Table().Printerlist(),
              (std::vector<std::string> {"1=Laser A", "2=Laser B", "4=Laser C", "6=NEW HALVORIN PRINTER"}));
    EXPECT_EQ(home.Table().NumberBoxText(), "6");
    EXPECT_EQ(home.Value("PRINTER6"), "") << "the settings wait for Update";

    // Cancel and an empty answer add nothing.
    home.Prompts.InputAnswers = {"  "};
    home.Actions->NewButtonClick();
    home.Actions->NewButtonClick();
    EXPECT_EQ(home.Prompts.Presets.back(), "3");
    EXPECT_EQ(home.Table().Printerlist().size(), 4u);

    // The new entry reaches the settings with its printer once updated.
    home.Table().SetNumberBoxText("6");
    home.Table().PrinterNameText = "Laser B";
    home.Actions->printerupdateClick();
    EXPECT_NE(home.Settings().find("PRINTER6=Laser B\r\n"), std::string::npos);
}

TEST(PrintersPage, DeleteRemovesOnlyWhatTheSettingsHold)
{
    TPrintersHome home("PRINTER1=Laser A\r\nPRINTER2=Laser B\r\nHOSTIP-2=10.0.0.2\r\n");
    ASSERT_TRUE(home.Started);
    home.Table().Select(-1);
    home.Actions->PrinterPopUpPopup();
    EXPECT_EQ(home.Actions->DeleteCaption, "&Delete Printer");
    home.Actions->DeletePrinterClick();
    EXPECT_EQ(home.Table().Printerlist().size(), 2u);

    home.Click("2");
    home.Actions->PrinterPopUpPopup();
    EXPECT_EQ(home.Actions->DeleteCaption, "&Delete Printer 2, Laser B");
    home.Actions->DeletePrinterClick();
    EXPECT_EQ(home.Table().Printerlist(), (std::vector<std::string> {"1=Laser A"}));
    EXPECT_EQ(home.Value("PRINTER2"), "");
    EXPECT_EQ(home.Value("HOSTIP-2"), "10.0.0.2") << "the host line stays";
    EXPECT_NE(home.Settings().find("PRINTER2=Laser B"), std::string::npos) << "nothing is saved";

    // A line added by New and never updated stays in the list.
    home.Prompts.InputAnswers = {"5"};
    home.Actions->NewButtonClick();
    home.Click("5");
    home.Actions->DeletePrinterClick();
    EXPECT_EQ(home.Table().Printerlist(), (std::vector<std::string> {"1=Laser A", "5=NEW HALVORIN PRINTER"}));
}

TEST(PrintersPage, SetAsDefaultShowsTheBareNameUntilARestart)
{
    TPrintersHome home("PRINTER1=Laser A\r\nPRINTER2=Laser B|spare\r\n");
    ASSERT_TRUE(home.Started);
    EXPECT_EQ(home.Table().DefaultLabel, "Default is :Laser A");
    const std::string numberBefore = home.Server->Config().DefaultPrinterNumber;
    home.Click("2");
    home.Actions->setasdefaultClick();
    EXPECT_EQ(home.Table().DefaultLabel, "Laser B");
    EXPECT_EQ(home.Server->Config().DefaultPrinterNumber, numberBefore);
    EXPECT_NE(home.Settings().find("PRINTER=Laser B\r\n"), std::string::npos) << "saved at once";

    home.Actions.reset();
    home.Overlays.reset();
    home.Server.reset();  // a restart: the first server has let go of the home
    auto again = home.MakeServer();
    ASSERT_TRUE(again->StartUp());
    EXPECT_EQ(again->Printers().DefaultLabel, "Default is :Laser B");
    EXPECT_EQ(again->Config().DefaultPrinterNumber, "2");
}

TEST(PrintersPage, KeyReleaseAppliesWithoutSavingAndEnteringReloadsThePrinters)
{
    std::vector<std::string> installed = {"Laser A", "Laser B"};
    TPrintersHome home("PRINTER1=Laser A\r\n", installed);
    ASSERT_TRUE(home.Started);
    home.Server->SetInstalledPrinters([&] { return installed; });
    home.Click("1");
    home.Table().PrinterNameText = "Laser B";
    home.Actions->PrinterlistKeyUp();
    EXPECT_EQ(home.Value("PRINTER1"), "Laser B");
    EXPECT_EQ(home.Settings().find("PRINTER1=Laser B"), std::string::npos);

    installed = {"Laser A", "Laser D"};
    home.Actions->PrinterPageEnter();
    EXPECT_EQ(home.Table().PrinterNameCombo, installed);
    EXPECT_EQ(home.Table().PrinterNameText, "") << "Laser B is gone from the box";
}

TEST(OverlayList, TheGridShowsTheChosenPrintersList)
{
    TPrintersHome home("PRINTER1=Lexmark-A\r\n");
    ASSERT_TRUE(home.Started);
    const struct {
        const char* printer;
        TRows rows;
        bool copy;
    } cases[] = {
        {"Lexmark-A", {{"5", "PATHFORM"}, {"12", "INVOICE"}}, true},
        {"HP-Laser", {{"HP OVERLAY", "Auto Assigned"}}, false},
        {"Lexmark-Empty", {}, false},
        {"Laser C", {}, false},  // no driver data: the lookup's error is not shown
        {"", {}, false},
    };
    for (const auto& c : cases) {
        home.Table().PrinterNameText = c.printer;
        home.Actions->PrinterNameComboChange();
        EXPECT_EQ(home.Overlays->Rows, c.rows) << c.printer;
        EXPECT_EQ(home.Overlays->CopyEnabled, c.copy) << c.printer;
    }
}

TEST(OverlayList, CopyAndPasteOverwriteTheTargetsList)
{
    TPrintersHome home("PRINTER1=Lexmark-A\r\nPRINTER2=Lexmark-B\r\nPRINTER3=Laser C\r\n");
    ASSERT_TRUE(home.Started);
    TOverlayList& overlays = *home.Overlays;
    EXPECT_FALSE(overlays.PasteVisible);
    overlays.PasteToListButtonClick("Lexmark-B");  // nothing copied: nothing happens
    EXPECT_TRUE(home.Prompts.Questions.empty());

    overlays.CopyOverlayButtonClick("");
    overlays.CopyOverlayButtonClick("HP-Laser");  // no list to copy, no message
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "No Printer Selected");
    EXPECT_FALSE(overlays.PasteVisible);

    home.Click("1");
    overlays.CopyOverlayButtonClick(home.Table().PrinterNameText);
    EXPECT_TRUE(overlays.PasteVisible);
    EXPECT_EQ(overlays.PasteCaption, "Paste Overlays from Lexmark-A to Lexmark-A");
    home.Click("2");
    EXPECT_EQ(overlays.PasteCaption, "Paste Overlays from Lexmark-A to Lexmark-B");
    EXPECT_EQ(overlays.Rows, (TRows {{"7", "OLDFORM"}}));

    const std::string before = ReadFile(home.Dir / "printerdriverdata.reg");
    overlays.PasteToListButtonClick("Lexmark-B");  // answered No
    ASSERT_EQ(home.Prompts.Questions.size(), 1u);
    EXPECT_EQ(home.Prompts.Questions[0].Caption, "Overwrite Macro List");
    EXPECT_EQ(home.Prompts.Questions[0].Text,
              "Are you sure you want to overwrite the Overlay list from Lexmark-B with the list from Lexmark-A?");
    EXPECT_EQ(ReadFile(home.Dir / "printerdriverdata.reg"), before);

    home.Prompts.Answers = {true, true};
    overlays.PasteToListButtonClick("Lexmark-B");
    const TRows copied = {{"5", "PATHFORM"}, {"12", "INVOICE"}};
    EXPECT_EQ(overlays.Rows, copied) << "the grid shows the list as now stored";
    TOverlayLookup fresh(home.Dir / "printerdriverdata.reg");
    EXPECT_EQ(fresh.MacroLookup(0, "Lexmark-B")->Text, "5\tPATHFORM\r\n12\tINVOICE\r\n");

    // Onto the source itself: the same list again.
    overlays.PasteToListButtonClick("Lexmark-A");
    EXPECT_EQ(TOverlayLookup(home.Dir / "printerdriverdata.reg").MacroLookup(0, "Lexmark-A")->Text,
              "5\tPATHFORM\r\n12\tINVOICE\r\n");

    // A printer without a Lexmark driver refuses, and says so.
    home.Prompts.Answers = {true};
    home.Prompts.Messages.clear();
    overlays.PasteToListButtonClick("Laser C");
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text.rfind("ERROR:", 0), 0u) << home.Prompts.Messages[0].Text;
    EXPECT_TRUE(overlays.Rows.empty());
    overlays.PasteToListButtonClick("");
    EXPECT_EQ(home.Prompts.Messages.back().Text, "No target printer selected");
}
