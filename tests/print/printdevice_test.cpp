#include "print/printdevice.h"

#include "print/printhome.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

// How a set-up reads: done with or without its tray, or the failure as logged.
std::string Shown(const TResult<TDeviceReady>& ready)
{
    if (!ready)
        return "ERROR: " + ready.Reason();
    return ready->TraySet ? "tray set" : "tray not set";
}

}  // namespace

TEST(PrinterDevice, SetupResults)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("PCL-Laser", "-m drv:///sample.drv/generpcl.ppd"));
    ASSERT_TRUE(home.Cups().AddQueue("Raw-Laser"));
    TPrinterDevice& device = home.Device;

    EXPECT_EQ(Shown(device.SetupPrinterDevice("", "", "", false, 0)), "ERROR: No printer selected.");  // no default either
    EXPECT_EQ(device.PrinterDC(), nullptr);

    home.Printing.CurrentPrinter = "Gone-Printer";
    EXPECT_EQ(Shown(device.SetupPrinterDevice("", "", "", false, 0)), "ERROR: Could not get printer Gone-Printer");

    home.Printing.CurrentPrinter = "PCL-Laser";
    EXPECT_EQ(Shown(device.SetupPrinterDevice("LETTERHEAD", "", "tray 2", true, 0)), "tray set");
    ASSERT_NE(device.PrinterDC(), nullptr);
    const TDevMode& mode = device.PrinterDC()->DevMode();
    EXPECT_EQ(mode.DefaultSource(), 3);  // Tray 2 is listed third, after the printer's default
    EXPECT_EQ(mode.PaperSize(), kPaperA4);  // paper code 0 is sent as A4
    EXPECT_EQ(mode.Orientation(), TDevMode::DMORIENT_LANDSCAPE);
    EXPECT_EQ(mode.Slot(TDevMode::kFirstOverlaySlot), "LETTERHEAD");
    EXPECT_EQ(mode.Bytes()[TDevMode::kOtherOverlaySlot], 0);  // an empty name is its zero byte

    EXPECT_EQ(Shown(device.SetupPrinterDevice("", "", "", false, kPaperLetter)), "tray not set");
    ASSERT_NE(device.PrinterDC(), nullptr);  // printing goes on with the driver's tray
    EXPECT_EQ(device.PrinterDC()->DevMode().DefaultSource(), 1);
    EXPECT_EQ(device.PrinterDC()->DevMode().PaperSize(), kPaperLetter);
    EXPECT_EQ(device.ListPrinterTrays(),
              "Printer Default\r\nTray 1\r\nTray 2\r\nTray 3\r\nTray 4\r\nManual Feed\r\nEnvelope Feed\r\n");
    device.ReleasePrinterDC();
    EXPECT_EQ(device.PrinterDC(), nullptr);

    home.Printing.CurrentPrinter = "Raw-Laser";
    EXPECT_EQ(Shown(device.SetupPrinterDevice("", "", "Tray 1", false, kPaperA3)), "tray not set");
    EXPECT_EQ(device.ListPrinterTrays(), "");
    ASSERT_TRUE(home.Cups().SetDefault("PCL-Laser"));
    home.Printing.CurrentPrinter.clear();  // the system default
    EXPECT_EQ(Shown(device.SetupPrinterDevice("", "", "Manual Feed", false, kPaperA5)), "tray set");
    EXPECT_EQ(device.PrinterDC()->Caps().Destination, "PCL-Laser");
}

TEST(PrinterDevice, TheLookupByNumber)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Laser-A"));
    ASSERT_TRUE(home.Cups().AddQueue("Laser-C"));
    home.Settings.Set("PRINTER", "Laser-C");
    EXPECT_EQ(SelectPrinterByNumber("2", home.Settings.Config, home.Printing), "");  // no entry and no system default
    EXPECT_EQ(home.Printing.CurrentPrinter, "Laser-C");               // the default's position is current
    ASSERT_TRUE(home.Cups().SetDefault("Laser-A"));
    home.Settings.Set("PRINTER2", "laser-c");
    home.Settings.Set("printer5", "Laser-C|spare");
    home.Settings.Set("PRINTER6", "Laser-Gone");
    const struct {
        const char* number;
        const char* name;
    } cases[] = {{" 2 ", "Laser-C"}, {"5", "Laser-C"}, {"99", "Laser-A"}, {"6", "Laser-A"}, {"", "Laser-A"}};
    for (const auto& c : cases) {
        EXPECT_EQ(SelectPrinterByNumber(c.number, home.Settings.Config, home.Printing), c.name) << c.number;
        EXPECT_EQ(home.Printing.CurrentPrinter, c.name);
    }

    // What the scheduler said is used again for a while, but a printer
    // installed since then is found at once: its reports do not go to the
    // default printer meanwhile.
    ASSERT_TRUE(home.Cups().AddQueue("Laser-Gone"));
    EXPECT_EQ(SelectPrinterByNumber("6", home.Settings.Config, home.Printing), "Laser-Gone");
    // One removed since: its job fails, and the next asks anew.
    ASSERT_TRUE(home.Printing.OpenPrinter("Laser-Gone"));
    QProcess::execute("lpadmin", {"-h", QString("127.0.0.1:%1").arg(home.Cups().Port()), "-x", "Laser-Gone"});
    EXPECT_FALSE(home.Printing.PrintPdf("Laser-Gone", "R1 P1 Page 1", "%PDF-1.4\n%%EOF\n"));
    EXPECT_EQ(SelectPrinterByNumber("6", home.Settings.Config, home.Printing), "Laser-A");
    EXPECT_FALSE(home.Printing.OpenPrinter("Laser-Gone"));
}
