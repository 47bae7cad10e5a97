#include "files/RemovalQuestion.h"

#include <cstdint>

#include "files/FileVersion.h"
#include "files/LocalTime.h"
#include "res/Messages.h"

namespace uninst {

namespace {

// "YYYY/MM/DD" and its terminator, with room to spare.
constexpr std::size_t kDateSize = 16;

}  // namespace

void ComposeFileDetails(RunContext& context, FileHandle file, Text& details) {
  Platform& platform = context.platform;
  context.LoadMessage(context.formatText, kMsgFileDetails);
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

void ComposeRemovalQuestion(RunContext& context, const char* path, Text& details) {
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

}  // namespace uninst
