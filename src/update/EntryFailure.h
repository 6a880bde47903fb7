// How an entry that could not be written is reported, the same way by the extraction and by the
// moves of staged files. Update worker.
#pragma once

#include <string>

#include "update/PackageExtractor.h"

// A folder leading out of the client (folder given, error os::ContainedFolders::kLeadsOutside):
// ERROR line 428. The disk's refusal (IsDiskError): ERROR line 470 naming the entry and the
// system's error. Both keep the error in localError and answer LocalFailure; anything else is the
// archive's fault: EntryFailed, and nothing logged here.
PackageExtractor::Result ReportEntryFailure(int error, const std::string& entryName, const std::string& folder,
                                            int& localError);
