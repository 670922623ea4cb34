#include "compose/resulttext.h"

#include <gtest/gtest.h>

namespace {

struct TRendered {
    DocumentEngine Engine;
    TRendered(std::string_view text, std::string_view font = "", std::string_view size = "")
    {
        Engine.SetSelText("old body to be replaced");
        RenderResultText(Engine, DocumentEngine::MainPart, 0, static_cast<int>(Engine.Text().size()), text, font,
                         size);
    }
    // Format of the character at a position.
    void At(int position)
    {
        Engine.SetSelStart(position);
        Engine.SetSelLength(1);
    }
    QString Text() const { return Engine.Text(); }
};

}  // namespace

TEST(ResultText, StylesToggleForTheTextAfterThem)
{
    const struct {
        const char* text;
        int plainAt, styledAt;
        int (DocumentEngine::*style)() const;
    } cases[] = {
        {"This _line is underlined_", 1, 6, &DocumentEngine::FontUnderline},
        {"This {line is bold{", 1, 6, &DocumentEngine::FontBold},
        {"This |line is italics|", 1, 6, &DocumentEngine::FontItalic},
    };
    for (const auto& c : cases) {
        TRendered r(c.text);
        EXPECT_EQ(r.Text().size(), QString(c.text).size() - 2) << c.text;
        r.At(c.plainAt);
        EXPECT_EQ((r.Engine.*c.style)(), 0) << c.text;
        r.At(c.styledAt);
        EXPECT_EQ((r.Engine.*c.style)(), 1) << c.text;
        EXPECT_EQ(r.Engine.FontName(), "Courier New");
    }
}

TEST(ResultText, BreaksAndCarets)
{
    EXPECT_EQ(TRendered("A~B").Text(), "A\nB");
    EXPECT_EQ(TRendered("x\xAFy").Text(), "x^y");
    EXPECT_EQ(TRendered("abc").Text(), "abc");
    EXPECT_EQ(TRendered("a\xA4" "b").Text(), "ab");  // no closing colour mark: the opening one is dropped
}

TEST(ResultText, SizesActAtOnceAndFromTheirMark)
{
    TRendered smaller("A[B", "", "12");
    smaller.At(0);
    EXPECT_EQ(smaller.Engine.FontSize(), 11);
    smaller.At(1);
    EXPECT_EQ(smaller.Engine.FontSize(), 11);

    TRendered back("[A]", "", "12");
    back.At(0);
    EXPECT_EQ(back.Engine.FontSize(), 12);

    TRendered small("This [[line has small fonts]]", "", "10");
    EXPECT_EQ(small.Text(), "This line has small fonts");
    for (int at : {0, 5, 20}) {
        small.At(at);
        EXPECT_EQ(small.Engine.FontSize(), 9) << at;
    }

    TRendered sized("A\xA9" "14\xA9" "B[C", "", "10");
    EXPECT_EQ(sized.Text(), "ABC");
    sized.At(0);
    EXPECT_EQ(sized.Engine.FontSize(), 10);
    sized.At(1);
    EXPECT_EQ(sized.Engine.FontSize(), 13);
    sized.At(2);
    EXPECT_EQ(sized.Engine.FontSize(), 14);

    TRendered big("x", "Arial", "big");
    big.At(0);
    EXPECT_EQ(big.Engine.FontSize(), 10);
    EXPECT_EQ(big.Engine.FontName(), "Arial");
}

TEST(ResultText, ColoursAndFonts)
{
    TRendered red("\xA4" "255\xA4red");
    EXPECT_EQ(red.Text(), "red");
    red.At(0);
    EXPECT_EQ(red.Engine.ForeColor(), 255);

    TRendered hex("\xA4$FF00\xA4g");
    hex.At(0);
    EXPECT_EQ(hex.Engine.ForeColor(), 0xFF00);

    TRendered bad("\xA4x\xA4y");
    EXPECT_EQ(bad.Text(), "y");
    bad.At(0);
    EXPECT_EQ(bad.Engine.ForeColor(), 0);

    TRendered font("\xAE" "Arial\xAEx");
    font.At(0);
    EXPECT_EQ(font.Engine.FontName(), "Arial");
}

TEST(ResultText, PlaceholdersAreEditableFieldsAndTheCursorWaitsOnTheFirst)
{
    TRendered r("Name:`");
    EXPECT_EQ(r.Text(), "Name:  ");
    const auto ids = r.Engine.FieldIds(DocumentEngine::MainPart);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(r.Engine.FieldCurrent(), ids[0]);
    EXPECT_EQ(r.Engine.FieldText(), " ");
    EXPECT_EQ(r.Engine.FieldStart(), 5);
    EXPECT_EQ(r.Engine.FieldKind(ids[0]), 20);
    EXPECT_TRUE(r.Engine.FieldChangeable());
    EXPECT_EQ(r.Engine.SelStart(), 5);

    TRendered two("`a`b");
    EXPECT_EQ(two.Text(), " a b");
    const auto both = two.Engine.FieldIds(DocumentEngine::MainPart);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(two.Engine.FieldCurrent(), both[0]);
    EXPECT_EQ(two.Engine.SelStart(), 0);
}
