#include "run/log.h"

#include <ctime>
#include <string_view>

#include "platform/lookup.h"
#include "platform/winpath.h"
#include "registry/site.h"
#include "registry/undo.h"

namespace run {

namespace {

// |text| on one line: line ends and the other control characters but the
// tab written as escapes (\r, \n, \xHH), so that a line printed or logged
// stays one line whatever an argument or the registry held.
std::string OneLine(const std::string& text) {
  const char* hex = "0123456789abcdef";
  std::string line;
  for (unsigned char c : text) {
    if (c >= 0x20 || c == '\t') line += static_cast<char>(c);
    else if (c == '\r') line += "\\r";
    else if (c == '\n') line += "\\n";
    else line += {'\\', 'x', hex[c >> 4], hex[c & 15]};
  }
  return line;
}

void Warn(Sink* sink, const std::string& reason) {
  if (sink->quiet_log) return;
  fprintf(sink->err, "modreg: warning: cannot write log %s: %s\n",
          OneLine(platform::DisplayName(sink->log_path)).c_str(),
          OneLine(reason).c_str());
  fflush(sink->err);
}

// Appends |line| to the log; a first failure is reported, and the log
// closed.
void LogLine(Sink* sink, const std::string& line) {
  if (sink->log.handle < 0) return;
  std::string error, ignored;
  if (platform::AppendLine(&sink->log, OneLine(line), &error)) return;
  platform::CloseOutput(&sink->log, &ignored);
  Warn(sink, error);
}

// |arg| as a command line would give it: quoted when it holds a blank or a
// quote, or is empty.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
    return arg;
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Why the open log is not written for what it holds: it begins as an XML
// document does, as every registry does, or as an undo record does,
// whatever its name. Read through
// its handle, a part at a time, up to the first byte that is not a blank;
// empty when it may be written.
std::string ContentRefusal(const platform::OutputFile& log) {
  char part[4096];
  std::string error;
  for (unsigned long long at = 0;;) {
    size_t got = 0;
    if (!platform::ReadLogAt(log, at, part, sizeof part, &got, &error))
      return "cannot read its beginning: " + error;
    if (got == 0) return "";
    switch (StartOf(std::string(part, got), at == 0)) {
      case FileStart::kXml:
        return "it begins as an XML document (a registry?): not written";
      case FileStart::kUndoRecord:
        return "it begins as an undo record does: not written";
      case FileStart::kText:
        return "";
      case FileStart::kBlank:
        at += got;
    }
  }
}

// Returns the time now, in UTC, as 2024-01-31T12:00:00Z.
std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char text[64] = "(no time)";
  if (utc)
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ",
             utc->tm_year + 1900, utc->tm_mon + 1, utc->tm_mday, utc->tm_hour,
             utc->tm_min, utc->tm_sec);
  return text;
}

// Why the open log is not written for where it is: it is one of the
// files |never|, or has an undo record's name in one of |record_folders|;
// empty when it may be. |*file| is the name found for it there.
std::string PlaceRefusal(const Sink& sink,
                         const std::vector<std::string>& never,
                         const std::vector<std::string>& record_folders,
                         std::string* file) {
  for (const std::string& name : never) {
    if (!platform::IsOpenAs(sink.log, name)) continue;
    *file = name;
    return "it is the framework's registry file " +
           platform::DisplayName(name);
  }
  if (!IsUndoRecordName(sink.log_path)) return "";
  const std::string name(platform::winpath::LastComponent(
      sink.log_path, platform::winpath::Utf8()));
  for (const std::string& folder : record_folders) {
    if (!platform::IsOpenAs(sink.log, folder + "\\" + name)) continue;
    *file = folder + "\\" + name;
    return "it has the name of an undo record in the registry's folder " +
           platform::DisplayName(folder);
  }
  return "";
}

}  // namespace

void OpenLog(Sink* sink, const std::string& path, int argc,
             const char* const* argv, const std::vector<std::string>& never,
             const std::vector<std::string>& record_folders) {
  sink->log_path = path;
  std::string error;
  bool created = false;
  if (!platform::OpenAppend(path, &sink->log, &created, &error))
    return Warn(sink, error);
  // Before the lock: IsOpenAs opens none of them, so that no run's
  // replace of the registry fails for it.
  std::string file;
  std::string refusal = PlaceRefusal(*sink, never, record_folders, &file);
  if (refusal.empty()) refusal = ContentRefusal(sink->log);
  if (!refusal.empty()) {
    platform::CloseOutput(&sink->log, &error);
    // Made by this open where the registry's files are: not left there.
    if (created && !file.empty()) platform::RemoveFile(file);
    return Warn(sink, refusal);
  }
  std::string header = TimeStamp() + " modreg " MODREG_VERSION ":";
  for (int i = 0; i < argc; ++i) header.append(" ").append(Quoted(argv[i]));
  LogLine(sink, header);
}

FileStart StartOf(const std::string& part, bool first) {
  if (first && part.compare(0, sizeof registry::kUndoMagic - 1,
                            registry::kUndoMagic) == 0)
    return FileStart::kUndoRecord;
  size_t at = first && part.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  at = part.find_first_not_of(" \t\r\n", at);
  if (at == std::string::npos) return FileStart::kBlank;
  return part[at] == '<' ? FileStart::kXml : FileStart::kText;
}

bool IsUndoRecordName(const std::string& path) {
  const std::string_view name =
      platform::winpath::LastComponent(path, platform::winpath::Utf8());
  const std::string_view prefix = registry::kUndoPrefix;
  return name.size() >= prefix.size() &&
         platform::winpath::Same(name.substr(0, prefix.size()), prefix,
                                 platform::winpath::Utf8());
}

int Tell(Sink* sink, const Outcome& outcome) {
  for (const Line& line : outcome.lines) {
    if (line.channel == Channel::kBare) {
      fprintf(sink->out, "%s\n", line.text.c_str());
      fflush(sink->out);
    } else if (line.channel == Channel::kError) {
      fprintf(sink->err, "modreg: %s\n", OneLine(line.text).c_str());
      fflush(sink->err);
      LogLine(sink, "modreg: " + line.text);
    } else {
      if (line.channel == Channel::kSay || sink->verbose)
        fprintf(sink->out, "%s\n", OneLine(line.text).c_str());
      LogLine(sink, line.text);
    }
  }
  LogLine(sink, "status: " + std::to_string(outcome.status));
  std::string ignored;
  platform::CloseOutput(&sink->log, &ignored);
  return outcome.status;
}

}  // namespace run
