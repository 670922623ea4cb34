#include "request/tagfile.h"

#include "support/testsupport.h"
#include "support/recordinglog.h"

#include <gtest/gtest.h>

TEST(TagFile, LoadsLinesAndKeepsValuesWhenMissing)
{
    TTempDir dir;
    WriteFile(dir / "tags.txt", "12|PATSUR|Patient surname\r\n13|REQCODE\n");
    TReportRecord record;
    record.DrawDynamicRange = nullptr;
    std::vector<std::string> tagList;
    TRecordingLog log;

    record.SetValue("PAPERSIZE", "a5");
    ASSERT_TRUE(LoadTagFile(dir / "tags.txt", tagList, record, log));
    EXPECT_EQ(tagList, (std::vector<std::string> {"12|PATSUR|Patient surname", "13|REQCODE"}));
    EXPECT_EQ(record.GetValue("PAPERSIZE"), "");  // values emptied
    record.ResetFields();
    record.ParseRequest("HV_PATSUR~SMITH^HV_PAPERSIZE~a4");
    EXPECT_EQ(record.GetValueByKey("12"), "SMITH");
    EXPECT_TRUE(log.Lines.empty());

    // A missing file: the warning, and the earlier values and tag lines stay.
    EXPECT_FALSE(LoadTagFile(dir / "gone.txt", tagList, record, log));
    ASSERT_EQ(log.Lines.size(), 1u);
    EXPECT_EQ(log.Lines[0], "Warning!! The \"TAG\" file is missing.");
    EXPECT_EQ(tagList.size(), 2u);
    record.ResetFields();
    EXPECT_EQ(record.GetValue("PAPERSIZE"), "a4");
    EXPECT_EQ(record.GetValueByKey("12"), "");
}

TEST(RequestFile, LinesAreJoinedWithNothingBetween)
{
    TTempDir dir;
    WriteFile(dir / "a.tvq", "HV_A~12\r\n34^HV_B~x\ny\rz\r\n");
    std::string text;
    ASSERT_TRUE(ReadRequestText(dir / "a.tvq", text, 1000));
    EXPECT_EQ(text, "HV_A~1234^HV_B~xy\rz");
    EXPECT_FALSE(ReadRequestText(dir / "a.tvq", text, 5));
    EXPECT_FALSE(ReadRequestText(dir / "none.tvq", text, 1000));
}
