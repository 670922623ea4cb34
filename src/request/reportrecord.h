// The report record: the request being turned into a report. Slots for the
// fields that drive the job; every other field, and the numbered tag keys of
// tags.txt, as an ordered list of values.
#pragma once

#include "request/imagerecord.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TReportValue {
    std::string Key;    // tag key from tags.txt; empty for entries a request made
    std::string Name;   // field name as first stored
    std::string Value;
};

class TReportRecord {
public:

    std::string TemplateName;
    std::string ScanId;
    std::string EmbeddedDocument;
    std::string ResultText;
    TImageRecordArray Images;
    std::string PrinterNumber;
    std::string OutputDocument;
    std::string PrintMask;
    std::string PrnFileName;
    std::string PrnOtherFileName;
    std::string PrintMask2;
    std::string PaperTray;
    bool NoFooter = false;
    bool IsFax = false;

    const std::vector<TReportValue>& Values() const { return FValues; }
    void ClearValues();

    int IndexOfName(std::string_view name) const;
    int IndexOfKey(std::string_view key) const;
    int SetValue(std::string_view name, std::string_view value);
    std::string GetValue(std::string_view name) const;
    int SetValueByKey(std::string_view key, std::string_view value);
    std::string GetValueByKey(std::string_view key) const;

    std::string GetProcCode() const { return GetValue("ProcCode"); }
    std::string GetReqCode() const { return GetValue("ReqCode"); }
    std::string GetValidated() const { return GetValue("Validated"); }
    std::string GetReportFlag() const { return GetValue("ReportFlag"); }
    std::string GetServiceDate() const { return GetValue("ServiceDate"); }
    std::string GetOtherTests() const { return GetValue("OtherTests"); }

    void ParseRequest(std::string_view text);
    void ResetFields();
    void LoadTags(const std::vector<std::string>& lines);
    // The job's slots taken from the parsed values: printer, scan id, masks,
    // print-file names, output document and the fax flag.
    void FillJobSlots();

    // Draws one DYNAMICRANGE graph during the parse. None by default: the
    // server and the tool install the drawer (compose/dynamictarget.h).
    std::function<void(std::string_view value)> DrawDynamicRange;

    // The names every request is reset to, in their two built-in lists.
    static const std::vector<std::string_view>& FirstFieldList();
    static const std::vector<std::string_view>& SecondFieldList();

private:
    // Sets the value at index, or adds a value of that key and name when index is -1.
    int SetOrAdd(int index, std::string_view key, std::string_view name, std::string_view value);
    void HandleField(std::string_view name, std::string_view value);
    void RebuildIndexes();

    std::vector<TReportValue> FValues;
    // First entry per upper-cased name and per key, so lookups stay constant
    // time however many fields a request carries.
    std::unordered_map<std::string, int> FNameIndex;
    std::unordered_map<std::string, int> FKeyIndex;
};

