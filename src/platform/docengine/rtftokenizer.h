// The tokens of an RTF byte stream: group braces, control words with their
// parameter, control symbols, hex escapes, runs of text and \bin data. Raw
// CR and LF are not text; a backslash before one is a paragraph mark.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

class TRtfTokenizer {
public:
    enum class TKind { End, GroupOpen, GroupClose, Word, Symbol, Hex, BadHex, Text, Bin };
    struct TToken {
        TKind Kind = TKind::End;
        QByteArrayView Word;  // a control word's letters
        bool HasParam = false;
        int Param = 0;
        char Symbol = 0;
        unsigned char Byte = 0;  // a hex escape's value
        QByteArrayView Data;     // text or \bin bytes
    };

    TRtfTokenizer(const QByteArray& bytes, qsizetype start) : FIn(bytes), FPos(start) {}
    TToken Next();
    qsizetype Position() const { return FPos; }
    // A hex digit's value; -1 for any other character.
    static int HexValue(char c);

private:
    TToken NextText();
    TToken NextSymbol();
    TToken NextWord();

    const QByteArray& FIn;
    qsizetype FPos;
};
