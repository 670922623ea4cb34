#include "platform/docengine/rtftokenizer.h"

#include <algorithm>

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

int TRtfTokenizer::HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

TRtfTokenizer::TToken TRtfTokenizer::Next()
{
    TToken t;
    while (FPos < FIn.size()) {
        const char c = FIn[FPos];
        if (c == '\r' || c == '\n') {
            ++FPos;
            continue;
        }
        if (c == '{' || c == '}') {
            ++FPos;
            t.Kind = c == '{' ? TKind::GroupOpen : TKind::GroupClose;
            return t;
        }
        if (c != '\\')
            return NextText();
        ++FPos;
        if (FPos >= FIn.size())
            break;
        return IsLetter(FIn[FPos]) ? NextWord() : NextSymbol();
    }
    t.Kind = TKind::End;
    return t;
}

TRtfTokenizer::TToken TRtfTokenizer::NextText()
{
    TToken t;
    const qsizetype start = FPos;
    while (FPos < FIn.size() && FIn[FPos] != '\\' && FIn[FPos] != '{' && FIn[FPos] != '}' && FIn[FPos] != '\r' &&
           FIn[FPos] != '\n')
        ++FPos;
    t.Kind = TKind::Text;
    t.Data = QByteArrayView(FIn).sliced(start, FPos - start);
    return t;
}

// A control symbol, or a hex escape.
TRtfTokenizer::TToken TRtfTokenizer::NextSymbol()
{
    TToken t;
    const char next = FIn[FPos];
    ++FPos;
    if (next == '\'') {
        const int high = FPos < FIn.size() ? HexValue(FIn[FPos]) : -1;
        const int low = FPos + 1 < FIn.size() ? HexValue(FIn[FPos + 1]) : -1;
        FPos = std::min(FPos + 2, FIn.size());
        if (high < 0 || low < 0) {
            t.Kind = TKind::BadHex;  // still one character's worth
        } else {
            t.Kind = TKind::Hex;
            t.Byte = static_cast<unsigned char>(high * 16 + low);
        }
        return t;
    }
    t.Kind = TKind::Symbol;
    t.Symbol = next;
    return t;
}

TRtfTokenizer::TToken TRtfTokenizer::NextWord()
{
    TToken t;
    const qsizetype start = FPos;
    while (FPos < FIn.size() && IsLetter(FIn[FPos]) && FPos - start < 32)
        ++FPos;
    t.Kind = TKind::Word;
    t.Word = QByteArrayView(FIn).sliced(start, FPos - start);
    long long param = 0;
    bool negative = false;
    if (FPos + 1 < FIn.size() && FIn[FPos] == '-' && IsDigit(FIn[FPos + 1])) {
        negative = true;
        ++FPos;
    }
    int digits = 0;
    while (FPos < FIn.size() && IsDigit(FIn[FPos])) {
        if (digits < 10)
            param = param * 10 + (FIn[FPos] - '0');
        ++digits;
        ++FPos;
        t.HasParam = true;
    }
    if (FPos < FIn.size() && FIn[FPos] == ' ')
        ++FPos;  // the delimiting space belongs to the control word
    param = std::clamp(param, 0ll, 2147483647ll);
    t.Param = static_cast<int>(negative ? -param : param);
    if (t.Word == "bin") {
        // Raw bytes that may hold anything, braces and backslashes included.
        const qsizetype count = t.HasParam ? std::clamp<qsizetype>(t.Param, 0, FIn.size() - FPos) : 0;
        t.Kind = TKind::Bin;
        t.Data = QByteArrayView(FIn).sliced(FPos, count);
        FPos += count;
    }
    return t;
}
