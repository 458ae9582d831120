#include "app/connection_log.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "relay/connection_end_words.h"
#include "relay/endpoint_text.h"
#include "relay/socket_error_words.h"

namespace {

// ISO 8601 local time with milliseconds and the offset from UTC.
std::string isoTime(const std::tm& t, int millis) {
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &t);
  long offset = t.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, millis, offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return text;
}

// The local time now; returns its milliseconds.
int localNow(std::tm& local) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  localtime_r(&seconds, &local);
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
}

}  // namespace

CConnectionLog::CConnectionLog(CLineSink& out, std::string section, const std::string& host, int port)
    : out_(out), section_(std::move(section)), destination_(endpointText(host, port)) {}

std::string CConnectionLog::formatLine(const CConnectionRecord& r, const std::tm& localTime, int millis) const {
  const double seconds = std::chrono::duration<double>(r.duration).count();
  const std::string connected = r.connectedAddress.empty() ? "-" : endpointText(r.connectedAddress, r.connectedPort);
  const CConnectionEndWords* end = connectionEndWords(r.end);
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "duration=%.3f up=%" PRIu64 " down=%" PRIu64 " end=%s error=%d", seconds,
                r.bytesUp, r.bytesDown, end ? end->logName : "stopped", r.error);
  std::string line = "time=" + isoTime(localTime, millis) + " port=" + section_ + " caller=" +
                     endpointText(r.callerAddress, r.callerPort) + " destination=" + destination_ +
                     " connected=" + connected + " " + numbers;
  if (r.error != 0) line += std::string(" reason=\"") + ws::describeError(r.error) + "\"";
  return line;
}

void CConnectionLog::connectionEnded(const CConnectionRecord& record) {
  std::tm local{};
  const int millis = localNow(local);
  const std::string line = formatLine(record, local, millis) + "\n";
  out_.write(line.data(), line.size());
}

size_t connectionLogDroppedLine(char* buffer, size_t size, uint64_t dropped) {
  std::tm local{};
  const int millis = localNow(local);
  const int length =
      std::snprintf(buffer, size, "time=%s dropped=%" PRIu64 "\n", isoTime(local, millis).c_str(), dropped);
  return length < 0 ? 0 : size_t(length);
}
