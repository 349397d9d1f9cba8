#include "platform/download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/progress.h"

namespace sonavel {

namespace {

// Length assumed for the progress when the server announces none.
constexpr curl_off_t kUnknownLength = 100000;
constexpr curl_off_t kLeastLength = 10;
constexpr long kConnectSeconds = 30;

struct Transfer {
  CURL* curl = nullptr;
  Progress* progress = nullptr;
  std::string path;
  int fd = -1;
  bool refused = false;    // a status outside 200 … 299
  bool cancelled = false;
  bool write_failed = false;
  curl_off_t received = 0;
};

bool StatusAccepted(CURL* curl) {
  long status = 0;
  // A status that cannot be read counts as 200.
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status == 0) return true;
  return status >= 200 && status <= 299;
}

curl_off_t AnnouncedLength(CURL* curl) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
    length = kUnknownLength;
  return std::max(length, kLeastLength);
}

// Creates the local file at the first byte of an accepted answer.
bool OpenLocal(Transfer& transfer) {
  if (transfer.fd >= 0) return true;
  if (!StatusAccepted(transfer.curl)) {
    transfer.refused = true;
    return false;
  }
  transfer.fd = ::open(transfer.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (transfer.fd < 0) transfer.write_failed = true;
  return transfer.fd >= 0;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (!OpenLocal(transfer)) return CURL_WRITEFUNC_ERROR;
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t wrote = ::write(transfer.fd, data + done, bytes - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      transfer.write_failed = true;
      return CURL_WRITEFUNC_ERROR;
    }
    done += static_cast<std::size_t>(wrote);
  }
  transfer.received += static_cast<curl_off_t>(bytes);
  return bytes;
}

// Called by the transfer at least once a second, also while nothing arrives.
int TransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  if (transfer.progress->Pump()) {
    transfer.cancelled = true;
    return 1;
  }
  if (transfer.received > 0)
    transfer.progress->SetFraction(
        std::min(1.0, static_cast<double>(transfer.received) / static_cast<double>(AnnouncedLength(transfer.curl))));
  return 0;
}

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

Result DownloadFile(const std::string& url, const std::string& local_path, Progress& progress, int stall_seconds) {
  InitialiseOnce();
  if (progress.Pump()) return kCancelled;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return kFailed;
  Transfer transfer;
  transfer.curl = curl;
  transfer.progress = &progress;
  transfer.path = local_path;
  curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Sonavel");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max(1, stall_seconds)));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, TransferInfo);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  const CURLcode code = curl_easy_perform(curl);
  Result result = kFailed;
  if (transfer.cancelled) {
    result = kCancelled;
  } else if (code == CURLE_OK && OpenLocal(transfer)) {
    // An empty body still makes the file; a body shorter than announced does not count.
    curl_off_t announced = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced < 0 || transfer.received == announced) result = kDone;
  }
  if (transfer.fd >= 0 && ::close(transfer.fd) != 0) result = result == kDone ? kFailed : result;
  if (result != kDone && transfer.fd >= 0) ::unlink(local_path.c_str());
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (result == kDone) progress.SetFraction(1.0);
  return result;
}

}  // namespace sonavel
