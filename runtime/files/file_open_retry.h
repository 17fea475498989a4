// The open-and-retry loop that File_Open and AsyncFile_Open share: a path
// that exists is opened up to Retries times, with a pause between attempts; a
// path that is missing (or goes missing) is never retried, and the caller
// learns how many attempts failed before, so that it creates the file (and
// its folder, before any attempt) itself. Pauses go through
// Time_SleepForRetry, so the test clock runs them through at once; errno is
// kept across a pause for the caller's failure report.
#pragma once

#include <errno.h>

#include "runtime/time.h"
#include "runtime/types.h"

struct FileOpenRetry {
    int32 Retries; // attempts on an existing path, at least 1
    int32 DelayMs; // the pause after a failed attempt
    // Whether the last failed attempt is followed by a pause too (when
    // Retries is 2 or more), as the asynchronous file's open is specified.
    bool PauseAfterLast;
};

enum class FileOpenOutcome { Opened, Missing, Failed };

// Exists() and Open() answer bools; Retrying(Attempt) runs after the pause
// that follows a failed attempt that is not the last, errno still that
// attempt's. *Attempts receives the number of failed attempts.
template <typename ExistsFunc, typename OpenFunc, typename RetryingFunc>
FileOpenOutcome File_OpenWithRetries(const FileOpenRetry &Rule, int32 *Attempts, ExistsFunc &&Exists, OpenFunc &&Open,
                                     RetryingFunc &&Retrying) {
    for (int32 Attempt = 0;; Attempt++) {
        *Attempts = Attempt;
        if (!Exists()) return FileOpenOutcome::Missing;
        if (Open()) return FileOpenOutcome::Opened;
        const bool Last = Attempt + 1 >= Rule.Retries;
        if (!Last || (Rule.PauseAfterLast && Rule.Retries >= 2)) {
            const int Saved = errno;
            Time_SleepForRetry(Rule.DelayMs);
            errno = Saved;
        }
        if (Last) {
            *Attempts = Attempt + 1;
            return FileOpenOutcome::Failed;
        }
        Retrying(Attempt);
    }
}
