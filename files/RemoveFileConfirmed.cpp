// Removal of one file: the optional question, then the status reset and the
// deletion.
#include "files/RemoveFileConfirmed.h"

#include <cstdint>

#include "core/PlatformHandle.h"
#include "files/FileStatus.h"
#include "files/RemovalQuestion.h"

namespace uninst {

namespace {

constexpr std::uint32_t kRemovalQuestionStyle = kMbYesNoCancel | kMbIconQuestion;

// True only when the file is gone.
bool DeleteWithStatusReset(Platform& platform, const char* path) {
  const FileStatus status = ReadFileStatus(platform, path);
  return WriteFileStatus(platform, path, status) && platform.DeleteFile(path);
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
    const OpenedFile file(platform, platform.CreateFile(filePath, kGenericRead, 0, true));
    if (!file.IsValid()) return kIdNo;
    ComposeFileDetails(context, file.Get(), details);
  }

  int answer = kIdYes;
  if (context.confirmSwitch != 0) {
    ComposeRemovalQuestion(context, filePath, details);
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
