#include "boxtally/driver/run_results.h"

#include <algorithm>
#include <cstdint>

#include "platform/text_file.h"

namespace driver {

ModelOutcome FromProcessed(const ProcessedModel& p, const FoundModel& found) {
  ModelOutcome o;
  const bool web = !found.url.empty();
  o.name = platform::WithoutControls(
      web ? found.entry_name
          : (p.model_name.empty() ? ModelName(found.found_name, "rwx") : p.model_name));
  o.source = platform::WithoutControls(web ? found.url : found.path);
  o.path = found.path;
  o.fate = p.fate;
  o.reason = p.reason;
  o.facts = platform::WithoutControls(p.facts);
  if (!HasMeasures(o)) return o;
  const rwx::ModelSummary& s = p.summary;
  o.box = s.box;
  o.vertices = static_cast<std::int32_t>(std::min<std::int64_t>(s.vertices, INT32_MAX));
  o.polygons = static_cast<std::int32_t>(std::min<std::int64_t>(s.polygons, INT32_MAX));
  o.textures = s.textures;
  for (const std::string& name : p.missing_textures) {
    o.missing_textures.push_back(platform::WithoutControls(name));
  }
  o.flags =
      static_cast<std::uint8_t>((s.not_centred ? kFlagNotCentred : 0) |
                                (s.oversized ? kFlagOversized : 0) | (s.facer ? kFlagFacer : 0));
  return o;
}

namespace {
Reason RefusalReason(web::EntryEnd::Refusal refusal) {
  switch (refusal) {
    case web::EntryEnd::Refusal::kRunFile:
      return Reason::kNameIsRunFile;
    case web::EntryEnd::Refusal::kNotPlain:
      return Reason::kNameNotPlain;
    default:
      return Reason::kNameTooLong;
  }
}

Reason CauseReason(web::EntryEnd::Cause cause) {
  using Cause = web::EntryEnd::Cause;
  switch (cause) {
    case Cause::kStatus:
      return Reason::kHttpStatus;
    case Cause::kHostNotFound:
      return Reason::kHostNotFound;
    case Cause::kTimedOut:
      return Reason::kTimedOut;
    case Cause::kCertificate:
      return Reason::kCertificateRefused;
    case Cause::kSecureConnection:
      return Reason::kSecureConnectionFailed;
    case Cause::kRedirection:
      return Reason::kRedirectionRefused;
    case Cause::kReply:
      return Reason::kReplyRefused;
    case Cause::kIncomplete:
      return Reason::kIncompleteDownload;
    case Cause::kTooLarge:
      return Reason::kDownloadTooLarge;
    case Cause::kNotSaved:
      return Reason::kDownloadNotSaved;
    case Cause::kProxyRefused:
      return Reason::kProxyRefused;
    default:
      return Reason::kConnectionFailed;
  }
}

}  // namespace

ModelOutcome FromEntryEnd(const web::EntryEnd& end) {
  ModelOutcome o;
  o.name = platform::WithoutControls(end.name);
  o.source = platform::WithoutControls(end.url);
  o.facts = platform::WithoutControls(end.why);
  switch (end.kind) {
    case web::EntryEnd::Kind::kRefused:
      o.fate = Fate::kRefused;
      o.reason = RefusalReason(end.refusal);
      break;
    case web::EntryEnd::Kind::kMissing:
      o.fate = Fate::kMissingOnServer;
      o.reason = Reason::kHttpStatus;
      o.facts = std::to_string(end.status);
      break;
    case web::EntryEnd::Kind::kNotDownloaded:
      o.fate = Fate::kNotDownloaded;
      o.reason = CauseReason(end.cause);
      if (end.cause == web::EntryEnd::Cause::kStatus) o.facts = std::to_string(end.status);
      break;
    case web::EntryEnd::Kind::kStopped:
      o.fate = Fate::kNotReached;
      o.reason = Reason::kRunStopped;
      break;
  }
  return o;
}

RunCounts CountsOf(const std::vector<ModelOutcome>& results, std::size_t total) {
  RunCounts counts;
  counts.found = total;
  for (const ModelOutcome& o : results) {
    switch (o.fate) {
      case Fate::kMeasured:
        ++counts.measured;
        break;
      case Fate::kFailed:
        ++counts.failed;
        break;
      case Fate::kSkippedHuge:
        ++counts.skipped_huge;
        break;
      case Fate::kEmpty:
      case Fate::kNoModel:
      case Fate::kNotModelFile:
        ++counts.without_model;
        break;
      default:
        break;
    }
  }
  return counts;
}

std::string CommonOutsideCause(const std::vector<ModelOutcome>& results,
                               const std::string& converter) {
  if (results.empty()) return {};
  for (const ModelOutcome& o : results) {
    if (o.fate != Fate::kFailed || o.reason != results.front().reason) return {};
  }
  switch (results.front().reason) {
    case Reason::kConverterNotStarted:
      return "the converter " + converter + " cannot be started (" + results.front().facts + ")";
    case Reason::kCobCopyFailed:
    case Reason::kWorkFolderFull:
      return "the work folder cannot take the models (full?)";
    default:
      return {};
  }
}

}  // namespace driver
