#include "compose/dynamictarget.h"
#include "request/reportrecord.h"

#include "support/smallfs.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QImage>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QColor kBar(0, 0, 255);

std::string MakeBar(const TTempDir& dir, int width, int height)
{
    QImage bar(width, height, QImage::Format_RGB32);
    bar.fill(kBar);
    const std::string path = dir / "bar.bmp";
    bar.save(QString::fromStdString(path), "BMP");
    return path;
}

bool IsDark(const QColor& c)
{
    return c.red() < 80 && c.green() < 80 && c.blue() < 80;
}

}  // namespace

TEST(DynamicTarget, MarkerIsAndedOntoTheBarAtThePercentage)
{
    TTempDir dir;
    MakeBar(dir, 200, 40);
    // Sub-fields: source, destination, label, percentage. A record draws
    // nothing by itself; the server installs the drawer.
    TReportRecord record;
    record.ParseRequest("HV_DYNAMICRANGE~" + (dir / "bar.bmp") + "," + (dir / "out.bmp") + ",75,50");
    EXPECT_FALSE(FileExists(dir / "out.bmp")) << "parsing alone writes no file";
    record.DrawDynamicRange = DrawDynamicRangeGraph;
    record.ParseRequest("HV_DYNAMICRANGE~" + (dir / "bar.bmp") + "," + (dir / "out.bmp") + ",75,50");
    QImage out(QString::fromStdString(dir / "out.bmp"));
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.size(), QSize(200, 40));

    // left = 200 * 50 / 100 - 40 div 2 = 80: nothing changes outside [80, 120).
    for (int y = 0; y < 40; ++y) {
        EXPECT_EQ(out.pixelColor(79, y), kBar) << y;
        EXPECT_EQ(out.pixelColor(120, y), kBar) << y;
    }
    // The cross: a vertical line at x = 100 and a horizontal one at y = 20, both dark.
    EXPECT_TRUE(IsDark(out.pixelColor(100, 1)));
    EXPECT_TRUE(IsDark(out.pixelColor(100, 38)));
    EXPECT_TRUE(IsDark(out.pixelColor(81, 20)));
    EXPECT_TRUE(IsDark(out.pixelColor(118, 20)));
    // Inside the marker, away from lines and label, white AND bar = bar.
    EXPECT_EQ(out.pixelColor(84, 2), kBar);
    // The label sits in the middle and ends its own white cell.
    int darkInLabelRow = 0;
    for (int x = 82; x < 118; ++x)
        darkInLabelRow += IsDark(out.pixelColor(x, 16)) ? 1 : 0;
    EXPECT_GT(darkInLabelRow, 2);
}

TEST(DynamicTarget, AtFullScaleTheBarIsWidened)
{
    TTempDir dir;
    MakeBar(dir, 200, 40);
    tDynamicTarget target;
    ASSERT_TRUE(target.AddTarget(dir / "bar.bmp", dir / "full.bmp", 100, "100"));
    QImage out(QString::fromStdString(dir / "full.bmp"));
    EXPECT_EQ(out.size(), QSize(220, 40));
    EXPECT_EQ(out.pixelColor(179, 10), kBar);
    EXPECT_EQ(out.pixelColor(218, 1), QColor(Qt::white));  // added area is white
    EXPECT_TRUE(IsDark(out.pixelColor(200, 1)));            // the vertical line at left + 20

    EXPECT_EQ(tDynamicTarget::MarkerLeft(200, 40, 0), 0);  // never left of the bar
    EXPECT_EQ(tDynamicTarget::MarkerLeft(200, 40, 75), 130);
    EXPECT_EQ(tDynamicTarget::MarkerLeft(201, 41, 33), 46);  // 66.33 - 20, truncated
}

TEST(DynamicTarget, FailuresSkipTheGraphSilently)
{
    TTempDir dir;
    MakeBar(dir, 100, 20);
    tDynamicTarget target;
    EXPECT_FALSE(target.AddTarget(dir / "missing.bmp", dir / "out.bmp", 50, "x"));
    EXPECT_FALSE(FileExists(dir / "out.bmp"));
    EXPECT_FALSE(target.AddTarget(dir / "bar.bmp", dir / "no/such/dir/out.bmp", 50, "x"));
    WriteFile(dir / "junk.bmp", "BM not really a bitmap");
    EXPECT_FALSE(target.AddTarget(dir / "junk.bmp", dir / "out.bmp", 50, "x"));

    DrawDynamicRangeGraph((dir / "bar.bmp") + "," + (dir / "p.bmp") + ",lbl,fifty");  // not an integer
    EXPECT_FALSE(FileExists(dir / "p.bmp"));
    DrawDynamicRangeGraph((dir / "bar.bmp") + "," + (dir / "p.bmp") + ",lbl, 30 ,ignored");
    EXPECT_TRUE(FileExists(dir / "p.bmp"));
}

// A graph whose folder is full: an outage that says where, nothing left
// behind, and the graph written whole once there is room.
TEST(DynamicTarget, AGraphIntoAFullFolderIsAnOutageAndLeavesNothing)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    TTempDir dir;
    MakeBar(dir, 200, 40);
    const std::string value = (dir / "bar.bmp") + "," + (disk / "graph.bmp") + ",75,50";
    ASSERT_TRUE(disk.Fill());
    const TOutcome full = WriteDynamicRangeGraph(value, {});
    ASSERT_FALSE(full);
    EXPECT_EQ(full.Kind(), TFailureKind::Outage);
    EXPECT_EQ(full.Reason(), "no space left in " + disk.Path());
    EXPECT_TRUE(disk.Names().empty());

    disk.MakeRoom();
    ASSERT_TRUE(WriteDynamicRangeGraph(value, {}));
    EXPECT_EQ(QImage(QString::fromStdString(disk / "graph.bmp")).size(), QSize(200, 40));
    EXPECT_EQ(disk.Names(), (std::vector<std::string> {"graph.bmp"}));
}

// A graph onto a protected place is refused before the bar is even read,
// whatever links lead there; the place keeps its bytes.
TEST(DynamicTarget, AGraphOntoAProtectedPlaceIsRefused)
{
    TTempDir dir;
    MakeBar(dir, 100, 20);
    ASSERT_TRUE(ForceDir(dir / "templates") && ForceDir(dir / "results"));
    WriteFile(dir / "tags.txt", "3|PATSUR\r\n");
    ASSERT_EQ(::symlink((dir / "templates").c_str(), (dir / "results/link").c_str()), 0);
    TProtectedPlaces places;
    places.AddFile(dir / "tags.txt");
    places.AddFolder("the templates folder", dir / "templates/");
    const struct {
        std::string destination;
        std::string source;
        std::string reason;
    } cases[] = {
        {dir / "results/link/../tags.txt", dir / "bar.bmp", "it is the server's own file " + (dir / "tags.txt")},
        {dir / "results/link/g.bmp", dir / "missing.bmp", "it lies in the templates folder " + (dir / "templates/")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        const TOutcome refused = WriteDynamicRangeGraph(c.source + "," + c.destination + ",75,50", places);
        EXPECT_EQ(refused.Kind(), TFailureKind::Final);
        EXPECT_EQ(refused.Reason(), c.reason);
    }
    EXPECT_EQ(ReadFile(dir / "tags.txt"), "3|PATSUR\r\n");
    EXPECT_FALSE(FileExists(dir / "templates/g.bmp"));
    ASSERT_TRUE(WriteDynamicRangeGraph((dir / "bar.bmp") + "," + (dir / "results/g.bmp") + ",75,50", places));
    EXPECT_FALSE(QImage(QString::fromStdString(dir / "results/g.bmp")).isNull());
}
