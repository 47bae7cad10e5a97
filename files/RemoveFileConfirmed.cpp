// Removal of one file: the optional question with size, date and version,
// then the attribute reset, the time write-back and the deletion.
#include "files/RemoveFileConfirmed.h"

#include <cstdint>

#include "core/PlatformHandle.h"
#include "files/FileVersion.h"
#include "files/LocalTime.h"
#include "res/Messages.h"

namespace uninst {

namespace {

constexpr std::uint32_t kRemovalQuestionStyle = kMbYesNoCancel | kMbIconQuestion;
// "YYYY/MM/DD" and its terminator, with room to spare.
constexpr std::size_t kDateSize = 16;

// The three times of a file as found by name.
struct FileStatus {
  LocalSeconds creation;
  LocalSeconds lastAccess;
  LocalSeconds lastWrite;
};

// Size and last-write date of the open file, filled into the details format.
void ComposeDetails(RunContext& context, FileHandle file, Text& details) {
  Platform& platform = context.platform;
  FileTime creation;
  FileTime lastAccess;
  FileTime lastWrite;
  if (!platform.GetFileTime(file, &creation, &lastAccess, &lastWrite)) return;
  const std::uint32_t size = platform.GetFileSize(file);
  if (size == kInvalidFileSize) return;
  char date[kDateSize];
  FormatLocalDate(platform, LocalSecondsFromFileTime(platform, lastWrite), date, sizeof date);
  // The low 32 bits of the size, shown signed.
  details.Format(context.formatText.Get(), static_cast<long>(static_cast<std::int32_t>(size)),
                 date);
}

// Leaves the question in the message text and the version text (or "") in
// the path buffer.
void ComposeQuestion(RunContext& context, const char* path, Text& details) {
  if (GetFileVersionText(context.platform, path, kFileVersion, context.pathBuffer,
                         static_cast<int>(RunContext::kPathBufferSize))) {
    details.Append(" (v");
    details.Append(context.pathBuffer);
    details.Append(")");
  }
  context.LoadMessage(context.messageText, kMsgRemoveFileQuestion);
  Text question;
  question.Assign(path);
  question.Append(":\n  ");
  question.Append(details.Get());
  question.Append("\n\n");
  question.Append(context.messageText.Get());
  context.messageText.Assign(question.Get());
}

LocalSeconds OrLastWrite(const LocalSeconds& time, const LocalSeconds& lastWrite) {
  return time.IsAbsent() ? lastWrite : time;
}

FileStatus ReadStatusByName(Platform& platform, const char* path) {
  FileStatus status;
  FindData found;
  if (!platform.FindFile(path, &found)) return status;
  status.lastWrite = LocalSecondsFromFileTime(platform, found.lastWriteTime);
  status.creation =
      OrLastWrite(LocalSecondsFromFileTime(platform, found.creationTime), status.lastWrite);
  status.lastAccess =
      OrLastWrite(LocalSecondsFromFileTime(platform, found.lastAccessTime), status.lastWrite);
  return status;
}

// False for an absent time and for one that cannot be converted back.
bool ConvertBack(Platform& platform, const LocalSeconds& time, FileTime* utc) {
  return time.inSpan && time.seconds != 0 && FileTimeFromLocalSeconds(platform, time.seconds, utc);
}

// Writes back the times that convert; the others stay as they are.
bool WriteTimes(Platform& platform, const char* path, const FileStatus& status) {
  const LocalSeconds* const sources[] = {&status.creation, &status.lastAccess, &status.lastWrite};
  FileTime times[3];
  const FileTime* written[3] = {};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    if (ConvertBack(platform, *sources[i], &times[i])) {
      written[i] = &times[i];
      any = true;
    }
  }
  if (!any) return true;
  OpenedFile file(platform,
                  platform.CreateFile(path, kGenericRead | kGenericWrite, kFileShareRead, false));
  return file.IsValid() && platform.SetFileTime(file.Get(), written[0], written[1], written[2]);
}

// Writes the status back with no attributes. A read-only file loses its
// attribute before the time write, which needs it writable.
bool WriteStatus(Platform& platform, const char* path, const FileStatus& status) {
  const std::uint32_t current = platform.GetFileAttributes(path);
  if (current == kInvalidFileAttributes) return false;
  const bool readOnly = (current & kFileAttributeReadOnly) != 0;
  if (current != 0 && readOnly && !platform.SetFileAttributes(path, 0)) return false;
  if (!status.lastWrite.IsAbsent() && !WriteTimes(platform, path, status)) return false;
  if (current != 0 && !readOnly && !platform.SetFileAttributes(path, 0)) return false;
  return true;
}

// True only when the file is gone.
bool DeleteWithStatusReset(Platform& platform, const char* path) {
  const FileStatus status = ReadStatusByName(platform, path);
  return WriteStatus(platform, path, status) && platform.DeleteFile(path);
}

}  // namespace

int RemoveFileConfirmed(RunContext& context, const char* path) {
  // The caller's path usually lives in the path buffer, which the question
  // overwrites with the version text.
  char filePath[RunContext::kPathBufferSize];
  if (!CopyBounded(filePath, sizeof filePath, path)) return kIdNo;

  Text details;
  {
    Platform& platform = context.platform;
    OpenedFile file(platform, platform.CreateFile(filePath, kGenericRead, 0, true));
    if (!file.IsValid()) return kIdNo;
    context.LoadMessage(context.formatText, kMsgFileDetails);
    ComposeDetails(context, file.Get(), details);
  }

  int answer = kIdYes;
  if (context.confirmSwitch != 0) {
    ComposeQuestion(context, filePath, details);
    answer = context.ShowMessage(kRemovalQuestionStyle);
  }
  // A file that could not be removed is reported as left alone, so that the
  // run goes on without counting it as removed.
  if (answer == kIdYes && !DeleteWithStatusReset(context.platform, filePath)) return kIdNo;
  return answer;
}

SweepOutcome RemovePathBufferFile(RunContext& context) {
  const int answer = RemoveFileConfirmed(context, context.pathBuffer);
  if (answer == kIdCancel) return SweepOutcome::kCancelled;
  if (answer == kIdYes) context.restartFlag = true;
  return SweepOutcome::kGoOn;
}

}  // namespace uninst
