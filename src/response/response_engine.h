// Reading response-file keywords for the custom actions, and the engine's set-up of the
// response file (URE::setResponseFile, URE::initResponseFile).
#pragma once

#include <cstdint>

class ResponseFile;

// Types of ureReadRspFile.
const int RSP_TYPE_INT = 1;
const int RSP_TYPE_TEXT = 4;
// Mode of ureReadRspFile that restarts the search at the first entry.
const int RSP_MODE_FIRST = 1;

// Looks up `keyword` (behind `prefix` and a point when a prefix is given) in the ready
// response file, from the first entry (mode 1), from `*cursor` when it is above 0, or
// where the previous read left off. Text goes into `buffer` (`size` bytes), a number into
// `*number`. 0, 5018 (no further entry), 5019 (no value), 5006 (does not fit), 5020 (no
// response file ready), 5003 (bad type or argument), -1 (out of memory).
int ureReadRspFile(const char* keyword, int type, int mode, int* number, char* buffer, int size, const char* prefix,
                   int32_t* cursor);

// Number of entries from `start` on whose keyword is `prefix`.`keyword` (or `keyword`),
// case ignored; 0 when no response file is ready, -1 when out of memory.
int ureNumberOfRspFileKeywords(const char* keyword, const char* prefix, int start);

// True when `text` is yes, true, 1, on, y or t, case ignored.
bool ureIsTruthWord(const char* text);

// The reports of a parsed file's errors as URE::initResponseFile makes them (messages
// 5017 and 5015 per invalid entry, then 5016, or 5014, 5013, 7106, 5002 by status); returns
// the result initResponseFile gives for that status (0 for a valid file).
int32_t ureReportResponseFileErrors(const ResponseFile& file);
