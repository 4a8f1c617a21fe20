// The conversations of the simulated printer. Each prints the receiver's
// replies in words and returns the exit status: 0 when everything was
// accepted, 1 on any refusal, cancel or missing reply or when the document
// cannot have landed, 2 on a local fault, 3 when a file would fail the
// receiver's checks and nothing was sent.
#pragma once

#include "tools/sendscan/options.h"

namespace qb::sendscan {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitFault = 2;
constexpr int kExitWouldDrop = 3;

int RunCapability(const Options& options);
int RunFolderCheck(const Options& options);
int RunDirName(const Options& options);
int RunDirList(const Options& options);
int RunSendFiles(const Options& options);
int RunSendRaw(const Options& options);
// Write a PDF or TIFF that the receiver's checks accept (no connection).
int RunMakePdf(const Options& options);
int RunMakeTiff(const Options& options);

}  // namespace qb::sendscan
