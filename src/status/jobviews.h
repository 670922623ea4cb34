// A job of the journal as people and programs read it: the tool's lines and
// JSON, the web pages and their API show the same words and objects.
#pragma once

#include "journal/journal.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TJson = nlohmann::ordered_json;

// Journal text (Windows-1252) as UTF-8.
std::string Utf8(std::string_view text);
// "yyyy-MM-dd hh:mm:ss" in local time; "-" for none.
std::string When(std::int64_t ms);
// ISO 8601 with the local offset.
std::string Iso(std::int64_t ms);
// A duration as people say it: "40 s", "12 min", "3 h", "2 days".
std::string Ago(std::int64_t ms);

// What a job put out: "cups:<job>" for each print job, the path of each
// saved document or page file.
// Each of these fails when the journal could not be read.
TResult<std::vector<std::string>> OutputsOf(TJournal& journal, std::int64_t job);
// One output as what it was, or as what it was to be while not made.
std::string Described(const TOutputRow& output);
// "output: …": what the job put out, or what it is to put out.
std::string OutputSummary(const TJobRow& job, const std::vector<TOutputRow>& outputs);
// The outputs column of the job list: outputs and where the LPR queue delivered them.
TResult<std::string> OutputsColumn(TJournal& journal, std::int64_t job);

// One job as `printorb-tool jobs --json` and /api/jobs list it.
TResult<TJson> JobJson(TJournal& journal, const TJobRow& job);
// One job's whole story, as `printorb-tool job --json` and /api/jobs/ID give it.
TResult<TJson> JobStoryJson(TJournal& journal, const TJobRow& job);
// The story in the order it happened: steps, outputs and deliveries, with when.
using TStory = std::vector<std::pair<std::int64_t, std::string>>;
TResult<TStory> JobStory(TJournal& journal, std::int64_t job);
