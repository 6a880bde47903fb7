// The download resume state "tempdownload.dat" in the installation directory: three LF-ended
// lines "downloadVersion=%d.%d.%d.%d", "offset=<bytes in the package>", "totalSize=<bytes>".
#pragma once

#include <functional>
#include <string>

#include "core/InstallLayout.h"
#include "core/UpdateState.h"

// Value of key in the layout's resume state file; empty when the file or the key is missing.
// Any thread.
std::string ReadResumeValue(const InstallLayout& layout, const std::string& key);

// Writes the resume state from the run's counters, atomically and durably. Any thread (the UI
// thread calls it on every way out, possibly while the worker is inside a transfer): the offset
// written is always the number of bytes really in the package file at that moment.
void SaveResumeState(UpdateState& state, const InstallLayout& layout);

// Deletes the package and records that nothing is downloaded, at once (worker): after a
// successful extraction, or when the package is worthless. Afterwards no resume state can claim a
// package that is gone.
void ForgetPackage(UpdateState& state, const InstallLayout& layout);

// The resume state text for the current counters (the file's exact content).
std::string ResumeStateText(const UpdateState& state);

namespace resume_detail {

// Runs change while no save can be in progress, so that no save started before it lands after
// it (the worker discards or truncates the package under this).
void WithSavesHeld(UpdateState& state, const std::function<void()>& change);

}  // namespace resume_detail
