#include "app/connection_log.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "relay/connection_end_words.h"
#include "relay/endpoint_text.h"
#include "relay/socket_error_words.h"

namespace {

// ISO 8601 local time with milliseconds and the offset from UTC.
std::string isoTime(const platform::CLocalTime& t) {
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &t.fields);
  const int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d%c%02d:%02d", date, t.millis, t.offsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

}  // namespace

CConnectionLog::CConnectionLog(CLineSink& out, std::string section, const std::string& host, int port)
    : out_(out), section_(std::move(section)), destination_(endpointText(host, port)) {}

std::string CConnectionLog::formatLine(const CConnectionRecord& r, const platform::CLocalTime& time) const {
  const double seconds = std::chrono::duration<double>(r.duration).count();
  const std::string connected = r.connectedAddress.empty() ? "-" : endpointText(r.connectedAddress, r.connectedPort);
  const CConnectionEndWords* end = connectionEndWords(r.end);
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "duration=%.3f up=%" PRIu64 " down=%" PRIu64 " end=%s error=%d", seconds,
                r.bytesUp, r.bytesDown, end ? end->logName : "stopped", r.error);
  std::string line = "time=" + isoTime(time) + " port=" + section_ + " caller=" +
                     endpointText(r.callerAddress, r.callerPort) + " destination=" + destination_ +
                     " connected=" + connected + " " + numbers;
  if (r.error != 0) line += std::string(" reason=\"") + ws::describeError(r.error) + "\"";
  return line;
}

void CConnectionLog::connectionEnded(const CConnectionRecord& record) {
  const std::string line = formatLine(record, platform::localTimeNow()) + "\n";
  out_.write(line.data(), line.size());
}

size_t connectionLogDroppedLine(char* buffer, size_t size, uint64_t dropped) {
  const int length = std::snprintf(buffer, size, "time=%s dropped=%" PRIu64 "\n",
                                   isoTime(platform::localTimeNow()).c_str(), dropped);
  return length < 0 ? 0 : size_t(length);
}
