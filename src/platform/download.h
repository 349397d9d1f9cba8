#pragma once
// Fetching a file over HTTP.

#include <string>

#include "platform/result.h"

namespace sonavel {

class Progress;

// Seconds a transfer may go without a byte before it counts as stalled.
inline constexpr int kDownloadStallSeconds = 15;

// Fetches `url` into `local_path`, which must not exist yet and is created readable and
// writable by its owner only. The request goes out as "Sonavel", through the proxy the
// environment names, asking caches for a fresh copy. Only a status of 200 to 299 is taken;
// the progress follows the announced length (100000 bytes when none is announced) and a
// cancel in it ends the transfer (kCancelled). A refusal, a failure, a stall of
// `stall_seconds` or a body shorter than announced gives kFailed. The local file is left
// only on kDone.
Result DownloadFile(const std::string& url, const std::string& local_path, Progress& progress,
                    int stall_seconds = kDownloadStallSeconds);

}  // namespace sonavel
